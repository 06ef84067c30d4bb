// Download pages checked by the real tools: Kannel's WML compiler, xmllint against
// the XHTML Basic DTD, and a walk over every Next link.
#include "PagesSupport.h"

#include "engine/Descriptor.h"
#include "media/Markup.h"
#include "media/Pages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace tess;
using namespace tess::media;
using namespace tess::test;

namespace {

PhoneProfile phone(const QString& markup, qint64 pageBytes) {
    PhoneProfile p;
    p.id = "test-" + markup;
    p.markup = markup;
    p.maxPageBytes = pageBytes;
    p.screen = QSize(128, 160);
    return p;
}

// A descriptor and the media beside it, of the size the descriptor says.
void putItem(const QString& folder, const QString& file, const QString& name, const QString& type,
             qint64 size) {
    const QString media = file + (type.startsWith("image/") ? ".png" : ".qcp");
    QFile m(folder + "/" + media);
    QVERIFY(m.open(QIODevice::WriteOnly));
    QVERIFY(m.resize(size));
    m.close();
    QVERIFY(writeDescriptor(folder + "/" + file + ".gcd",
                            {type, name, "1.0", "Tessavane",
                             "http://127.0.0.1/wap/" + QString(QUrl::toPercentEncoding(media)),
                             QString::number(size)},
                            false));
}

QStringList pagePaths(const QString& folder, const QString& suffix) {
    QStringList out;
    for (const QString& f : QDir(folder).entryList({"*." + suffix}, QDir::Files))
        out << folder + "/" + f;
    return out;
}

QString readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Walks from index.<suffix> by Next links: every descriptor link in page order, and
// checks each Previous link goes one page back.
QStringList walk(const QString& folder, const QString& suffix, int* pages) {
    QStringList gcds;
    QString page = "index." + suffix;
    QString previous;
    *pages = 0;
    while (!page.isEmpty() && *pages < 1000) {
        ++*pages;
        QFile f(folder + "/" + page);
        if (!f.open(QIODevice::ReadOnly))
            return {"missing " + page};
        const QList<PageLink> links = linksOf(f.readAll());
        QString next, back;
        for (const PageLink& l : links) {
            if (l.text == "Next")
                next = l.href;
            else if (l.text == "Previous")
                back = l.href;
            else
                gcds << QUrl::fromPercentEncoding(l.href.toUtf8());
        }
        if (back != previous)
            return {page + ": Previous goes to " + back + ", not " + previous};
        previous = page;
        page = next;
    }
    return gcds;
}

} // namespace

class TestPages : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void encoderMatchesTheGateway();
    void escapesSurviveCompiling();
    void fiveHundredItemsSplitUnderEveryLimit_data();
    void fiveHundredItemsSplitUnderEveryLimit();
    void rerunsKeepUsersFilesAndDropStalePages();
    void badDescriptorsAreLeftOffAndNamed();
};

void TestPages::encoderMatchesTheGateway() {
    if (!QFile::exists(kWmlCompiler))
        QSKIP("Kannel's wml_tester is not installed (scripts/setup.sh installs kannel-extras)");
    // No string occurs twice: the gateway's string table has nothing to share, so its
    // bytes are ours but for the version byte.
    using N = MarkupNode;
    const N deck = N::element(
        "wml", {},
        {N::element("card", {{"title", "Tönes & $1"}, {"id", "c1"}},
                    {N::element("p", {},
                                {N::element("a", {{"href", "http://127.0.0.1/a%20b.gcd"}},
                                            {N::textNode("Ring <1> \"x\"")}),
                                 N::textNode(", ringer 3 KB"), N::element("br"),
                                 N::element("a", {{"href", "2.wml"}}, {N::textNode("Next")})})})});
    QTemporaryDir dir;
    const QString path = dir.filePath("deck.wml");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD "
            "WML 1.1//EN\" \"http://www.wapforum.org/DTD/wml_1.1.xml\">\n" +
            xmlOf(deck, Dialect::Wml));
    f.close();
    bool known = false;
    const QByteArray ours = wbxmlOf(deck, &known);
    QVERIFY(known);
    const QByteArray kannel = compiledByKannel(path);
    QVERIFY2(!kannel.isEmpty(), qPrintable(readAll(path)));
    QCOMPARE(ours.toHex(' ').mid(3), kannel.toHex(' ').mid(3));
    QCOMPARE(ours[0], char(0x03));
    // Something outside WML 1.1 is refused, not guessed.
    wbxmlOf(N::element("wml", {}, {N::element("div")}), &known);
    QVERIFY(!known);
}

