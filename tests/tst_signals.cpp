// Signals sent to real processes mid-run: tessavane-cli convert and batch, and the
// window converting. Nothing temporary may stay behind, no converter may run on,
// and the exit status is 128 + the signal.
#include "CliSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tess::test;

namespace {

// Ten minutes of a 16-bit 8 kHz tone: the converter takes seconds over it.
QByteArray longWav() {
    const int samples = 8000 * 600;
    QByteArray pcm(samples * 2, '\0');
    for (int i = 0; i < samples; ++i) {
        const auto v = static_cast<qint16>(9000 * std::sin(i * 2 * M_PI * 440 / 8000));
        pcm[2 * i] = char(v & 0xff);
        pcm[2 * i + 1] = char((v >> 8) & 0xff);
    }
    auto le32 = [](quint32 v) {
        const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        return QByteArray(b, 4);
    };
    QByteArray wav = "RIFF" + le32(36 + pcm.size()) + "WAVEfmt " + le32(16);
    wav += QByteArray("\x01\x00\x01\x00", 4) + le32(8000) + le32(16000);
    wav += QByteArray("\x02\x00\x10\x00", 4) + "data" + le32(pcm.size()) + pcm;
    return wav;
}

// Every entry under folder, as paths relative to it.
QStringList everything(const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(folder).relativeFilePath(it.next());
    found.sort();
    return found;
}

// The pid of the child of parent whose name is name; 0 when there is none.
pid_t childNamed(qint64 parent, const QByteArray& name) {
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& p : pids) {
        QFile stat(QStringLiteral("/proc/") + p + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < 0 || line.mid(open + 1, close - open - 1) != name)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (rest.size() > 1 && rest[1].toLongLong() == parent)
            return static_cast<pid_t>(p.toLongLong());
    }
    return 0;
}

bool alive(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return false;
    // A zombie is ended already.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) != "Z";
}

// Waits up to ms for done(); the event loop turns meanwhile.
bool waitFor(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(5);
    }
    return true;
}

} // namespace

class TestSignals : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void convertCleansUp_data();
    void convertCleansUp();
    void batchLeavesNoTemporaryFile();
    void windowCleansUp_data();
    void windowCleansUp();

private:
    QProcessEnvironment environment() const;
    // Signals process once the converter runs on the WAV copy, and checks it all went.
    void signalMidConversion(QProcess& process, int sig);

    std::unique_ptr<QTemporaryDir> dir;
    QString home, runtime, wav;
};

void TestSignals::init() {
    dir = std::make_unique<QTemporaryDir>();
    home = dir->filePath("home");
    runtime = dir->filePath("run");
    for (const QString& d : {home, runtime})
        QVERIFY(QDir().mkpath(d));
    QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
    static const QByteArray bytes = longWav();
    wav = put(dir->filePath("media/long.wav"), bytes);
}

QProcessEnvironment TestSignals::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

void TestSignals::signalMidConversion(QProcess& process, int sig) {
    const qint64 pid = process.processId();
    pid_t converter = 0;
    QVERIFY2(waitFor([&] { return (converter = childNamed(pid, "pvconv")) != 0; }),
             qPrintable(QString::fromUtf8(process.readAllStandardError())));
    // The copy is in place and the converter has begun its own temporary file.
    QVERIFY(waitFor([&] {
        const QStringList e = everything(runtime);
        return e.filter("temp.wav").size() == 1 && e.filter(".part").size() == 1;
    }));
    QCOMPARE(::kill(static_cast<pid_t>(pid), sig), 0);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + sig);
    QVERIFY2(!alive(converter), "the converter runs on");
    QCOMPARE(everything(runtime), QStringList{"tessavane"});
    QVERIFY(!QFile::exists(dir->filePath("media/long.qcp")));
}

void TestSignals::convertCleansUp_data() {
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestSignals::convertCleansUp() {
    QFETCH(int, sig);
    QProcess cli;
    cli.setProcessEnvironment(environment());
    cli.start(TESSAVANE_CLI, {"convert", wav});
    QVERIFY(cli.waitForStarted());
    signalMidConversion(cli, sig);
}

void TestSignals::batchLeavesNoTemporaryFile() {
    // The same descriptor rewritten many times: its temporary file comes and goes.
    // The batch is stopped until one is caught in place, then sent TERM.
    const QString web = dir->filePath("web");
    QVERIFY(QDir().mkpath(web));
    const QString media = put(dir->filePath("media/a.mid"), "MThd");
    QByteArray names;
    for (int i = 0; i < 200000; ++i)
        names += media.toUtf8() + '\n';
    const QString list = put(dir->filePath("names.txt"), names);
    QProcess cli;
    cli.setProcessEnvironment(environment());
    cli.setStandardInputFile(list);
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.start(TESSAVANE_CLI, {"batch", "--save-folder", web, "--url", "http://host/a.mid"});
    QVERIFY(cli.waitForStarted());
    const auto pid = static_cast<pid_t>(cli.processId());
    bool caught = false;
    for (int attempt = 0; attempt < 20000 && !caught && cli.state() == QProcess::Running;
         ++attempt) {
        ::kill(pid, SIGSTOP);
        caught = !everything(web).filter(".tess-").isEmpty();
        if (caught)
            ::kill(pid, SIGTERM);
        ::kill(pid, SIGCONT);
        if (!caught)
            QTest::qSleep(attempt % 3);
    }
    QVERIFY2(caught, "no temporary file was seen");
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 128 + SIGTERM);
    // Caught at its first write there is no descriptor yet; any there is whole.
    const QStringList left = everything(web);
    QVERIFY2(left.isEmpty() || left == QStringList{"a.gcd"}, qPrintable(left.join(' ')));
    if (!left.isEmpty())
        QCOMPARE(slurp(web + "/a.gcd"),
                 QByteArray("Content-Type: audio/midi\r\nContent-Name: a\r\n"
                            "Content-Version: \r\nContent-Vendor: \r\n"
                            "Content-URL: http://host/a.mid\r\nContent-Size: 4\r\n"));
}

void TestSignals::windowCleansUp_data() {
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestSignals::windowCleansUp() {
    // The window converts, driven by the test plugin; a closed session ends it.
    QFETCH(int, sig);
    QProcessEnvironment env = environment();
    env.insert("QT_PLUGIN_PATH", TESS_DRIVER_DIR);
    env.insert("QT_QPA_GENERIC_PLUGINS", "tessdriver");
    env.insert("TESS_DRIVER_CONVERT", wav);
    // A copy in a folder of its own: its first start saves config.cfg beside it.
    const QString app = dir->filePath("app");
    QVERIFY(QDir().mkpath(app));
    QVERIFY(QFile::copy(TESSAVANE_GUI, app + "/tessavane"));
    QVERIFY(QFile::copy(PVCONV, app + "/pvconv"));
    for (const char* name : {"/tessavane", "/pvconv"})
        QVERIFY(QFile::setPermissions(app + name, QFile::Permissions(0x7755)));
    QProcess window;
    window.setProcessEnvironment(env);
    window.start(app + "/tessavane", {});
    QVERIFY(window.waitForStarted());
    signalMidConversion(window, sig);
    QVERIFY(window.readAllStandardOutput().contains("driver: Convert WAV"));
}

QTEST_GUILESS_MAIN(TestSignals)
#include "tst_signals.moc"
