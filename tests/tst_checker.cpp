#include "HostileServer.h"
#include "NginxServer.h"

#include "engine/ContentTypes.h"
#include "engine/Descriptor.h"
#include "engine/ServerConfig.h"
#include "net/Checker.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>

using namespace tess;
using namespace tess::net;
using tess::test::HostileServer;
using tess::test::NginxServer;
using tess::test::PublicAddress;
using tess::test::SilentServer;

namespace {

void writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write test file");
}

// Runs a check to its end (or 30 s) and returns the results in URL order.
QList<CheckResult> runCheck(const QList<QUrl>& urls, const CheckOptions& options = {}) {
    Checker checker(options);
    QList<CheckResult> results(urls.size());
    QEventLoop loop;
    QObject::connect(&checker, &Checker::resultReady,
                     [&](int i, const CheckResult& r) { results[i] = r; });
    QObject::connect(&checker, &Checker::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    checker.start(urls);
    loop.exec();
    if (checker.running())
        qFatal("check did not finish");
    return results;
}

QString reasons(const CheckResult& r) {
    return describe(r).join(QLatin1Char('\n'));
}

bool hasProblem(const CheckResult& r, const QString& part) {
    for (const Finding& f : r.problems)
        if (f.reason.contains(part))
            return true;
    return false;
}

// The path a request asks for.
QByteArray pathOf(const QByteArray& request) {
    return request.split(' ').value(1);
}

QByteArray answer(const QByteArray& type, const QByteArray& body, const QByteArray& more = {}) {
    return "HTTP/1.1 200 OK\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + more + "\r\n" + body;
}

QByteArray descriptorFor(const QString& mediaUrl, int size) {
    return descriptorBytes({"audio/midi", "t", "1", "V", mediaUrl, QString::number(size)}, false);
}

QString nginxLog(const NginxServer& nginx) {
    QFile log(nginx.path() + "/access.log");
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

} // namespace

class TestChecker : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void everyTypeServedRight();
    void wrongTypes();
    void wrongSizeAndMissingMedia();
    void mislabelledMediaByItsBytes();
    void redirectChains();
    void bigFilesAreCapped();
    void mediaJudgedFromItsFirstBytes();
    void brokenDescriptorsAndUrls();
    void silentServerTimesOut();
    void parallelLimitAndCancel();
    void restartDropsTheOldCheck();
    void folderUrlsEscapeNames();
    void hostileServersDoNotStarveTheRest();
    void answersOfEveryShape();
    void privateAddressesBehindPublicOnes();
    void queuedRequestsAreClockedWhenSent();
    void connectionsAreClosedAndResultsBounded();

private:
    // Writes a descriptor for a media file of the given bytes under www/folder.
    QUrl publish(const QString& folder, const QString& name, int row, const QByteArray& media,
                 const QString& sizeText = QString(), const QString& mediaName = QString());

    NginxServer nginx;
};

void TestChecker::initTestCase() {
    if (!NginxServer::available())
        QSKIP("nginx is not installed (scripts/setup.sh installs it)");
    // The lines server-config prints are what serves the right folder.
    writeBytes(nginx.path() + "/types.conf", serverConfig(WebServer::Nginx).toUtf8());
    QString lines =
        "        location /right/ { include " + nginx.path() +
        "/types.conf; }\n"
        "        location /plain/ { types { text/plain gcd; audio/midi mid; } }\n"
        "        location /octet/ { types { } default_type application/octet-stream; }\n"
        "        location /wrongmedia/ { types { text/x-pcs-gcd gcd; audio/mpeg mid; "
        "image/jpeg png; } }\n"
        "        location /charset/ { types { text/x-pcs-gcd gcd; audio/midi mid; }\n"
        "            charset utf-8; charset_types text/x-pcs-gcd; }\n";
    // Redirect chains of 5 and 6 hops, each ending at a good descriptor.
    for (int hops : {5, 6}) {
        for (int i = 1; i <= hops; ++i) {
            const QString from = QString("/chain%1/%2").arg(hops).arg(i);
            const QString to =
                i < hops ? QString("/chain%1/%2").arg(hops).arg(i + 1) : QString("/right/a.gcd");
            lines += "        location = " + from + " { return 302 " + to + "; }\n";
        }
    }
    lines += "        location = /loop { return 301 /loop; }\n";
    QString error;
    QVERIFY2(nginx.start(lines, &error), qPrintable(error));
}

void TestChecker::cleanupTestCase() {
    nginx.stop();
}

QUrl TestChecker::publish(const QString& folder, const QString& name, int row,
                          const QByteArray& media, const QString& sizeText,
                          const QString& mediaName) {
    const QString ext = servedTypes()[size_t(row) + 1].extensions[0];
    const QString file = mediaName.isEmpty() ? name + "." + ext : mediaName;
    mediaName.isEmpty() ? name + "." + (ext == "peg" ? "jpg" : ext) : mediaName;
    writeBytes(nginx.root() + "/" + folder + "/" + file, media);
    DescriptorFields f;
    f.type = QLatin1String(contentTypes()[row].mime);
    f.name = name;
    f.version = "1.0";
    f.vendor = "Tinker";
    f.url = nginx.url("/" + folder + "/" + file).toString();
    f.size = sizeText.isEmpty() ? QString::number(media.size()) : sizeText;
    writeBytes(nginx.root() + "/" + folder + "/" + name + ".gcd", descriptorBytes(f, row % 2));
    return nginx.url("/" + folder + "/" + name + ".gcd");
}

