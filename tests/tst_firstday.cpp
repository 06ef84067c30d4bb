// What a new user meets on the first day: bare file names, names that need
// escaping in a URL, the converter's refusal, the server lines under a real nginx,
// run.sh without a display and the man pages.
#include "CliSupport.h"
#include "NginxServer.h"

#include "engine/Conversion.h"
#include "engine/Descriptor.h"
#include "engine/DescriptorReader.h"
#include "engine/PathRules.h"
#include "engine/ServerConfig.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace tess;
using namespace tess::test;

namespace {

// tessavane-cli run from folder, as a user in a shell there.
Run cliIn(const QString& folder, const QStringList& args, const QByteArray& input = {}) {
    static QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(folder);
    p.start(TESSAVANE_CLI, args);
    Run r;
    if (!p.waitForStarted(10000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000))
        p.kill();
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// A program's exit status; -1 when it did not run to its end.
int runTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
}

// One GET over a bare socket, the request line holding path exactly as given, as a
// handset sends Content-URL. Returns the status line's code, the Content-Type and
// the body.
struct Answer {
    int status = 0;
    QByteArray type;
    QByteArray body;
};
Answer rawGet(int port, const QByteArray& path, const QByteArray& accept = {}) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, quint16(port));
    Answer a;
    if (!s.waitForConnected(3000))
        return a;
    QByteArray request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
    if (!accept.isEmpty())
        request += "Accept: " + accept + "\r\n";
    s.write(request + "\r\n");
    QByteArray all;
    while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(3000))
        all += s.readAll();
    all += s.readAll();
    const qsizetype split = all.indexOf("\r\n\r\n");
    const QList<QByteArray> head = all.left(split).split('\n');
    if (head.isEmpty() || split < 0)
        return a;
    a.status = head[0].split(' ').value(1).toInt();
    for (const QByteArray& line : head)
        if (line.toLower().startsWith("content-type:"))
            a.type = line.mid(13).trimmed();
    a.body = all.mid(split + 4);
    return a;
}

// A free port on 127.0.0.1 (free when asked; the server takes it right after).
int freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Waits until something listens on port, or program ended, or 5 s passed.
bool listening(const QProcess& program, int port) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 && program.state() != QProcess::NotRunning) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (socket.waitForConnected(200))
            return true;
        QTest::qWait(50);
    }
    return false;
}

// Every page and media file the lines name, and the neighbours they must leave alone,
// with the type each must be served as.
const QList<std::pair<const char*, const char*>>& folderFiles() {
    static const QList<std::pair<const char*, const char*>> files{
        {"page.html", "text/html"},
        {"style.css", "text/css"},
        {"notes.txt", "text/plain"},
        {"pic.gif", "image/gif"},
        {"song.gcd", "text/x-pcs-gcd"},
        {"song.mid", "audio/midi"},
        {"song.MIDI", "audio/midi"},
        {"tone.qcp", "audio/vnd.qcelp"},
        {"melody.cmx", "application/x-pmd"},
        {"logo.png", "image/png"},
        {"photo.jpeg", "image/jpeg"},
        {"logo.wbmp", "image/vnd.wap.wbmp"},
        {"deck.wml", "text/vnd.wap.wml"},
        {"deck.wmlc", "application/vnd.wap.wmlc"},
        {"page.xhtml", "application/vnd.wap.xhtml+xml"}};
    return files;
}

// Browsers' Accept headers and the index page each must get.
const QList<std::pair<QByteArray, QByteArray>>& accepts() {
    static const QList<std::pair<QByteArray, QByteArray>> list{
        {"text/vnd.wap.wml, image/vnd.wap.wbmp, */*", "<wml/>"},
        {"application/vnd.wap.xhtml+xml, text/vnd.wap.wml", "<html/>"},
        {"text/html,application/xhtml+xml,*/*;q=0.8", "<html/>"},
        {"*/*", "<html/>"},
        {"", "<html/>"}};
    return list;
}

