#include "engine/ContentTypes.h"
#include "engine/Descriptor.h"
#include "engine/PathRules.h"
#include "platform/FileDialog.h"

#include <QTest>

using namespace tess;

class TestCore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void contentTypeMatch_data();
    void contentTypeMatch();
    void tableTexts();
    void descriptorBytesExact();
    void descriptorPathJoinsVerbatim();
    void fileNameOfPath_data();
    void fileNameOfPath();
    void contentName_data();
    void contentName();
    void autoUrlBase_data();
    void autoUrlBase();
    void openFilterConversion();
};

void TestCore::contentTypeMatch_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("row");
    QTest::newRow("song.mid") << "/m/song.mid" << 0;
    QTest::newRow("upper case selects nothing") << "/m/SONG.MID" << -1;
    QTest::newRow(".midi") << "/m/song.midi" << 0;
    QTest::newRow("midi without a dot") << "/m/tunemidi" << 0;
    QTest::newRow(".qcp") << "C:\\a\\ring.qcp" << 1;
    QTest::newRow(".cmx") << "/m/x.cmx" << 2;
    QTest::newRow(".png") << "/m/x.png" << 3;
    QTest::newRow(".jpg") << "/m/x.jpg" << 4;
    QTest::newRow(".jpeg") << "/m/photo.jpeg" << 4;
    QTest::newRow(".wbmp") << "/m/logo.wbmp" << 5;
    QTest::newRow(".bmp selects WBMP") << "/m/logo.bmp" << 5;
    QTest::newRow(".wav") << "/m/x.wav" << -1;
    QTest::newRow("short path") << "mid" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestCore::contentTypeMatch() {
    QFETCH(QString, path);
    QFETCH(int, row);
    QCOMPARE(contentTypeForPath(path), row);
}

void TestCore::tableTexts() {
    // The audio lines carry no full stop, the picture lines do.
    const auto& t = contentTypes();
    QCOMPARE(QLatin1String(t[0].logLine), QLatin1String("audio/midi Content-Type Auto Selected"));
    QCOMPARE(QLatin1String(t[1].logLine),
             QLatin1String("audio/vnd.qcelp Content-Type Auto Selected"));
    for (int row = 2; row < kContentTypeCount; ++row) {
        const QString line = QLatin1String(t[row].logLine);
        QVERIFY2(line.startsWith(QLatin1String(t[row].mime)), t[row].logLine);
        QVERIFY2(line.endsWith(QLatin1String(" Content-Type Auto Selected.")), t[row].logLine);
    }
}

void TestCore::descriptorBytesExact() {
    const DescriptorFields f{QStringLiteral("audio/midi"),
                             QStringLiteral(" song "),
                             QStringLiteral("1.0"),
                             QStringLiteral("Acme"),
                             QStringLiteral("http://example.com/wap/song.mid"),
                             QStringLiteral("4096")};
    const QByteArray body = "Content-Type: audio/midi\r\n"
                            "Content-Name:  song \r\n"
                            "Content-Version: 1.0\r\n"
                            "Content-Vendor: Acme\r\n"
                            "Content-URL: http://example.com/wap/song.mid\r\n"
                            "Content-Size: 4096\r\n";
    QCOMPARE(descriptorBytes(f, false), body);
    QCOMPARE(descriptorBytes(f, true), QByteArray("\r\n") + body);
    // Empty values leave the key and its blank alone on the line.
    QCOMPARE(descriptorBytes({}, false), QByteArray("Content-Type: \r\nContent-Name: \r\n"
                                                    "Content-Version: \r\nContent-Vendor: \r\n"
                                                    "Content-URL: \r\nContent-Size: \r\n"));
}

void TestCore::descriptorPathJoinsVerbatim() {
    QCOMPARE(descriptorPath(QStringLiteral("C:\\"), QStringLiteral("song"), QLatin1Char('\\')),
             QStringLiteral("C:\\\\song.gcd"));
    QCOMPARE(descriptorPath(QStringLiteral("/srv/www"), QStringLiteral("photo."), QLatin1Char('/')),
             QStringLiteral("/srv/www/photo..gcd"));
    QCOMPARE(descriptorPath(QStringLiteral("/srv"), QString(), QLatin1Char('/')),
             QStringLiteral("/srv/.gcd"));
    QCOMPARE(logSeparatorLine(), QString(140, QLatin1Char('-')));
}

