#include "SecondUser.h"
#include "engine/AppInfo.h"
#include "engine/AudioPaths.h"
#include "engine/Conversion.h"
#include "engine/Process.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace tess;

class TestAudioRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void outputPath_data();
    void outputPath();
    void defaultTempFolder();
    void tempFolderFollowsEnvironmentUnlessOverridden();
    void othersRuntimeFolderIsPassedOver();
    void swappedRunFolderEmptiesNothing();
    void converterBesideTheProgram();
    void missingFolderIsCreatedPrivate();
    void ownFolderIsTightened();
    void unsafeFoldersAreRefused();
    void folderThatCannotBeCreated();
    void openParentIsRefused();
    void conversionNeedsNoWindow();
};

namespace {
mode_t modeOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}
} // namespace

void TestAudioRules::cleanup() {
    Process::setRunnerForTesting({});
    AudioPaths::setTempFolderForTesting(QString());
    AppInfo::setPathForTesting(QString());
}

void TestAudioRules::outputPath_data() {
    QTest::addColumn<QString>("wav");
    QTest::addColumn<QString>("qcp");
    QTest::newRow("drive") << "D:\\tones\\ring.wav"
                           << "D:\\tones\\ring.qcp";
    QTest::newRow("upper case") << "D:\\tones\\RING.WAV"
                                << "D:\\tones\\RING.qcp";
    QTest::newRow("four-letter extension") << "D:\\tones\\ring.wave"
                                           << "D:\\tones\\ring.wqcp";
    QTest::newRow("blanks") << "D:\\a b\\x.wav"
                            << "D:\\a b\\x.qcp";
    QTest::newRow("linux") << "/home/ann/tones/ring.wav"
                           << "/home/ann/tones/ring.qcp";
    QTest::newRow("no extension") << "/home/ann/ringtone"
                                  << "/home/ann/ringtqcp";
    QTest::newRow("shorter than three") << "ab"
                                        << "qcp";
}

void TestAudioRules::outputPath() {
    QFETCH(QString, wav);
    QFETCH(QString, qcp);
    QCOMPARE(AudioPaths::qcpPathFor(wav), qcp);
}

void TestAudioRules::defaultTempFolder() {
#ifdef _WIN32
    QCOMPARE(AudioPaths::defaultTempFolder("x", "y", "z"), QStringLiteral("c:\\temp"));
#else
    QCOMPARE(AudioPaths::defaultTempFolder("/run/user/1000", "/home/ann/.cache", "/home/ann"),
             QStringLiteral("/run/user/1000/tessavane"));
    QCOMPARE(AudioPaths::defaultTempFolder("", "/home/ann/.cache", "/home/ann"),
             QStringLiteral("/home/ann/.cache/tessavane"));
    // Relative values do not count: they would depend on the current folder.
    QCOMPARE(AudioPaths::defaultTempFolder("run", "cache", "/home/ann"),
             QStringLiteral("/home/ann/.cache/tessavane"));
    QCOMPARE(AudioPaths::defaultTempFolder("", "", "/home/ann"),
             QStringLiteral("/home/ann/.cache/tessavane"));
#endif
}