// Serves folderFiles() and both index pages from folder at port and checks each answer.
void checkFolder(int port, const QString& folder, bool caseFolded = true) {
    for (const auto& [name, type] : folderFiles()) {
        if (!caseFolded && QString(name) == "song.MIDI")
            continue;
        put(folder + "/" + name, name);
    }
    put(folder + "/index.wml", "<wml/>");
    put(folder + "/index.xhtml", "<html/>");
    for (const auto& [name, type] : folderFiles()) {
        if (!caseFolded && QString(name) == "song.MIDI")
            continue;
        const Answer a = rawGet(port, "/wap/" + QByteArray(name));
        QCOMPARE(a.status, 200);
        QVERIFY2(a.type == type || a.type.startsWith(QByteArray(type) + ";"),
                 qPrintable(QString(name) + " is " + a.type));
    }
    for (const auto& [accept, body] : accepts()) {
        const Answer a = rawGet(port, "/wap/", accept);
        QCOMPARE(a.status, 200);
        QVERIFY2(a.body.trimmed() == body, accept.constData());
        QCOMPARE(a.type, QByteArray(body == "<wml/>" ? "text/vnd.wap.wml"
                                                     : "application/vnd.wap.xhtml+xml"));
    }
}

QString contentUrlOf(const QString& gcd) {
    return readDescriptorFile(gcd).fields.url;
}

} // namespace

class TestFirstDay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void urlSegments_data();
    void urlSegments();
    void bareNamesInEveryCommand();
    void urlCorpusServedByNginx();
    void showReportsUnusableUrls();
    void convertNamesEveryReason();
    void serverLinesKeepOtherTypes();
    void apacheAndLighttpdLines_data();
    void apacheAndLighttpdLines();
    void readmeExamplesRunAsWritten();
    void runScriptWithoutDisplay();
    void manPagesHaveTheSections();
};

void TestFirstDay::urlSegments_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("segment");
    QTest::newRow("plain stays") << "Ring_tone-2.v1~.qcp"
                                 << "Ring_tone-2.v1~.qcp";
    QTest::newRow("space and #") << "My Ring #1.qcp"
                                 << "My%20Ring%20%231.qcp";
    QTest::newRow("percent") << "50%.mid"
                             << "50%25.mid";
    QTest::newRow("query and slash-like") << "a?b=c&d+e;f.png"
                                          << "a%3Fb%3Dc%26d%2Be%3Bf.png";
    QTest::newRow("umlaut") << "grüße.jpg"
                            << "gr%C3%BC%C3%9Fe.jpg";
    QTest::newRow("emoji") << QString::fromUtf8("\xf0\x9f\x98\x80.png") << "%F0%9F%98%80.png";
    QTest::newRow("quote and backslash") << "a\"b\\c.mid"
                                         << "a%22b%5Cc.mid";
}

void TestFirstDay::urlSegments() {
    QFETCH(QString, name);
    QFETCH(QString, segment);
    QCOMPARE(urlPathSegment(name), segment);
    QCOMPARE(autoUrlFor("http://h/wap/", name), "http://h/wap/" + segment);
    // Decoding gives the name back, and the segment holds only unreserved ASCII and %XX.
    QCOMPARE(QUrl::fromPercentEncoding(segment.toUtf8()), name);
    QVERIFY(QRegularExpression("^([A-Za-z0-9._~-]|%[0-9A-F]{2})*$").match(segment).hasMatch());
}

