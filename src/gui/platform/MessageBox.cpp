#include "platform/MessageBox.h"

#include "engine/AppInfo.h"

#include <QMessageBox>

#include <utility>

namespace tess {

namespace {
bool g_recording = false;
QStringList g_recorded;
std::function<void()> g_nextHook;
} // namespace

void MessageBox::show(const QString& text, QWidget* parent) {
    if (auto hook = std::exchange(g_nextHook, nullptr))
        hook();
    if (g_recording) {
        g_recorded.append(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, AppInfo::title(), text, QMessageBox::Ok, parent);
    box.exec();
}

void MessageBox::setRecording(bool on) {
    g_recording = on;
    g_recorded.clear();
    g_nextHook = nullptr;
}

bool MessageBox::isRecording() {
    return g_recording;
}

QStringList MessageBox::takeRecorded() {
    return std::exchange(g_recorded, {});
}

void MessageBox::setNextHook(std::function<void()> hook) {
    g_nextHook = std::move(hook);
}

} // namespace tess
