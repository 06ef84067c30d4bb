// The engine on its own: no window exists in this program.
#include "CliSupport.h"
#include "engine/Batch.h"
#include "engine/ConfigFile.h"
#include "engine/Descriptor.h"
#include "engine/Maker.h"
#include "engine/TextRules.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <unistd.h>

using namespace tess;

using namespace tess::test;

class TestEngine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();

    void plansFromFileAndSettings();
    void unusableMediaNames();
    void writerRefusesValuesThatBreakLines();
    void batchGoesOnAfterFailures();
    void patternAndCollect();
    void singleLineText();
    void configReadStopsAtFiveLines();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString web;
    QString media;
};

void TestEngine::init() {
    dir = std::make_unique<QTemporaryDir>();
    web = dir->filePath("web");
    media = dir->filePath("media");
    QDir().mkpath(web);
    QDir().mkpath(media);
}

void TestEngine::plansFromFileAndSettings() {
    const QString song = put(media + "/song.mid", "MThd123");
    MakeSettings s;
    s.saveFolder = web;
    s.version = "1.0";
    s.vendor = "Acme";
    s.url = "http://fixed/x";

    Made m = makeDescriptor(song, s);
    QVERIFY2(m.ok, qPrintable(m.reason));
    QCOMPARE(m.path, web + "/song.gcd");
    QCOMPARE(slurp(m.path), QByteArray("Content-Type: audio/midi\r\nContent-Name: song\r\n"
                                       "Content-Version: 1.0\r\nContent-Vendor: Acme\r\n"
                                       "Content-URL: http://fixed/x\r\nContent-Size: 7\r\n"));

    // Auto URL ReNaming, a blank first line and a type given for every file.
    s.autoUrlBase = "http://host/tones/";
    s.blankLine = true;
    s.typeOverride = "audio/vnd.qcelp";
    m = makeDescriptor(song, s);
    QVERIFY(m.ok);
    QCOMPARE(m.fields.url, QStringLiteral("http://host/tones/song.mid"));
    QCOMPARE(slurp(m.path), descriptorBytes(m.fields, true));
    QVERIFY(slurp(m.path).startsWith("\r\nContent-Type: audio/vnd.qcelp\r\n"));

    // Without an override, a name no key matches (case counts) has no type.
    s.typeOverride.clear();
    const Made upper = planDescriptor(put(media + "/LOUD.MID", "x"), s);
    QVERIFY(!upper.ok);
    QVERIFY(upper.reason.contains("content type"));
    QVERIFY(!QFile::exists(web + "/LOUD.gcd"));

    // "photo.jpeg" loses its last four characters, as in the window.
    const Made jpeg = planDescriptor(put(media + "/photo.jpeg", "x"), s);
    QCOMPARE(jpeg.fields.name, QStringLiteral("photo."));
    QCOMPARE(jpeg.fields.type, QStringLiteral("image/jpeg"));

    QVERIFY(!planDescriptor(media + "/gone.mid", s).ok);
    QVERIFY(!planDescriptor(put(media + "/a.m", "x"), s).ok);
}

void TestEngine::unusableMediaNames() {
    MakeSettings s;
    s.saveFolder = web;
    struct Case {
        QString name;
        const char* reason;
    };
    const QList<Case> cases{{"evil\r\nContent-Size: 1\r\nx.mid", "line break"},
                            {"two\nlines.mid", "line break"},
                            {QString("nul") + QChar(0) + "x.mid", "NUL"}};
    for (const Case& c : cases) {
        const QString path = media + "/" + c.name;
        if (!c.name.contains(QChar(0)))
            put(path, "x");
        const Made m = makeDescriptor(path, s);
        QVERIFY(!m.ok);
        QVERIFY2(m.reason.contains(c.reason), qPrintable(m.reason));
    }
    QCOMPARE(QDir(web).entryList(QDir::Files | QDir::Hidden), QStringList());

    // A name whose bytes are not UTF-8 cannot be reached through its decoded text.
    const QByteArray raw = QFile::encodeName(media) + "/bad\xff\xfe.mid";
    {
        FILE* fp = fopen(raw.constData(), "w");
        QVERIFY(fp);
        fclose(fp);
    }
    QCOMPARE(mediaNameProblem(QFile::decodeName(raw)),
             std::optional<QString>("the file name is not valid UTF-8"));
    // Qt cannot remove such a name through its text either.
    QCOMPARE(::unlink(raw.constData()), 0);
    QCOMPARE(mediaNameProblem(media + "/fine name.mid"), std::nullopt);
}