void TestFirstDay::bareNamesInEveryCommand() {
    QTemporaryDir dir;
    const QString media = dir.filePath("media");
    const QString web = dir.filePath("web");
    put(media + "/song.mid", "MThd0001");
    put(media + "/tone.qcp", "RIFF0000QLCM");
    put(media + "/logo.png", "\x89PNG\r\n\x1a\n");
    put(media + "/--help.mid", "MThd");
    QDir().mkpath(web);
    const QStringList common{"--save-folder", web, "--base-url", "http://example.test/wap"};

    Run r = cliIn(media, QStringList{"make"} + common + QStringList{"song.mid"});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QCOMPARE(r.out, web + "/song.gcd\n");
    QCOMPARE(contentUrlOf(web + "/song.gcd"), QString("http://example.test/wap/song.mid"));

    // As ls and find hand them over: one per line, and NUL-separated.
    r = cliIn(media, QStringList{"batch"} + common, "logo.png\ntone.qcp\n");
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QCOMPARE(r.out, web + "/logo.gcd\n" + web + "/tone.gcd\n");
    r = cliIn(media, QStringList{"batch", "-0"} + common, QByteArray("song.mid\0tone.qcp\0", 18));
    QVERIFY2(r.status == 0, qPrintable(r.err));
    r = cliIn(media, QStringList{"batch"} + common + QStringList{"song.mid", "logo.png"});
    QVERIFY2(r.status == 0, qPrintable(r.err));

    // After "--" a name that looks like an option is a file; without it, help.
    r = cliIn(media, QStringList{"make"} + common + QStringList{"--", "--help.mid"});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QVERIFY(QFile::exists(web + "/--help.gcd"));
    for (const char* command : {"make", "batch", "convert", "show", "check", "server-config"}) {
        r = cliIn(media, {command, "--help"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains("\"--\" ends the\noptions"), command);
        QVERIFY(r.out.contains("A file name without a folder is a file in the current folder."));
    }

    // show and convert take bare names as well.
    r = cliIn(web, {"show", "song.gcd"});
    QCOMPARE(r.status, 0);
    QVERIFY(r.out.startsWith("song.gcd\n"));
    QVERIFY(runTool("/usr/bin/ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i",
                                        "sine=frequency=440:sample_rate=8000:duration=0.3", "-ac",
                                        "1", "-c:a", "pcm_s16le", media + "/voice.wav"}) == 0);
    r = cliIn(media, {"convert", "voice.wav"});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QCOMPARE(r.out, QString("voice.qcp\n"));
    QVERIFY(QFileInfo(media + "/voice.qcp").size() > 0);
    QCOMPARE(runTool("/usr/bin/ffmpeg",
                     {"-loglevel", "error", "-i", media + "/voice.qcp", "-f", "null", "-"}),
             0);

    // A bare name that names nothing still says so, by its name.
    r = cliIn(media, QStringList{"make"} + common + QStringList{"gone.mid"});
    QCOMPARE(r.status, 1);
    QCOMPARE(r.err, QString("tessavane-cli: gone.mid: the file does not exist\n"));
}

void TestFirstDay::urlCorpusServedByNginx() {
    if (!NginxServer::available())
        QSKIP("nginx is not installed (scripts/setup.sh installs it)");
    NginxServer nginx;
    put(nginx.path() + "/tessavane.conf", serverConfig(WebServer::Nginx).toUtf8());
    QString error;
    QVERIFY2(
        nginx.start("        location /wap/ { include " + nginx.path() + "/tessavane.conf; }\n",
                    &error),
        qPrintable(error));
    const QString wap = nginx.root() + "/wap";
    const QStringList names{"plain_name-1.mid", "My Ring #1.qcp",
                            "50% off.mid",      "what?.png",
                            "grüße.jpg",        QString::fromUtf8("smile \xf0\x9f\x98\x80.png"),
                            "a+b&c=d;e.mid"};
    QByteArray list;
    for (int i = 0; i < names.size(); ++i) {
        put(wap + "/" + names[i], "media " + QByteArray::number(i));
        list += names[i].toUtf8() + '\n';
    }
    const QString base = nginx.url("/wap").toString();
    Run r = cliIn(wap, {"batch", "--save-folder", wap, "--base-url", base}, list);
    QVERIFY2(r.status == 0, qPrintable(r.err));
    for (int i = 0; i < names.size(); ++i) {
        const QString gcd = wap + "/" + names[i].left(names[i].size() - 4) + ".gcd";
        const QString url = contentUrlOf(gcd);
        QVERIFY2(url.startsWith(base + "/"), qPrintable(url));
        // Only ASCII that needs no escaping goes to the phone.
        for (const QChar c : url)
            QVERIFY2(c.unicode() > 0x20 && c.unicode() < 0x7f && c != '#' && c != '?',
                     qPrintable(url));
        if (i == 0)
            QCOMPARE(url, base + "/plain_name-1.mid");
        // The request line holds the URL's path byte for byte: the file comes back.
        const QByteArray path = url.mid(url.indexOf("/wap/")).toLatin1();
        const Answer a = rawGet(nginx.port(), path);
        QVERIFY2(a.status == 200, path.constData());
        QCOMPARE(a.body, "media " + QByteArray::number(i));
        QCOMPARE(readDescriptorFile(gcd).urlFindings.size(), 0);
    }
    // The check agrees: every descriptor, its own name escaped too, downloads.
    r = cliIn(wap, {"check", "--save-folder", ".", "--served-at", base + "/"});
    QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
    QCOMPARE(r.out.count(": ok\n"), names.size());
}

