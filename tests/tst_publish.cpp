// publish end to end: a folder made here, tessavane-cli publish, the site served by a
// real nginx with the lines publish wrote, then checked, compiled and browsed; re-runs,
// changes, removals and a run killed half-way.
#include "CliSupport.h"
#include "NginxServer.h"
#include "PagesSupport.h"
#include "media/Pages.h"
#include "media/Phones.h"
#include "media/Publish.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>

using namespace tess::test;

namespace {

constexpr char kFfmpeg[] = "/usr/bin/ffmpeg";
constexpr char kConvert[] = "/usr/bin/convert-im6.q16";
constexpr char kChromium[] = "/usr/bin/chromium";

// name -> sha256 and nanosecond mtime of every file in WEBDIR, the work folder aside.
using Snapshot = QMap<QString, QPair<QByteArray, qint64>>;
Snapshot snapshot(const QString& dir) {
    Snapshot s;
    for (const QString& n : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        struct stat st {};
        const QString path = dir + "/" + n;
        ::stat(QFile::encodeName(path).constData(), &st);
        s.insert(n, {QCryptographicHash::hash(slurp(path), QCryptographicHash::Sha256),
                     qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec});
    }
    return s;
}

void tool(const QString& program, const QStringList& args) {
    const ToolRun r = runTool(program, args);
    if (r.status != 0)
        qFatal("%s failed: %s", qPrintable(program), r.err.constData());
}

void sound(const QString& path, const QString& lavfi, const QStringList& codec) {
    tool(kFfmpeg, QStringList{"-loglevel", "error", "-y", "-f", "lavfi", "-i", lavfi} + codec +
                      QStringList{path});
}

ToolRun chromium(const QString& profile, const QString& url) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", profile);
    return runTool(kChromium,
                   {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                    "--disable-extensions", "--user-data-dir=" + profile, "--window-size=128,160",
                    "--dump-dom", url},
                   env, 30000);
}

} // namespace

class TestPublish : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void webNames();
    void siteServedCheckedAndBrowsed();
    void rerunsChangeOnlyWhatChanged();
    void killedRunLeavesTheOldSite();
    void usageAndHostileManifest();
    void quickRerunNoticesEveryChange();

private:
    Run publish(const QStringList& extra = {}) {
        return runCli(QStringList{"publish", src, "--to", web, "--base-url", base, "--jobs", "2"} +
                          extra,
                      home.path());
    }
    QStringList made(const Run& r) {
        QStringList out;
        for (const QString& line : r.out.split('\n'))
            if (line.startsWith("converted ") || line.startsWith("fitted ") ||
                line.startsWith("copied "))
                out << line.section(' ', 1, 1);
        out.sort();
        return out;
    }
    QTemporaryDir home;
    QTemporaryDir srcDir;
    NginxServer nginx;
    QString src;
    QString web;
    QString base;
};

