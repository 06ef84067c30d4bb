// Sounds of every kind made in the test (espeak-ng speech, sox music, encoded by
// ffmpeg) become ringtones through the real pvconv; ffmpeg decodes each result.
#include "engine/AudioPaths.h"
#include "media/Inspect.h"
#include "media/Sound.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace tess;
using namespace tess::media;

namespace {

struct Tool {
    int status = -1;
    QByteArray out, err;
};

Tool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    Tool t;
    if (!p.waitForFinished(60000))
        return t;
    t.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    t.out = p.readAllStandardOutput();
    t.err = p.readAllStandardError();
    return t;
}

// A QCP file as ffmpeg decodes it: its samples and whatever it complained of. ffmpeg
// notes a missing bitrate byte for every QCP file; that line is no complaint.
struct Heard {
    std::vector<int16_t> samples;
    QStringList complaints;
};

Heard hear(const QString& qcp) {
    const Tool t = run(QStringLiteral("ffmpeg"),
                       {"-v", "warning", "-i", qcp, "-f", "s16le", "-ac", "1", "-ar", "8000", "-"});
    Heard h;
    if (t.status != 0)
        h.complaints << QStringLiteral("exit %1").arg(t.status);
    for (const QString& line : QString::fromLocal8Bit(t.err).split('\n', Qt::SkipEmptyParts))
        if (!line.contains("bitrate") && !line.contains("Last message repeated"))
            h.complaints << line;
    h.samples.resize(static_cast<size_t>(t.out.size()) / 2);
    memcpy(h.samples.data(), t.out.constData(), h.samples.size() * 2);
    return h;
}

double rmsDb(const std::vector<int16_t>& s, double from, double to) {
    const size_t a = static_cast<size_t>(from * 8000), b = std::min(s.size(), size_t(to * 8000));
    double e = 0;
    for (size_t i = a; i < b; ++i)
        e += (s[i] / 32768.0) * (s[i] / 32768.0);
    return 10 * std::log10(e / std::max<double>(1, b - a) + 1e-12);
}

// Integrated loudness and true peak by ffmpeg's own EBU R128 filter.
std::pair<double, double> loudness(const QString& qcp) {
    const Tool t = run(QStringLiteral("ffmpeg"),
                       {"-nostats", "-i", qcp, "-af", "ebur128=peak=true", "-f", "null", "-"});
    const QString log = QString::fromLocal8Bit(t.err);
    const auto i = QRegularExpression(R"(I:\s+(-?[\d.]+) LUFS)").globalMatch(log);
    const auto p = QRegularExpression(R"(Peak:\s+(-?[\d.]+|-inf) dBFS)").globalMatch(log);
    double lufs = NAN, peak = NAN;
    for (auto m = i; m.hasNext();)
        lufs = m.next().captured(1).toDouble();
    for (auto m = p; m.hasNext();)
        peak = m.next().captured(1).toDouble();
    return {lufs, peak};
}

} // namespace

class TestSound : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void everyKindBecomesARingtone_data();
    void everyKindBecomesARingtone();
    void cutWithAFadeOnlyWhenCut();
    void levelKeptWithoutNormalizing();
    void startsWhereAsked();
    void badInputsLeaveNothing_data();
    void badInputsLeaveNothing();
    void ringerLimit();
    void cancelLeavesNothing();

private:
    QString make(const QString& name, const QStringList& ffmpegArgs, const QString& from);
    QString pvconv() const { return QStringLiteral(PVCONV_BINARY); }
    QStringList leftInTemp() const {
        return QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    }
    QTemporaryDir dir;
    QString temp, speech, music;
};

void TestSound::initTestCase() {
    QVERIFY(dir.isValid());
    temp = dir.filePath("tmp");
    AudioPaths::setTempFolderForTesting(temp);
    speech = dir.filePath("speech.wav");
    QCOMPARE(run("espeak-ng", {"-w", speech,
                               "Hello. Your ringtone is ready. Answer the phone, "
                               "it may be someone you know."})
                 .status,
             0);
    // 12 s of stereo music: a held chord with a beat, different in each channel.
    music = dir.filePath("music.wav");
    QCOMPARE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", music, "synth", "12", "sine",
                         "220", "sine", "330", "tremolo", "3", "40", "vol", "0.5"})
                 .status,
             0);
}

