#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace tess {

// How a start-and-wait went: started is false when the program could not be run.
struct ProcessRun {
    bool started = false;
    QString error; // why it could not be started
};

namespace Process {

// Starts program by its exact path with these arguments - no shell, no splitting of a
// command line - and blocks the calling thread until it has ended, waiting in slices
// of 1000 ms. No events are processed meanwhile. Its standard output is dropped,
// its error output shared with ours.
ProcessRun startAndWait(const QString& program, const QStringList& arguments);
// The same with its error output written to errorFile (created or emptied) instead.
ProcessRun startAndWait(const QString& program, const QStringList& arguments,
                        const QString& errorFile);

// What the program calls: startAndWait, unless a test put a runner in its place.
ProcessRun run(const QString& program, const QStringList& arguments);
ProcessRun run(const QString& program, const QStringList& arguments, const QString& errorFile);

using Runner = std::function<ProcessRun(const QString& program, const QStringList& arguments)>;
// An empty runner restores the real one.
void setRunnerForTesting(Runner runner);

} // namespace Process
} // namespace tess
