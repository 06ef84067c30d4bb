// tessavane-cli inspect and phones, as a user runs them: exit statuses, one block or
// JSON object per file, the phone chosen on the command line alone, the user's own
// profiles, and files that must not be waited on.
#include "CliSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <sys/stat.h>

using namespace tess::test;

namespace {

QList<QJsonObject> jsonLines(const QString& out) {
    QList<QJsonObject> list;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts))
        list.append(QJsonDocument::fromJson(line.toUtf8()).object());
    return list;
}

bool make(const QStringList& args) {
    QProcess p;
    p.start("/usr/bin/convert-im6.q16", args);
    return p.waitForFinished(30000) && p.exitCode() == 0;
}

} // namespace

class TestCliInspect : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home_;
    QTemporaryDir dir_;
    Run cli(const QStringList& args) { return runCli(args, home_.path()); }
    QString path(const QString& name) { return dir_.filePath(name); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(make({"-size", "128x160", "gradient:", "-depth", "8", "-colors", "64",
                      "PNG8:" + path("fits.png")}));
        QVERIFY(make({"-size", "640x480", "xc:red", "-interlace", "Plane", path("photo.jpg")}));
    }

    void inspectExitStatus() {
        Run r = cli({"inspect", path("fits.png")});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.startsWith(path("fits.png") + ": png picture, 128x160, 8-bit palette"));
        QVERIFY(r.out.endsWith("  works on Default (strictest common case) (default)\n"));
        QVERIFY(r.err.isEmpty());

        r = cli({"inspect", "--phone", "sanyo-scp-4900", path("fits.png"), path("photo.jpg")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.out.contains("  refuse: a progressive JPEG"));
        QVERIFY(r.out.contains("    fix: fit it: tessavane-cli fit --phone sanyo-scp-4900 " +
                               path("photo.jpg") + "\n"));
        QVERIFY(r.out.contains("  will not work on Sanyo SCP-4900 (sanyo-scp-4900)\n"));

        // Usage errors: 2, with the reason on standard error.
        for (const QStringList& args :
             {QStringList{"inspect"}, QStringList{"inspect", "--phone", "nokia-3310", "x.png"},
              QStringList{"inspect", "--bogus", "x.png"}}) {
            r = cli(args);
            QCOMPARE(r.status, 2);
            QVERIFY(r.out.isEmpty());
            QVERIFY(r.err.startsWith("tessavane-cli: "));
        }
        r = cli({"inspect", "--help"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains("--phone <ID>"));
        QVERIFY(r.out.contains("--"));
        // A missing file: the reason on standard error, status 1.
        r = cli({"inspect", path("none.png")});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err, "tessavane-cli: " + path("none.png") + ": No such file or directory\n");
    }

    void inspectJson() {
        const Run r = cli({"inspect", "--json", "--phone", "sanyo-scp-5300", path("fits.png"),
                           path("photo.jpg")});
        QCOMPARE(r.status, 1);
        const QList<QJsonObject> o = jsonLines(r.out);
        QCOMPARE(o.size(), 2);
        QCOMPARE(o[0]["file"].toString(), path("fits.png"));
        QCOMPARE(o[0]["phone"].toString(), QString("sanyo-scp-5300"));
        QCOMPARE(o[0]["width"].toInt(), 128);
        QCOMPARE(o[0]["works"].toBool(), true);
        QCOMPARE(o[1]["format"].toString(), QString("jpeg"));
        QCOMPARE(o[1]["interlaced"].toBool(), true);
        QCOMPARE(o[1]["works"].toBool(), false);
        QStringList severities;
        for (const QJsonValue& f : o[1]["findings"].toArray())
            severities << f.toObject()["severity"].toString();
        QVERIFY(severities.contains("refuse"));
        QVERIFY(severities.first() == "refuse"); // the worst first
    }

    void fifoAndHugeSparseFileReturnAtOnce() {
        const QString fifo = path("pipe.png");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString sparse = path("five-gigabytes.qcp");
        {
            QFile f(sparse);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(5LL << 30));
        }
        // Nobody writes to the FIFO: a blocking open or read would hang the run.
        const Run r = cli({"inspect", "--json", fifo, sparse});
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(fifo + ": it is not a regular file"));
        const QList<QJsonObject> o = jsonLines(r.out);
        QCOMPARE(o.size(), 2);
        QCOMPARE(o[1]["size"].toDouble(), double(5LL << 30));
        QCOMPARE(o[1]["format"].toString(), QString("unknown"));
        QFile::remove(sparse);
    }

    void phonesListsAndTakesTheUsersOwn() {
        Run r = cli({"phones"});
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.contains(QRegularExpression("^sanyo-scp-5300 +Sanyo SCP-5300 +132x176 "
                                                  "\\(132x128\\)",
                                                  QRegularExpression::MultilineOption)));
        QVERIFY(
            r.out.contains(QRegularExpression("^default ", QRegularExpression::MultilineOption)));
        const int shipped = int(r.out.count('\n'));
        QVERIFY(shipped >= 30);

        r = cli({"phones", "--json"});
        QCOMPARE(r.status, 0);
        const QList<QJsonObject> all = jsonLines(r.out);
        QCOMPARE(all.size(), shipped);
        for (const QJsonObject& p : all)
            QVERIFY2(!p["sources"].toString().isEmpty(), qPrintable(p["id"].toString()));

        r = cli({"phones", "sanyo-scp-5300"});
        QVERIFY(r.out.contains("  wallpaper:       132x128 at 0,16\n"));
        QVERIFY(r.out.contains("  source: wallpaper: "));
        QCOMPARE(cli({"phones", "no-such"}).status, 1);

        // The user's own file: one more profile, one replaced, and a broken entry named
        // by line, which the other commands only warn about.
        put(home_.path() + "/.config/tessavane/phones.json",
            "[\n {\"id\": \"my-flip\", \"maker\": \"Me\", \"model\": \"Flip\", \"screen\": "
            "\"128x128\", \"pictures\": [\"png\"]},\n"
            " {\"id\": \"sanyo-scp-5300\", \"screen\": \"64x64\"},\n"
            " {\"id\": \"broken\", \"screen\": 12}\n]\n");
        r = cli({"phones"});
        QCOMPARE(r.status, 1);
        QCOMPARE(int(r.out.count('\n')), shipped + 1);
        QVERIFY(r.err.contains("/.config/tessavane/phones.json:4: phone \"broken\": \"screen\""));
        r = cli({"inspect", "--phone", "my-flip", path("fits.png")});
        QCOMPARE(r.status, 1);
        QVERIFY(r.out.contains("128x160 pixels is larger than the 128x128 screen (Me Flip)"));
        QVERIFY(r.err.contains("phones.json:4:"));
        r = cli({"inspect", "--phone", "sanyo-scp-5300", path("fits.png")});
        QVERIFY(r.out.contains("larger than the 64x64 screen"));
        // Nothing is remembered: the next run without --phone judges by the default.
        r = cli({"inspect", path("fits.png")});
        QCOMPARE(r.status, 0);
        QFile::remove(home_.path() + "/.config/tessavane/phones.json");
    }
};

QTEST_GUILESS_MAIN(TestCliInspect)
#include "tst_cliinspect.moc"