void TestChecker::everyTypeServedRight() {
    for (int row = 0; row < kContentTypeCount; ++row)
        publish("right", QString("t%1").arg(row), row, QByteArray(1000 + row, char('a' + row)));
    publish("right", "a", 0, "MThd");
    QString error;
    const QList<QUrl> urls =
        servedDescriptorUrls(nginx.root() + "/right", nginx.url("/right"), &error);
    QCOMPARE(urls.size(), kContentTypeCount + 1);
    QCOMPARE(urls[0], nginx.url("/right/a.gcd"));
    const QList<CheckResult> results = runCheck(urls);
    for (const CheckResult& r : results) {
        QVERIFY2(r.downloads(), qPrintable(reasons(r)));
        QVERIFY(r.warnings.isEmpty());
        QCOMPARE(r.descriptor.status, 200);
        QCOMPARE(r.descriptor.contentType, QString(kDescriptorMime));
        QCOMPARE(r.media.status, 200);
        QCOMPARE(r.media.contentType, r.report.fields.type);
        QCOMPARE(QString::number(r.media.bytes), r.report.fields.size);
    }
    // The check says what it is to the server.
    QFile log(nginx.path() + "/access.log");
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Tessavane-check/"));
}

void TestChecker::wrongTypes() {
    const QList<QUrl> urls{publish("plain", "p", 0, "MThd1"), publish("octet", "o", 0, "MThd2"),
                           publish("wrongmedia", "w", 0, "MThd3"),
                           publish("wrongmedia", "x", 3, "PNGdata"),
                           publish("charset", "c", 0, "MThd4")};
    const QList<CheckResult> r = runCheck(urls);
    QVERIFY(!r[0].downloads());
    QCOMPARE(r[0].problems.size(), 1);
    QCOMPARE(r[0].problems[0].reason,
             QString("The descriptor is served as text/plain, not text/x-pcs-gcd."));
    // nginx says who it is: the fix is for nginx.
    QCOMPARE(r[0].problems[0].fix,
             QString("serve .gcd as text/x-pcs-gcd: add \"location ~* \\.gcd$ { types { } "
                     "default_type text/x-pcs-gcd; }\" to the folder's location (nginx; all "
                     "lines: tessavane-cli server-config nginx)"));
    QVERIFY(hasProblem(r[1], "served as application/octet-stream, not text/x-pcs-gcd"));
    // The media of an octet-stream folder is wrong as well.
    QVERIFY(
        hasProblem(r[1], "The media file is served as application/octet-stream, not audio/midi"));
    QCOMPARE(r[2].problems.size(), 1);
    QCOMPARE(r[2].problems[0].reason, QString("The media file is served as audio/mpeg, not "
                                              "audio/midi (the descriptor's Content-Type)."));
    QVERIFY(r[2].problems[0].fix.contains("default_type audio/midi; }"));
    QVERIFY(hasProblem(r[3], "served as image/jpeg, not image/png"));
    QVERIFY(r[3].problems[0].fix.contains(".png"));
    // A charset parameter still downloads, with a warning.
    QVERIFY2(r[4].downloads(), qPrintable(reasons(r[4])));
    QCOMPARE(r[4].warnings.size(), 1);
    QVERIFY(r[4].warnings[0].reason.contains("text/x-pcs-gcd; charset=utf-8"));
}

