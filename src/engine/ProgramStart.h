#pragma once

#include <QString>
#include <QStringList>

namespace tess {

// Starts another program without waiting for it. Tests switch to recording
// mode, in which nothing is started: a start succeeds when the program file
// exists, and its command line is kept.
namespace ProgramStart {

bool startDetached(const QString& program, const QStringList& arguments = {});

void setRecording(bool on);
// The command lines (program and arguments joined by blanks) that would have
// started since recording was switched on or last taken, oldest first.
QStringList takeRecorded();

} // namespace ProgramStart
} // namespace tess