void TestSound::cleanupTestCase() {
    AudioPaths::setTempFolderForTesting(QString());
}

QString TestSound::make(const QString& name, const QStringList& ffmpegArgs, const QString& from) {
    const QString path = dir.filePath(name);
    const Tool t = run("ffmpeg", QStringList{"-v", "error", "-y", "-i", from} + ffmpegArgs << path);
    return t.status == 0 ? path : QString();
}

void TestSound::everyKindBecomesARingtone_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("isSpeech");
    auto row = [](const char* name, const QStringList& args, bool isSpeech) {
        QTest::newRow(name) << QString::fromLatin1(name) << args << isSpeech;
    };
    row("speech.mp3", {"-ar", "44100", "-ac", "2", "-b:a", "128k"}, true);
    row("speech.m4a", {"-c:a", "aac", "-b:a", "96k"}, true);
    row("music.mp3", {"-b:a", "192k"}, false);
    row("music.m4a", {"-c:a", "aac"}, false);
    row("music.ogg", {"-c:a", "libvorbis"}, false);
    row("music.opus", {"-c:a", "libopus"}, false);
    row("music.flac", {}, false);
    row("music.aiff", {}, false);
    row("music-s24-48k.wav", {"-c:a", "pcm_s24le", "-ar", "48000"}, false);
    row("music-s32-96k.wav", {"-c:a", "pcm_s32le", "-ar", "96000"}, false);
    row("music-f32.wav", {"-c:a", "pcm_f32le"}, false);
    row("music-f64-22k.wav", {"-c:a", "pcm_f64le", "-ar", "22050"}, false);
    row("music-u8-11k-mono.wav", {"-c:a", "pcm_u8", "-ar", "11025", "-ac", "1"}, false);
    row("music-8k-mono.wav", {"-c:a", "pcm_s16le", "-ar", "8000", "-ac", "1"}, false);
    row("music-5.1-extensible.wav",
        {"-c:a", "pcm_s16le", "-af", "pan=5.1|c0=c0|c1=c1|c2=c0|c3=c1|c4=c0|c5=c1"}, false);
}

void TestSound::everyKindBecomesARingtone() {
    QFETCH(QString, name);
    QFETCH(QStringList, args);
    QFETCH(bool, isSpeech);
    const QString from = isSpeech ? speech : music;
    const QString source = make(name, args, from);
    QVERIFY2(!source.isEmpty(), qPrintable(name));
    QVERIFY(looksLikeSound(source));
    const QString qcp = dir.filePath(name + ".qcp");
    const SoundResult r = makeRingtone(source, qcp, SoundOptions{}, pvconv());
    QVERIFY2(r.ok, qPrintable(r.reason));
    QCOMPARE(r.bytes, QFileInfo(qcp).size());
    // The inspection takes it for what a Sprint phone plays.
    PhoneProfile phone;
    phone.id = "test";
    phone.soundFormats = {"qcp"};
    phone.maxRingerBytes = 64 * 1024;
    const Inspection seen = inspectFile(qcp, phone);
    QCOMPARE(seen.format, QStringLiteral("qcp"));
    QCOMPARE(seen.codec, QStringLiteral("qcelp13k"));
    QVERIFY2(seen.works(), qPrintable(seen.summary()));

    const Heard h = hear(qcp);
    QVERIFY2(h.complaints.isEmpty(), qPrintable(h.complaints.join('\n')));
    // As long as the source (within an encoder's priming and a 20 ms frame).
    const Tool probe =
        run("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", from});
    const double seconds = probe.out.trimmed().toDouble();
    QVERIFY2(
        std::abs(h.samples.size() / 8000.0 - seconds) < 0.07,
        qPrintable(QStringLiteral("%1 s of %2 s").arg(h.samples.size() / 8000.0).arg(seconds)));
    QVERIFY(std::abs(r.seconds - seconds) < 0.07);
    // At the target loudness, unless the true-peak ceiling held the gain back.
    const auto [lufs, peak] = loudness(qcp);
    QVERIFY2(std::abs(lufs + 16) < 1.5 || peak > -3.5,
             qPrintable(QStringLiteral("%1 LUFS, peak %2 dBFS").arg(lufs).arg(peak)));
    // The ceiling holds what goes into the encoder; its own output may overshoot a little.
    QVERIFY2(peak < 1.5, qPrintable(QString::number(peak)));
    QCOMPARE(leftInTemp(), QStringList());
}