namespace {

// A real file made by a real tool; its bytes.
QByteArray madeBy(const QString& program, const QStringList& args, const QString& out,
                  const QString& prefix = {}) {
    QProcess p;
    p.start(program, args + QStringList{prefix + out});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        qFatal("%s failed", qPrintable(program));
    QFile f(out);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

void TestChecker::mislabelledMediaByItsBytes() {
    QTemporaryDir dir;
    const QStringList sine{"-loglevel", "error", "-f", "lavfi", "-i", "sine=duration=0.2"};
    const QByteArray mp3 = madeBy("/usr/bin/ffmpeg", sine, dir.filePath("s.mp3"));
    const QByteArray wav =
        madeBy("/usr/bin/ffmpeg", sine + QStringList{"-ar", "8000"}, dir.filePath("s.wav"));
    const QByteArray bmp = madeBy("/usr/bin/convert-im6.q16", {"-size", "8x8", "xc:white"},
                                  dir.filePath("s.bmp"), "bmp:");
    QVERIFY(mp3.startsWith("ID3") || uchar(mp3[0]) == 0xff);
    // Each as the right folder serves it, under the descriptor's claim.
    const QList<QUrl> urls{
        publish("right", "mp3tone", 1, mp3, {}, "song.mp3"),
        publish("right", "wavtone", 1, wav, {}, "ring.qcp"),
        publish("right", "bmplogo", 5, bmp, {}, "logo.bmp"),
        publish("right", "pagetone", 0, "<!DOCTYPE html>\n<html>", {}, "page.mid"),
        publish("right", "realmidi", 0, "MThd\0\0\0\6", {}, "real.mid")};
    const QList<CheckResult> r = runCheck(urls);
    const char* expected[] = {"an MP3 recording", "a WAV recording", "a Windows BMP picture",
                              "a web page (HTML)"};
    const char* types[] = {"audio/vnd.qcelp", "audio/vnd.qcelp", "image/vnd.wap.wbmp",
                           "audio/midi"};
    for (int i = 0; i < 4; ++i) {
        QVERIFY2(!r[i].downloads(), qPrintable(reasons(r[i])));
        const QString said = QString("The media file is ") + expected[i] +
                             " by its first bytes, not " + types[i] +
                             " (the descriptor's Content-Type).";
        QVERIFY2(hasProblem(r[i], said), qPrintable(reasons(r[i])));
        // Never "serve it as": no server line makes these bytes play.
        for (const Finding& f : r[i].problems)
            QVERIFY2(!f.fix.contains("serve ."), qPrintable(f.fix));
    }
    QVERIFY(
        r[0].problems[0].fix.startsWith("convert song.mp3 to QCELP (ffmpeg -i song.mp3 -ar 8000"));
    QVERIFY(r[0].problems[0].fix.contains("tessavane-cli convert song.wav"));
    QVERIFY(r[0].problems[0].fix.endsWith("make its descriptor again"));
    QVERIFY(r[1].problems[0].fix.startsWith("convert ring.qcp to QCELP"));
    QVERIFY(r[2].problems[0].fix.startsWith("convert logo.bmp to WBMP (ImageMagick: convert "
                                            "logo.bmp logo.wbmp), upload logo.wbmp"));
    QVERIFY(r[3].problems[0].fix.startsWith("point Content-URL at the media file itself"));
    QCOMPARE(r[0].mediaFormat, QString("mp3"));
    QCOMPARE(toJson(r[2])["media"].toObject()["format"].toString(), QString("bmp"));
    // Bytes that match their claim pass.
    QVERIFY2(r[4].downloads(), qPrintable(reasons(r[4])));
    QCOMPARE(r[4].mediaFormat, QString("midi"));
}

void TestChecker::wrongSizeAndMissingMedia() {
    const QUrl longer = publish("right", "longer", 0, "0123456789", "4");
    const QUrl shorter = publish("right", "shorter", 0, "0123456789", "12");
    const QUrl missing = publish("right", "missing", 0, "x");
    QFile::remove(nginx.root() + "/right/missing.mid");
    const QUrl noDescriptor = nginx.url("/right/none.gcd");
    const QList<CheckResult> r = runCheck({longer, shorter, missing, noDescriptor});
    QCOMPARE(r[0].problems.size(), 1);
    QCOMPARE(r[0].problems[0].reason,
             QString("The media file is longer than Content-Size (4 bytes): the server announces "
                     "10 bytes."));
    QVERIFY(r[0].media.capped);
    QCOMPARE(r[1].problems.size(), 1);
    QCOMPARE(r[1].problems[0].reason,
             QString("The media file is 10 bytes long, but Content-Size says 12."));
    QCOMPARE(r[2].problems.size(), 1);
    QCOMPARE(r[2].problems[0].reason,
             QString("The media file at Content-URL answers HTTP 404 Not Found, not 200 OK."));
    QCOMPARE(r[2].problems[0].fix, "upload missing.mid to the folder served at " +
                                       nginx.url("/right/").toString() +
                                       ", or correct Content-URL");
    QCOMPARE(r[3].problems.size(), 1);
    QCOMPARE(r[3].problems[0].reason,
             QString("The descriptor answers HTTP 404 Not Found, not 200 OK."));
    QVERIFY(!r[3].media.fetched);
}

void TestChecker::redirectChains() {
    publish("right", "a", 0, "MThd");
    const QList<CheckResult> r =
        runCheck({nginx.url("/chain5/1"), nginx.url("/chain6/1"), nginx.url("/loop")});
    QVERIFY2(r[0].downloads(), qPrintable(reasons(r[0])));
    QCOMPARE(r[0].descriptor.redirects, 5);
    QCOMPARE(r[0].descriptor.finalUrl, nginx.url("/right/a.gcd"));
    QCOMPARE(r[1].problems.size(), 1);
    QVERIFY(r[1].problems[0].reason.startsWith("The descriptor redirects more than 5 times"));
    QVERIFY(hasProblem(r[2], "redirects more than 5 times"));
    // A smaller limit refuses the chain of five.
    CheckOptions strict;
    strict.maxRedirects = 4;
    QVERIFY(!runCheck({nginx.url("/chain5/1")}, strict)[0].downloads());
}

void TestChecker::bigFilesAreCapped() {
    // A descriptor of several MB: read no further than the cap.
    writeBytes(nginx.root() + "/right/big.gcd", QByteArray(5 * 1024 * 1024, 'x'));
    // A media file of several MB that claims 10 bytes.
    const QUrl bigMedia = publish("right", "bigmedia", 0, QByteArray(4 * 1024 * 1024, 'm'), "10");
    const QList<CheckResult> r = runCheck({nginx.url("/right/big.gcd"), bigMedia});
    QVERIFY(hasProblem(r[0], "The descriptor is larger than 8192 bytes"));
    QVERIFY(r[0].descriptor.capped);
    QVERIFY(r[0].descriptor.bytes <= 8193);
    QVERIFY(!r[0].media.fetched);
    QVERIFY(hasProblem(r[1], "longer than Content-Size (10 bytes)"));
    QVERIFY(r[1].media.bytes <= 11);
}

void TestChecker::mediaJudgedFromItsFirstBytes() {
    // A 3 MB media file of its stated size: the judge gets its first bytes only, up to
    // the limit asked, and the whole size; its findings join the result.
    QByteArray media(3 * 1024 * 1024, 'q');
    media.replace(0, 4, "MThd");
    const QUrl url = publish("right", "judged", 0, media);
    CheckOptions options;
    options.mediaHeadBytes = 100000;
    QByteArray seenHead;
    qint64 seenSize = -1;
    QString seenName;
    options.judgeMedia = [&](const QByteArray& head, qint64 size, const QString& name,
                             const QString&) {
        seenHead = head;
        seenSize = size;
        seenName = name;
        return MediaVerdict{"midi sound", {{"refuse", "a broken midi", "save it again"}}};
    };
    const QList<CheckResult> r = runCheck({url}, options);
    QVERIFY2(r[0].downloads(), qPrintable(reasons(r[0])));
    QCOMPARE(seenHead, media.left(100000));
    QCOMPARE(seenSize, media.size());
    QCOMPARE(seenName, QString("judged.mid"));
    QVERIFY(r[0].judgedMedia);
    QVERIFY(!r[0].plays());
    QVERIFY(describe(r[0]).contains("  refuse: a broken midi"));
    QVERIFY(describe(r[0]).contains("  media is: midi sound"));
    QCOMPARE(summaryLine(r[0]),
             QString("judged.gcd: downloads, but the phone will not take it: a broken midi. "
                     "Fix: save it again"));
    QCOMPARE(toJson(r[0])["plays"].toBool(), false);
    // Without a judge nothing is judged and nothing more is kept.
    const QList<CheckResult> plain = runCheck({url});
    QVERIFY(!plain[0].judgedMedia);
    QVERIFY(plain[0].plays());
    QVERIFY(!toJson(plain[0]).contains("plays"));
}

void TestChecker::brokenDescriptorsAndUrls() {
    DescriptorFields f{"audio/midi", "rel", "1", "V", "rel.mid", "4"};
    writeBytes(nginx.root() + "/right/rel.gcd", descriptorBytes(f, false));
    f.url = "https://127.0.0.1:1/x.mid";
    f.name = "tls";
    writeBytes(nginx.root() + "/right/tls.gcd", descriptorBytes(f, false));
    QByteArray lf = descriptorBytes(
        {"audio/midi", "lf", "1", "V", nginx.url("/right/a.mid").toString(), "4"}, false);
    lf.replace("\r\n", "\n");
    writeBytes(nginx.root() + "/right/lf.gcd", lf);
    writeBytes(nginx.root() + "/right/a.mid", "MThd");
    // A file name with a space, written into Content-URL as it is.
    writeBytes(nginx.root() + "/right/my tone.mid", "MThd");
    f = {"audio/midi", "my tone", "1", "V", nginx.url("/right/").toString() + "my tone.mid", "4"};
    writeBytes(nginx.root() + "/right/space.gcd", descriptorBytes(f, false));
    // An error page that answers 200 in place of the descriptor.
    writeBytes(nginx.root() + "/right/page.gcd",
               "<html>\n<body>Sorry, that page is gone.</body>\n</html>\n");
    // Two problems of the descriptor's own: one fix for both.
    QByteArray two = lf;
    two.replace("audio/midi", "audio/x-midi");
    writeBytes(nginx.root() + "/right/two.gcd", two);
    const QList<CheckResult> r = runCheck(
        {nginx.url("/right/rel.gcd"), nginx.url("/right/tls.gcd"), nginx.url("/right/lf.gcd"),
         QUrl("ftp://127.0.0.1/x.gcd"), nginx.url("/right/space.gcd"), nginx.url("/right/page.gcd"),
         nginx.url("/right/two.gcd")});
    QCOMPARE(r[0].problems.size(), 1);
    QCOMPARE(r[0].problems[0].reason,
             QString("Content-URL \"rel.mid\" is not an absolute http:// URL."));
    QVERIFY(r[1].warnings.size() == 1 && r[1].warnings[0].reason.contains("https"));
    QVERIFY(hasProblem(r[1], "The media file cannot be fetched"));
    QCOMPARE(r[2].problems.size(), 1);
    QVERIFY(r[2].problems[0].reason.startsWith("Descriptor: Lines 1, 2, 3, 4, 5 and 6 end in LF"));
    QVERIFY(!r[2].downloads());
    // The media still was checked.
    QCOMPARE(r[2].media.status, 200);
    QVERIFY(hasProblem(r[3], "is not an http URL"));
    QVERIFY(!r[3].descriptor.fetched);
    QCOMPARE(r[4].problems.size(), 1);
    QVERIFY(r[4].problems[0].reason.endsWith(
        "my tone.mid\" holds characters a phone cannot send in a request (a space)."));
    // The rest is still checked, with the space escaped.
    QCOMPARE(r[4].media.status, 200);
    QCOMPARE(r[4].media.bytes, 4);
    QCOMPARE(r[5].problems.size(), 1);
    QCOMPARE(r[5].problems[0].reason,
             QString("The descriptor holds no Content- line at all; it begins \"<html> "
                     "<body>Sorry, that page is gone.</\"."));
    QVERIFY(!r[5].media.fetched);
    QCOMPARE(r[6].problems.size(), 2);
    const QStringList lines = describe(r[6]);
    QCOMPARE(lines.filter("  problem: Descriptor: ").size(), 2);
    QCOMPARE(lines.filter("    fix: ").size(), 1);
    QVERIFY(lines.last().startsWith("    fix: make the descriptor again"));
}

void TestChecker::silentServerTimesOut() {
    SilentServer silent;
    CheckOptions quick;
    quick.timeoutMs = 300;
    const QList<CheckResult> r = runCheck({silent.url("/x.gcd")}, quick);
    QCOMPARE(r[0].problems.size(), 1);
    QVERIFY2(r[0].problems[0].reason.startsWith(
                 "The descriptor got no answer within 0.3 s from 127.0.0.1."),
             qPrintable(r[0].problems[0].reason));
    QCOMPARE(silent.accepted(), 1);

    // A descriptor whose media lies on the silent server.
    DescriptorFields f{"audio/midi", "s", "1", "V", silent.url("/s.mid").toString(), "4"};
    writeBytes(nginx.root() + "/right/s.gcd", descriptorBytes(f, false));
    const QList<CheckResult> m = runCheck({nginx.url("/right/s.gcd")}, quick);
    QVERIFY(hasProblem(m[0], "The media file got no answer within 0.3 s"));
}

void TestChecker::parallelLimitAndCancel() {
    SilentServer silent;
    QList<QUrl> urls;
    for (int i = 0; i < 10; ++i)
        urls.append(silent.url(QString("/%1.gcd").arg(i)));
    CheckOptions options;
    options.maxParallel = 3;
    Checker checker(options);
    int results = 0;
    int finished = 0;
    QList<int> progress;
    connect(&checker, &Checker::resultReady, [&] { ++results; });
    connect(&checker, &Checker::finished, [&] { ++finished; });
    connect(&checker, &Checker::progress, [&](int done, int total) {
        QCOMPARE(total, 10);
        progress.append(done);
    });
    checker.start(urls);
    QTRY_COMPARE(silent.open(), 3);
    QTest::qWait(200);
    QCOMPARE(silent.accepted(), 3);
    QVERIFY(checker.running());
    checker.cancel();
    QVERIFY(!checker.running());
    QVERIFY(checker.cancelled());
    QCOMPARE(finished, 1);
    QTRY_COMPARE(silent.open(), 0);
    QTest::qWait(100);
    QCOMPARE(results, 0);
    QCOMPARE(finished, 1);
    QCOMPARE(progress, QList<int>{0});
}

void TestChecker::restartDropsTheOldCheck() {
    // Refused URLs finish at once, from the event loop: a new start must not see
    // the old check's results.
    Checker checker;
    QList<QUrl> seen;
    int finished = 0;
    connect(&checker, &Checker::resultReady,
            [&](int, const CheckResult& r) { seen.append(r.url); });
    connect(&checker, &Checker::finished, [&] { ++finished; });
    checker.start({QUrl("ftp://127.0.0.1/a.gcd"), QUrl("ftp://127.0.0.1/b.gcd")});
    checker.start({QUrl("ftp://127.0.0.1/c.gcd")});
    QCOMPARE(finished, 1); // the first, cancelled
    QTRY_COMPARE(finished, 2);
    QTest::qWait(50);
    QCOMPARE(seen, QList<QUrl>{QUrl("ftp://127.0.0.1/c.gcd")});
    QVERIFY(!checker.cancelled());
    // An empty list finishes too.
    checker.start({});
    QTRY_COMPARE(finished, 3);
}

void TestChecker::folderUrlsEscapeNames() {
    QTemporaryDir dir;
    for (const char* name : {"b c#1.gcd", "a.gcd", "x.GCD", "song.mid", "%41.gcd"})
        writeBytes(dir.filePath(name), "x");
    QDir().mkpath(dir.filePath("sub.gcd"));
    QString error;
    const QList<QUrl> urls =
        servedDescriptorUrls(dir.path(), QUrl("http://example.test/wap"), &error);
    QVERIFY(error.isEmpty());
    QStringList encoded;
    for (const QUrl& u : urls)
        encoded.append(QString::fromLatin1(u.toEncoded()));
    QCOMPARE(
        encoded,
        QStringList({"http://example.test/wap/%2541.gcd", "http://example.test/wap/a.gcd",
                     "http://example.test/wap/b%20c%231.gcd", "http://example.test/wap/x.GCD"}));
    QVERIFY(servedDescriptorUrls(dir.path(), QUrl("file:///srv"), &error).isEmpty());
    QCOMPARE(error, QString("\"file:///srv\" is not an http:// URL"));
}

void TestChecker::hostileServersDoNotStarveTheRest() {
    // Headers without end, interim answers without end, headers a byte at a time.
    HostileServer hostile([](HostileServer::Connection& c) {
        const QByteArray path = pathOf(c.request);
        const QByteArray filler = "X-Filler: " + QByteArray(1000, 'a') + "\r\n";
        if (path == "/headers.gcd") {
            c.send("HTTP/1.1 200 OK\r\n");
            for (int i = 0; i < 100000 && c.send(filler); ++i) {
            }
        } else if (path == "/continue.gcd") {
            for (int i = 0; i < 1000000 && c.send("HTTP/1.1 100 Continue\r\n\r\n"); ++i) {
            }
        } else {
            c.send("HTTP/1.1 200 OK\r\n");
            for (int i = 0; i < 600 && c.send("X: y\r\n") && c.wait(50); ++i) {
            }
        }
    });
    QVERIFY(hostile.listening());
    QList<QUrl> urls{hostile.url("/headers.gcd"), hostile.url("/continue.gcd"),
                     hostile.url("/drip.gcd")};
    for (int i = 0; i < 6; ++i)
        urls.append(publish("right", QString("fine%1").arg(i), 0, "MThd"));
    CheckOptions options;
    options.timeoutMs = 1000;
    options.deadlineMs = 2000;
    QElapsedTimer clock;
    clock.start();
    const QList<CheckResult> r = runCheck(urls, options);
    // The deadline ends the slowest; nothing waits on the others.
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(r[0].problems.size(), 1);
    QCOMPARE(r[0].problems[0].reason,
             QString("The descriptor gets a broken answer from 127.0.0.1: it sends more than 16 "
                     "KiB of headers."));
    QVERIFY(hasProblem(r[1], "it sends more than 8 interim (1xx) answers."));
    QVERIFY2(hasProblem(r[2], "The descriptor got no answer within 2 s from 127.0.0.1."),
             qPrintable(reasons(r[2])));
    for (int i = 3; i < urls.size(); ++i)
        QVERIFY2(r[i].downloads(), qPrintable(reasons(r[i])));
}

void TestChecker::answersOfEveryShape() {
    std::atomic_bool authSent{false};
    HostileServer server([&](HostileServer::Connection& c) {
        const QByteArray path = pathOf(c.request);
        const QUrl self = QUrl("http://127.0.0.1:" + QString::number(c.port));
        const auto gcd = [&](const QString& media, int size) {
            return answer("text/x-pcs-gcd", descriptorFor(self.resolved(media).toString(), size));
        };
        if (path == "/interim-only.gcd") {
            c.send("HTTP/1.1 100 Continue\r\n\r\n");
        } else if (path == "/interim.gcd") {
            c.send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" +
                   gcd("/four.mid", 4));
        } else if (path.startsWith("/four.mid")) {
            c.send(answer("audio/midi", "MThd"));
        } else if (path == "/short.gcd") {
            c.send(gcd("/short.mid", 100));
        } else if (path == "/short.mid") {
            c.send("HTTP/1.1 200 OK\r\nContent-Type: audio/midi\r\nContent-Length: 100\r\n\r\n" +
                   QByteArray(50, 'x'));
        } else if (path == "/lengths.gcd") {
            c.send(gcd("/lengths.mid", 4));
        } else if (path == "/lengths.mid") {
            c.send(answer("audio/midi", "MThd", "Content-Length: 5\r\n"));
        } else if (path == "/same.gcd") {
            c.send(gcd("/same.mid", 4));
        } else if (path == "/same.mid") {
            c.send(answer("audio/midi", "MThd", "Content-Length: 4\r\n"));
        } else if (path == "/reason.gcd") {
            c.send("HTTP/1.1 404 N\xc3\xa3o encontrado\r\nContent-Length: 0\r\n\r\n");
        } else if (path == "/drip.gcd") {
            c.send(gcd("/drip.mid", 1000));
        } else if (path == "/drip.mid") {
            c.send("HTTP/1.1 200 OK\r\nContent-Type: audio/midi\r\nContent-Length: 1000\r\n\r\n");
            for (int i = 0; i < 100 && c.send("x") && c.wait(100); ++i) {
            }
        } else if (path == "/tls.gcd") {
            c.send("HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:1/x.gcd\r\n"
                   "Content-Length: 0\r\n\r\n");
        } else if (path == "/chunked.gcd") {
            const QByteArray body = descriptorFor(self.resolved(QUrl("/four.mid")).toString(), 4);
            c.send("HTTP/1.1 200 OK\r\nContent-Type: text/x-pcs-gcd\r\nTransfer-Encoding: "
                   "chunked\r\n\r\n" +
                   QByteArray::number(10, 16) + ";x=y\r\n" + body.left(10) + "\r\n" +
                   QByteArray::number(body.size() - 10, 16) + "\r\n" + body.mid(10) +
                   "\r\n0\r\n\r\n");
        } else if (path == "/auth.gcd") {
            authSent = c.request.contains("Authorization: Basic dXNlcjpzZWNyZXQ=");
            QUrl media = self.resolved(QUrl("/four.mid?x"));
            media.setUserInfo("user:secret");
            c.send(answer("text/x-pcs-gcd", descriptorFor(media.toString(), 5)));
        } else {
            c.send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        }
    });
    QVERIFY(server.listening());
    QUrl secret = server.url("/auth.gcd");
    secret.setUserInfo("user:secret");
    CheckOptions options;
    options.timeoutMs = 1000;
    options.deadlineMs = 1500;
    const QList<CheckResult> r = runCheck(
        {server.url("/interim-only.gcd"), server.url("/interim.gcd"), server.url("/short.gcd"),
         server.url("/lengths.gcd"), server.url("/same.gcd"), server.url("/reason.gcd"),
         server.url("/drip.gcd"), server.url("/tls.gcd"), server.url("/chunked.gcd"), secret},
        options);
    // A 1xx is never the answer.
    QCOMPARE(r[0].problems.size(), 1);
    QCOMPARE(r[0].problems[0].reason,
             QString("The descriptor cannot be fetched: the server closed the connection without "
                     "an answer."));
    QVERIFY2(r[1].downloads(), qPrintable(reasons(r[1])));
    QCOMPARE(r[1].descriptor.status, 200);
    // A body cut short is the transfer's fault, not the descriptor's.
    QCOMPARE(r[2].problems.size(), 1);
    QCOMPARE(r[2].problems[0].reason,
             QString("The media file did not arrive whole: the connection closed after 50 of the "
                     "100 bytes announced."));
    QCOMPARE(r[3].problems.size(), 1);
    QVERIFY(hasProblem(r[3], "The media file gets a broken answer from 127.0.0.1: it sends two "
                             "different Content-Length headers (4 and 5)."));
    QVERIFY2(r[4].downloads(), qPrintable(reasons(r[4])));
    QVERIFY2(hasProblem(r[5], "answers HTTP 404 Não encontrado, not 200 OK"),
             qPrintable(reasons(r[5])));
    // Dripping past the deadline is slow, not silent.
    QCOMPARE(r[6].problems.size(), 1);
    QVERIFY2(r[6].problems[0].reason.startsWith("The media file is too slow: only "),
             qPrintable(reasons(r[6])));
    QVERIFY(r[6].problems[0].reason.endsWith(" bytes arrived within 1.5 s from 127.0.0.1."));
    QCOMPARE(r[6].media.status, 200);
    QCOMPARE(r[7].warnings.size(), 1);
    QVERIFY(r[7].warnings[0].reason.startsWith("The descriptor redirects from http to https"));
    QVERIFY(hasProblem(r[7], "The descriptor cannot be fetched"));
    QVERIFY2(r[8].downloads(), qPrintable(reasons(r[8])));
    QCOMPARE(r[8].report.fields.size, QString("4"));
    // Credentials go to the server but nowhere else.
    QVERIFY(authSent);
    QVERIFY(hasProblem(r[9], "is 4 bytes long, but Content-Size says 5"));
    const QString shown =
        reasons(r[9]) + summaryLine(r[9]) + QString::fromUtf8(QJsonDocument(toJson(r[9])).toJson());
    QVERIFY(!shown.contains("secret"));
    QVERIFY(!shown.contains("user"));
    QVERIFY(shown.contains(server.url("/four.mid").toString()));
    QVERIFY2(hasProblem(r[9], "Content-URL \"" + server.url("/four.mid?x").toString() + "\" holds"),
             qPrintable(reasons(r[9])));
}

void TestChecker::privateAddressesBehindPublicOnes() {
    const PublicAddress address;
    if (address.address().isEmpty())
        QSKIP("no address can be added to the loopback interface here");
    writeBytes(nginx.root() + "/right/inner-tone.mid", "MThd");
    writeBytes(nginx.root() + "/right/inner-named.mid", "MThd");
    DescriptorFields f{"audio/midi", "in", "1", "V", nginx.url("/right/inner-tone.mid").toString(),
                       "4"};
    writeBytes(nginx.root() + "/right/inner-in.gcd", descriptorBytes(f, false));
    const QString byName =
        "http://localhost:" + QString::number(nginx.port()) + "/right/inner-named.mid";
    HostileServer outside(
        [&](HostileServer::Connection& c) {
            const QByteArray path = pathOf(c.request);
            const QUrl self = QUrl("http://[" + address.address() + "]:" + QString::number(c.port));
            if (path == "/inside.gcd")
                c.send(answer("text/x-pcs-gcd",
                              descriptorFor(nginx.url("/right/inner-tone.mid").toString(), 4)));
            else if (path == "/named.gcd")
                c.send(answer("text/x-pcs-gcd", descriptorFor(byName, 4)));
            else if (path == "/moved.gcd")
                c.send("HTTP/1.1 302 Found\r\nLocation: " +
                       nginx.url("/right/inner-in.gcd").toEncoded() +
                       "\r\nContent-Length: 0\r\n\r\n");
            else if (path == "/own.gcd")
                c.send(answer("text/x-pcs-gcd",
                              descriptorFor(self.resolved(QUrl("/own.mid")).toString(), 4)));
            else
                c.send(answer("audio/midi", "MThd"));
        },
        address.address());
    QVERIFY(outside.listening());
    const QList<CheckResult> r =
        runCheck({outside.url("/inside.gcd"), outside.url("/named.gcd"), outside.url("/moved.gcd"),
                  outside.url("/own.gcd"), nginx.url("/right/inner-in.gcd")});
    QCOMPARE(r[0].problems.size(), 1);
    QCOMPARE(r[0].problems[0].reason,
             "The media file leads from a public address to " +
                 nginx.url("/right/inner-tone.mid").toString() +
                 ", and 127.0.0.1 is a loopback address: a phone cannot reach it (not fetched).");
    QVERIFY2(hasProblem(r[1], ", and localhost is at "), qPrintable(reasons(r[1])));
    QVERIFY(hasProblem(r[1], "a loopback address: a phone cannot reach it"));
    QVERIFY(hasProblem(r[2], "The descriptor redirects from a public address to " +
                                 nginx.url("/right/inner-in.gcd").toString()));
    QVERIFY2(r[3].downloads(), qPrintable(reasons(r[3])));
    // Served from a private address, it may point at one.
    QVERIFY2(r[4].downloads(), qPrintable(reasons(r[4])));
    // Not fetched: nginx saw only the last check's two requests. nginx logs a
    // request after it has sent the answer, so the last line may come a
    // moment after the check has finished.
    QTRY_COMPARE_WITH_TIMEOUT(nginxLog(nginx).count("/right/inner-tone.mid"), 1, 5000);
    const QString log = nginxLog(nginx);
    QCOMPARE(log.count("/right/inner-in.gcd"), 1);
    QCOMPARE(log.count("/right/inner-tone.mid"), 1);
    QVERIFY(!log.contains("/right/inner-named.mid"));
}

void TestChecker::queuedRequestsAreClockedWhenSent() {
    // Each answer takes 0.6 s; six requests to one server at a time, the rest wait.
    std::atomic_int waiting{0};
    std::atomic_int most{0};
    HostileServer slow([&](HostileServer::Connection& c) {
        const int now = ++waiting;
        for (int m = most; now > m && !most.compare_exchange_weak(m, now);) {
        }
        const bool on = c.wait(600);
        --waiting; // before the answer: the next request may follow it at once
        if (on)
            c.send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    });
    QList<QUrl> urls;
    for (int i = 0; i < 16; ++i)
        urls.append(slow.url(QString("/%1.gcd").arg(i)));
    CheckOptions options;
    options.maxParallel = 16;
    // Three turns of 0.6 s: the last would be called dead if its clock started at once.
    options.timeoutMs = 1500;
    const QList<CheckResult> r = runCheck(urls, options);
    for (const CheckResult& one : r)
        QVERIFY2(hasProblem(one, "answers HTTP 404 Not Found"), qPrintable(reasons(one)));
    QCOMPARE(most.load(), 6);
}

void TestChecker::connectionsAreClosedAndResultsBounded() {
    // A server that would keep each connection: the check closes it itself.
    std::atomic_int closed{0};
    HostileServer keeping([&](HostileServer::Connection& c) {
        c.send("HTTP/1.1 404 Not Found\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n");
        if (c.closedWithin(3000))
            ++closed;
    });
    QList<QUrl> urls;
    for (int i = 0; i < 5; ++i)
        urls.append(keeping.url(QString("/%1.gcd").arg(i)));
    {
        Checker checker;
        QSignalSpy finished(&checker, &Checker::finished);
        checker.start(urls);
        QVERIFY(finished.wait(5000));
        // The checker lives on: its idle connections would too.
        QTRY_COMPARE_WITH_TIMEOUT(closed.load(), 5, 2000);
    }

    // A first descriptor that never answers holds back no more than the window.
    SilentServer silent;
    urls = {silent.url("/first.gcd")};
    for (int i = 0; i < 30; ++i)
        urls.append(QUrl(QString("ftp://127.0.0.1/%1.gcd").arg(i)));
    CheckOptions options;
    options.timeoutMs = 500;
    options.maxParallel = 2;
    options.window = 8;
    Checker checker(options);
    int results = 0;
    int before = -1;
    connect(&checker, &Checker::resultReady, [&](int index, const CheckResult&) {
        if (index == 0)
            before = results;
        ++results;
    });
    QSignalSpy finished(&checker, &Checker::finished);
    checker.start(urls);
    QVERIFY(finished.wait(5000));
    QCOMPARE(before, 7);
    QCOMPARE(results, 31);
}

QTEST_GUILESS_MAIN(TestChecker)
#include "tst_checker.moc"
