#include "engine/AppInfo.h"
#include "engine/ConfigFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

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
    void readFileTakesFiveLines();
    void readFileRefusesWhatIsNotAFile();
    void readFileBoundsALine();
    void readFileOfAGigabyte();
    void saveRefusesLineBreaks();
    void userConfigFolder();
    void besideOrInTheUserFolder();
};

namespace {
QString write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write test file");
    return path;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

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

void TestConfigFile::readFileTakesFiveLines() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.cfg"));
    write(path, "1\r\nC:\\web\r\nhttp://x/\r\nAcme\r\n1.0\r\nsixth\r\nseventh");
    ConfigFile::ReadResult r = ConfigFile::readFile(path);
    QVERIFY(r.ok);
    QCOMPARE(r.lines, (QStringList{"1", "C:\\web", "http://x/", "Acme", "1.0"}));
    // Short files as parseLines splits them.
    for (const QByteArray& bytes : {QByteArray(), QByteArray("0\r\na\r\nb"),
                                    QByteArray("0\na\nb\nc\nd"), QByteArray("a\r\nb\r")}) {
        write(path, bytes);
        r = ConfigFile::readFile(path);
        QVERIFY(r.ok);
        QCOMPARE(r.lines, ConfigFile::parseLines(bytes));
    }
    // Values of 40,000 characters and more load whole.
    const QByteArray folder(200000, 'f');
    write(path, "0\r\n" + folder + "\r\nu\r\nv\r\n" + QByteArray(40000, '9'));
    r = ConfigFile::readFile(path);
    QVERIFY(r.ok);
    QCOMPARE(r.lines.size(), 5);
    QCOMPARE(r.lines[1].size(), 200000);
    QCOMPARE(r.lines[4], QString(40000, QLatin1Char('9')));
}

void TestConfigFile::readFileRefusesWhatIsNotAFile() {
    QTemporaryDir dir;
    // A FIFO nobody writes to: refused at once, never waited on.
    const QString fifo = dir.filePath(QStringLiteral("fifo.cfg"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ConfigFile::ReadResult r = ConfigFile::readFile(fifo);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("it is not a regular file"));
    // A link to an endless device.
    const QString zero = dir.filePath(QStringLiteral("zero.cfg"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
    r = ConfigFile::readFile(zero);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("it is not a regular file"));
    r = ConfigFile::readFile(dir.path());
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("it is a folder, not a file"));
    r = ConfigFile::readFile(dir.filePath(QStringLiteral("missing.cfg")));
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("No such file or directory"));
    QVERIFY(r.lines.isEmpty());
}

void TestConfigFile::readFileBoundsALine() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.cfg"));
    const QByteArray longest(ConfigFile::kMaxLineBytes, 'x');
    write(path, "0\r\n" + longest + "\nu\r\nv\r\nw\r\n");
    ConfigFile::ReadResult r = ConfigFile::readFile(path);
    QVERIFY(r.ok);
    QCOMPARE(r.lines[1].size(), ConfigFile::kMaxLineBytes);
    const QString tooLong =
        QStringLiteral("a line is longer than %1 bytes").arg(ConfigFile::kMaxLineBytes);
    for (const QByteArray& bytes :
         {"0\r\n" + longest + "x\r\nu\r\nv\r\nw\r\n", "0\r\nu\r\n" + longest + "xy"}) {
        write(path, bytes);
        r = ConfigFile::readFile(path);
        QVERIFY(!r.ok);
        QCOMPARE(r.reason, tooLong);
    }
}

void TestConfigFile::readFileOfAGigabyte() {
    // Five good lines followed by a gigabyte (sparse: no disk used) that is never read.
    QTemporaryDir dir;
    const QString path = write(dir.filePath(QStringLiteral("config.cfg")),
                               "1\r\n/srv/www\r\nhttp://t/\r\nAcme\r\n1.0\r\n");
    QVERIFY(QFile::resize(path, qint64(1) << 30));
    ConfigFile::ReadResult r = ConfigFile::readFile(path);
    QVERIFY(r.ok);
    QCOMPARE(r.lines, (QStringList{"1", "/srv/www", "http://t/", "Acme", "1.0"}));
    // A gigabyte without a line end stops at the bound.
    write(path, "");
    QVERIFY(QFile::resize(path, qint64(1) << 30));
    r = ConfigFile::readFile(path);
    QVERIFY(!r.ok);
    QVERIFY(r.reason.startsWith(QLatin1String("a line is longer than")));
}

void TestConfigFile::saveRefusesLineBreaks() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.cfg"));
    QVERIFY(ConfigFile::save(path, 1, "/srv/www", "http://t/", "Acme Tones", "1.0"));
    const QByteArray good = "1\r\n/srv/www\r\nhttp://t/\r\nAcme Tones\r\n1.0\r\n";
    QCOMPARE(readAll(path), good);
    const struct {
        int field;
        const char* name;
    } cases[] = {
        {0, "save folder"}, {1, "Content-URL"}, {2, "Content-Vendor"}, {3, "Content-Version"}};
    for (const auto& c : cases) {
        for (const QString& bad :
             {QStringLiteral("Acme Tones\r\n"), QStringLiteral("a\nb"), QStringLiteral("cr\r"),
              QString(QStringLiteral("n")) + QChar(0)}) {
            QStringList values{"/srv/www", "http://t/", "Acme", "2.0"};
            values[c.field] = bad;
            const FileResult r =
                ConfigFile::save(path, 0, values[0], values[1], values[2], values[3]);
            QVERIFY(!r.ok);
            QCOMPARE(r.reason, QStringLiteral("the ") + QLatin1String(c.name) +
                                   QStringLiteral(" holds a line break or NUL character"));
            QCOMPARE(readAll(path), good);
        }
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"config.cfg"});
    // Tabs and other text are ordinary values.
    QVERIFY(ConfigFile::save(path, 0, "a\tb", "", "Caf\u00e9", ""));
    QCOMPARE(readAll(path), QByteArray("0\r\na\tb\r\n\r\nCaf\xc3\xa9\r\n\r\n"));
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
    // Relative values are invalid: settings must not follow the current folder.
    for (const char* relative : {"relative/config", ".", "~/.config"}) {
        qputenv("XDG_CONFIG_HOME", relative);
        QCOMPARE(ConfigFile::configFolder(), home.path() + "/.config/tessavane");
    }
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