void TestSound::cutWithAFadeOnlyWhenCut() {
    const QString whole = dir.filePath("whole.qcp"), cut = dir.filePath("cut.qcp");
    SoundOptions o;
    o.maxSeconds = 0;
    QVERIFY(makeRingtone(music, whole, o, pvconv()).ok);
    o.maxSeconds = 6;
    const SoundResult r = makeRingtone(music, cut, o, pvconv());
    QVERIFY(r.ok);
    QCOMPARE(r.seconds, 6.0);
    const Heard w = hear(whole), c = hear(cut);
    QCOMPARE(c.samples.size(), size_t(6 * 8000));
    // The cut one fades to silence over its last half second; the whole one plays on.
    QVERIFY2(rmsDb(c.samples, 5.9, 6.0) < rmsDb(c.samples, 5.0, 5.4) - 20,
             qPrintable(QStringLiteral("%1 vs %2")
                            .arg(rmsDb(c.samples, 5.9, 6.0))
                            .arg(rmsDb(c.samples, 5.0, 5.4))));
    QVERIFY(rmsDb(c.samples, 5.6, 5.8) < rmsDb(c.samples, 5.0, 5.4) - 1);
    QVERIFY(std::abs(rmsDb(w.samples, 5.9, 6.0) - rmsDb(w.samples, 5.0, 5.4)) < 6);
    QVERIFY(std::abs(rmsDb(c.samples, 2, 4) - rmsDb(w.samples, 2, 4)) < 1);
}

void TestSound::levelKeptWithoutNormalizing() {
    const QString tone = dir.filePath("tone.wav");
    QCOMPARE(run("sox",
                 {"-n", "-r", "44100", "-c", "2", tone, "synth", "2", "sine", "800", "vol", "0.25"})
                 .status,
             0);
    SoundOptions o;
    o.normalize = false;
    const QString kept = dir.filePath("kept.qcp"), loud = dir.filePath("loud.qcp");
    QVERIFY(makeRingtone(tone, kept, o, pvconv()).ok);
    QVERIFY(makeRingtone(tone, loud, SoundOptions{}, pvconv()).ok);
    // A sine at a quarter of full scale: -15 dB RMS. Normalised, -16 LUFS is louder.
    const double keptDb = rmsDb(hear(kept).samples, 0.5, 1.5);
    QVERIFY2(std::abs(keptDb + 15.05) < 1.5, qPrintable(QString::number(keptDb)));
    QVERIFY2(std::abs(loudness(loud).first + 16) < 1.0,
             qPrintable(QString::number(loudness(loud).first)));
}

void TestSound::startsWhereAsked() {
    // One second of silence, then a tone: starting at 1 s the tone is there at once.
    const QString late = dir.filePath("late.wav");
    QCOMPARE(run("sox", {"-n", "-r", "48000", late, "synth", "3", "sine", "600", "vol", "0.5",
                         "pad", "1", "0"})
                 .status,
             0);
    SoundOptions o;
    o.startSeconds = 1;
    const QString qcp = dir.filePath("late.qcp");
    const SoundResult r = makeRingtone(late, qcp, o, pvconv());
    QVERIFY(r.ok);
    QVERIFY(std::abs(r.seconds - 3) < 0.01);
    const Heard h = hear(qcp);
    QVERIFY(rmsDb(h.samples, 0.05, 0.3) > -25);
    // Starting beyond its end is an error that says so.
    o.startSeconds = 10;
    const SoundResult past = makeRingtone(late, dir.filePath("past.qcp"), o, pvconv());
    QVERIFY(!past.ok);
    QVERIFY2(past.reason.contains("shorter than the start"), qPrintable(past.reason));
    QVERIFY(!QFileInfo::exists(dir.filePath("past.qcp")));
}

