#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace tess {

// Every message of the program goes through here: a modal box with one OK button,
// no icon, titled with the application title. Tests switch to recording mode, in
// which the text is kept and the call returns at once.
class MessageBox {
public:
    static void show(const QString& text, QWidget* parent = nullptr);

    static void setRecording(bool on);
    static bool isRecording();
    // The texts shown since recording was switched on or last taken, oldest first.
    static QStringList takeRecorded();
    // Runs (once) inside the next show(), while the box would be open.
    static void setNextHook(std::function<void()> hook);
};

} // namespace tess
