#include "engine/AudioPaths.h"
#include "engine/AppInfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace tess;

class TestAudioRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void outputPath_data();
    void outputPath();
    void defaultTempFolder();
    void tempFolderFollowsEnvironmentUnlessOverridden();
    void converterBesideTheProgram();
    void missingFolderIsCreatedPrivate();
    void ownFolderIsTightened();
    void unsafeFoldersAreRefused();
    void folderThatCannotBeCreated();
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
    qputenv("XDG_RUNTIME_DIR", "/run/user/4242");
    QCOMPARE(AudioPaths::tempFolder(), QStringLiteral("/run/user/4242/tessavane"));
    QCOMPARE(AudioPaths::tempWavIn(AudioPaths::tempFolder()),
             QStringLiteral("/run/user/4242/tessavane/temp.wav"));
    AudioPaths::setTempFolderForTesting(QStringLiteral("/elsewhere"));
    QCOMPARE(AudioPaths::tempFolder(), QStringLiteral("/elsewhere"));
    QCOMPARE(AudioPaths::tempQcpIn(AudioPaths::tempFolder()),
             QStringLiteral("/elsewhere/temp.qcp"));
    if (savedRuntime.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
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

QTEST_GUILESS_MAIN(TestAudioRules)
#include "tst_audiorules.moc"
