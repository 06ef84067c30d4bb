#pragma once

#include "platform/AppInfo.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "shell/Form1.h"
#include "shell/Program.h"

#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

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
    Form1* form1() { return program->form1(); }

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

template <class T> T* child(QWidget* window, const char* name) {
    return window->findChild<T*>(QLatin1String(name));
}

} // namespace tess::test
