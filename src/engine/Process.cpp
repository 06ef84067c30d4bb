#include "engine/Process.h"

#include "engine/Teardown.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <utility>

namespace tess::Process {

namespace {
Runner g_runner;
} // namespace

ProcessRun startAndWait(const QString& program, const QStringList& arguments) {
    return startAndWait(program, arguments, QString());
}

ProcessRun startAndWait(const QString& program, const QStringList& arguments,
                        const QString& errorFile) {
    QProcess process;
    // Its error output goes where ours goes (it says why it failed); its summary is
    // dropped so that it never mixes with a command's own output. Nothing is read
    // through a pipe, so a chatty converter cannot stall. Input is closed.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    if (!errorFile.isEmpty()) {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setStandardErrorFile(errorFile);
    }
#ifdef Q_OS_WIN
    // Its own console window, shown normally and given the focus.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
        args->flags |= CREATE_NEW_CONSOLE;
        args->startupInfo->dwFlags &= ~STARTF_USESTDHANDLES;
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_SHOWNORMAL;
    });
#endif
    // A signal that ends us ends it too, rather than leaving it running on; it is
    // known to the clean-up from the moment it exists.
    const qint64 pid = Teardown::startChild([&]() -> long long {
        process.start(program, arguments);
        return process.waitForStarted(-1) ? process.processId() : 0;
    });
    if (pid <= 0)
        return ProcessRun{false, process.errorString()};
    // Deliberately on the calling thread: the user waits for the converter.
    while (!process.waitForFinished(1000) && process.state() != QProcess::NotRunning) {
    }
    Teardown::dropChild(pid);
    return ProcessRun{true, QString()};
}

ProcessRun run(const QString& program, const QStringList& arguments) {
    return run(program, arguments, QString());
}

ProcessRun run(const QString& program, const QStringList& arguments, const QString& errorFile) {
    if (g_runner)
        return g_runner(program, arguments);
    return startAndWait(program, arguments, errorFile);
}

void setRunnerForTesting(Runner runner) {
    g_runner = std::move(runner);
}

} // namespace tess::Process
