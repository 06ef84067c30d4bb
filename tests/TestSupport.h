#pragma once

#include "engine/AppInfo.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "shell/Form1.h"
#include "shell/Program.h"

#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace tess::test {

// A fresh program in a temporary application folder, with recorded message
// boxes and preset file dialogs. Create one per test function.
class ProgramFixture {
public:
    ProgramFixture() {
        MessageBox::setRecording(true);
        FileDialog::setRecording(true);
        AppInfo::setPathForTesting(appDir.path());
        program = std::make_unique<Program>();
    }
    ~ProgramFixture() {
        program.reset();
        AppInfo::setPathForTesting(QString());
    }
    // The main window. Without config.cfg its load shows the first-start message and
    // arms the options-window timer; tests begin after the user closed that message,
    // with the timer stopped so no options window turns up in the middle of a test.
    // Tests of the start itself use program->form1().
    Form1* form1() {
        const bool fresh = !program->exists<Form1>();
        Form1* f = program->form1();
        if (fresh && !QFile::exists(appDir.filePath(QStringLiteral("config.cfg")))) {
            const QStringList shown = MessageBox::takeRecorded();
            if (shown.size() != 1 ||
                !shown[0].startsWith(QLatin1String("The Configuration File could not be found.")))
                qFatal("unexpected messages at first start");
            f->tmroptset->stop();
        }
        return f;
    }

    QTemporaryDir appDir;
    QTemporaryDir work;
    std::unique_ptr<Program> program;
};

inline QStringList logLines(Form1* f) {
    QStringList lines;
    for (int i = 0; i < f->lblstat->count(); ++i)
        lines.append(f->lblstat->item(i)->text());
    return lines;
}

inline void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton);
}

inline QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write test file");
    f.write(bytes);
    return path;
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Runs what() with writes limited to a few bytes per file: writes then fail even
// for root, as on a full disk. Returns whether the limit could be set.
inline bool withTinyFileSizeLimit(const std::function<void()>& what) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    if (getrlimit(RLIMIT_FSIZE, &saved) != 0)
        return false;
    rlimit tiny = saved;
    tiny.rlim_cur = 8;
    if (setrlimit(RLIMIT_FSIZE, &tiny) != 0)
        return false;
    what();
    setrlimit(RLIMIT_FSIZE, &saved);
    return true;
}

template <class T> T* child(QWidget* window, const char* name) {
    return window->findChild<T*>(QLatin1String(name));
}

} // namespace tess::test
