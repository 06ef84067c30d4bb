// tessavane-cli show, check and server-config as a user or a script runs them.
#include "CliSupport.h"
#include "HostileServer.h"
#include "NginxServer.h"

#include "engine/Descriptor.h"
#include "engine/ServerConfig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>

using namespace tess;
using tess::test::NginxServer;
using tess::test::SilentServer;
using namespace tess::test;

namespace {

// No config.cfg of the machine's user may leak in.
Run cli(const QStringList& args) {
    static QTemporaryDir home;
    return runCli(args, home.path());
}

// Media a phone takes: a 1x1 8-bit grey PNG as ImageMagick writes it, and one note of
// MIDI (format 0, one track).
const QByteArray kPng = QByteArray::fromHex(
    "89504e470d0a1a0a0000000d49484452000000010000000108000000003a7e9b550000000a494441"
    "5408d763a8070000810080791a4b080000000049454e44ae426082");
const QByteArray
    kMidi("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x0b\0\x90\x3c\x64\x60\x3c\0\0\xff\x2f\0", 33);

// Writes a file and returns its size.
qsizetype putSized(const QString& path, const QByteArray& bytes) {
    put(path, bytes);
    return bytes.size();
}

QList<QJsonObject> jsonLines(const QString& out) {
    QList<QJsonObject> objects;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            qFatal("not a JSON line: %s", qPrintable(line));
        objects.append(doc.object());
    }
    return objects;
}

} // namespace

class TestCliCheck : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void usageErrors();
    void serverConfigPrintsTheLines();
    void showReadsDescriptorsBack();
    void checkAgainstNginx();
    void checkTimesOut();
    void progressOnATerminalOnly();
    void hostileTextIsEscaped();
    void manyServersFewSockets();
};

void TestCliCheck::usageErrors() {
    for (const QStringList& args : {QStringList{"show", "--help"}, QStringList{"check", "--help"},
                                    QStringList{"server-config", "--help"}}) {
        const Run r = cli(args);
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.startsWith("Usage: tessavane-cli " + args[0]));
    }
    const QList<QStringList> usage{{"show"},
                                   {"show", "--bogus", "a.gcd"},
                                   {"server-config"},
                                   {"server-config", "iis"},
                                   {"server-config", "nginx", "apache"},
                                   {"check"},
                                   {"check", "--timeout", "soon", "http://127.0.0.1:9/a.gcd"},
                                   {"check", "--timeout", "0", "http://127.0.0.1:9/a.gcd"},
                                   {"check", "--parallel", "99", "http://127.0.0.1:9/a.gcd"},
                                   {"check", "--save-folder", "/tmp"},
                                   {"check", "--served-at", "http://127.0.0.1:9/"},
                                   {"check", "--save-folder", "/tmp", "--served-at", "ftp://x/"},
                                   {"check", "--save-folder", "/tmp", "--served-at",
                                    "http://127.0.0.1:9/", "http://127.0.0.1:9/a.gcd"}};
    for (const QStringList& args : usage) {
        const Run r = cli(args);
        QVERIFY2(r.status == 2, qPrintable(args.join(' ')));
        QVERIFY2(r.err.startsWith("tessavane-cli: "), qPrintable(r.err));
        QVERIFY(r.err.contains("Try 'tessavane-cli " + args[0] + " --help'."));
        QVERIFY(r.out.isEmpty());
    }
}

void TestCliCheck::serverConfigPrintsTheLines() {
    for (const QString& server : webServerNames()) {
        const Run r = cli({"server-config", server});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, serverConfig(*webServerNamed(server)));
        QVERIFY(r.err.isEmpty());
    }
}