void TestPublish::initTestCase() {
    for (const char* p : {kFfmpeg, kConvert, NginxServer::kBinary})
        if (!QFile::exists(p))
            QSKIP("ffmpeg, ImageMagick or nginx is missing (scripts/setup.sh installs them)");
    src = srcDir.path() + "/songs and photos";
    QDir().mkpath(src + "/holiday");
    web = nginx.root() + "/site";
    base = QString("http://127.0.0.1:%1/site").arg(nginx.reservePort());
    sound(src + "/Über Song (live).mp3", "sine=f=440:d=4", {"-c:a", "libmp3lame", "-b:a", "128k"});
    sound(src + "/voice16.wav", "sine=f=300:d=2",
          {"-ac", "2", "-ar", "44100", "-c:a", "pcm_s16le"});
    sound(src + "/voice8u.wav", "sine=f=500:d=2", {"-ac", "1", "-ar", "8000", "-c:a", "pcm_u8"});
    sound(src + "/float.wav", "sine=f=700:d=2", {"-ac", "1", "-ar", "48000", "-c:a", "pcm_f32le"});
    sound(src + "/holiday/sea.flac", "anoisesrc=d=3:a=0.2", {"-ac", "1", "-c:a", "flac"});
    // A QCP made by our converter from an 8 kHz recording.
    const QString pvconv = QFileInfo(TESSAVANE_CLI).absolutePath() + "/pvconv";
    sound(srcDir.path() + "/ring.wav", "sine=f=800:d=2",
          {"-ac", "1", "-ar", "8000", "-c:a", "pcm_s16le"});
    tool(pvconv, {srcDir.path() + "/ring.wav"});
    QVERIFY(QFile::copy(srcDir.path() + "/ring.qcp", src + "/ring.qcp"));
    // MIDI format 1, one empty track.
    put(src + "/tune.MID", QByteArray("MThd\0\0\0\6\0\1\0\1\0\x60MTrk\0\0\0\4\0\xff\x2f\0", 26));
    tool(kConvert,
         {"-size", "1600x1200", "plasma:", "-quality", "85", src + "/holiday/DSC0001.JPG"});
    tool(kConvert,
         {"-size", "100x80", "gradient:red-blue", "-interlace", "Plane", src + "/progressive.jpg"});
    tool(kConvert, {"-size", "90x90", "xc:none", "-fill", "red", "-draw", "circle 45,45 45,10",
                    src + "/alpha.png"});
    tool(kConvert, {"-size", "100x100", "xc:green", "PNG24:" + src + "/fits.png"});
    put(src + "/readme.txt", "just words\n");
    QVERIFY(QFile::link("/etc", src + "/outside"));
    // The user's own files in the web folder, one of them under a name publish would pick.
    put(web + "/mine.html", "<p>mine</p>\n");
    put(web + "/fits.png", "user's picture");
}

void TestPublish::webNames() {
    using namespace tess::media;
    QCOMPARE(webStemOf("Über Song (live).mp3"), QString("uber-song-live"));
    QCOMPARE(webStemOf("...mp3"), QString("item"));
    QCOMPARE(webStemOf(".profile"), QString("profile"));
    QCOMPARE(webStemOf("日本.wav"), QString("item"));
    QCOMPARE(webStemOf("index.png"), QString("item-index"));
    QCOMPARE(webStemOf("2.png"), QString("item-2"));
    const QString longStem = webStemOf(QString(80, 'a') + ".mp3");
    QCOMPARE(longStem.size(), kMaxWebStem);
    QVERIFY(isWebFileName(longStem + ".wbmp"));
    QVERIFY(!isWebFileName("../x.gcd"));
    QVERIFY(!isWebFileName("-a.gcd"));
    QVERIFY(!isWebFileName("a.gcd/x"));
    QVERIFY(!isWebFileName(".htaccess"));
    QSet<QString> taken{longStem, longStem.left(kMaxWebStem - 2) + "-2"};
    const QString third = uniqueStem(longStem, [&](const QString& s) { return taken.contains(s); });
    QCOMPARE(third, longStem.left(kMaxWebStem - 2) + "-3");
    QVERIFY(isWebFileName(third + ".wbmp"));
}