void TestAudioRules::tempFolderFollowsEnvironmentUnlessOverridden() {
#ifndef _WIN32
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    QTemporaryDir runtime;
    QTemporaryDir cache;
    QVERIFY(::chmod(QFile::encodeName(runtime.path()).constData(), 0700) == 0);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QCOMPARE(AudioPaths::tempFolder(), runtime.filePath("tessavane"));
    QCOMPARE(AudioPaths::tempWavIn(AudioPaths::tempFolder()),
             runtime.filePath("tessavane/temp.wav"));

    // Folders that others may change, or that do not exist, are passed over.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    QVERIFY(::chmod(QFile::encodeName(runtime.path()).constData(), 0770) == 0);
    QCOMPARE(AudioPaths::tempFolder(), cache.filePath("tessavane"));
    qputenv("XDG_RUNTIME_DIR", "/run/user/4242/nowhere");
    QCOMPARE(AudioPaths::tempFolder(), cache.filePath("tessavane"));
    const QString inner = cache.filePath("inner");
    QVERIFY(QDir().mkpath(inner));
    QVERIFY(::chmod(QFile::encodeName(cache.path()).constData(), 0777) == 0);
    qputenv("XDG_CACHE_HOME", QFile::encodeName(inner)); // its parent is open to all
    QVERIFY2(AudioPaths::tempFolder().endsWith("/.cache/tessavane"),
             qPrintable(AudioPaths::tempFolder()));
    QVERIFY(!AudioPaths::tempFolder().startsWith(cache.path()));

    AudioPaths::setTempFolderForTesting(QStringLiteral("/elsewhere"));
    QCOMPARE(AudioPaths::tempFolder(), QStringLiteral("/elsewhere"));
    QCOMPARE(AudioPaths::tempQcpIn(AudioPaths::tempFolder()),
             QStringLiteral("/elsewhere/temp.qcp"));
    for (const auto& [name, saved] :
         {std::pair{"XDG_RUNTIME_DIR", savedRuntime}, std::pair{"XDG_CACHE_HOME", savedCache}}) {
        if (saved.isNull())
            qunsetenv(name);
        else
            qputenv(name, saved);
    }
#endif
}

void TestAudioRules::othersRuntimeFolderIsPassedOver() {
#ifndef _WIN32
    // Root run through plain su keeps another user's XDG_RUNTIME_DIR: that user
    // could swap the run's folder, so the run must not happen there.
    const test::User peer = test::secondUser();
    if (!peer.ok)
        QSKIP("a second user needs root");
    QTemporaryDir dir;
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString theirs = dir.filePath("run-user-peer");
    QVERIFY(QDir().mkpath(theirs));
    QVERIFY(::chown(QFile::encodeName(theirs).constData(), peer.uid, peer.gid) == 0);
    QVERIFY(::chmod(QFile::encodeName(theirs).constData(), 0700) == 0);
    QVERIFY(!AudioPaths::trustedBase(theirs));
    QVERIFY(AudioPaths::trustedBase(dir.path()));
    QVERIFY(!AudioPaths::trustedBase(QStringLiteral("relative/run")));
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(theirs));
    const QString used = AudioPaths::tempFolder();
    if (saved.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", saved);
    QVERIFY2(!used.startsWith(theirs), qPrintable(used));
    QVERIFY(used.endsWith(QLatin1String("/tessavane")));
#endif
}

void TestAudioRules::swappedRunFolderEmptiesNothing() {
#ifndef _WIN32
    // The base sits in another user's folder (their runtime folder, given by a test
    // override here). Mid-run they move the run's folder away and put a link to a
    // folder of the victim's in its place; the clean-up must not empty that folder.
    const test::User peer = test::secondUser();
    if (!peer.ok)
        QSKIP("a second user needs root");
    QTemporaryDir dir;
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString theirs = dir.filePath("theirs");
    QVERIFY(QDir().mkpath(theirs));
    QVERIFY(::chown(QFile::encodeName(theirs).constData(), peer.uid, peer.gid) == 0);
    const QString base = theirs + "/tessavane";
    AudioPaths::setTempFolderForTesting(base);
    AppInfo::setPathForTesting(dir.path());
    const QString victim = dir.filePath("victim");
    QVERIFY(QDir().mkpath(victim + "/deep"));
    for (const char* name : {"a.txt", "deep/b.txt"}) {
        QFile f(victim + "/" + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }
    const QString wav = dir.filePath("ring.wav");
    {
        QFile f(wav);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("RIFF");
    }
    int swapped = -1;
    Process::setRunnerForTesting([&](const QString&, const QStringList& args) {
        const QString run = QFileInfo(args.value(0)).path();
        // Root may rename inside base; the peer owns base's parent and plants the rest.
        QDir().rename(base, theirs + "/moved");
        swapped = test::runAs(peer, [&] {
            const bool ok = ::mkdir(QFile::encodeName(base).constData(), 0755) == 0 &&
                            ::symlink(QFile::encodeName(victim).constData(),
                                      QFile::encodeName(run).constData()) == 0;
            return ok ? 0 : 1;
        });
        return ProcessRun{true, QString()}; // no output: the run fails and cleans up
    });
    const Conversion::Result r = Conversion::run(wav, dir.filePath("ring.qcp"));
    QCOMPARE(swapped, 0);
    QCOMPARE(r.stage, Conversion::Stage::Output);
    QCOMPARE(QDir(victim).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"a.txt", "deep"}));
    QVERIFY(QFileInfo::exists(victim + "/deep/b.txt"));
    // The real run folder, moved with its base, is gone all the same.
    QCOMPARE(QDir(theirs + "/moved").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
#endif
}