void TestCliCheck::showReadsDescriptorsBack() {
    QTemporaryDir dir;
    const DescriptorFields fields{
        "image/png", "pic", "1.0", "Tinker", "http://example.test/p/pic.png", "67"};
    const QString good = put(dir.filePath("pic.gcd"), descriptorBytes(fields, true));
    put(dir.filePath("pic.png"), kPng);
    QByteArray lf = descriptorBytes(fields, false);
    lf.replace("\r\n", "\n");
    const QString bad = put(dir.filePath("lf.gcd"), lf);
    const QString missing = dir.filePath("none.gcd");

    Run r = cli({"show", good});
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, good +
                        "\n"
                        "  Content-Type: image/png\n"
                        "  Content-Name: pic\n"
                        "  Content-Version: 1.0\n"
                        "  Content-Vendor: Tinker\n"
                        "  Content-URL: http://example.test/p/pic.png\n"
                        "  Content-Size: 67\n"
                        "  (empty first line)\n"
                        "  media: pic.png beside it, 67 bytes\n"
                        "  ok\n"
                        "  media is: png picture, 1x1, 8-bit grey, 67 bytes\n"
                        "  hint: 1x1 pixels is smaller than the 128x160 the phone shows: it "
                        "may sit off-centre\n"
                        "    fix: fit it: tessavane-cli fit --phone default " +
                        dir.filePath("pic.png") +
                        "\n"
                        "  media works on Default (strictest common case) (default)\n");
    r = cli({"show", good, bad, missing});
    QCOMPARE(r.status, 1);
    QVERIFY(r.out.contains("  problem: Lines 1, 2, 3, 4, 5 and 6 end in LF alone; every line "
                           "must end in CR LF.\n"));
    QCOMPARE(r.err, "tessavane-cli: " + missing + ": No such file\n");

    // What make writes, show reads back as right, media size included.
    const QString song = put(dir.filePath("media/song.mid"), kMidi);
    r = cli({"make", "--save-folder", dir.filePath("media"), "--base-url", "http://example.test/t",
             "--vendor", "V", "--version", "2", "--blank-line", song});
    QCOMPARE(r.status, 0);
    r = cli({"show", dir.filePath("media/song.gcd")});
    QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
    QVERIFY(r.out.contains("  Content-URL: http://example.test/t/song.mid\n"));
    QVERIFY(r.out.contains("  media: song.mid beside it, 33 bytes\n  ok\n"
                           "  media is: midi sound, SMF 0, 1 track, 33 bytes\n"
                           "  media works on "));
    // Media the phone will not take is said, with the fix; the descriptor stays right.
    put(dir.filePath("media/song.mid"), QByteArray(kMidi).replace("MTrk", "MTRK"));
    r = cli({"show", dir.filePath("media/song.gcd")});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.contains("  ok\n  media is: midi sound"));
    QVERIFY(r.out.contains("  media will not work on "));
    QCOMPARE(cli({"show", "--phone", "no-such", dir.filePath("media/song.gcd")}).status, 2);

    r = cli({"show", "--json", good, bad, missing});
    QCOMPARE(r.status, 1);
    const QList<QJsonObject> o = jsonLines(r.out);
    QCOMPARE(o.size(), 3);
    QCOMPARE(o[0]["ok"].toBool(), true);
    QCOMPARE(o[0]["fields"].toObject()["Content-Size"].toString(), QString("67"));
    QCOMPARE(o[0]["media"].toObject()["size"].toInt(), 67);
    QCOMPARE(o[0]["media"].toObject()["format"].toString(), QString("png"));
    QCOMPARE(o[0]["media"].toObject()["works"].toBool(), true);
    QCOMPARE(o[1]["ok"].toBool(), false);
    QCOMPARE(o[1]["problems"].toArray().size(), 1);
    QCOMPARE(o[2]["error"].toString(), QString("No such file"));
}