void TestCore::fileNameOfPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("sep");
    QTest::addColumn<bool>("has");
    QTest::addColumn<QString>("name");
    QTest::newRow("windows") << "D:\\tones.v2\\ring.qcp"
                             << "\\" << true << "ring.qcp";
    QTest::newRow("doubled root") << "C:\\\\song.mid"
                                  << "\\" << true << "song.mid";
    QTest::newRow("linux") << "/home/a.b/song.mid"
                           << "/" << true << "song.mid";
    // A bare name is a file in the current folder.
    QTest::newRow("no separator") << "song.mid"
                                  << "/" << true << "song.mid";
    QTest::newRow("trailing separator") << "/home/"
                                        << "/" << true << "";
}

void TestCore::fileNameOfPath() {
    QFETCH(QString, path);
    QFETCH(QString, sep);
    QFETCH(bool, has);
    QFETCH(QString, name);
    const auto got = tess::fileNameOfPath(path, sep.at(0));
    QCOMPARE(got.has_value(), has);
    if (has)
        QCOMPARE(*got, name);
}

void TestCore::contentName_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("has");
    QTest::addColumn<QString>("name");
    QTest::newRow("song.mid") << "song.mid" << true << "song";
    QTest::newRow("photo.jpeg keeps a dot") << "photo.jpeg" << true << "photo.";
    QTest::newRow("logo.wbmp") << "logo.wbmp" << true << "logo.";
    QTest::newRow("no extension") << "README" << true << "RE";
    QTest::newRow("four characters") << "a.mi" << true << "";
    QTest::newRow("three characters") << "a.m" << false << "";
}

void TestCore::contentName() {
    QFETCH(QString, fileName);
    QFETCH(bool, has);
    QFETCH(QString, name);
    const auto got = contentNameOf(fileName);
    QCOMPARE(got.has_value(), has);
    if (has)
        QCOMPARE(*got, name);
}

void TestCore::autoUrlBase_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("base");
    QTest::newRow("with slash") << "http://x.example/wap/"
                                << "http://x.example/wap/";
    QTest::newRow("without slash") << "http://x.example/wap"
                                   << "http://x.example/wap/";
    QTest::newRow("bare scheme") << "http://"
                                 << "http://";
    QTest::newRow("empty") << ""
                           << "/";
    QTest::newRow("backslash does not count") << "http://x\\"
                                              << "http://x\\/";
}

void TestCore::autoUrlBase() {
    QFETCH(QString, url);
    QFETCH(QString, base);
    QCOMPARE(autoUrlBaseOf(url), base);
}

void TestCore::openFilterConversion() {
    const QString classic = QStringLiteral(
        "All Valid Types|*.mid;*.qcp;*.cmx;*.png;*.jpg;*.bmp|MIDI (*.mid*)|*.mid|QCELP Audio "
        "(*.qcp)|*.qcp|CMX 2.0+ (*.cmx)|*.cmx|PNG Image (*.png)|*.png|JPEG Image "
        "(*.jpg)|*.jpg|WBMP "
        "Image (*.wbmp)|*.*bmp|");
    const QStringList filters = qtNameFilters(classic);
    QCOMPARE(filters.size(), 7);
    QCOMPARE(filters[0], QStringLiteral("All Valid Types (*.mid *.qcp *.cmx *.png *.jpg *.bmp)"));
    QCOMPARE(filters[1], QStringLiteral("MIDI (*.mid*) (*.mid)"));
    QCOMPARE(filters[6], QStringLiteral("WBMP Image (*.wbmp) (*.*bmp)"));
    QCOMPARE(qtNameFilters(QStringLiteral("WAV (*.wav)|*.wav|")),
             QStringList{QStringLiteral("WAV (*.wav) (*.wav)")});
}

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
