#include "engine/AppInfo.h"
#include "engine/ConfigFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tess;

class TestConfigFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parseLines_data();
    void parseLines();
    void serialiseExactBytes();
    void serialiseThenParse();
    void blankLineState_data();
    void blankLineState();
    void userConfigFolder();
    void besideOrInTheUserFolder();
};

void TestConfigFile::parseLines_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("five CR LF") << QByteArray("1\r\nC:\\web\r\nhttp://x/\r\nAcme\r\n1.0\r\n")
                                << QStringList{"1", "C:\\web", "http://x/", "Acme", "1.0"};
    QTest::newRow("last line without line end")
        << QByteArray("0\r\na\r\nb\r\nc\r\nd") << QStringList{"0", "a", "b", "c", "d"};
    QTest::newRow("LF only") << QByteArray("0\na\nb\n") << QStringList{"0", "a", "b"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("one line end") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("empty lines 2 to 5")
        << QByteArray("1\r\n\r\n\r\n\r\n\r\n") << QStringList{"1", "", "", "", ""};
    QTest::newRow("extra lines kept for the caller")
        << QByteArray("0\r\na\r\nb\r\nc\r\nd\r\ne\r\nf")
        << QStringList{"0", "a", "b", "c", "d", "e", "f"};
    QTest::newRow("blanks kept") << QByteArray(" 1 \r\n  spaced  \r\n")
                                 << QStringList{" 1 ", "  spaced  "};
    QTest::newRow("CR inside a line stays") << QByteArray("a\rb\r\nc") << QStringList{"a\rb", "c"};
    QTest::newRow("CR cut off at the end") << QByteArray("a\r\nb\r") << QStringList{"a", "b"};
}

void TestConfigFile::parseLines() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(ConfigFile::parseLines(bytes), lines);
}

void TestConfigFile::serialiseExactBytes() {
    QCOMPARE(ConfigFile::serialise(1, "C:\\Program Files\\Web Server\\Pages\\",
                                   "http://www.example.com/wap/midi", "Acme Tones", "1.0"),
             QByteArray("1\r\nC:\\Program Files\\Web Server\\Pages\\\r\n"
                        "http://www.example.com/wap/midi\r\nAcme Tones\r\n1.0\r\n"));
    QCOMPARE(ConfigFile::serialise(0, "", "", "", ""), QByteArray("0\r\n\r\n\r\n\r\n\r\n"));
    QCOMPARE(ConfigFile::serialise(2, "a", "b", "c", "d"), QByteArray("2\r\na\r\nb\r\nc\r\nd\r\n"));
}

void TestConfigFile::serialiseThenParse() {
    // Local 8-bit text both ways, no byte-order mark; long values survive whole.
    const QString vendor = QStringLiteral("Caf\u00e9 Tones");
    const QString folder = QString(40000, QLatin1Char('f'));
    const QByteArray bytes = ConfigFile::serialise(0, folder, " url ", vendor, "v");
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.contains(vendor.toLocal8Bit()));
    QCOMPARE(ConfigFile::parseLines(bytes), (QStringList{"0", folder, " url ", vendor, "v"}));
}

void TestConfigFile::blankLineState_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("state");
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("1") << "1" << 1;
    QTest::newRow("2 grayed") << "2" << 2;
    QTest::newRow("blanks trimmed") << "  1 " << 1;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("3") << "3" << 0;
    QTest::newRow("-1") << "-1" << 0;
    QTest::newRow("01") << "01" << 0;
    QTest::newRow("text") << "yes" << 0;
    QTest::newRow("1.0") << "1.0" << 0;
}

void TestConfigFile::blankLineState() {
    QFETCH(QString, line);
    QFETCH(int, state);
    QCOMPARE(ConfigFile::blankLineState(line), state);
}

// $XDG_CONFIG_HOME/tessavane, else ~/.config/tessavane, for every program of ours.
void TestConfigFile::userConfigFolder() {
    const QByteArray savedHome = qgetenv("HOME");
    QTemporaryDir home, xdg;
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(ConfigFile::configFolder(), home.path() + "/.config/tessavane");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdg.path()));
    QCOMPARE(ConfigFile::configFolder(), xdg.path() + "/tessavane");
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", savedHome);
}

void TestConfigFile::besideOrInTheUserFolder() {
    QTemporaryDir app, xdg;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdg.path()));
    // A writable folder keeps the file beside the program.
    AppInfo::setPathForTesting(app.path());
    QCOMPARE(ConfigFile::defaultPath(), app.filePath("config.cfg"));
    // A folder that is not there (nor writable) sends it to the user's folder.
    AppInfo::setPathForTesting(app.filePath("gone"));
    QCOMPARE(ConfigFile::defaultPath(), xdg.path() + "/tessavane/config.cfg");
    // A regular file in place of the folder is no folder to write into either.
    QFile plain(app.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    AppInfo::setPathForTesting(plain.fileName());
    QCOMPARE(ConfigFile::defaultPath(), xdg.path() + "/tessavane/config.cfg");
    AppInfo::setPathForTesting(QString());
    qunsetenv("XDG_CONFIG_HOME");
}

QTEST_MAIN(TestConfigFile)
#include "tst_configfile.moc"