void TestSound::badInputsLeaveNothing_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("0 bytes") << "empty"
                             << "empty file (0 bytes)";
    QTest::newRow("text") << "text"
                          << "not a sound file";
    QTest::newRow("picture") << "picture"
                             << "no audio in it";
    QTest::newRow("truncated MP3") << "truncated"
                                   << "cut short";
    QTest::newRow("MP3 header only") << "header"
                                     << "not a sound file";
    QTest::newRow("missing") << "missing"
                             << "no such file";
}

void TestSound::badInputsLeaveNothing() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString source = dir.filePath("bad-" + kind);
    QFile f(source);
    if (kind == "text") {
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("these are my notes, not a recording\n");
    } else if (kind == "empty") {
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (kind == "picture") {
        QCOMPARE(run("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "color=red:size=32x32",
                                "-frames:v", "1", "-f", "image2", "-c:v", "png", source})
                     .status,
                 0);
    } else if (kind == "truncated" || kind == "header") {
        const QString mp3 = make("whole-for-cut.mp3", {"-b:a", "128k"}, music);
        QFile whole(mp3);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray b = whole.readAll();
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(b.left(kind == "header" ? 600 : b.size() / 2));
    }
    f.close();
    // A file of the target's name stays as it was.
    const QString target = dir.filePath("bad.qcp");
    QFile old(target);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an earlier ringtone");
    old.close();
    QVERIFY(kind == "truncated" || kind == "header" || !looksLikeSound(source));
    const SoundResult r = makeRingtone(source, target, SoundOptions{}, pvconv());
    QVERIFY(!r.ok);
    QCOMPARE(r.stage, SoundStage::Input);
    QVERIFY2(r.reason.startsWith(reason), qPrintable(r.reason));
    QVERIFY(!r.reason.contains('\n'));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("an earlier ringtone"));
    QCOMPARE(QDir(dir.path()).entryList({"bad.qcp*"}), QStringList{"bad.qcp"});
    QCOMPARE(leftInTemp(), QStringList());
}

void TestSound::ringerLimit() {
    PhoneProfile p;
    p.id = "small";
    p.model = "Small";
    p.maxRingerBytes = 10000;
    QVERIFY(ringerSizeProblem(9999, 20, p).isEmpty());
    const QString over = ringerSizeProblem(20000, 20, p);
    QVERIFY2(over.contains("10000 bytes over the 10000-byte ringer limit of Small"),
             qPrintable(over));
    QVERIFY2(over.endsWith("--max-seconds 9"), qPrintable(over));
    // A real one: 30 s of music against a 64 KB limit fits; against 8 KB it does not.
    const QString qcp = dir.filePath("limit.qcp");
    const SoundResult r = makeRingtone(music, qcp, SoundOptions{}, pvconv());
    QVERIFY(r.ok);
    p.maxRingerBytes = 64 * 1024;
    QVERIFY(ringerSizeProblem(r.bytes, r.seconds, p).isEmpty());
    p.maxRingerBytes = r.bytes / 2;
    QVERIFY(!ringerSizeProblem(r.bytes, r.seconds, p).isEmpty());
}

void TestSound::cancelLeavesNothing() {
    // Cancelled before it starts, with and without the measuring pass: nothing written,
    // no converter left running, the run folder gone.
    const std::atomic_bool cancel{true};
    for (bool normalize : {true, false}) {
        SoundOptions o;
        o.normalize = normalize;
        const QString target = dir.filePath("cancelled.qcp");
        const SoundResult r = makeRingtone(music, target, o, pvconv(), &cancel);
        QVERIFY(!r.ok);
        QCOMPARE(r.stage, SoundStage::Cancelled);
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(leftInTemp(), QStringList());
    }
}

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
