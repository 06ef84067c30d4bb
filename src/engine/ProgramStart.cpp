#include "engine/ProgramStart.h"

#include <QFileInfo>
#include <QProcess>
#include <utility>

namespace tess::ProgramStart {

namespace {
bool g_recording = false;
QStringList g_recorded;
} // namespace

bool startDetached(const QString& program, const QStringList& arguments) {
    if (program.isEmpty())
        return false;
    if (g_recording) {
        if (!QFileInfo(program).isFile())
            return false;
        g_recorded.append((QStringList{program} + arguments).join(QLatin1Char(' ')));
        return true;
    }
    return QProcess::startDetached(program, arguments);
}

void setRecording(bool on) {
    g_recording = on;
    g_recorded.clear();
}

QStringList takeRecorded() {
    return std::exchange(g_recorded, {});
}

} // namespace tess::ProgramStart
