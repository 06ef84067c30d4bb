// Inspection of real files made by real tools (ImageMagick, libvips, ffmpeg, sox, our
// pvconv, and MIDI written here), judged for real profiles; then a corpus of broken
// headers made from them, read from buffers of exactly their size so a read past the
// end is caught by the sanitizers.
#include "media/Inspect.h"
#include "media/sniff/Sniff.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

using namespace tess::media;

namespace {

const QString kConvert = QStringLiteral("/usr/bin/convert-im6.q16");

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program + " " + args.join(' ')),
                 p.readAllStandardError().constData());
        return false;
    }
    return true;
}

QByteArray slurp(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void spit(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray bytes(std::initializer_list<int> list) {
    QByteArray out;
    for (int b : list)
        out += char(b);
    return out;
}

QByteArray be32(quint32 v) {
    return bytes({int(v >> 24), int(v >> 16), int(v >> 8), int(v)});
}

// A Standard MIDI File: each track a few notes and End of Track; trackLie adds to the
// first track's stated length.
QByteArray midi(int format, int tracks, int trackLie = 0, bool endOfTrack = true) {
    QByteArray out = "MThd" + be32(6);
    out += bytes({0, format, 0, tracks, 0x01, 0xE0}); // 480 ticks a beat
    for (int t = 0; t < tracks; ++t) {
        QByteArray events;
        events += QByteArray("\x00\xFF\x51\x03\x07\xA1\x20", 7); // tempo
        for (int n = 0; n < 4; ++n) {
            events += bytes({0, 0x90 | t, 60 + n, 100});
            events += bytes({0x83, 0x60, 60 + n, 0}); // running status, off
        }
        if (endOfTrack)
            events += QByteArray("\x00\xFF\x2F\x00", 4);
        out += "MTrk" + be32(quint32(events.size() + (t == 0 ? trackLie : 0))) + events;
    }
    return out;
}

QStringList codes(const Inspection& r) {
    QStringList c;
    for (const Finding& f : r.findings)
        c << f.code;
    return c;
}

PhoneProfile phone(const QString& id) {
    static const PhoneList list = loadPhones();
    const std::optional<PhoneProfile> p = list.resolve(id);
    if (!p)
        qFatal("no profile %s", qPrintable(id));
    return *p;
}

// The readers over an exact-size copy, so ASan sees any read past the end.
tess::sniff::Facts sniffExact(const QByteArray& bytes, quint64 total, const std::string& ext) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size_t(qMax(1, int(bytes.size())))]);
    memcpy(copy.get(), bytes.constData(), size_t(bytes.size()));
    return tess::sniff::sniff(tess::sniff::Bytes{copy.get(), size_t(bytes.size())}, total, ext);
}

} // namespace

