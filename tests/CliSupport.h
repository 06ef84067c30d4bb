#pragma once

// Files and tessavane-cli runs for the tests that need no window.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace tess::test {

// Writes a file (making its folder) and returns its path.
inline QString put(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write test file");
    return path;
}

inline QByteArray slurp(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

#ifdef TESSAVANE_CLI
struct Run {
    int status = -1;
    QString out;
    QString err;
};

// Runs the built command by its path with input on standard input and HOME (and the
// config folder) in home, so no config.cfg of the machine's user leaks in. The event
// loop turns meanwhile: a socket of the test can still take connections.
// childSetup runs in the child before the command starts; program is the command
// (a copy, say, where another user can reach it).
inline Run runCli(const QStringList& args, const QString& home, const QByteArray& input = {},
                  QProcessEnvironment env = QProcessEnvironment::systemEnvironment(),
                  const std::function<void()>& childSetup = {},
                  const QString& program = QStringLiteral(TESSAVANE_CLI)) {
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    QProcess p;
    p.setProcessEnvironment(env);
    if (childSetup)
        p.setChildProcessModifier(childSetup);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        qFatal("tessavane-cli did not start");
    p.write(input);
    p.closeWriteChannel();
    QElapsedTimer clock;
    clock.start();
    while (p.state() != QProcess::NotRunning && clock.elapsed() < 60000)
        QTest::qWait(10);
    if (p.state() != QProcess::NotRunning)
        qFatal("tessavane-cli did not finish");
    Run r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// A run with standard error on a pseudo-terminal of the test's own and standard
// output a pipe: what a user at a terminal would see on each.
struct TerminalRun {
    int status = -1;
    QByteArray terminal;
    QByteArray out;
};

inline TerminalRun runCliOnTerminal(const QStringList& args, const QString& home) {
    TerminalRun r;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        qFatal("no pseudo-terminal");
    const QByteArray slave = ::ptsname(master);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.setChildProcessModifier([path = slave.constData()] {
        const int fd = ::open(path, O_RDWR | O_NOCTTY);
        if (fd >= 0)
            ::dup2(fd, STDERR_FILENO);
    });
    p.start(QStringLiteral(TESSAVANE_CLI), args);
    if (!p.waitForStarted(10000))
        qFatal("tessavane-cli did not start");
    char buffer[4096];
    auto drain = [&] {
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            r.terminal.append(buffer, n);
    };
    QElapsedTimer clock;
    clock.start();
    while (p.state() != QProcess::NotRunning && clock.elapsed() < 60000) {
        QTest::qWait(10);
        drain();
    }
    drain();
    ::close(master);
    r.status = p.exitCode();
    r.out = p.readAllStandardOutput();
    return r;
}

#endif // TESSAVANE_CLI

} // namespace tess::test
