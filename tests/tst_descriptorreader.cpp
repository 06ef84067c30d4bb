#include "engine/ContentTypes.h"
#include "engine/Descriptor.h"
#include "engine/DescriptorReader.h"
#include "engine/ServerConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace tess;

namespace {

DescriptorFields sample() {
    return {QStringLiteral("audio/midi"),
            QStringLiteral("song"),
            QStringLiteral("1.0"),
            QStringLiteral("Tinker"),
            QStringLiteral("http://example.test/tones/song.mid"),
            QStringLiteral("1234")};
}

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

bool hasProblem(const DescriptorReport& r, const QString& part) {
    for (const QString& p : r.problems)
        if (p.contains(part))
            return true;
    return false;
}

} // namespace

class TestDescriptorReader : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readsWhatTheProgramWrites_data();
    void readsWhatTheProgramWrites();
    void brokenVariants_data();
    void brokenVariants();
    void sizeAgainstMediaFile();
    void refusesWhatIsNoDescriptorFile();
    void mediaNameStaysInFolder();
    void serverLinesCoverEveryType();
};

void TestDescriptorReader::readsWhatTheProgramWrites_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("blank");
    for (int row = 0; row < kContentTypeCount; ++row) {
        QTest::addRow("%s", contentTypes()[row].mime) << row << false;
        QTest::addRow("%s blank", contentTypes()[row].mime) << row << true;
    }
}

void TestDescriptorReader::readsWhatTheProgramWrites() {
    QFETCH(int, row);
    QFETCH(bool, blank);
    DescriptorFields fields = sample();
    fields.type = QLatin1String(contentTypes()[row].mime);
    fields.name = QStringLiteral("Ünïcode name: with colon");
    const DescriptorReport r = readDescriptor(descriptorBytes(fields, blank));
    QCOMPARE(r.problems, QStringList());
    QVERIFY(r.ok());
    QCOMPARE(r.blankFirstLine, blank);
    QCOMPARE(r.fields.type, fields.type);
    QCOMPARE(r.fields.name, fields.name);
    QCOMPARE(r.fields.version, fields.version);
    QCOMPARE(r.fields.vendor, fields.vendor);
    QCOMPARE(r.fields.url, fields.url);
    QCOMPARE(r.fields.size, fields.size);
}

void TestDescriptorReader::brokenVariants_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    const QByteArray good = descriptorBytes(sample(), false);
    QByteArray lf = good;
    lf.replace("\r\n", "\n");
    QByteArray cr = good;
    cr.replace("\r\n", "\r");
    QByteArray oneLf = good;
    oneLf.replace("Content-Vendor: Tinker\r\n", "Content-Vendor: Tinker\n");
    QByteArray noLastEnd = good;
    noLastEnd.chop(2);
    QByteArray swapped = good;
    swapped.replace("Content-Type: audio/midi\r\nContent-Name: song\r\n",
                    "Content-Name: song\r\nContent-Type: audio/midi\r\n");
    QByteArray noSpace = good;
    noSpace.replace("Content-Name: song", "Content-Name:song");
    QByteArray lower = good;
    lower.replace("Content-Version", "content-version");
    QByteArray unknown = good;
    unknown.replace("Content-Vendor", "Content-Maker");
    QByteArray badType = good;
    badType.replace("audio/midi", "audio/mid");
    QByteArray badSize = good;
    badSize.replace("Content-Size: 1234", "Content-Size: 1.2 KB");
    QByteArray noSize = good;
    noSize.replace("Content-Size: 1234\r\n", "");
    QByteArray extraLine = good + "\r\n";
    QByteArray twoBlank = "\r\n\r\n" + good;
    QByteArray repeated = good;
    repeated.replace("Content-Size: 1234", "Content-Type: image/png");
    QByteArray noColon = good;
    noColon.replace("Content-URL: ", "Content-URL ");

    QTest::newRow("empty") << QByteArray() << QStringList{"The descriptor is empty."};
    QTest::newRow("LF only") << lf << QStringList{"Lines 1, 2, 3, 4, 5 and 6 end in LF alone"};
    QTest::newRow("CR only") << cr << QStringList{"end in CR alone; every line must end in CR LF."};
    QTest::newRow("one LF") << oneLf << QStringList{"Line 4 ends in LF alone"};
    QTest::newRow("no last end") << noLastEnd << QStringList{"The last line has no line end"};
    QTest::newRow("order") << swapped << QStringList{"The fields are out of order"};
    QTest::newRow("no space") << noSpace
                              << QStringList{"Line 2: the colon after Content-Name must be "
                                             "followed by one space."};
    QTest::newRow("lower case") << lower
                                << QStringList{"Line 3: the field name is written "
                                               "\"content-version\"; it must be Content-Version."};
    QTest::newRow("unknown") << unknown
                             << QStringList{"Line 4: \"Content-Maker\" is not one of the six",
                                            "Content-Vendor is missing."};
    QTest::newRow("type") << badType
                          << QStringList{"Content-Type \"audio/mid\" is not one of audio/midi, "
                                         "audio/vnd.qcelp, application/x-pmd, image/png, "
                                         "image/jpeg, image/vnd.wap.wbmp."};
    QTest::newRow("size") << badSize
                          << QStringList{"Content-Size \"1.2 KB\" is not a number of bytes"};
    QTest::newRow("missing size") << noSize
                                  << QStringList{"The descriptor has 5 lines; it needs the six",
                                                 "Content-Size is missing."};
    QTest::newRow("extra line") << extraLine
                                << QStringList{"The descriptor has 7 lines", "Line 7 is empty."};
    QTest::newRow("two blank") << twoBlank
                               << QStringList{"The descriptor has 8 lines", "Line 2 is empty."};
    QTest::newRow("repeated") << repeated
                              << QStringList{"Line 6 repeats Content-Type.",
                                             "Content-Size is missing."};
    QTest::newRow("no colon") << noColon
                              << QStringList{"Line 5: the name Content-URL must be followed by a "
                                             "colon and one space.",
                                             "Content-URL is missing."};
    QTest::newRow("too big") << QByteArray(kDescriptorReadLimit + 1, 'x')
                             << QStringList{"The descriptor is larger than 65536 bytes"};
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11)
                            << QStringList{"The descriptor contains NUL bytes.",
                                           "Line 2 ends in LF alone"};
}