class TestInspect : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        const auto im = [&](const QStringList& args) { QVERIFY(run(kConvert, args)); };
        im({"-size", "3000x2000", "xc:red", path("huge.png")});
        im({"-size", "300x300", "xc:", "+noise", "Random", "-depth", "8", path("noisy.png")});
        im({"-size", "4000x3000", "xc:blue", path("camera.jpg")});
        im({"-size", "100x120", "gradient:", "-depth", "8", "-interlace", "Plane",
            path("progressive.jpg")});
        im({"-size", "100x120", "gradient:", "-depth", "8", "-interlace", "PNG",
            path("adam7.png")});
        im({"-size", "100x120", "gradient:red-blue", "-depth", "16", path("deep.png")});
        im({"-size", "100x120", "xc:blue", "-colorspace", "CMYK", path("cmyk.jpg")});
        im({"-size", "128x160", "gradient:", "-depth", "8", "-colors", "200",
            "PNG8:" + path("good.png")});
        im({"-size", "120x128", "xc:white", path("mono.wbmp")});
        im({"-size", "100x80", "xc:white", path("windows.bmp")});
        im({"-delay", "20", "-size", "120x128", "xc:red", "xc:blue", "xc:green", path("anim.gif")});
        // libvips: a baseline JPEG with an EXIF block, which ImageMagick then marks as
        // turned a quarter (orientation 6); and a progressive one of its own.
        QVERIFY(run("/usr/bin/vips", {"black", path("black.v"), "100", "120"}));
        QVERIFY(run("/usr/bin/vips", {"copy", path("black.v"), path("upright.jpg")}));
        im({path("upright.jpg"), "-orient", "RightTop", path("turned.jpg")});
        QVERIFY(run("/usr/bin/vips",
                    {"copy", path("black.v"), path("vips-progressive.jpg") + "[interlace]"}));
        // ffmpeg: an animated PNG; sounds.
        const QString ff = "/usr/bin/ffmpeg";
        const QStringList quiet{"-hide_banner", "-loglevel", "error", "-y"};
        QVERIFY(run(ff, quiet + QStringList{"-f", "lavfi", "-i", "color=red:s=64x64:d=0.5:r=10",
                                            "-plays", "0", "-f", "apng", path("anim.png")}));
        QVERIFY(
            run(ff, quiet + QStringList{"-f", "lavfi", "-i", "sine=f=440:d=2", "-ac", "2", "-c:a",
                                        "libmp3lame", "-b:a", "128k", path("song.mp3")}));
        QVERIFY(run(ff, quiet + QStringList{"-f", "lavfi", "-i", "sine=f=440:d=2", "-c:a", "aac",
                                            path("song.m4a")}));
        // sox: a CD-quality WAV named as if it were QCELP; an 8 kHz mono one for pvconv.
        QVERIFY(run("/usr/bin/sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", path("cd.wav"),
                                     "synth", "1", "sine", "440"}));
        QVERIFY(QFile::copy(path("cd.wav"), path("renamed.qcp")));
        QVERIFY(run("/usr/bin/sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", path("voice.wav"),
                                     "synth", "3", "sine", "300-900"}));
        QVERIFY(run(PVCONV, {path("voice.wav")}));
        QVERIFY(run("/usr/bin/sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", path("long.wav"),
                                     "synth", "40", "sine", "300-900"}));
        QVERIFY(run(PVCONV, {path("long.wav")}));
        // The same QCP with the EVRC codec GUID in place of QCELP-13K's.
        QByteArray evrc = slurp(path("voice.qcp"));
        const QByteArray qcelpGuid(
            "\x41\x6D\x7F\x5E\x15\xB1\xD0\x11\xBA\x91\x00\x80\x5F\xB4\xB9\x7E", 16);
        QVERIFY(evrc.indexOf(qcelpGuid) == 22);
        evrc.replace(
            22, 16,
            QByteArray("\x8D\xD4\x89\xE6\x76\x90\xB5\x46\x91\xEF\x73\x6A\x51\x00\xCE\xB4", 16));
        spit(path("evrc.qcp"), evrc);
        spit(path("tune0.mid"), midi(0, 1));
        spit(path("tune1.mid"), midi(1, 3));
        spit(path("tune2.mid"), midi(2, 2));
        spit(path("liar.mid"), midi(1, 2, 40));
        spit(path("endless.mid"), midi(0, 1, 0, false));
        spit(path("page.wml"), "<?xml version=\"1.0\"?>\n<!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD "
                               "WML 1.1//EN\" \"http://www.wapforum.org/DTD/wml_1.1.xml\">\n"
                               "<wml><card id=\"a\"><p>Hi</p></card></wml>\n");
        spit(path("page.xhtml"), "<?xml version=\"1.0\"?>\n<!DOCTYPE html PUBLIC \"-//WAPFORUM//"
                                 "DTD XHTML Mobile 1.0//EN\" \"x\">\n<html xmlns=\"http://www.w3."
                                 "org/1999/xhtml\"><body>Hi</body></html>\n");
    }

    void verdicts_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("phoneId");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::addColumn<bool>("works");
        using L = QStringList;
        // Pictures.
        QTest::newRow("3000x2000 PNG")
            << "huge.png"
            << "default"
            << "png" << L{"too-many-pixels"} << L{"interlaced", "16-bit"} << false;
        QTest::newRow("PNG over the byte cap")
            << "noisy.png"
            << "sanyo-scp-5300"
            << "png" << L{"too-large", "too-many-pixels"} << L{} << false;
        QTest::newRow("4000x3000 JPEG on a JPEG phone")
            << "camera.jpg"
            << "sanyo-scp-4900"
            << "jpeg" << L{"too-many-pixels"} << L{"format-not-taken", "interlaced", "cmyk"}
            << false;
        QTest::newRow("JPEG on a PNG-only phone")
            << "upright.jpg"
            << "default"
            << "jpeg" << L{"format-not-taken"} << L{"exif-rotated"} << false;
        QTest::newRow("progressive JPEG")
            << "progressive.jpg"
            << "sanyo-scp-4900"
            << "jpeg" << L{"interlaced"} << L{"too-many-pixels"} << false;
        QTest::newRow("progressive JPEG by vips") << "vips-progressive.jpg"
                                                  << "sanyo-scp-4900"
                                                  << "jpeg" << L{"interlaced"} << L{} << false;
        QTest::newRow("interlaced PNG")
            << "adam7.png"
            << "default"
            << "png" << L{"interlaced"} << L{"16-bit", "too-many-pixels"} << false;
        QTest::newRow("16-bit PNG") << "deep.png"
                                    << "default"
                                    << "png" << L{"16-bit"} << L{"interlaced"} << false;
        QTest::newRow("CMYK JPEG") << "cmyk.jpg"
                                   << "sanyo-scp-4900"
                                   << "jpeg" << L{"cmyk"} << L{"colour-depth"} << false;
        QTest::newRow("EXIF-turned JPEG")
            << "turned.jpg"
            << "sanyo-scp-4900"
            << "jpeg" << L{"exif-rotated"} << L{"interlaced"} << false;
        QTest::newRow("upright JPEG works")
            << "upright.jpg"
            << "sanyo-scp-4900"
            << "jpeg" << L{"smaller-than-screen"} << L{"exif-rotated"} << true;
        QTest::newRow("PNG that fits")
            << "good.png"
            << "default"
            << "png" << L{}
            << L{"too-many-pixels", "smaller-than-screen", "colour-depth", "format-not-taken"}
            << true;
        QTest::newRow("Windows BMP")
            << "windows.bmp"
            << "default"
            << "bmp" << L{"not-a-phone-picture"} << L{"extension-mismatch"} << false;
        QTest::newRow("WBMP on a PNG phone")
            << "mono.wbmp"
            << "sanyo-scp-4900"
            << "wbmp" << L{"format-not-taken"} << L{"broken"} << false;
        QTest::newRow("animated GIF")
            << "anim.gif"
            << "sanyo-scp-4900"
            << "gif" << L{"animated"} << L{"too-many-pixels", "broken"} << true;
        QTest::newRow("animated PNG") << "anim.png"
                                      << "default"
                                      << "png" << L{"animated"} << L{"broken"} << true;
        // Sounds.
        QTest::newRow("WAV renamed .qcp")
            << "renamed.qcp"
            << "default"
            << "wav" << L{"extension-mismatch", "not-a-ringtone"} << L{} << false;
        QTest::newRow("WAV") << "cd.wav"
                             << "default"
                             << "wav" << L{"not-a-ringtone"} << L{"extension-mismatch"} << false;
        QTest::newRow("pvconv QCP")
            << "voice.qcp"
            << "default"
            << "qcp" << L{} << L{"qcp-codec", "sample-rate", "long", "too-large"} << true;
        QTest::newRow("40 s QCP") << "long.qcp"
                                  << "sanyo-mm-7400"
                                  << "qcp" << L{"long"} << L{"qcp-codec"} << true;
        QTest::newRow("EVRC QCP") << "evrc.qcp"
                                  << "default"
                                  << "qcp" << L{"qcp-codec"} << L{"broken"} << true;
        QTest::newRow("MP3 on a QCELP phone")
            << "song.mp3"
            << "default"
            << "mp3" << L{"format-not-taken"} << L{"broken"} << false;
        QTest::newRow("MP3 on an MP3 phone") << "song.mp3"
                                             << "samsung-sph-a900"
                                             << "mp3" << L{} << L{"format-not-taken"} << true;
        QTest::newRow("AAC on an AAC phone")
            << "song.m4a"
            << "sanyo-mm-7400"
            << "aac" << L{} << L{"format-not-taken", "broken"} << true;
        QTest::newRow("MIDI format 0") << "tune0.mid"
                                       << "default"
                                       << "midi" << L{} << L{"broken"} << true;
        QTest::newRow("MIDI format 1") << "tune1.mid"
                                       << "default"
                                       << "midi" << L{} << L{"broken"} << true;
        QTest::newRow("MIDI format 2") << "tune2.mid"
                                       << "default"
                                       << "midi" << L{"midi-format"} << L{"broken"} << false;
        QTest::newRow("MIDI track lying about its length") << "liar.mid"
                                                           << "default"
                                                           << "midi" << L{"broken"} << L{} << false;
        QTest::newRow("MIDI track without End of Track") << "endless.mid"
                                                         << "default"
                                                         << "midi" << L{"broken"} << L{} << false;
        // Pages.
        QTest::newRow("WML deck") << "page.wml"
                                  << "default"
                                  << "html" << L{} << L{"markup"} << true;
        QTest::newRow("XHTML page on a WML phone") << "page.xhtml"
                                                   << "default"
                                                   << "html" << L{"markup"} << L{} << false;
        QTest::newRow("XHTML page on an XHTML phone") << "page.xhtml"
                                                      << "sanyo-scp-5300"
                                                      << "html" << L{} << L{"markup"} << true;
    }

    void verdicts() {
        QFETCH(QString, file);
        QFETCH(QString, phoneId);
        QFETCH(QString, format);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        QFETCH(bool, works);
        const PhoneProfile p = phone(phoneId);
        const Inspection r = inspectFile(path(file), p);
        const QString found = codes(r).join(',');
        QCOMPARE(r.format, format);
        QCOMPARE(r.size, QFileInfo(path(file)).size());
        for (const QString& c : present)
            QVERIFY2(codes(r).contains(c), qPrintable(c + " not in " + found));
        for (const QString& c : absent)
            QVERIFY2(!codes(r).contains(c), qPrintable(c + " in " + found));
        QVERIFY2(r.works() == works, qPrintable(found));
        // Every fix of a picture names the fit command for this phone and file, every
        // fix of a sound the converter, as a user can type them.
        for (const Finding& f : r.findings) {
            QVERIFY(!f.what.isEmpty());
            if (f.code == "colour-depth" || f.code == "midi-format" || f.code == "markup" ||
                f.code == "midi-timing")
                continue;
            if (r.kind == "picture")
                QVERIFY2(f.fix.endsWith("tessavane-cli fit --phone " + phoneId + " " + path(file)),
                         qPrintable(f.fix));
            else if (r.kind == "sound" && r.format != "midi")
                QVERIFY2(f.fix.endsWith("tessavane-cli convert " + path(file)), qPrintable(f.fix));
        }
    }

    void factsOfEachFormat() {
        const PhoneProfile d = phone("default");
        Inspection r = inspectFile(path("huge.png"), d);
        QCOMPARE(r.pixels, QSize(3000, 2000));
        QCOMPARE(r.kind, QString("picture"));
        r = inspectFile(path("deep.png"), d);
        QCOMPARE(r.bitDepth, 16);
        QCOMPARE(r.colour, QString("rgb"));
        r = inspectFile(path("adam7.png"), d);
        QVERIFY(r.interlaced);
        QCOMPARE(r.bitDepth, 8);
        r = inspectFile(path("turned.jpg"), d);
        QCOMPARE(r.orientation, 6);
        QCOMPARE(r.pixels, QSize(100, 120));
        QCOMPARE(inspectFile(path("upright.jpg"), d).orientation, 1);
        QVERIFY(inspectFile(path("cmyk.jpg"), d).colour == "cmyk" ||
                inspectFile(path("cmyk.jpg"), d).colour == "ycck");
        QCOMPARE(inspectFile(path("anim.gif"), d).frames, 3);
        QCOMPARE(inspectFile(path("anim.png"), d).frames, 5);
        QCOMPARE(inspectFile(path("mono.wbmp"), d).pixels, QSize(120, 128));
        QCOMPARE(inspectFile(path("windows.bmp"), d).pixels, QSize(100, 80));
        r = inspectFile(path("cd.wav"), d);
        QCOMPARE(r.sampleRate, 44100);
        QCOMPARE(r.channels, 2);
        QCOMPARE(r.seconds, 1.0);
        r = inspectFile(path("voice.qcp"), d);
        QCOMPARE(r.codec, QString("qcelp13k"));
        QCOMPARE(r.sampleRate, 8000);
        QVERIFY2(qAbs(r.seconds - 3.0) < 0.05, qPrintable(QString::number(r.seconds)));
        // ffmpeg, decoding the same file, hears the same length.
        QProcess probe;
        probe.start("/usr/bin/ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of",
                                         "csv=p=0", path("voice.qcp")});
        QVERIFY(probe.waitForFinished(30000));
        QVERIFY(qAbs(probe.readAllStandardOutput().trimmed().toDouble() - r.seconds) < 0.05);
        QCOMPARE(inspectFile(path("evrc.qcp"), d).codec, QString("evrc"));
        r = inspectFile(path("tune1.mid"), d);
        QCOMPARE(r.midiFormat, 1);
        QCOMPARE(r.midiTracks, 3);
        r = inspectFile(path("song.mp3"), d);
        QCOMPARE(r.sampleRate, 44100);
        QVERIFY2(qAbs(r.seconds - 2.0) < 0.2, qPrintable(QString::number(r.seconds)));
        r = inspectFile(path("song.m4a"), d);
        QVERIFY2(qAbs(r.seconds - 2.0) < 0.1, qPrintable(QString::number(r.seconds)));
        QCOMPARE(inspectFile(path("page.wml"), d).codec, QString("wml"));
        QCOMPARE(inspectFile(path("page.xhtml"), d).codec, QString("xhtml"));
    }

    void contentTypeAgainstBytes() {
        const PhoneProfile p = phone("sanyo-scp-4900");
        // A Windows BMP typed as WBMP by its extension, as the descriptor maker does.
        Inspection r = inspectFile(path("windows.bmp"), p, "image/vnd.wap.wbmp");
        QVERIFY(codes(r).contains("type-mismatch"));
        QVERIFY(codes(r).contains("not-a-phone-picture"));
        r = inspectFile(path("upright.jpg"), p, "image/jpeg");
        QVERIFY(!codes(r).contains("type-mismatch"));
        r = inspectFile(path("upright.jpg"), p, "image/png");
        QVERIFY(codes(r).contains("type-mismatch"));
        QVERIFY(!r.works());
        QVERIFY(
            !codes(inspectFile(path("voice.qcp"), p, "audio/vnd.qcelp")).contains("type-mismatch"));
        QVERIFY(!codes(inspectFile(path("voice.qcp"), p, "audio/qcelp; x=1"))
                     .contains("type-mismatch"));
        QVERIFY(codes(inspectFile(path("renamed.qcp"), p, "audio/vnd.qcelp"))
                    .contains("type-mismatch"));
        // The bytes alone decide: a PNG named .jpg is a PNG.
        QVERIFY(QFile::copy(path("good.png"), path("named wrong.jpg")));
        r = inspectFile(path("named wrong.jpg"), phone("default"));
        QCOMPARE(r.format, QString("png"));
        QVERIFY(codes(r).contains("extension-mismatch"));
        // A name with a space is quoted in the command.
        QVERIFY(r.findings.first().fix.contains("'" + path("named wrong.jpg") + "'"));
    }

    void bytesInHandAreJudgedLikeTheFile() {
        // As check has them: the start of a download and the size the server gave.
        const QByteArray bytes = slurp(path("huge.png"));
        const Inspection whole = inspectFile(path("huge.png"), phone("default"));
        const Inspection head =
            inspectBytes(bytes.left(4096), bytes.size(), "huge.png", phone("default"), "image/png");
        QCOMPARE(codes(head), codes(whole));
        QCOMPARE(head.size, whole.size);
    }

    void neitherFifoNorHugeFileIsRead() {
        const QString fifo = path("pipe.qcp");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        Inspection r = inspectFile(fifo, phone("default")); // no writer: would block if opened so
        QVERIFY(!r.works());
        QVERIFY(r.error.contains("not a regular file"));
        r = inspectFile(dir_.path(), phone("default"));
        QVERIFY(r.error.contains("folder"));
        // 5 GB, sparse, beginning with a real PNG's headers: only the head is read.
        const QString sparse = path("sparse.png");
        QVERIFY(QFile::copy(path("good.png"), sparse));
        {
            QFile f(sparse);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.resize(5LL << 30));
        }
        r = inspectFile(sparse, phone("default"));
        QCOMPARE(r.format, QString("png"));
        QCOMPARE(r.size, 5LL << 30);
        QVERIFY(codes(r).contains("too-large"));
        QFile::remove(sparse);
    }

    // Every file above cut short at each length, and with its length fields made to lie:
    // never a crash, never a read past the bytes given; a file cut inside its headers
    // never passes.
    void brokenHeaders() {
        const QStringList files{"good.png",    "adam7.png",       "anim.png", "upright.jpg",
                                "turned.jpg",  "progressive.jpg", "anim.gif", "mono.wbmp",
                                "windows.bmp", "voice.qcp",       "cd.wav",   "song.mp3",
                                "song.m4a",    "tune1.mid",       "page.wml"};
        QRandomGenerator random(19);
        int cases = 0;
        for (const QString& name : files) {
            const QByteArray whole = slurp(path(name)).left(4096);
            const std::string ext = QFileInfo(name).suffix().toStdString();
            for (int n = 0; n <= whole.size(); ++n) {
                // As the whole file, and as the head of a longer one.
                const QByteArray cut = whole.left(n);
                const tess::sniff::Facts f = sniffExact(cut, quint64(n), ext);
                sniffExact(cut, quint64(n) + 100000, ext);
                ++cases;
                if (name == "tune1.mid" && n >= 4 && n < whole.size())
                    QVERIFY2(!f.fault.empty(), qPrintable(name + " cut at " + QString::number(n)));
                if (name == "voice.qcp" && n > 0 && n < 200)
                    QVERIFY2(!f.fault.empty() || f.format != "qcp",
                             qPrintable(name + " cut at " + QString::number(n)));
            }
            for (int at = 0; at + 4 <= qMin(int(whole.size()), 512); ++at) {
                for (const quint32 lie : {0xFFFFFFFFu, 0x7FFFFFFFu, 0u, 1u}) {
                    QByteArray bad = whole;
                    bad.replace(at, 4, be32(lie));
                    sniffExact(bad, quint64(bad.size()), ext);
                    ++cases;
                }
                QByteArray flipped = whole;
                flipped[at] = char(random.bounded(256));
                const Inspection r = inspectBytes(flipped, flipped.size(), name, phone("default"));
                QVERIFY(!r.format.isEmpty());
                ++cases;
            }
        }
        // Chunks nested or pointing past their parent.
        QByteArray riff = "RIFF" + QByteArray("\x40\x00\x00\x00", 4) + "QLCM" + "LIST" +
                          QByteArray("\xF0\x00\x00\x00", 4) + QByteArray(56, 'x');
        QVERIFY(!sniffExact(riff, quint64(riff.size()), "qcp").fault.empty());
        QByteArray track = midi(0, 1);
        track.replace(18, 4, be32(0x10000000));
        QVERIFY(!sniffExact(track, quint64(track.size()), "mid").fault.empty());
        qInfo("%d broken headers read", cases);
    }
};

QTEST_GUILESS_MAIN(TestInspect)
#include "tst_inspect.moc"