void TestPages::escapesSurviveCompiling() {
    if (!QFile::exists(kWmlCompiler))
        QSKIP("Kannel's wml_tester is not installed");
    QTemporaryDir dir;
    const QString hostile = "A&B <i> \"q\" $(x) $$ café \x01 日本";
    putItem(dir.path(), "a & $b <c>", hostile, "audio/vnd.qcelp", 5000);
    putItem(dir.path(), "plain", "Plain", "image/png", 100);
    PagesOptions o{"http://127.0.0.1/wap/", "Mine & $yours", phone("wml", 1400)};
    const PagesResult r = writePages(dir.path(), o);
    QVERIFY2(r.ok, qPrintable(r.reason));
    QCOMPARE(r.items, 2);
    QVERIFY(xmlWellFormed(pagePaths(dir.path(), "wml") + pagePaths(dir.path(), "xhtml")).isEmpty());
    const QByteArray deck = compiledByKannel(dir.filePath("index.wml"));
    QVERIFY(!deck.isEmpty());
    // The phone shows one $ where the deck source holds $$; no variable is left.
    QVERIFY(
        deck.contains("A&B <i> \"q\" $(x) $$ caf\xc3\xa9 \xef\xbf\xbd \xe6\x97\xa5\xe6\x9c\xac"));
    QVERIFY(deck.contains("Mine & $yours"));
    const QList<PageLink> wml = linksOf(slurpFile(dir.filePath("index.wml")));
    const QList<PageLink> xhtml = linksOf(slurpFile(dir.filePath("index.xhtml")));
    QCOMPARE(wml.size(), 2);
    QCOMPARE(wml[0].href, QString("a%20%26%20%24b%20%3Cc%3E.gcd"));
    QCOMPARE(xhtml[0].href, wml[0].href);
    QCOMPARE(wml[0].text, QString("A&B <i> \"q\" $$(x) $$$$ café \uFFFD 日本"));
    QCOMPARE(xhtml[0].text, QString("A&B <i> \"q\" $(x) $$ café \uFFFD 日本"));
    QVERIFY(readAll(dir.filePath("index.xhtml")).contains(", picture 1 KB"));
    QVERIFY(readAll(dir.filePath("index.xhtml")).contains(", ringer 5 KB"));
}

void TestPages::fiveHundredItemsSplitUnderEveryLimit_data() {
    QTest::addColumn<PhoneProfile>("profile");
    QTest::addColumn<qint64>("wmlLimit");
    QTest::addColumn<qint64>("xhtmlLimit");
    QTest::newRow("default") << PhoneProfile() << qint64(1400) << qint64(1400);
    QTest::newRow("up.browser 4 at 2000") << phone("wml", 2000) << qint64(2000) << qint64(2000);
    QTest::newRow("xhtml at 10 KB") << phone("xhtml", 10000) << qint64(1400) << qint64(10000);
}