void TestDescriptorReader::brokenVariants() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, expected);
    const DescriptorReport r = readDescriptor(bytes);
    QVERIFY(!r.ok());
    for (const QString& part : expected)
        QVERIFY2(hasProblem(r, part), qPrintable(part + " not in: " + r.problems.join(" | ")));
    // Every problem is one short sentence.
    for (const QString& p : r.problems) {
        QVERIFY(p.endsWith('.'));
        QVERIFY(!p.contains('\n'));
    }
}

void TestDescriptorReader::sizeAgainstMediaFile() {
    QTemporaryDir dir;
    const QString gcd = dir.filePath("song.gcd");
    write(gcd, descriptorBytes(sample(), true));
    // No media beside it: nothing to compare.
    DescriptorReport r = readDescriptorFile(gcd);
    QVERIFY(r.ok());
    QVERIFY(r.mediaPath.isEmpty());

    write(dir.filePath("song.mid"), QByteArray(1234, 'm'));
    r = readDescriptorFile(gcd);
    QVERIFY2(r.ok(), qPrintable(r.problems.join(" | ")));
    QCOMPARE(r.mediaPath, dir.filePath("song.mid"));
    QCOMPARE(r.mediaSize, 1234);

    write(dir.filePath("song.mid"), QByteArray(1200, 'm'));
    r = readDescriptorFile(gcd);
    QCOMPARE(r.problems, QStringList{"Content-Size says 1234 bytes, but song.mid beside the "
                                     "descriptor has 1200 bytes."});

    // A URL with an escaped space names the file with the space.
    DescriptorFields f = sample();
    f.url = "http://example.test/my%20tone.mid";
    f.size = "3";
    write(gcd, descriptorBytes(f, false));
    write(dir.filePath("my tone.mid"), "abc");
    r = readDescriptorFile(gcd);
    QVERIFY(r.ok());
    QCOMPARE(r.mediaSize, 3);
}

void TestDescriptorReader::refusesWhatIsNoDescriptorFile() {
    QTemporaryDir dir;
    QCOMPARE(readDescriptorFile(dir.filePath("none.gcd")).readError, QString("No such file"));
    QCOMPARE(readDescriptorFile(dir.path()).readError, QString("Is a folder"));
    // A device never ends; it is not read.
    QCOMPARE(readDescriptorFile("/dev/zero").readError, QString("Not a regular file"));
    // A big file is read only up to the limit.
    const QString big = dir.filePath("big.gcd");
    write(big, QByteArray(10 * 1024 * 1024, 'x'));
    const DescriptorReport r = readDescriptorFile(big);
    QVERIFY(r.readError.isEmpty());
    QCOMPARE(r.problems.size(), 1);
    QVERIFY(r.problems[0].startsWith("The descriptor is larger than 65536 bytes"));
    if (::geteuid() != 0) {
        const QString locked = dir.filePath("locked.gcd");
        write(locked, descriptorBytes(sample(), false));
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        QVERIFY(!readDescriptorFile(locked).readError.isEmpty());
    }
}