void TestFirstDay::showReportsUnusableUrls() {
    QTemporaryDir dir;
    struct Case {
        const char* url;
        const char* reason;
        const char* fix;
    };
    const Case cases[] = {
        {"http://h/wap/My Ring.qcp", "holds characters a phone cannot send in a request (a space)",
         "a space as %20"},
        {"http://h/wap/My%20Ring#1.qcp",
         "holds \"#\": a phone asks for \"http://h/wap/My%20Ring\" only", "write \"#\" as %23"},
        {"http://h/wap/what?.png", "holds \"?\": what follows it goes to the server as a query",
         "write \"?\" as %3F"},
        {"http://h/wap/a\tb.png", "(a control character)", "%XX"},
        {"http://h/wap/", "ends in \"/\": it names a folder, not a file",
         "end Content-URL with the media file's name"},
    };
    int i = 0;
    for (const Case& c : cases) {
        const QString gcd = dir.filePath(QString("u%1.gcd").arg(i++));
        put(gcd, descriptorBytes({"audio/vnd.qcelp", "x", "1", "V", c.url, "3"}, false));
        const Run r = cliIn(dir.path(), {"show", gcd});
        QVERIFY2(r.status == 1, c.url);
        QVERIFY2(r.out.contains("  problem: Content-URL \""), qPrintable(r.out));
        QVERIFY2(r.out.contains(c.reason), qPrintable(r.out));
        QVERIFY2(r.out.contains("\n    fix: ") && r.out.contains(c.fix), qPrintable(r.out));
        QVERIFY(!r.out.contains("\n  ok\n"));
    }
    // An escaped name is fine, and its media beside the descriptor is found decoded.
    put(dir.filePath("My Ring #1.qcp"), "abc");
    const QString good = dir.filePath("good.gcd");
    put(good, descriptorBytes({"audio/vnd.qcelp", "My Ring #1", "1", "V",
                               "http://h/wap/My%20Ring%20%231.qcp", "3"},
                              false));
    const Run r = cliIn(dir.path(), {"show", "good.gcd"});
    QVERIFY2(r.status == 0, qPrintable(r.out));
    QVERIFY(r.out.contains("  media: My Ring #1.qcp beside it, 3 bytes\n  ok\n"));
}