void TestPublish::siteServedCheckedAndBrowsed() {
    const Run dry = publish({"--dry-run"});
    QCOMPARE(dry.status, 0);
    QVERIFY(dry.out.contains("make uber-song-live.qcp <- Über Song (live).mp3 (convert, new)"));
    QVERIFY(!QFileInfo::exists(web + "/.tessavane-publish.json"));

    const Run first = publish();
    QVERIFY2(first.status == 0, qPrintable(first.out + first.err));
    // Photos stay JPEG where the phone shows JPEG.
    const QString jpg =
        tess::media::loadPhones().resolve("default")->takesPicture("jpeg") ? "jpg" : "png";
    QCOMPARE(made(first), QStringList({"alpha.png", "dsc0001." + jpg, "fits-2.png", "float.qcp",
                                       "progressive." + jpg, "ring.qcp", "sea.qcp", "tune.mid",
                                       "uber-song-live.qcp", "voice16.qcp", "voice8u.qcp"}));
    QVERIFY(first.out.contains("skipped readme.txt: not a picture or a sound"));
    QVERIFY(first.out.contains("skipped outside: a link"));
    QVERIFY2(first.err.contains("fits.*: a file publish did not make"), qPrintable(first.err));
    QCOMPARE(slurp(web + "/fits.png"), QByteArray("user's picture"));
    QVERIFY(first.out.trimmed().endsWith(base + "/"));
    // The camera picture was fitted to the screen; the fitting one copied unchanged.
    QCOMPARE(slurp(web + "/fits-2.png"), slurp(src + "/fits.png"));
    const QByteArray fitted = slurp(web + "/dsc0001." + jpg);
    QVERIFY(fitted.startsWith(jpg == "jpg" ? "\xff\xd8\xff" : "\x89PNG"));
    QVERIFY(fitted.size() < QFileInfo(src + "/holiday/DSC0001.JPG").size());
    const QByteArray gcd = slurp(web + "/uber-song-live.gcd");
    QVERIFY2(gcd.contains("Content-Type: audio/vnd.qcelp\r\nContent-Name: Über Song (live)\r\n"),
             gcd.constData());
    QVERIFY(gcd.contains("Content-URL: " + base.toUtf8() + "/uber-song-live.qcp\r\n"));
    QVERIFY(gcd.contains(
        "Content-Size: " + QByteArray::number(QFileInfo(web + "/uber-song-live.qcp").size()) +
        "\r\n"));
    // The format 1 MIDI file went in as format 0, which the default phone plays.
    QByteArray tune = slurp(src + "/tune.MID");
    tune[9] = 0;
    QCOMPARE(slurp(web + "/tune.mid"), tune);
    // Every ringtone decodes as QCELP.
    for (const QString& q : QDir(web).entryList({"*.qcp"})) {
        const ToolRun probe =
            runTool(kFfmpeg, {"-loglevel", "error", "-i", web + "/" + q, "-f", "null", "-"});
        QVERIFY2(probe.status == 0, qPrintable(q + probe.err));
    }

    // Served by nginx with the lines publish wrote.
    QString error;
    // Chromium renders XHTML only as application/xhtml+xml, not as the WAP type phones
    // get: it sees the same folder at /browser/ with that one type changed.
    QVERIFY(QFile::link(web, nginx.root() + "/browser"));
    const QString include = "include " + web + "/tessavane-nginx.conf;";
    QVERIFY2(nginx.start("location /site/ { " + include +
                             " }\n"
                             "location /browser/ { location ~ \\.xhtml$ { types { } "
                             "default_type application/xhtml+xml; } " +
                             include + " }",
                         &error),
             qPrintable(error));
    const Run check =
        runCli({"check", "--save-folder", web, "--served-at", base + "/"}, home.path());
    QVERIFY2(check.status == 0, qPrintable(check.out + check.err));
    QVERIFY2(check.out.contains("11 of 11 descriptors would download."), qPrintable(check.out));

    // Every deck compiles and fits the default phone's deck limit.
    const qint64 limit =
        tess::media::wmlPageLimit(tess::media::loadPhones().resolve("default").value());
    const QStringList decks = QDir(web).entryList({"*.wml"});
    QVERIFY(!decks.isEmpty());
    if (QFile::exists(kWmlCompiler)) {
        for (const QString& deck : decks) {
            const QByteArray compiled = compiledByKannel(web + "/" + deck);
            QVERIFY2(!compiled.isEmpty(), qPrintable(deck));
            QVERIFY(compiled.size() <= limit);
        }
    }

    // A browser at the phone's screen size walks from the entry URL to every item.
    if (!QFile::exists(kChromium))
        QSKIP("chromium is not installed");
    QTemporaryDir profile;
    QSet<QString> linked;
    QList<QUrl> pages{nginx.url("/browser/")};
    QSet<QUrl> seen;
    const QRegularExpression anchor("<a href=\"([^\"]*)\"");
    while (!pages.isEmpty() && seen.size() < 20) {
        const QUrl page = pages.takeFirst();
        if (seen.contains(page))
            continue;
        seen.insert(page);
        const ToolRun dom = chromium(profile.path(), page.toString());
        QVERIFY2(dom.status == 0, dom.err.constData());
        for (auto it = anchor.globalMatch(QString::fromUtf8(dom.out)); it.hasNext();) {
            const QUrl target = page.resolved(QUrl(it.next().captured(1)));
            if (target.path().endsWith(".gcd"))
                linked.insert(target.fileName());
            else if (target.path().endsWith(".xhtml"))
                pages.append(target);
        }
    }
    QSet<QString> descriptors;
    for (const QString& d : QDir(web).entryList({"*.gcd"}))
        descriptors.insert(d);
    QCOMPARE(linked, descriptors);
}