void TestDescriptorReader::mediaNameStaysInFolder() {
    QCOMPARE(mediaFileNameOf("http://h/a/b/song.mid"), QString("song.mid"));
    QCOMPARE(mediaFileNameOf("http://h/a/b/song.mid?x=1#f"), QString("song.mid"));
    QCOMPARE(mediaFileNameOf("http://h/a/%2E%2E"), QString());
    QCOMPARE(mediaFileNameOf("http://h/a/x%2Fy.mid"), QString());
    QCOMPARE(mediaFileNameOf("http://h/"), QString());
    QCOMPARE(mediaFileNameOf(""), QString());
    QCOMPARE(mediaFileNameOf("song.mid"), QString("song.mid"));
}

void TestDescriptorReader::serverLinesCoverEveryType() {
    QCOMPARE(webServerNamed("nginx"), std::optional<WebServer>(WebServer::Nginx));
    QCOMPARE(webServerNamed("iis"), std::optional<WebServer>());
    const QString apache = serverConfig(WebServer::Apache);
    const QString nginx = serverConfig(WebServer::Nginx);
    const QString lighttpd = serverConfig(WebServer::Lighttpd);
    QVERIFY(apache.contains("\nAddType text/x-pcs-gcd .gcd\n"));
    QVERIFY(apache.contains("\nAddType image/jpeg .jpg .jpeg\n"));
    // No types { } block over the folder: it would drop every other type there.
    QVERIFY(!nginx.contains("\ntypes {"));
    QVERIFY(nginx.contains("\nlocation ~* \\.gcd$        { types { } default_type "
                           "text/x-pcs-gcd; }\n"));
    QVERIFY(nginx.contains("\nlocation ~* \\.(jpg|jpeg)$ "));
    QVERIFY(lighttpd.contains("\".gcd\"  => \"text/x-pcs-gcd\""));
    QCOMPARE(servedTypes().size(), size_t(7));
    for (const ServedType& t : servedTypes()) {
        for (const QString& e : t.extensions) {
            QVERIFY(apache.contains(" ." + e));
            QVERIFY(lighttpd.contains("\"." + e + "\""));
        }
        QVERIFY(nginx.contains(QLatin1String(t.mime)));
    }
    // The pages of a phone's browser, on all three.
    QCOMPARE(pageTypes().size(), size_t(3));
    for (const ServedType& t : pageTypes())
        for (const QString& text : {apache, nginx, lighttpd})
            QVERIFY2(text.contains(QLatin1String(t.mime)) && text.contains(t.extensions[0]),
                     t.mime);
    for (const QString& text : {apache, nginx, lighttpd})
        QVERIFY(text.contains("index.wml") && text.contains("index.xhtml") &&
                text.contains("text/vnd\\.wap\\.wml"));
    // Every content type of the table is served.
    for (const ContentType& c : contentTypes())
        QVERIFY(apache.contains(QStringLiteral("AddType ") + QLatin1String(c.mime) + " ."));
    QVERIFY(!apache.contains("\r"));

    // The fix names the server's own line when the server is known.
    QCOMPARE(webServerFromHeader("Apache/2.4.57 (Debian)"), std::optional(WebServer::Apache));
    QCOMPARE(webServerFromHeader("nginx"), std::optional(WebServer::Nginx));
    QCOMPARE(webServerFromHeader("LightTPD/1.4.69"), std::optional(WebServer::Lighttpd));
    QCOMPARE(webServerFromHeader("Microsoft-IIS/10.0"), std::optional<WebServer>());
    QCOMPARE(typeFix("qcp", "audio/vnd.qcelp", WebServer::Apache),
             QString("serve .qcp as audio/vnd.qcelp: add \"AddType audio/vnd.qcelp .qcp\" "
                     "(Apache; all lines: tessavane-cli server-config apache)"));
    QCOMPARE(
        typeFix("gcd", "text/x-pcs-gcd", WebServer::Lighttpd),
        QString("serve .gcd as text/x-pcs-gcd: add \".gcd\" => \"text/x-pcs-gcd\" to "
                "mimetype.assign (lighttpd; all lines: tessavane-cli server-config lighttpd)"));
    const QString any = typeFix("gcd", "text/x-pcs-gcd");
    QVERIFY(any.contains("Apache \"AddType text/x-pcs-gcd .gcd\""));
    QVERIFY(any.contains("nginx \"location ~* \\.gcd$ { types { } default_type text/x-pcs-gcd; "
                         "}\" to the folder's location"));
    QVERIFY(any.contains("lighttpd \".gcd\" => \"text/x-pcs-gcd\" to mimetype.assign"));
    // Every line a fix names is one the printed configuration holds.
    QVERIFY(apache.contains("AddType audio/vnd.qcelp .qcp"));
}

QTEST_GUILESS_MAIN(TestDescriptorReader)
#include "tst_descriptorreader.moc"
