// tessavane-cli pages as a user runs it, and the pages in a real browser served by a
// real nginx: every link reaches a descriptor that check passes.
#include "CliSupport.h"
#include "NginxServer.h"
#include "PagesSupport.h"

#include "engine/Descriptor.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtEndian>
#include <memory>

using namespace tess;
using namespace tess::test;

namespace {

constexpr char kChromium[] = "/usr/bin/chromium";

// Chromium headless at the phone's screen size, its own profile, bounded in time.
ToolRun chromium(const QString& profile, const QStringList& what) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", profile);
    return runTool(kChromium,
                   QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                               "--disable-extensions", "--hide-scrollbars",
                               "--user-data-dir=" + profile, "--window-size=128,160"} +
                       what,
                   env, 30000);
}

} // namespace

class TestCliPages : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void usageErrors();
    void browserWalksEveryLinkToAPassingDescriptor();

private:
    Run cli(const QStringList& args) { return runCli(args, home.path()); }
    QTemporaryDir home;
};

void TestCliPages::usageErrors() {
    const Run help = cli({"pages", "--help"});
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.contains("--served-at <URL>"));
    QVERIFY(help.out.contains("--phone <ID>"));
    QVERIFY(QRegularExpression("\n  pages +write WML and XHTML download pages")
                .match(cli({"--help"}).out)
                .hasMatch());
    for (const QStringList& args :
         {QStringList{"pages"}, QStringList{"pages", "--save-folder", "/tmp"},
          QStringList{"pages", "--served-at", "http://h/"},
          QStringList{"pages", "--save-folder", "/tmp", "--served-at", "ftp://h/"},
          QStringList{"pages", "--save-folder", "/tmp", "--served-at", "http:///x"},
          QStringList{"pages", "--save-folder", "/tmp", "--served-at", "http://h/", "extra"},
          QStringList{"pages", "--save-folder", "/tmp", "--served-at", "http://h/", "--phone",
                      "no-such-phone"}}) {
        const Run r = cli(args);
        QVERIFY2(r.status == 2, qPrintable(args.join(' ')));
        QVERIFY(r.err.startsWith("tessavane-cli: "));
        QVERIFY(r.err.endsWith("Try 'tessavane-cli pages --help'.\n"));
        QVERIFY(r.out.isEmpty());
    }
    const Run missing =
        cli({"pages", "--save-folder", home.filePath("none"), "--served-at", "http://h/"});
    QCOMPARE(missing.status, 1);
    QCOMPARE(missing.err, "tessavane-cli: " + home.filePath("none") + ": No such folder\n");
}