void TestCliCheck::checkAgainstNginx() {
    if (!NginxServer::available())
        QSKIP("nginx is not installed (scripts/setup.sh installs it)");
    NginxServer nginx;
    // The lines the command prints are the server's types: proven to work.
    const Run printed = cli({"server-config", "nginx"});
    QCOMPARE(printed.status, 0);
    put(nginx.path() + "/phone-types.conf", printed.out.toUtf8());
    QString error;
    QVERIFY2(nginx.start("        location /ok/ { include " + nginx.path() +
                             "/phone-types.conf; }\n"
                             "        location /plain/ { types { text/plain gcd; } }\n",
                         &error),
             qPrintable(error));
    QMap<QString, qsizetype> sizes;
    for (const char* folder : {"ok", "plain"}) {
        const QString dir = nginx.root() + "/" + folder;
        put(dir + "/song.mid", kMidi);
        sizes[folder + QString("/song")] = putSized(
            dir + "/song.gcd",
            descriptorBytes({"audio/midi", "song", "1", "V",
                             nginx.url("/" + QString(folder) + "/song.mid").toString(), "33"},
                            false));
        put(dir + "/pic.png", kPng);
        sizes[folder + QString("/pic")] = putSized(
            dir + "/pic.gcd",
            descriptorBytes({"image/png", "pic", "1", "V",
                             nginx.url("/" + QString(folder) + "/pic.png").toString(), "67"},
                            true));
    }
    // Every descriptor of a folder after a batch.
    Run r = cli({"check", "--save-folder", nginx.root() + "/ok", "--served-at",
                 nginx.url("/ok").toString()});
    QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
    const QString expected = QString("%1/pic.gcd: ok\n"
                                     "  descriptor: HTTP 200 OK, text/x-pcs-gcd, %2 bytes\n"
                                     "  media: HTTP 200 OK, image/png, 67 bytes (%1/pic.png)\n"
                                     "  media is: png picture, 1x1, 8-bit grey, 67 bytes\n"
                                     "  hint: 1x1 pixels is smaller than the 128x160 the phone "
                                     "shows: it may sit off-centre\n"
                                     "    fix: fit it: tessavane-cli fit --phone default pic.png\n"
                                     "%1/song.gcd: ok\n"
                                     "  descriptor: HTTP 200 OK, text/x-pcs-gcd, %3 bytes\n"
                                     "  media: HTTP 200 OK, audio/midi, 33 bytes (%1/song.mid)\n"
                                     "  media is: midi sound, SMF 0, 1 track, 33 bytes\n"
                                     "2 of 2 descriptors would download.\n")
                                 .arg(nginx.url("/ok").toString())
                                 .arg(sizes["ok/pic"])
                                 .arg(sizes["ok/song"]);
    QCOMPARE(r.out, expected);

    r = cli({"check", "--json", "--parallel", "1", nginx.url("/ok/song.gcd").toString(),
             nginx.url("/plain/song.gcd").toString(), nginx.url("/ok/none.gcd").toString()});
    QCOMPARE(r.status, 1);
    const QList<QJsonObject> o = jsonLines(r.out);
    QCOMPARE(o.size(), 3);
    QCOMPARE(o[0]["url"].toString(), nginx.url("/ok/song.gcd").toString());
    QCOMPARE(o[0]["downloads"].toBool(), true);
    QCOMPARE(o[0]["media"].toObject()["bytes"].toInt(), 33);
    QCOMPARE(o[0]["plays"].toBool(), true);
    QCOMPARE(o[0]["mediaIs"].toString(), QString("midi sound, SMF 0, 1 track, 33 bytes"));
    QCOMPARE(o[1]["downloads"].toBool(), false);
    const QJsonObject problem = o[1]["problems"].toArray()[0].toObject();
    QCOMPARE(problem["reason"].toString(),
             QString("The descriptor is served as text/plain, not text/x-pcs-gcd."));
    QVERIFY(problem["fix"].toString().contains("server-config nginx"));
    QVERIFY(o[1]["descriptor"].toObject()["server"].toString().startsWith("nginx/"));
    QCOMPARE(o[1]["descriptor"].toObject()["contentType"].toString(), QString("text/plain"));
    QCOMPARE(o[2]["descriptor"].toObject()["status"].toInt(), 404);

    // Media that downloads but that the phone will not take is said, with the fix.
    QByteArray wide = kPng;
    wide.replace(16, 4, QByteArray("\0\0\x0b\xb8", 4)); // 3000 pixels wide
    put(nginx.root() + "/ok/wide.png", wide);
    put(nginx.root() + "/ok/wide.gcd",
        descriptorBytes({"image/png", "wide", "1", "V", nginx.url("/ok/wide.png").toString(), "67"},
                        false));
    r = cli({"check", "--phone", "sanyo-scp-5300", nginx.url("/ok/wide.gcd").toString()});
    QCOMPARE(r.status, 0);
    QVERIFY2(r.out.contains("/wide.gcd: ok\n"), qPrintable(r.out));
    QVERIFY(r.out.contains("  refuse: 3000x1 pixels is larger than the 132x176 screen"));
    QVERIFY(r.out.contains("    fix: fit it: tessavane-cli fit --phone sanyo-scp-5300 wide.png\n"));
    QVERIFY(r.out.endsWith("1 of 1 descriptor would download.\n"));

    r = cli({"check", "--save-folder", nginx.root() + "/none", "--served-at",
             nginx.url("/").toString()});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err, "tessavane-cli: " + nginx.root() + "/none: No such folder\n");
}

void TestCliCheck::checkTimesOut() {
    SilentServer silent;
    const Run r = cli({"check", "--timeout", "0.3", silent.url("/a.gcd").toString()});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.out.contains("  problem: The descriptor got no answer within 0.3 s from 127.0.0.1."),
             qPrintable(r.out));
    QVERIFY(r.out.endsWith("0 of 1 descriptor would download.\n"));
    // Standard error is no terminal here: no progress line.
    QVERIFY(r.err.isEmpty());
    QCOMPARE(silent.accepted(), 1);
}

void TestCliCheck::progressOnATerminalOnly() {
    SilentServer silent;
    static QTemporaryDir home;
    const TerminalRun t =
        runCliOnTerminal({"check", "--timeout", "0.3", silent.url("/a.gcd").toString(),
                          silent.url("/b.gcd").toString()},
                         home.path());
    const QByteArray& terminal = t.terminal;
    QCOMPARE(t.status, 1);
    QVERIFY2(terminal.contains("\r\033[K0/2 descriptors checked"), terminal.constData());
    QVERIFY(terminal.contains("\r\033[K2/2 descriptors checked"));
    // The line is wiped at the end; the results went to standard output alone.
    QVERIFY(terminal.endsWith("\r\033[K"));
    const QByteArray& out = t.out;
    QVERIFY(out.endsWith("0 of 2 descriptors would download.\n"));
    QVERIFY(!out.contains("descriptors checked"));
}