void TestPublish::rerunsChangeOnlyWhatChanged() {
    const Snapshot before = snapshot(web);
    const Run again = publish();
    QVERIFY2(again.status == 0, qPrintable(again.err));
    QVERIFY(made(again).isEmpty());
    QCOMPARE(snapshot(web), before);

    // Touched, not changed: nothing is made again.
    const QString mid = src + "/tune.MID";
    QFile f(mid);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(
        f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    f.close();
    QVERIFY(made(publish()).isEmpty());
    Snapshot after = snapshot(web);
    after.remove(".tessavane-publish.json");
    Snapshot expected = before;
    expected.remove(".tessavane-publish.json");
    QCOMPARE(after, expected);

    // Changed: only it is made again, under its name.
    put(src + "/tune.MID", QByteArray("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\4\0\xff\x2f\0", 26));
    const Run changed = publish();
    QCOMPARE(made(changed), QStringList{"tune.mid"});
    const Snapshot afterChange = snapshot(web);
    for (auto it = before.begin(); it != before.end(); ++it) {
        const bool redone = it.key().startsWith("tune.") || it.key().startsWith("index.") ||
                            it.key() == ".tessavane-publish.json";
        if (!redone)
            QCOMPARE(afterChange.value(it.key()), it.value());
    }
    QVERIFY(afterChange.value("tune.mid") != before.value("tune.mid"));

    // Removed: only its outputs go; the user's files stay.
    QVERIFY(QFile::remove(src + "/progressive.jpg"));
    const int progressiveOutputs = int(afterChange.keys().filter("progressive.").size());
    QCOMPARE(progressiveOutputs, 2);
    const Run removed = publish({"--json"});
    QVERIFY2(removed.status == 0, qPrintable(removed.err));
    QVERIFY(removed.out.contains("\"removed\":2"));
    const Snapshot afterRemove = snapshot(web);
    QVERIFY(!afterRemove.contains("progressive.gcd"));
    QCOMPARE(afterRemove.size(), afterChange.size() - 2);
    QCOMPARE(slurp(web + "/mine.html"), QByteArray("<p>mine</p>\n"));
    QCOMPARE(slurp(web + "/fits.png"), QByteArray("user's picture"));
    QVERIFY(!slurp(web + "/index.xhtml").contains("progressive"));
}

void TestPublish::killedRunLeavesTheOldSite() {
    // New sounds long enough that the run is still converting when it is killed.
    for (int i = 0; i < 4; ++i)
        sound(src + QString("/long%1.wav").arg(i), "sine=f=350:d=15",
              {"-ac", "1", "-ar", "22050", "-c:a", "pcm_s16le"});
    const Snapshot before = snapshot(web);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(TESSAVANE_CLI, {"publish", src, "--to", web, "--base-url", base, "--jobs", "1"});
    QVERIFY(p.waitForStarted(10000));
    // Killed once the first new ringtone is made, well before the last.
    QElapsedTimer clock;
    clock.start();
    QByteArray out;
    while (!out.contains("converted ") && clock.elapsed() < 60000 &&
           p.state() == QProcess::Running) {
        p.waitForReadyRead(100);
        out += p.readAllStandardOutput();
    }
    QVERIFY2(p.state() == QProcess::Running, out.constData());
    ::kill(pid_t(p.processId()), SIGKILL);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(snapshot(web), before);
    const Run check =
        runCli({"check", "--save-folder", web, "--served-at", base + "/"}, home.path());
    QVERIFY2(check.status == 0, qPrintable(check.out));

    // The next run finishes the job and clears what the killed one left.
    const Run next = publish();
    QVERIFY2(next.status == 0, qPrintable(next.err));
    QCOMPARE(made(next).size(), 4);
    QVERIFY(!QFileInfo::exists(web + "/.tessavane-work"));
}

void TestPublish::usageAndHostileManifest() {
    QCOMPARE(runCli({"publish", src}, home.path()).status, 2);
    QCOMPARE(runCli({"publish", src, "--to", web, "--base-url", "ftp://x/"}, home.path()).status,
             2);
    QCOMPARE(runCli({"publish", src, "--to", web, "--base-url", base, "--jobs", "0"}, home.path())
                 .status,
             2);
    // A manifest naming files outside WEBDIR takes nothing from there.
    QTemporaryDir other;
    const QString victim = put(other.path() + "/victim.gcd", "keep me");
    const QString webDir = other.path() + "/web";
    QJsonObject entry{{"outputs", QJsonArray{QJsonObject{{"file", "../victim.gcd"}}}}};
    put(webDir + "/.tessavane-publish.json",
        QJsonDocument(
            QJsonObject{{"tool", "tessavane"}, {"items", QJsonObject{{"gone.mp3", entry}}}})
            .toJson());
    QDir().mkpath(other.path() + "/empty");
    const Run r = runCli({"publish", other.path() + "/empty", "--to", webDir, "--base-url", base},
                         home.path());
    QCOMPARE(r.status, 0);
    QCOMPARE(slurp(victim), QByteArray("keep me"));
    // A manifest put in by rename passes the quick check: what it says is still escaped.
    put(other.path() + "/words/notes.txt", "words\n");
    const QStringList quick{"publish", other.path() + "/words", "--to", other.path() + "/web2",
                            "--base-url", base};
    QCOMPARE(runCli(quick, home.path()).status, 0);
    const QString m2 = other.path() + "/web2/.tessavane-publish.json";
    QByteArray planted = slurp(m2);
    QVERIFY(planted.contains("not a picture or a sound"));
    planted.replace("not a picture or a sound", "\\u001b[2Jcleared");
    put(m2 + ".new", planted);
    QVERIFY(std::rename(QFile::encodeName(m2 + ".new").constData(),
                        QFile::encodeName(m2).constData()) == 0);
    const Run shownRun = runCli(quick, home.path());
    QCOMPARE(shownRun.status, 0);
    QVERIFY2(shownRun.out.contains("cleared"), qPrintable(shownRun.out));
    QVERIFY(!shownRun.out.contains('\x1b'));
    put(webDir + "/.tessavane-publish.json", "{not json");
    const Run bad = runCli({"publish", other.path() + "/empty", "--to", webDir, "--base-url", base},
                           home.path());
    QCOMPARE(bad.status, 1);
    QVERIFY(bad.err.contains(".tessavane-publish.json: not a publish manifest"));
}

namespace {

struct Published {
    tess::media::Plan plan;
    tess::media::WriteResult written;
    int failed = 0;
};

Published publishWith(const tess::media::PublishOptions& o, const tess::media::MediaSteps& steps) {
    Published p;
    p.plan = tess::media::planPublish(o, steps);
    tess::media::RunResult run = tess::media::runPublish(p.plan, steps, nullptr, nullptr);
    p.failed = run.failed;
    p.written = tess::media::writePublish(p.plan, run);
    return p;
}

} // namespace

void TestPublish::quickRerunNoticesEveryChange() {
    using namespace tess::media;
    QTemporaryDir dir;
    const QString songs = dir.path() + "/src";
    const QByteArray tune("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\4\0\xff\x2f\0", 26);
    for (int i = 0; i < 12; ++i)
        put(songs + QString("/f%1/t%2.mid").arg(i % 3).arg(i), tune);
    put(songs + "/notes.txt", "words\n");
    PublishOptions o;
    o.source = songs;
    o.webDir = dir.path() + "/web";
    o.baseUrl = "http://h/p/";
    o.phone = builtInDefault();
    o.quickWhenUnchanged = true;
    MediaSteps steps; // copies only: no conversion needed here
    const Published first = publishWith(o, steps);
    QVERIFY2(first.written.ok, qPrintable(first.written.problems.join('\n')));
    const QString manifest = o.webDir + "/.tessavane-publish.json";
    const QByteArray manifestBytes = slurp(manifest);
    // Every source is hashed, in the workers as well.
    const QJsonObject items = QJsonDocument::fromJson(manifestBytes)["items"].toObject();
    QCOMPARE(items.size(), 12);
    for (auto it = items.begin(); it != items.end(); ++it)
        QCOMPARE(it.value().toObject()["sha256"].toString(),
                 QString(QCryptographicHash::hash(tune, QCryptographicHash::Sha256).toHex()));

    auto plan = [&] { return planPublish(o, steps); };
    Plan again = plan();
    QVERIFY(again.unchanged);
    QCOMPARE(again.kept(), 12);
    QCOMPARE(again.items.size(), 1);
    QCOMPARE(again.items[0].source, QString("notes.txt"));
    QCOMPARE(again.items[0].reason, first.plan.items.last().reason);
    QVERIFY(!again.changes());
    const Snapshot site = snapshot(o.webDir);
    QVERIFY(publishWith(o, steps).written.ok);
    QCOMPARE(snapshot(o.webDir), site);

    // A file of the user's in WEBDIR: read in full once, and quick again after that.
    put(o.webDir + "/mine.html", "mine");
    again = plan();
    QVERIFY(!again.unchanged);
    QVERIFY(!again.changes());
    QVERIFY(publishWith(o, steps).written.ok);
    QCOMPARE(slurp(manifest), manifestBytes);
    QVERIFY(plan().unchanged);
    QCOMPARE(slurp(o.webDir + "/mine.html"), QByteArray("mine"));

    // An output gone, a mode changed, an option changed: each is seen.
    QVERIFY(QFile::remove(o.webDir + "/t3.gcd"));
    again = plan();
    QVERIFY(!again.unchanged);
    QCOMPARE(again.toMake(), 1);
    QVERIFY(publishWith(o, steps).written.ok);
    QVERIFY(plan().unchanged);
    const QString t5 = songs + "/f2/t5.mid";
    QVERIFY(::chmod(QFile::encodeName(t5).constData(), 0600) == 0);
    QVERIFY(!plan().unchanged);
    QVERIFY(publishWith(o, steps).written.ok);
    QVERIFY(plan().unchanged);
    o.vendor = "Other Tones";
    again = plan();
    QVERIFY(!again.unchanged);
    QCOMPARE(again.toMake(), 12);
    QVERIFY(publishWith(o, steps).written.ok);
    QVERIFY(plan().unchanged);

    // A manifest whose state was edited is read in full.
    QByteArray edited = slurp(manifest);
    const int at = edited.indexOf("\"state\":\"") + 9;
    edited[at] = edited[at] == 'a' ? 'b' : 'a';
    put(manifest, edited);
    QVERIFY(!plan().unchanged);

    // A run with a failed item leaves no state: the next one looks at everything.
    put(songs + "/voice.wav", "RIFF\x24\0\0\0WAVEfmt ");
    steps.looksLikeSound = [](const QString& path) { return path.endsWith(".wav"); };
    const Published failing = publishWith(o, steps);
    QCOMPARE(failing.failed, 1);
    QVERIFY(!plan().unchanged);
    QVERIFY(QFile::remove(songs + "/voice.wav"));
    QVERIFY(publishWith(o, steps).written.ok);
    QVERIFY(plan().unchanged);
    QCOMPARE(plan().kept(), 12);

    // WEBDIR inside SRC: left out of the walk, so its own files are never sources.
    o.webDir = songs + "/f1/web";
    QVERIFY(publishWith(o, steps).written.ok);
    again = plan();
    QVERIFY(again.unchanged);
    QCOMPARE(again.kept(), 12);
}

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