void TestAudioRules::converterBesideTheProgram() {
    AppInfo::setPathForTesting(QStringLiteral("/opt/my apps"));
#ifdef _WIN32
    QCOMPARE(AudioPaths::converterPath(), QStringLiteral("\\opt\\my apps\\pvconv.exe"));
#else
    QCOMPARE(AudioPaths::converterPath(), QStringLiteral("/opt/my apps/pvconv"));
#endif
}

void TestAudioRules::missingFolderIsCreatedPrivate() {
    QTemporaryDir base;
    const QString folder = base.filePath(QStringLiteral("cache/deeper/tessavane"));
    const mode_t savedMask = ::umask(0);
    const FileResult r = AudioPaths::prepareTempFolder(folder);
    ::umask(savedMask);
    QVERIFY2(r.ok, qPrintable(r.reason));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(modeOf(folder), mode_t(0700));
    // A second use finds it ready.
    QVERIFY(AudioPaths::prepareTempFolder(folder).ok);

    // Conversions side by side make it at the same moment: each of them may use it.
    for (int round = 0; round < 20; ++round) {
        const QString fresh = base.filePath(QStringLiteral("race%1/tessavane").arg(round));
        std::atomic_int ready{0};
        std::atomic_int failed{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&] {
                ++ready;
                while (ready.load() < 8) {
                }
                if (!AudioPaths::prepareTempFolder(fresh).ok)
                    ++failed;
            });
        for (std::thread& t : threads)
            t.join();
        QCOMPARE(failed.load(), 0);
        QCOMPARE(modeOf(fresh), mode_t(0700));
    }
}

void TestAudioRules::ownFolderIsTightened() {
    QTemporaryDir base;
    const QString folder = base.filePath(QStringLiteral("open"));
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0777) == 0);
    QVERIFY(AudioPaths::prepareTempFolder(folder).ok);
    QCOMPARE(modeOf(folder), mode_t(0700));
}

void TestAudioRules::unsafeFoldersAreRefused() {
    QTemporaryDir base;
    const QString target = base.filePath(QStringLiteral("target"));
    QVERIFY(QDir().mkdir(target));
    QVERIFY(::chmod(QFile::encodeName(target).constData(), 0755) == 0);
    const QString link = base.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(target, link));
    FileResult r = AudioPaths::prepareTempFolder(link);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("it is a symbolic link"));
    QCOMPARE(modeOf(target), mode_t(0755)); // not touched through the link

    const QString file = base.filePath(QStringLiteral("file"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    r = AudioPaths::prepareTempFolder(file);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("it is not a folder"));

    if (::geteuid() != 0)
        QSKIP("handing a folder to another user needs root");
    const QString foreign = base.filePath(QStringLiteral("foreign"));
    QVERIFY(QDir().mkdir(foreign));
    QVERIFY(::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0);
    r = AudioPaths::prepareTempFolder(foreign);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("it belongs to another user"));
}