void TestCliCheck::hostileTextIsEscaped() {
    const QChar rlo(0x202e);
    const QChar nel(0x85);
    // An unknown option is echoed back: escaped.
    Run r = cli({"check", QString("--x\x1b[31m") + rlo, "http://127.0.0.1:9/a.gcd"});
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains("'x\\x1b[31m\\u202e'"), qPrintable(r.err));
    QVERIFY(!r.err.contains(QChar(0x1b)) && !r.err.contains(rlo));

    // Names that turn around or carry C1 controls: problems, and escaped wherever shown.
    QTemporaryDir dir;
    const QString name = QString("song") + rlo + "3pm.exe";
    const QString file =
        put(dir.filePath("x.gcd"), descriptorBytes({"audio/midi", name, "1", QString("V") + nel,
                                                    "http://example.test/x.mid", "4"},
                                                   false));
    r = cli({"show", file});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.out.contains("  Content-Name: song\\u202e3pm.exe\n"), qPrintable(r.out));
    QVERIFY(r.out.contains("  Content-Vendor: V\\x85\n"));
    QVERIFY(r.out.contains("  problem: Content-Name holds control or bidi characters "
                           "(song\\u202e3pm.exe); a phone shows them wrongly"));
    QVERIFY(r.out.contains("  problem: Content-Vendor holds control or bidi characters (V\\x85)"));
    QVERIFY(!r.out.contains(rlo) && !r.out.contains(nel));
    r = cli({"show", "--json", file});
    QCOMPARE(r.status, 1);
    QVERIFY(!r.out.contains(rlo) && !r.out.contains(nel));
    const QList<QJsonObject> o = jsonLines(r.out);
    QCOMPARE(o[0]["fields"].toObject()["Content-Name"].toString(), name);
    QCOMPARE(o[0]["problems"].toArray().size(), 2);
}

void TestCliCheck::manyServersFewSockets() {
    if (!NginxServer::available())
        QSKIP("nginx is not installed (scripts/setup.sh installs it)");
    // 300 media servers that would keep every connection, 400 descriptors, 256 files open.
    constexpr int kServers = 300;
    constexpr int kDescriptors = 400;
    tess::test::HostileServer media(
        [](tess::test::HostileServer::Connection& c) {
            c.send("HTTP/1.1 200 OK\r\nContent-Type: audio/midi\r\nContent-Length: 4\r\n"
                   "Connection: keep-alive\r\n\r\nMThd");
            c.closedWithin(5000);
        },
        "127.0.0.1", kServers);
    QVERIFY(media.listening());
    NginxServer nginx;
    put(nginx.path() + "/phone-types.conf", serverConfig(WebServer::Nginx).toUtf8());
    QString error;
    QVERIFY2(
        nginx.start("        location /many/ { include " + nginx.path() + "/phone-types.conf; }\n",
                    &error),
        qPrintable(error));
    const QString folder = nginx.root() + "/many";
    for (int i = 0; i < kDescriptors; ++i)
        put(folder + QString("/t%1.gcd").arg(i, 3, 10, QChar('0')),
            descriptorBytes({"audio/midi", "t", "1", "V",
                             media.url(QString("/t%1.mid").arg(i), i % kServers).toString(), "4"},
                            false));
    // Left out, and said so.
    put(folder + "/.hidden.gcd", "x");
    const QByteArray raw = QFile::encodeName(folder) + "/\xff.gcd";
    ::close(::open(raw.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));

    const Run r = runCli({"check", "--parallel", "16", "--save-folder", folder, "--served-at",
                          nginx.url("/many/").toString()},
                         QDir::tempPath(), {}, QProcessEnvironment::systemEnvironment(), [] {
                             const rlimit few{256, 256};
                             ::setrlimit(RLIMIT_NOFILE, &few);
                         });
    QVERIFY2(r.out.endsWith("400 of 400 descriptors would download.\n"),
             qPrintable(r.out.right(2000)));
    QCOMPARE(r.status, 0);
    QCOMPARE(r.err, "tessavane-cli: " + folder +
                        "/.hidden.gcd: skipped: a hidden name, which web servers often refuse to "
                        "serve\n"
                        "tessavane-cli: " +
                        folder +
                        "/\\xff.gcd: skipped: the name is not valid UTF-8, so no URL names it "
                        "the same on every server\n");
    QCOMPARE(media.accepted(), kDescriptors);
    ::unlink(raw.constData()); // Qt cannot name it to remove it
}

QTEST_GUILESS_MAIN(TestCliCheck)
#include "tst_clicheck.moc"