void TestFirstDay::convertNamesEveryReason() {
    QTemporaryDir dir;
    auto make = [&](const QString& name, const QStringList& args) {
        QVERIFY(runTool("/usr/bin/ffmpeg", QStringList{"-loglevel", "error", "-f", "lavfi", "-i",
                                                       "sine=frequency=440:duration=0.2"} +
                                               args + QStringList{dir.filePath(name)}) == 0);
    };
    auto never = [](const QString& said) {
        for (const char* internal : {".exe", "temp.wav", "run-", ".cache", "PVConv"})
            if (said.contains(internal))
                return false;
        return true;
    };
    make("song44k.wav", {"-ar", "44100", "-ac", "2", "-c:a", "pcm_s16le"});
    make("float.wav", {"-ar", "8000", "-ac", "1", "-c:a", "pcm_f32le"});
    make("deep.wav", {"-ar", "8000", "-ac", "1", "-c:a", "pcm_s24le"});
    make("song.mp3", {"-ar", "22050"});
    QVERIFY(QFile::copy(dir.filePath("song.mp3"), dir.filePath("renamed.wav")));
    make("ok.wav", {"-ar", "8000", "-ac", "1", "-c:a", "pcm_s16le"});
    QFile f(dir.filePath("ok.wav"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray good = f.readAll();
    f.close();
    const qsizetype fmt = good.indexOf("fmt ");
    QVERIFY(fmt > 0);
    auto variant = [&](const char* name, qsizetype at, QByteArray with) {
        QByteArray bytes = good;
        bytes.replace(at, with.size(), with);
        put(dir.filePath(name), bytes);
    };
    // Block align 4 for 16-bit mono: pvconv alone refuses it, the decoder reads past it.
    variant("align.wav", fmt + 8 + 12, QByteArray("\x04\x00", 2));

    // Every rate, channel count, sample format and a name that lies: all ringtones now.
    for (const char* file : {"song44k.wav", "float.wav", "deep.wav", "renamed.wav", "align.wav"}) {
        const Run r = cliIn(dir.path(), {"convert", file});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QString qcp = QFileInfo(file).completeBaseName() + ".qcp";
        QCOMPARE(r.out, qcp + "\n");
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        QCOMPARE(runTool("/usr/bin/ffmpeg",
                         {"-loglevel", "error", "-i", dir.filePath(qcp), "-f", "null", "-"}),
                 0);
    }

    // What the decoder cannot read: the user's file and the reason, one line, nothing left.
    put(dir.filePath("junk.wav"), "not a sound at all, only words");
    variant("codec.wav", fmt + 8, QByteArray("\x34\x12", 2)); // format code 0x1234
    variant("nochan.wav", fmt + 8 + 2, QByteArray("\x00\x00", 2));
    struct Case {
        const char* file;
        const char* reason;
        const char* header; // what its header shows
    };
    const Case cases[] = {
        {"junk.wav", "not a sound file FFmpeg can read (", "it is not a WAV file"},
        {"codec.wav", "no decoder for its audio", "format code 0x1234, not PCM (0x0001)"},
        {"nochan.wav", "no audio in it", "0 channels, not 1 (mono)"},
    };
    for (const Case& c : cases) {
        const Run r = cliIn(dir.path(), {"convert", c.file});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.startsWith(QString("tessavane-cli: ") + c.file + ": " + c.reason),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains(c.header), qPrintable(r.err));
        QCOMPARE(r.err.count('\n'), 1);
        QVERIFY2(never(r.err), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath(QFileInfo(c.file).completeBaseName() + ".qcp")));
    }

    // A long chunk before the samples is no reason to refuse: the file converts.
    auto le = [](quint32 v, int n) {
        QByteArray b;
        for (int i = 0; i < n; ++i)
            b += char((v >> (8 * i)) & 0xff);
        return b;
    };
    QByteArray samples;
    for (int i = 0; i < 4000; ++i)
        samples += le(quint32(qint16(8000 * std::sin(i * 0.3))) & 0xffff, 2);
    const QByteArray body = "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) +
                            le(16000, 4) + le(2, 2) + le(16, 2) + "junk" + le(70001, 4) +
                            QByteArray(70002, '\0') + "data" + le(quint32(samples.size()), 4) +
                            samples;
    put(dir.filePath("long.wav"), "RIFF" + le(quint32(body.size()), 4) + body);
    QVERIFY(Conversion::inputProblems(dir.filePath("long.wav")).isEmpty());
    const Run long_ = cliIn(dir.path(), {"convert", "long.wav"});
    QVERIFY2(long_.status == 0, qPrintable(long_.err));
    QCOMPARE(runTool("/usr/bin/ffmpeg",
                     {"-loglevel", "error", "-i", dir.filePath("long.qcp"), "-f", "null", "-"}),
             0);
    // The same without its data chunk: said, not left to the converter.
    put(dir.filePath("nodata.wav"),
        "RIFF" + le(quint32(body.size()), 4) + body.left(body.indexOf("data")));
    QCOMPARE(Conversion::inputProblems(dir.filePath("nodata.wav")),
             QStringList{"no sound data (no data chunk)"});
    const Run noData = cliIn(dir.path(), {"convert", "nodata.wav"});
    QCOMPARE(noData.status, 1);
    QVERIFY2(noData.err.startsWith("tessavane-cli: nodata.wav: ") &&
                 noData.err.contains("no sound data (no data chunk)"),
             qPrintable(noData.err));
    QCOMPARE(noData.err.count('\n'), 1);
    QVERIFY(!QFile::exists(dir.filePath("nodata.qcp")));
}

void TestFirstDay::serverLinesKeepOtherTypes() {
    if (!NginxServer::available())
        QSKIP("nginx is not installed (scripts/setup.sh installs it)");
    NginxServer nginx;
    put(nginx.path() + "/tessavane.conf", serverConfig(WebServer::Nginx).toUtf8());
    QString error;
    // The system's types for the server, as Debian's nginx.conf has them; ours in the folder.
    QVERIFY2(nginx.start("        include /etc/nginx/mime.types;\n"
                         "        location /wap/ { include " +
                             nginx.path() + "/tessavane.conf; }\n",
                         &error),
             qPrintable(error));
    checkFolder(nginx.port(), nginx.root() + "/wap");
    // Outside the folder nothing changed either.
    put(nginx.root() + "/other.gcd", "x");
    QCOMPARE(rawGet(nginx.port(), "/other.gcd").type, QByteArray("application/octet-stream"));
    // nginx took the lines without a warning (a types block over mime.types warns).
    QFile log(nginx.path() + "/error.log");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY2(!log.readAll().contains("[warn]"), "nginx warned about the lines");
}

