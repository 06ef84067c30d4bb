#include "NginxServer.h"

#include "engine/ContentTypes.h"
#include "engine/Descriptor.h"
#include "engine/ServerConfig.h"
#include "net/Checker.h"

#include <QEventLoop>
#include <QTimer>

using namespace tess;
using namespace tess::net;
using tess::test::NginxServer;
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

} // namespace

class TestChecker : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void everyTypeServedRight();
    void wrongTypes();
    void wrongSizeAndMissingMedia();
    void redirectChains();
    void bigFilesAreCapped();
    void brokenDescriptorsAndUrls();
    void silentServerTimesOut();
    void parallelLimitAndCancel();
    void restartDropsTheOldCheck();
    void folderUrlsEscapeNames();

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

QTEST_GUILESS_MAIN(TestChecker)
#include "tst_checker.moc"