void TestPages::fiveHundredItemsSplitUnderEveryLimit() {
    QFETCH(PhoneProfile, profile);
    QFETCH(qint64, wmlLimit);
    QFETCH(qint64, xhtmlLimit);
    if (!QFile::exists(kWmlCompiler) || !QFile::exists(kXmllint) || !QFile::exists(kXhtmlBasicDtd))
        QSKIP("wml_tester, xmllint or w3c-sgml-lib missing (scripts/setup.sh installs them)");
    QTemporaryDir dir;
    QStringList expected;
    QList<QPair<QString, QString>> named;
    for (int i = 0; i < 500; ++i) {
        // Names sort otherwise than file names; a few share a name.
        const QString name = QString("Tone %1 %2").arg(QChar('A' + (i * 7) % 26)).arg(i % 40);
        const QString file = QString("f%1").arg(i, 3, 10, QChar('0'));
        named << qMakePair(name, file);
        putItem(dir.path(), file, name, i % 3 ? "audio/vnd.qcelp" : "image/png", 1000 + i * 97);
    }
    std::sort(named.begin(), named.end());
    for (const auto& [name, file] : named)
        expected << file + ".gcd";

    PagesOptions o{"http://127.0.0.1/wap", "Tessavane tones", profile};
    const PagesResult r = writePages(dir.path(), o);
    QVERIFY2(r.ok, qPrintable(r.reason));
    QVERIFY2(r.problems.isEmpty(), qPrintable(r.problems.join('\n')));
    QCOMPARE(r.items, 500);
    QCOMPARE(r.entryUrl, QString("http://127.0.0.1/wap/"));

    const QStringList decks = pagePaths(dir.path(), "wml");
    const QStringList pages = pagePaths(dir.path(), "xhtml");
    QCOMPARE(decks.size(), r.wmlPages);
    QCOMPARE(pages.size(), r.xhtmlPages);
    QCOMPARE(r.written.size(), decks.size() + pages.size());
    QVERIFY(r.wmlPages > 500 * 40 / wmlLimit); // about 40 compiled bytes an item at least
    QString bad = xmlWellFormed(decks + pages);
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    bad = xhtmlValidity(pages);
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    qint64 largest = 0;
    for (const QString& deck : decks) {
        const qint64 compiled = compiledByKannel(deck).size();
        QVERIFY2(compiled > 0, qPrintable(deck));
        QVERIFY2(compiled <= wmlLimit, qPrintable(deck + ": " + QString::number(compiled)));
        largest = std::max(largest, compiled);
    }
    // Filled, not just split: the fullest deck comes near the limit.
    QVERIFY2(largest > wmlLimit * 3 / 4, qPrintable(QString::number(largest)));
    for (const QString& page : pages)
        QVERIFY(QFileInfo(page).size() <= xhtmlLimit);

    int walked = 0;
    QCOMPARE(walk(dir.path(), "wml", &walked), expected);
    QCOMPARE(walked, r.wmlPages);
    QCOMPARE(walk(dir.path(), "xhtml", &walked), expected);
    QCOMPARE(walked, r.xhtmlPages);
    // Short names a user can type: index, 2, 3, ...
    QVERIFY(QFile::exists(dir.filePath(QString("%1.wml").arg(r.wmlPages))));
    QVERIFY(!QFile::exists(dir.filePath(QString("%1.wml").arg(r.wmlPages + 1))));
}