void TestCliPages::browserWalksEveryLinkToAPassingDescriptor() {
    if (!NginxServer::available() || !QFile::exists(kChromium))
        QSKIP("nginx or chromium is not installed (scripts/setup.sh installs them)");
    NginxServer nginx;
    const Run printed = cli({"server-config", "nginx"});
    QCOMPARE(printed.status, 0);
    put(nginx.path() + "/phone-types.conf", printed.out.toUtf8());
    // The server lines as printed: types and the index picked by Accept. Chromium
    // renders XHTML only as application/xhtml+xml, not as the WAP type phones get.
    const QString lines = "        location /wap/ {\n"
                          "            location ~ \\.xhtml$ { types { } default_type "
                          "application/xhtml+xml; }\n"
                          "            include " +
                          nginx.path() + "/phone-types.conf;\n        }\n";
    QString error;
    QVERIFY2(nginx.start(lines, &error), qPrintable(error));

    const QString wap = nginx.root() + "/wap";
    QStringList files;
    for (int i = 0; i < 30; ++i) {
        const bool picture = i % 4 == 0;
        const QString file = QString(i == 3 ? "ring & $tone %1" : "item%1").arg(i);
        const QString media = file + (picture ? ".png" : ".qcp");
        const QByteArray bytes(300 + i * 40, picture ? 'p' : 'q');
        put(wap + "/" + media, bytes);
        put(wap + "/" + file + ".gcd",
            descriptorBytes(
                {picture ? "image/png" : "audio/vnd.qcelp",
                 QString("Tone %1 café").arg(i, 2, 10, QChar('0')), "1.0", "V",
                 nginx.url("/wap/" + QUrl::toPercentEncoding(media)).toString(QUrl::FullyEncoded),
                 QString::number(bytes.size())},
                false));
        files << file + ".gcd";
    }
    const Run made = cli({"pages", "--save-folder", wap, "--served-at",
                          nginx.url("/wap/").toString(), "--title", "Café tones"});
    QVERIFY2(made.status == 0, qPrintable(made.err));
    const QRegularExpression summary(
        "^30 descriptors on (\\d+) WML decks and (\\d+) XHTML pages; phones open (\\S+)\n$");
    const QRegularExpressionMatch m = summary.match(made.out);
    QVERIFY2(m.hasMatch(), qPrintable(made.out));
    QCOMPARE(m.captured(3), nginx.url("/wap/").toString());
    QVERIFY(m.captured(2).toInt() >= 2);

    // The browser walks the XHTML pages by Next; every other link is a descriptor.
    QTemporaryDir profile;
    // The folder's address: the browser, which reads XHTML, gets index.xhtml.
    QUrl page = nginx.url("/wap/");
    QList<QUrl> descriptors;
    int pages = 0;
    const QRegularExpression anchor("<a href=\"([^\"]*)\">([^<]*)</a>");
    while (page.isValid() && pages < 50) {
        ++pages;
        const ToolRun dom = chromium(profile.path(), {"--dump-dom", page.toString()});
        QVERIFY2(dom.status == 0, dom.err.constData());
        QVERIFY2(dom.out.contains("Café tones"), dom.out.constData());
        QUrl next;
        for (auto it = anchor.globalMatch(QString::fromUtf8(dom.out)); it.hasNext();) {
            const QRegularExpressionMatch a = it.next();
            const QUrl target =
                nginx.url("/wap/").resolved(QUrl(a.captured(1).replace("&amp;", "&")));
            if (a.captured(2) == "Next")
                next = target;
            else if (a.captured(2) != "Previous")
                descriptors << target;
        }
        page = next;
    }
    QCOMPARE(pages, m.captured(2).toInt());
    QCOMPARE(descriptors.size(), 30);
    QStringList reached;
    for (const QUrl& u : descriptors)
        reached << u.fileName();
    std::sort(reached.begin(), reached.end());
    std::sort(files.begin(), files.end());
    QCOMPARE(reached, files);

    QStringList check{"check", "--parallel", "4"};
    for (const QUrl& u : descriptors)
        check << u.toString(QUrl::FullyEncoded);
    const Run checked = cli(check);
    QVERIFY2(checked.status == 0, qPrintable(checked.out + checked.err));
    QVERIFY(checked.out.endsWith("30 of 30 descriptors would download.\n"));

    // A WML-only browser (UP.Browser 4) at the same address gets the deck.
    QNetworkAccessManager nam;
    QNetworkRequest request(nginx.url("/wap/"));
    request.setRawHeader("Accept", "text/vnd.wap.wml, image/vnd.wap.wbmp, */*;q=0.1");
    std::unique_ptr<QNetworkReply> reply(nam.get(request));
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
    QCOMPARE(reply->header(QNetworkRequest::ContentTypeHeader).toString(),
             QString("text/vnd.wap.wml"));
    QCOMPARE(reply->readAll(), slurpFile(wap + "/index.wml"));

    // What the phone's screen shows, for the docs.
    const QString shot = QStringLiteral(TESS_TEST_OUTPUT) + "/pages-index.png";
    QFile::remove(shot);
    const ToolRun s = chromium(profile.path(),
                               {"--screenshot=" + shot, nginx.url("/wap/index.xhtml").toString()});
    QVERIFY2(s.status == 0, s.err.constData());
    const QByteArray png = slurpFile(shot);
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 16), 128u);
    QCOMPARE(qFromBigEndian<quint32>(png.constData() + 20), 160u);
}

QTEST_GUILESS_MAIN(TestCliPages)
#include "tst_clipages.moc"