void TestEngine::writerRefusesValuesThatBreakLines() {
    const QString target = put(web + "/keep.gcd", "old");
    DescriptorFields f{"audio/midi", "keep", "1", "Acme\r\n", "http://x/", "3"};
    FileResult r = writeDescriptor(target, f, false);
    QVERIFY(!r);
    QVERIFY(r.reason.contains("Content-Vendor"));
    f.vendor = "Acme";
    f.url = QString("http://x/") + QChar(0);
    QVERIFY(!writeDescriptor(target, f, false));
    // A NUL in the name would cut the path short and hit another file.
    const QString other = put(web + "/index.html", "site");
    QVERIFY(!writeDescriptor(web + "/index.html" + QChar(0) + ".gcd", f, false));
    QCOMPARE(slurp(other), QByteArray("site"));
    QCOMPARE(slurp(target), QByteArray("old"));
    QCOMPARE(QDir(web).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestEngine::batchGoesOnAfterFailures() {
    const QStringList entries{put(media + "/a.mid", "1"), media + "/missing.mid",
                              put(media + "/b.png", "22"), put(media + "/c.txt", "333")};
    MakeSettings s;
    s.saveFolder = web;
    QStringList seen;
    QList<bool> oks;
    const int failed = runBatch(entries, s, [&](const BatchEntry& e) {
        seen.append(e.media);
        oks.append(e.made.ok);
    });
    QCOMPARE(failed, 2);
    QCOMPARE(seen, entries);
    QCOMPARE(oks, (QList<bool>{true, false, true, false}));
    QVERIFY(QFile::exists(web + "/a.gcd"));
    QVERIFY(QFile::exists(web + "/b.gcd"));

    // Two threads, chunks of entries: the same outcome in the same order.
    QStringList many;
    for (int i = 0; i < 1000; ++i)
        many.append(i % 7 == 3 ? media + QString("/gone%1.mid").arg(i)
                               : put(media + QString("/f%1.png").arg(i), QByteArray(i, 'p')));
    QStringList order;
    int okCount = 0;
    const int failedTwo = runBatchPipelined(many, s, [&](const BatchEntry& e) {
        order.append(e.media);
        okCount += e.made.ok ? 1 : 0;
        QCOMPARE(e.made.ok, !e.media.contains("gone"));
    });
    QCOMPARE(order, many);
    QCOMPARE(failedTwo, 143);
    QCOMPARE(okCount, 857);
    QCOMPARE(slurp(web + "/f999.gcd"),
             descriptorBytes({"image/png", "f999", "", "", "", "999"}, false));
}

void TestEngine::patternAndCollect() {
    const NamePattern picker("*.mid; *.mid;*.cmx;*.png;*.jpg");
    QVERIFY(picker.matches("SONG.MID"));
    QVERIFY(picker.matches("a.png"));
    QVERIFY(!picker.matches("a.qcp"));
    QVERIFY(!picker.matches("a.mid.txt"));
    QVERIFY(NamePattern().matches("anything"));
    // Plain tails are matched without a regex: the same answers as the wildcard's.
    const QStringList samples{"a.mid",     "A.MID", ".mid",      "mid",       "x.midi",
                              "b.tar.gz",  "c.gz",  "Grüße.MİD", "tab\t.png", "x.mid ",
                              "star*.mid", "ß.png", ""};
    for (const QString pattern : {"*.mid; *.mid;*.cmx;*.png;*.jpg", "*", "*MIDI", "*.tar.gz",
                                  " *.GZ ; *d", "a*", "*.m?d", "*[x].mid"}) {
        QStringList parts;
        for (const QString& piece : pattern.split(';', Qt::SkipEmptyParts))
            if (!piece.trimmed().isEmpty())
                parts.append(QRegularExpression::wildcardToRegularExpression(piece.trimmed()));
        const QRegularExpression reference(parts.join('|'),
                                           QRegularExpression::CaseInsensitiveOption);
        const NamePattern p(pattern);
        for (const QString& name : samples)
            QVERIFY2(p.matches(name) == reference.match(name).hasMatch(),
                     qPrintable(pattern + " / " + name));
    }
    QVERIFY(NamePattern(" ; ").matches("anything"));

    for (const char* name : {"b.mid", "A.mid", "a.mid", ".hidden.mid", "skip.txt"})
        put(media + "/" + name, "x");
    QDir().mkpath(media + "/sub/deeper");
    put(media + "/sub/z.mid", "x");
    put(media + "/sub/deeper/y.mid", "x");
    QDir().mkpath(media + "/folder.mid");
    // A link back up must not trap a recursive walk.
    QVERIFY(QFile::link(media, media + "/sub/loop"));

    const NamePattern mid("*.mid");
    QCOMPARE(collectFiles(media, mid, false), (QStringList{media + "/.hidden.mid", media + "/A.mid",
                                                           media + "/a.mid", media + "/b.mid"}));
    const QStringList all = collectFiles(media, mid, true);
    QCOMPARE(all.size(), 6);
    QCOMPARE(all.mid(4), (QStringList{media + "/sub/z.mid", media + "/sub/deeper/y.mid"}));

    // The quick sort gives the picker's order, ties of case included.
    QStringList names{"b", "B", "a", "Ä", "ä", "ß", "SS", "ss", "_x", "Zz", "zZ", "10", "9", ""};
    for (int i = 0; i < 200; ++i)
        names.append(QString::number((i * 7919) % 1000) + (i % 2 ? "X" : "x"));
    QStringList expected = names;
    std::sort(expected.begin(), expected.end(), pickerOrder);
    sortPickerOrder(names);
    QCOMPARE(names, expected);
}

void TestEngine::singleLineText() {
    QCOMPARE(TextRules::singleLine("Acme Tones\r\nnext"), QStringLiteral("Acme Tones"));
    QCOMPARE(TextRules::singleLine(QString("a") + QChar(0) + "b\tc\x01\x7f"),
             QStringLiteral("ab\tc"));
    QCOMPARE(TextRules::singleLine(QString::fromUtf8("Tönë ☎")), QString::fromUtf8("Tönë ☎"));
    QVERIFY(TextRules::breaksLine("x\r"));
    QVERIFY(!TextRules::breaksLine("x\ty"));
}

void TestEngine::configReadStopsAtFiveLines() {
    const QString path = dir->filePath("config.cfg");
    QByteArray bytes = "1\r\n/srv/web\r\nhttp://h/\r\nAcme\r\n2.0\r\n";
    bytes += QByteArray(300000, '\n');
    put(path, bytes);
    const ConfigFile::ReadResult r = ConfigFile::readFile(path);
    QVERIFY(r.ok);
    QCOMPARE(r.lines, (QStringList{"1", "/srv/web", "http://h/", "Acme", "2.0"}));
    QVERIFY(!ConfigFile::readFile(dir->path()).ok);
    QVERIFY(!ConfigFile::readFile(dir->filePath("none.cfg")).ok);
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