void TestPages::rerunsKeepUsersFilesAndDropStalePages() {
    QTemporaryDir dir;
    for (int i = 0; i < 120; ++i)
        putItem(dir.path(), QString("t%1").arg(i), QString("Tune %1").arg(i), "audio/midi", 2000);
    const PagesOptions o{"http://127.0.0.1/wap/", {}, phone("wml", 1400)};
    PagesResult r = writePages(dir.path(), o);
    QVERIFY(r.ok);
    const int before = r.wmlPages;
    QVERIFY(before >= 4);
    QVERIFY(r.removed.isEmpty());
    // The same folder gives the same bytes: nothing but the descriptors counts.
    const QString index = readAll(dir.filePath("index.wml"));
    QVERIFY(writePages(dir.path(), o).ok);
    QCOMPARE(readAll(dir.filePath("index.wml")), index);

    // Pages of the user's own that look like ours by name.
    putFile(dir.filePath(QString("%1.xhtml").arg(before + 5)), "<p>my own</p>");
    putFile(dir.filePath("notes.wml"), "mine");
    for (int i = 10; i < 120; ++i) {
        QVERIFY(QFile::remove(dir.filePath(QString("t%1.gcd").arg(i))));
    }
    r = writePages(dir.path(), o);
    QVERIFY(r.ok);
    QVERIFY(r.wmlPages < before);
    QVERIFY(!r.removed.isEmpty());
    for (int n = r.wmlPages + 1; n <= before; ++n)
        QVERIFY(!QFile::exists(dir.filePath(QString("%1.wml").arg(n))));
    QVERIFY(QFile::exists(dir.filePath(QString("%1.xhtml").arg(before + 5))));
    QVERIFY(QFile::exists(dir.filePath("notes.wml")));
    int walked = 0;
    QCOMPARE(walk(dir.path(), "wml", &walked).size(), 10);

    // An index.xhtml the user wrote is never replaced: nothing is written at all.
    const QString deck = readAll(dir.filePath("index.wml"));
    QVERIFY(QFile::remove(dir.filePath("index.xhtml")));
    putFile(dir.filePath("index.xhtml"), "<html>my home page</html>");
    QVERIFY(QFile::remove(dir.filePath("t1.gcd")));
    r = writePages(dir.path(), o);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, dir.filePath("index.xhtml") +
                           ": not a page Tessavane made; move it away and run again");
    QCOMPARE(readAll(dir.filePath("index.xhtml")), QString("<html>my home page</html>"));
    QCOMPARE(readAll(dir.filePath("index.wml")), deck);
    QVERIFY(QDir(dir.path()).entryList({"*.tmp*", ".*"}, QDir::Files | QDir::Hidden).isEmpty());
}

void TestPages::badDescriptorsAreLeftOffAndNamed() {
    QTemporaryDir dir;
    putItem(dir.path(), "good", "Good", "audio/midi", 10);
    putFile(dir.filePath("junk.gcd"), QByteArray(70000, 'x'));
    putFile(dir.filePath("short.gcd"), "Content-Type: audio/midi\r\n");
    QVERIFY(QDir(dir.path()).mkdir("folder.gcd"));
    const PagesResult r = writePages(dir.path(), {"http://127.0.0.1/", {}, PhoneProfile()});
    QVERIFY(r.ok);
    QCOMPARE(r.items, 1);
    QCOMPARE(r.problems.size(), 2);
    QVERIFY(r.problems[0].startsWith(dir.filePath("junk.gcd") + ": "));
    QVERIFY(r.problems[1].startsWith(dir.filePath("short.gcd") + ": "));
    int walked = 0;
    QCOMPARE(walk(dir.path(), "xhtml", &walked), QStringList{"good.gcd"});
    // A title stands on every page: a long one is cut, the items still fit.
    const PagesResult titled =
        writePages(dir.path(), {"http://127.0.0.1/", QString(5000, 'T'), PhoneProfile()});
    QVERIFY(titled.ok);
    QCOMPARE(titled.items, 1);
    QVERIFY(
        slurpFile(dir.filePath("index.wml")).contains(QString(59, 'T').toUtf8() + "\xe2\x80\xa6"));

    const PagesResult missing = writePages(dir.filePath("none"), {"http://h/", {}, {}});
    QVERIFY(!missing.ok);
    QCOMPARE(missing.reason, dir.filePath("none") + ": No such folder");
    const PagesResult ftp = writePages(dir.path(), {"ftp://h/", {}, {}});
    QVERIFY(!ftp.ok);
    QVERIFY(ftp.reason.startsWith("ftp://h/: "));
}

QTEST_GUILESS_MAIN(TestPages)
#include "tst_pages.moc"