void TestFirstDay::apacheAndLighttpdLines_data() {
    QTest::addColumn<QString>("server");
    QTest::newRow("apache") << "apache";
    QTest::newRow("lighttpd") << "lighttpd";
}

void TestFirstDay::apacheAndLighttpdLines() {
    QFETCH(QString, server);
    const bool apache = server == "apache";
    const QString binary = apache ? "/usr/sbin/apache2" : "/usr/sbin/lighttpd";
    if (!QFile::exists(binary))
        QSKIP("not installed (scripts/setup.sh installs it)");
    QTemporaryDir dir;
    // Apache's workers run as www-data: they must reach the files.
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ReadOther |
                                          QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    const QString www = dir.filePath("www");
    QDir().mkpath(www + "/wap");
    const int port = freePort();
    const QByteArray lines = serverConfig(*webServerNamed(server)).toUtf8();
    QString conf;
    if (apache) {
        // The lines as .htaccess, as the printed comment says.
        put(www + "/wap/.htaccess", lines);
        conf = "ServerRoot /etc/apache2\nListen 127.0.0.1:" + QString::number(port) + "\nPidFile " +
               dir.filePath("pid") + "\nErrorLog " + dir.filePath("error.log") +
               "\nMutex file:" + dir.path() + " default\n";
        for (const char* m : {"mpm_event", "authz_core", "mime", "dir"})
            conf += QString("LoadModule %1_module /usr/lib/apache2/modules/mod_%1.so\n").arg(m);
        conf += "User www-data\nGroup www-data\nServerName localhost\nTypesConfig "
                "/etc/mime.types\nDocumentRoot " +
                www + "\n<Directory " + www +
                ">\n    AllowOverride FileInfo Indexes\n    Require all granted\n</Directory>\n";
    } else {
        put(dir.filePath("tessavane.conf"), lines);
        conf = "server.document-root = \"" + www + "\"\nserver.port = " + QString::number(port) +
               "\nserver.bind = \"127.0.0.1\"\nserver.errorlog = \"" + dir.filePath("error.log") +
               "\"\nserver.modules = ( \"mod_indexfile\", \"mod_staticfile\" )\n"
               "include_shell \"/usr/share/lighttpd/create-mime.conf.pl\"\n"
               "index-file.names = ( \"index.html\" )\ninclude \"" +
               dir.filePath("tessavane.conf") + "\"\n";
    }
    put(dir.filePath("server.conf"), conf.toUtf8());
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(binary, apache ? QStringList{"-f", dir.filePath("server.conf"), "-DFOREGROUND"}
                           : QStringList{"-D", "-f", dir.filePath("server.conf")});
    QVERIFY2(listening(p, port), qPrintable(p.readAll()));
    checkFolder(port, www + "/wap");
    p.terminate();
    QVERIFY(p.waitForFinished(5000));
}

