#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace tess::test {

// A real nginx on 127.0.0.1 at a free port, owned by the test: its own prefix,
// configuration, temp folders, logs and pid file in a temporary folder; stopped
// when this object goes.
class NginxServer {
public:
    static constexpr const char* kBinary = "/usr/sbin/nginx";

    NginxServer() { QDir(dir_.path()).mkpath(QStringLiteral("www")); }
    ~NginxServer() { stop(); }
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    static bool available() { return QFile::exists(QLatin1String(kBinary)); }

    QString path() const { return dir_.path(); }
    QString root() const { return dir_.filePath(QStringLiteral("www")); }
    int port() const { return port_; }
    // Takes a free port now, for start() to use: content that names its own URL can be
    // written before the server runs.
    int reservePort() { return wantedPort_ = freePort(); }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(port_) + path);
    }

    // Starts nginx with serverLines inside its one server block; false (with the
    // error log in *error) when it does not come up.
    bool start(const QString& serverLines, QString* error) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = attempt == 0 && wantedPort_ > 0 ? wantedPort_ : freePort();
            writeConfig(serverLines);
            process_.setProgram(QLatin1String(kBinary));
            process_.setArguments({QStringLiteral("-p"), dir_.path() + QLatin1Char('/'),
                                   QStringLiteral("-e"), dir_.filePath(QStringLiteral("error.log")),
                                   QStringLiteral("-c"),
                                   dir_.filePath(QStringLiteral("nginx.conf")),
                                   QStringLiteral("-g"), QStringLiteral("daemon off;")});
            process_.setProcessChannelMode(QProcess::MergedChannels);
            // Goes with the test even when the test dies before its destructor runs.
            process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
            process_.start();
            if (!process_.waitForStarted(5000))
                break;
            if (waitForPort())
                return true;
            stop();
        }
        QFile log(dir_.filePath(QStringLiteral("error.log")));
        *error =
            QStringLiteral("nginx did not start: ") + QString::fromLocal8Bit(process_.readAll());
        if (log.open(QIODevice::ReadOnly))
            *error += QString::fromLocal8Bit(log.readAll());
        return false;
    }

    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        // TERM: a fast shutdown.
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

private:
    static int freePort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    bool waitForPort() {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            if (process_.state() != QProcess::Running)
                return false;
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(port_));
            if (socket.waitForConnected(200))
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    void writeConfig(const QString& serverLines) {
        const QString d = dir_.path();
        QString conf;
        // One process, no workers: nothing is left behind if the test dies. As root
        // nginx still wants a user; this one is the test's own.
        if (::geteuid() == 0)
            conf += QStringLiteral("user root;\n");
        conf += QStringLiteral("master_process off;\n") + QStringLiteral("pid ") + d +
                QStringLiteral("/nginx.pid;\n") + QStringLiteral("error_log ") + d +
                QStringLiteral("/error.log warn;\n") +
                QStringLiteral("events { worker_connections 64; }\n") + QStringLiteral("http {\n") +
                QStringLiteral("    access_log ") + d + QStringLiteral("/access.log;\n");
        for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf += QStringLiteral("    ") + QLatin1String(temp) + QStringLiteral("_temp_path ") +
                    d + QStringLiteral("/tmp_") + QLatin1String(temp) + QStringLiteral(";\n");
        conf += QStringLiteral("    default_type application/octet-stream;\n") +
                QStringLiteral("    server {\n") + QStringLiteral("        listen 127.0.0.1:") +
                QString::number(port_) + QStringLiteral(";\n") + QStringLiteral("        root ") +
                root() + QStringLiteral(";\n") + serverLines + QStringLiteral("\n    }\n}\n");
        QFile f(dir_.filePath(QStringLiteral("nginx.conf")));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write nginx.conf");
        f.write(conf.toUtf8());
    }

    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
    int wantedPort_ = 0;
};

// Accepts connections on 127.0.0.1 and never answers.
class SilentServer {
public:
    SilentServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (server_.nextPendingConnection())
                ++accepted_;
        });
    }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(server_.serverPort()) +
                    path);
    }
    // Connections open at the moment (closed ones are counted off).
    int open() const {
        int n = 0;
        for (QTcpSocket* s : server_.findChildren<QTcpSocket*>())
            n += s->state() == QAbstractSocket::ConnectedState ? 1 : 0;
        return n;
    }
    int accepted() const { return accepted_; }

private:
    QTcpServer server_;
    int accepted_ = 0;
};

} // namespace tess::test