void TestAudioRules::folderThatCannotBeCreated() {
    QTemporaryDir base;
    const QString file = base.filePath(QStringLiteral("plain"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const FileResult r = AudioPaths::prepareTempFolder(file + QStringLiteral("/tessavane"));
    QVERIFY(!r.ok);
    QVERIFY(!r.reason.isEmpty());
}

void TestAudioRules::openParentIsRefused() {
    QTemporaryDir base;
    const QString parent = base.filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkdir(parent));
    QVERIFY(::chmod(QFile::encodeName(parent).constData(), 0777) == 0);
    const QString folder = parent + QStringLiteral("/tessavane");
    const QString reason = QStringLiteral(
        "its parent folder can be changed by other users (writable by all, not sticky)");
    FileResult r = AudioPaths::prepareTempFolder(folder);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, reason);
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(QDir().mkdir(folder));
    r = AudioPaths::prepareTempFolder(folder);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, reason);
    QVERIFY(::chmod(QFile::encodeName(parent).constData(), 01777) == 0);
    QVERIFY(AudioPaths::prepareTempFolder(folder).ok);
    // Writable by its group only: the user's own business.
    QVERIFY(::chmod(QFile::encodeName(parent).constData(), 0775) == 0);
    QVERIFY(AudioPaths::prepareTempFolder(folder).ok);
}

void TestAudioRules::conversionNeedsNoWindow() {
    // The engine alone, as the command line uses it: no application window exists.
    QTemporaryDir dir;
    AudioPaths::setTempFolderForTesting(dir.filePath(QStringLiteral("tmp")));
    AppInfo::setPathForTesting(dir.path());
    const QString wav = dir.filePath(QStringLiteral("ring.wav"));
    QFile in(wav);
    QVERIFY(in.open(QIODevice::WriteOnly));
    in.write("RIFF");
    in.close();
    const QString qcp = dir.filePath(QStringLiteral("out/ring.qcp"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("out"))));
    QStringList calls;
    bool writeOutput = true;
    Process::setRunnerForTesting([&](const QString& program, const QStringList& args) {
        calls << program << args;
        if (writeOutput) {
            QFile out(QFileInfo(args.value(0)).path() + QStringLiteral("/temp.qcp"));
            if (out.open(QIODevice::WriteOnly))
                out.write("QCP");
        }
        return ProcessRun{true, QString()};
    });
    QStringList lines;
    int ended = 0;
    Conversion::Hooks hooks;
    hooks.log = [&](const QString& line) { lines << line; };
    hooks.converterEnded = [&] { ++ended; };
    Conversion::Result r = Conversion::run(wav, qcp, hooks);
    QVERIFY(r.ok());
    QCOMPARE(ended, 1);
    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0], AudioPaths::converterPath());
    QCOMPARE(QFileInfo(calls[1]).fileName(), QStringLiteral("temp.wav"));
    QCOMPARE(lines,
             (QStringList{"WAV to QCP Conversion started.", "Attempting to Convert " + wav,
                          "Calling PVConv.exe to convert your file, please wait...",
                          "Done. PVConv.exe has terminated.",
                          "Output file from PVConv.exe found. Moving from Temp DIR.",
                          "New QCP file at: " + qcp, "Temporary files deleted. Conversion Done."}));
    QFile out(qcp);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(out.readAll(), QByteArray("QCP"));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("tmp")))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());

    // A converter that writes nothing: the stage, its line and the message come back.
    writeOutput = false;
    lines.clear();
    r = Conversion::run(wav, qcp, hooks);
    QCOMPARE(r.stage, Conversion::Stage::Output);
    QCOMPARE(
        r.logLine,
        QStringLiteral("The Output file from PVConv.exe could not be found! PVConv.exe Failed!"));
    QCOMPARE(lines.last(), r.logLine);
    QVERIFY(r.message.startsWith(QLatin1String("PVConv.exe has failed")));
    QCOMPARE(ended, 2);
    QCOMPARE(QDir(dir.filePath(QStringLiteral("tmp")))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

QTEST_GUILESS_MAIN(TestAudioRules)
#include "tst_audiorules.moc"