void TestFirstDay::readmeExamplesRunAsWritten() {
    if (!NginxServer::available())
        QSKIP("nginx is not installed (scripts/setup.sh installs it)");
    QFile readme(TESS_SOURCE_DIR "/README.md");
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    // The block of the command line part: from "export PATH" to its first blank line.
    const qsizetype start = text.indexOf("    export PATH=");
    QVERIFY(start > 0);
    const QStringList lines = text.mid(start, text.indexOf("\n\n", start) - start).split('\n');
    QVERIFY(lines.size() >= 8);

    NginxServer nginx;
    put(nginx.path() + "/tessavane.conf", serverConfig(WebServer::Nginx).toUtf8());
    QString error;
    QVERIFY2(nginx.start("        include /etc/nginx/mime.types;\n"
                         "        location /wap/ { include " +
                             nginx.path() + "/tessavane.conf; }\n",
                         &error),
             qPrintable(error));
    const QString wap = nginx.root() + "/wap";
    put(wap + "/song.mid", QByteArray("MThd\0\0\0\6\0\0\0\1\0\x60", 14));
    put(wap + "/logo.png", "\x89PNG\r\n\x1a\n....");
    put(wap + "/My Ring #1.png", "\x89PNG\r\n\x1a\n,,,,");
    put(wap + "/tone.qcp", "RIFF\0\0\0\0QLCMfmt ");
    QVERIFY(runTool("/usr/bin/ffmpeg", {"-loglevel", "error", "-f", "lavfi", "-i",
                                        "sine=sample_rate=8000:duration=0.3", "-c:a", "pcm_s16le",
                                        wap + "/voice.wav"}) == 0);
    QVERIFY(runTool("/usr/bin/convert-im6.q16",
                    {"-size", "640x480", "gradient:red-blue", wap + "/photo.jpg"}) == 0);
    // The lines as written; only the web folder, its address and the clone are this test's.
    QString script = "set -e\ncd " + QString(TESS_SOURCE_DIR) + "\n";
    for (QString line : lines) {
        line = line.trimmed();
        line.replace("/srv/www/wap", wap);
        line.replace("http://example.com", nginx.url("").toString());
        line.replace("$PWD/build/release/bin", QFileInfo(TESSAVANE_CLI).absolutePath());
        script += line + "\n";
    }
    QProcess sh;
    sh.setProcessChannelMode(QProcess::MergedChannels);
    sh.start("/bin/sh", {"-c", script});
    QVERIFY(sh.waitForFinished(60000));
    const QString out = QString::fromUtf8(sh.readAll());
    QVERIFY2(sh.exitCode() == 0, qPrintable(script + out));
    QVERIFY(out.contains("4 of 4 descriptors would download."));
    QVERIFY(QFileInfo(wap + "/voice.qcp").size() > 0);
    QCOMPARE(contentUrlOf(wap + "/My Ring #1.gcd"),
             nginx.url("").toString() + "/wap/My%20Ring%20%231.png");
}

void TestFirstDay::runScriptWithoutDisplay() {
    const QString script = QStringLiteral(TESS_SOURCE_DIR "/scripts/need-display.sh");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    QProcess p;
    p.setProcessEnvironment(env);
    p.start("/bin/bash", {script, "build/release/bin/tessavane-cli"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 1);
    const QString said = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(said.count('\n'), 1);
    QVERIFY(said.contains("needs a display"));
    QVERIFY(said.contains("build/release/bin/tessavane-cli"));
    env.insert("DISPLAY", ":7");
    p.setProcessEnvironment(env);
    p.start("/bin/bash", {script});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardError().isEmpty());
    // run.sh asks before it starts the window, and builds on every core.
    QFile run(TESS_SOURCE_DIR "/scripts/run.sh");
    QVERIFY(run.open(QIODevice::ReadOnly));
    const QByteArray text = run.readAll();
    QVERIFY(text.indexOf("scripts/need-display.sh") < text.indexOf("exec build/release/bin/"));
    QVERIFY(text.contains("--parallel \"$(nproc)\""));
}

void TestFirstDay::manPagesHaveTheSections() {
    for (const char* page : {"tessavane-cli", "pvconv"}) {
        const QString gz = QStringLiteral(TESS_BINARY_DIR "/man/") + page + ".1.gz";
        if (!QFile::exists(gz))
            QSKIP("no man pages in this build (help2man missing, or not built yet)");
        QProcess p;
        p.start("/bin/gzip", {"-dc", gz});
        QVERIFY(p.waitForFinished(10000));
        const QString roff = QString::fromUtf8(p.readAllStandardOutput());
        for (const char* section : {"EXAMPLES", "FILES", "EXIT STATUS", "SEE ALSO", "SYNOPSIS"})
            QVERIFY2(roff.contains(QString(".SH ") + section) ||
                         roff.contains(QString(".SH \"") + section + "\""),
                     qPrintable(QString(page) + ": " + section));
        QVERIFY(!roff.contains("as pvconv 1.1.0 did"));
        if (QString(page) == "pvconv") {
            // Both usage lines in the synopsis, before the description.
            const qsizetype synopsis = roff.indexOf(".SH SYNOPSIS");
            const qsizetype description = roff.indexOf(".SH DESCRIPTION");
            const QString part = roff.mid(synopsis, description - synopsis);
            QVERIFY2(part.contains("--variable-rate | --full-rate"), qPrintable(part));
        } else {
            QVERIFY(roff.contains("config.cfg"));
            QVERIFY(roff.indexOf("XDG_CONFIG_HOME") > roff.indexOf("program folder"));
        }
    }
}

QTEST_GUILESS_MAIN(TestFirstDay)
#include "tst_firstday.moc"
