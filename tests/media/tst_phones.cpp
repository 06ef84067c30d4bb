// The phone profiles: the shipped file as a whole, the user's file on top, and faults in
// either named by file and line without losing the rest.
#include "media/Phones.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace tess::media;

namespace {

void write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestPhones : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;

private Q_SLOTS:
    void init() {
        // Each case: a fresh config folder, so no user file of the machine leaks in.
        QDir(home_.path()).removeRecursively();
        QDir().mkpath(home_.path());
        qputenv("HOME", home_.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home_.path() + "/cfg").toUtf8());
    }

    void shippedProfilesAreWhole() {
        const PhoneList list = loadPhones();
        QVERIFY2(list.problems.isEmpty(), qPrintable(list.problems.join('\n')));
        QVERIFY(shippedPhonesPath().endsWith("resources/phones.json"));
        int phones = 0;
        QStringList ids;
        static const QRegularExpression idRule("^[a-z0-9][a-z0-9.-]*$");
        for (const PhoneProfile& p : list.phones) {
            QVERIFY2(idRule.match(p.id).hasMatch(), qPrintable(p.id));
            QVERIFY2(!ids.contains(p.id), qPrintable(p.id));
            ids << p.id;
            QVERIFY2(p.screen.isValid(), qPrintable(p.id));
            QVERIFY2(!p.sources.isEmpty(), qPrintable(p.id));
            QVERIFY2(!p.pictureFormats.isEmpty() && !p.soundFormats.isEmpty(), qPrintable(p.id));
            QVERIFY(p.markup == "wml" || p.markup == "xhtml");
            if (p.wallpaper.isValid()) {
                QVERIFY2(p.wallpaperLeft + p.wallpaper.width() <= p.screen.width() &&
                             p.wallpaperTop + p.wallpaper.height() <= p.screen.height(),
                         qPrintable(p.id));
            }
            if (!p.generic)
                ++phones;
            QVERIFY(!p.user);
        }
        QVERIFY2(phones >= 25, qPrintable(QString::number(phones)));
        for (const char* id :
             {"generic-128x128", "generic-128x160", "generic-176x220", "generic-240x320"}) {
            const PhoneProfile* p = list.find(id);
            QVERIFY2(p && p->generic, id);
            QVERIFY(p->maxPictureBytes > 0 && p->maxRingerBytes > 0 && p->maxPageBytes > 0);
        }
        // The strictest common case.
        const PhoneProfile* d = list.find(kDefaultPhoneId);
        QVERIFY(d);
        QCOMPARE(d->pictureFormats, QStringList{"png"});
        QCOMPARE(d->screen, QSize(128, 160));
        QCOMPARE(d->maxPictureBytes, 64 * 1024);
        QCOMPARE(d->markup, QString("wml"));
        QVERIFY(d->maxPageBytes >= 1300 && d->maxPageBytes <= 1500);
        // Where sources disagree the safer figure is taken and the file says so.
        const PhoneProfile* s = list.find("sanyo-scp-5300");
        QVERIFY(s);
        QCOMPARE(s->wallpaper, QSize(132, 128));
        QCOMPARE(s->wallpaperTop, 16);
        QCOMPARE(s->callerId, QSize(132, 144));
        QVERIFY(s->sources.contains("132x129"));
        const PhoneProfile* a500 = list.find("samsung-sph-a500");
        QVERIFY(a500 && a500->maxPageBytes == 2048 && a500->markup == "wml");
    }

    void resolveFillsFromDefault() {
        const PhoneList list = loadPhones();
        QVERIFY(!list.resolve("no-such-phone"));
        const PhoneProfile raw = *list.find("lg-pm-225");
        QCOMPARE(raw.maxRingerBytes, 0);
        const PhoneProfile p = *list.resolve("lg-pm-225");
        QCOMPARE(p.maxRingerBytes, list.find(kDefaultPhoneId)->maxRingerBytes);
        QCOMPARE(p.wallpaper, QSize(128, 127)); // its own figure stays
        QCOMPARE(raw.midiFormats, QList<int>());
        QCOMPARE(p.midiFormats, QList<int>{0}); // only format 0, unless a phone says more
        const PhoneProfile h = *list.resolve("hitachi-sh-p300");
        QCOMPARE(h.wallpaper, h.screen); // no wallpaper figure: the whole screen
    }

    void userFileAddsAndReplaces() {
        const QString user = home_.path() + "/cfg/tessavane/phones.json";
        QCOMPARE(userPhonesPath(), user);
        write(user, R"J({"phones": [
  {"id": "sanyo-scp-5300", "maker": "Sanyo", "model": "SCP-5300 (mine)", "screen": "132x176",
   "pictures": ["png", "jpeg"], "maxPictureBytes": 30000},
  {"id": "my-phone", "screen": "100x90", "sounds": ["qcp"], "markup": "xhtml"}
]})J");
        const PhoneList list = loadPhones();
        QVERIFY2(list.problems.isEmpty(), qPrintable(list.problems.join('\n')));
        const PhoneList shipped = [] {
            PhoneList l;
            readPhonesFile(shippedPhonesPath(), &l, false);
            return l;
        }();
        QCOMPARE(list.phones.size(), shipped.phones.size() + 1);
        const PhoneProfile* s = list.find("sanyo-scp-5300");
        QVERIFY(s->user);
        QCOMPARE(s->model, QString("SCP-5300 (mine)"));
        QCOMPARE(s->maxPictureBytes, 30000);
        QVERIFY(!s->wallpaper.isValid()); // replaced whole, not merged
        QCOMPARE(s->file, user);
        // In the shipped order, the new one last.
        const auto indexOf = [](const PhoneList& l, const QString& id) {
            for (int i = 0; i < l.phones.size(); ++i)
                if (l.phones[i].id == id)
                    return i;
            return -1;
        };
        QCOMPARE(indexOf(list, "sanyo-scp-5300"), indexOf(shipped, "sanyo-scp-5300"));
        QCOMPARE(list.phones.last().id, QString("my-phone"));
        QCOMPARE(list.resolve("my-phone")->pictureFormats, QStringList{"png"});
    }

    void relativeConfigHomeIsIgnored() {
        qputenv("XDG_CONFIG_HOME", "relative/cfg");
        QCOMPARE(userPhonesPath(), home_.path() + "/.config/tessavane/phones.json");
        write(home_.path() + "/.config/tessavane/phones.json", R"([{"id": "x1"}])");
        QVERIFY(loadPhones().find("x1"));
    }

    void faultsNameFileAndLine_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("goodKept");
        const QByteArray good = "  {\"id\": \"good-one\", \"screen\": \"128x128\"},\n";
        QTest::newRow("syntax") << QByteArray("{\"phones\": [\n" + good + "  {\"id\": \"x\",,}\n]}")
                                << 3 << "" << false;
        QTest::newRow("unterminated") << QByteArray("[\n" + good) << 3 << "" << false;
        QTest::newRow("bad id") << QByteArray("[\n" + good + "  {\"id\": \"Big Phone\"}\n]") << 3
                                << "\"id\"" << true;
        QTest::newRow("bad size") << QByteArray("[\n" + good +
                                                "\n  {\"id\": \"b\",\n \"screen\": \"wide\"}\n]")
                                  << 4 << "WIDTHxHEIGHT" << true;
        QTest::newRow("bad format") << QByteArray("{\"phones\": [\n" + good +
                                                  "  {\"id\": \"b\", \"pictures\": [\"tiff\"]}]}")
                                    << 3 << "tiff" << true;
        QTest::newRow("unknown field")
            << QByteArray("[\n" + good + "  {\"id\": \"b\", \"scren\": \"1x1\"}\n]") << 3 << "scren"
            << true;
        QTest::newRow("wallpaper off screen")
            << QByteArray("[\n" + good +
                          "  {\"id\": \"b\", \"screen\": \"100x100\", \"wallpaper\": \"100x90\", "
                          "\"wallpaperTop\": 20}\n]")
            << 3 << "wallpaper" << true;
        QTest::newRow("negative limit")
            << QByteArray("[\n" + good + "  {\"id\": \"b\", \"maxRingerBytes\": -5}\n]") << 3
            << "maxRingerBytes" << true;
        QTest::newRow("bad MIDI format")
            << QByteArray("[\n" + good + "  {\"id\": \"b\", \"midiFormats\": [0, 3]}\n]") << 3
            << "midiFormats" << true;
        QTest::newRow("not a list") << QByteArray("{\"phone\": {}}") << 1 << "phones" << false;
        QTest::newRow("not an object")
            << QByteArray("[\n" + good + "  \"sanyo\"\n]") << 3 << "object" << true;
    }

    void faultsNameFileAndLine() {
        QFETCH(QByteArray, text);
        QFETCH(int, line);
        QFETCH(QString, reason);
        QFETCH(bool, goodKept);
        const QString user = home_.path() + "/cfg/tessavane/phones.json";
        write(user, text);
        const PhoneList list = loadPhones();
        QCOMPARE(list.problems.size(), 1);
        const QString problem = list.problems.first();
        QVERIFY2(problem.startsWith(user + ":" + QString::number(line) + ": "),
                 qPrintable(problem));
        QVERIFY2(problem.contains(reason), qPrintable(problem));
        QCOMPARE(bool(list.find("good-one")), goodKept);
        // The shipped profiles stay whatever the user's file holds.
        QVERIFY(list.find("sanyo-scp-5300") && !list.find("sanyo-scp-5300")->user);
        QVERIFY(list.find(kDefaultPhoneId));
    }

    void userFileThatIsNoFile() {
        const QString user = home_.path() + "/cfg/tessavane/phones.json";
        QDir().mkpath(QFileInfo(user).absolutePath());
        // A FIFO nobody writes to: refused at once, not waited on.
        QCOMPARE(::mkfifo(QFile::encodeName(user).constData(), 0600), 0);
        PhoneList list = loadPhones();
        QCOMPARE(list.problems.size(), 1);
        QVERIFY(list.problems.first().contains("not a regular file"));
        QFile::remove(user);
        // Larger than any list of phones: refused without reading it all.
        {
            QFile f(user);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(kMaxPhonesFileBytes + 10));
        }
        list = loadPhones();
        QCOMPARE(list.problems.size(), 1);
        QVERIFY(list.problems.first().contains("larger than"));
        QVERIFY(list.find("sanyo-scp-5300"));
    }
};

QTEST_GUILESS_MAIN(TestPhones)
#include "tst_phones.moc"
