// The pvconv program end to end: its command line, its output beside the
// input, ffmpeg decoding of what it writes, and its failures.
#include "quality.h"
#include "testutil.h"
#include "wav_reader.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testutil;

namespace {

const QString kPvconv = QStringLiteral(PVCONV_BINARY);

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

QStringList nonEmptyLines(const QByteArray& text) {
    return QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Makes the named clip with espeak-ng or sox; returns false if the tool failed.
bool makeClip(const QString& kind, const QString& path, const QString& scratch) {
    const QString raw = scratch + QStringLiteral("/speech22k.wav");
    if (kind == QLatin1String("pauses")) {
        // Phrases with pauses over a quiet room noise (about -60 dBFS).
        const QString room = scratch + QStringLiteral("/room.wav");
        const QString talk = scratch + QStringLiteral("/talk.wav");
        const Run s = run(QStringLiteral("espeak-ng"),
                          {QStringLiteral("-g"), QStringLiteral("12"), QStringLiteral("-w"), raw,
                           QStringLiteral("Well, let me think. The train leaves at ten. "
                                          "We shall see, shall we not?")});
        const Run a = run(QStringLiteral("sox"),
                          {raw, QStringLiteral("-r"), QStringLiteral("8000"), QStringLiteral("-c"),
                           QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), talk});
        const Run b =
            run(QStringLiteral("sox"),
                {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("8000"),
                 QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-b"),
                 QStringLiteral("16"), room, QStringLiteral("synth"), QStringLiteral("6"),
                 QStringLiteral("pinknoise"), QStringLiteral("vol"), QStringLiteral("0.002")});
        const Run m = run(QStringLiteral("sox"),
                          {QStringLiteral("-m"), talk, room, path, QStringLiteral("trim"),
                           QStringLiteral("0"), QStringLiteral("6")});
        return s.exitCode == 0 && a.exitCode == 0 && b.exitCode == 0 && m.exitCode == 0;
    }
    if (kind.startsWith(QLatin1String("speech"))) {
        const Run s = run(QStringLiteral("espeak-ng"),
                          {QStringLiteral("-w"), raw,
                           QStringLiteral("Speech coding keeps a voice clear in a few "
                                          "kilobits. The birch canoe slid on the planks.")});
        if (!s.started || s.exitCode != 0)
            return false;
        QStringList args = {raw, QStringLiteral("-r"), QStringLiteral("8000"), QStringLiteral("-c"),
                            QStringLiteral("1")};
        if (kind == QLatin1String("speech8"))
            args << QStringLiteral("-b") << QStringLiteral("8") << QStringLiteral("-e")
                 << QStringLiteral("unsigned-integer");
        else
            args << QStringLiteral("-b") << QStringLiteral("16");
        args << path;
        const Run r = run(QStringLiteral("sox"), args);
        QFile::remove(raw);
        return r.started && r.exitCode == 0;
    }
    QStringList synth = {
        QStringLiteral("-n"),    QStringLiteral("-r"), QStringLiteral("8000"), QStringLiteral("-c"),
        QStringLiteral("1"),     QStringLiteral("-b"), QStringLiteral("16"),   path,
        QStringLiteral("synth"), QStringLiteral("2")};
    if (kind == QLatin1String("tone"))
        synth << QStringLiteral("sine") << QStringLiteral("440");
    else
        synth << QStringLiteral("sine") << QStringLiteral("261.63") << QStringLiteral("sine")
              << QStringLiteral("329.63") << QStringLiteral("sine") << QStringLiteral("392")
              << QStringLiteral("remix") << QStringLiteral("-");
    synth << QStringLiteral("vol") << QStringLiteral("0.5");
    const Run r = run(QStringLiteral("sox"), synth);
    return r.started && r.exitCode == 0;
}

std::vector<int16_t> samplesOfWav(const QString& path) {
    const QByteArray b = readFile(path);
    const pvconv::WavAudio w =
        pvconv::parseWav(reinterpret_cast<const uint8_t*>(b.constData()), size_t(b.size()));
    return w.samples;
}

// Starts pvconv with args (stdout and stderr to /dev/null); returns its pid.
pid_t spawn(const QStringList& args) {
    std::vector<QByteArray> store;
    store.push_back(kPvconv.toLocal8Bit());
    for (const QString& a : args)
        store.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : store)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // QUIT and XFSZ would dump a core of the whole recording otherwise.
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// A WAV header claiming `seconds` of 16-bit samples.
QByteArray wavHeader(double seconds) {
    const auto bytes = static_cast<uint32_t>(seconds * 8000) * 2;
    return QByteArray("RIFF", 4) + le32(36 + bytes) + QByteArray("WAVE", 4) +
           chunk("fmt ", fmtBody(1, 1, 8000, 16)) + QByteArray("data", 4) + le32(bytes);
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void helpAndVersion();
    void usageErrors_data();
    void usageErrors();
    void convertsRecordings_data();
    void convertsRecordings();
    void convertsWavOfEveryKind_data();
    void convertsWavOfEveryKind();
    void outputNameFollowsInput_data();
    void outputNameFollowsInput();
    void replacesAnOldOutput();
    void rejectsBadInputs_data();
    void rejectsBadInputs();
    void failedWriteLeavesNoFile();
    void fullRateKeepsThePinnedOutput();
    void dcOffsetIsRemoved();
    void refusesANonWavAfterAShortPrefix();
    void temporaryFileNeverFollowsALink();
    void signalLeavesNoPartFile_data();
    void signalLeavesNoPartFile();
    void longInputKeepsMemoryBounded();
    void failedSummaryPutsNothingInPlace();
    void streamNeedsAnOutputName();
};

void TestCli::helpAndVersion() {
    const Run v = run(kPvconv, {QStringLiteral("--version")});
    QCOMPARE(v.exitCode, 0);
    QCOMPARE(v.out, QByteArray("pvconv 1.1.0\n"));
    for (const QString& opt : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        const Run h = run(kPvconv, {opt});
        QCOMPARE(h.exitCode, 0);
        QVERIFY(h.out.startsWith("Usage: pvconv INPUT.wav"));
        QVERIFY(h.err.isEmpty());
    }
}

void TestCli::usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no argument") << QStringList{};
    QTest::newRow("two files") << QStringList{QStringLiteral("a.wav"), QStringLiteral("b.wav")};
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--fast"), QStringLiteral("a.wav")};
}

void TestCli::usageErrors() {
    QFETCH(QStringList, args);
    const Run r = run(kPvconv, args);
    QVERIFY(r.started);
    QVERIFY(r.exitCode != 0);
    QCOMPARE(nonEmptyLines(r.err).size(), 1);
    QVERIFY(r.out.isEmpty());
}

void TestCli::convertsRecordings_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("minSegSnr");
    QTest::addColumn<double>("maxLsd");
    // Floors well below what the encoder reaches (see docs/pvconv.md), high
    // enough that a broken search, table or packing falls through. Without
    // options pvconv codes at variable rate; ffmpeg must take every packet
    // of every rate without a warning.
    const QStringList none, full = {QStringLiteral("--full-rate")};
    QTest::newRow("espeak-ng speech, 16-bit") << QStringLiteral("speech16") << none << 4.0 << 11.0;
    QTest::newRow("espeak-ng speech, 8-bit") << QStringLiteral("speech8") << none << 4.0 << 11.0;
    QTest::newRow("speech with pauses over room noise")
        << QStringLiteral("pauses") << none << 4.0 << 11.0;
    QTest::newRow("sox tone") << QStringLiteral("tone") << none << 15.0 << 30.0;
    QTest::newRow("sox chord") << QStringLiteral("chord") << none << 8.0 << 30.0;
    QTest::newRow("espeak-ng speech, full rate")
        << QStringLiteral("speech16") << full << 4.0 << 11.0;
    QTest::newRow("speech with pauses, full rate")
        << QStringLiteral("pauses") << full << 4.0 << 11.0;
}

void TestCli::convertsRecordings() {
    QFETCH(QString, kind);
    QFETCH(QStringList, options);
    QFETCH(double, minSegSnr);
    QFETCH(double, maxLsd);
    QTemporaryDir dir, scratch;
    const QString wav = dir.filePath(QStringLiteral("temp.wav"));
    QVERIFY2(makeClip(kind, wav, scratch.path()), "espeak-ng or sox failed");
    const std::vector<int16_t> input = samplesOfWav(wav);
    QVERIFY(!input.empty());

    const Run r = run(kPvconv, options + QStringList{wav});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QVERIFY(r.err.isEmpty());
    QCOMPARE(nonEmptyLines(r.out).size(), 1);
    const QByteArray start = QByteArray("pvconv: ").append(wav.toLocal8Bit()).append(" -> ");
    QVERIFY(r.out.startsWith(start));
    qInfo("%s", r.out.trimmed().constData());
    if (kind == QLatin1String("pauses") && options.isEmpty()) // the pauses are noise
        QVERIFY2(!r.out.contains(" 0 eighth rate"), r.out.constData());
    QCOMPARE(entries(dir.path()),
             (QStringList{QStringLiteral("temp.qcp"), QStringLiteral("temp.wav")}));

    const Decoded d = ffmpegDecode(dir.filePath(QStringLiteral("temp.qcp")));
    QVERIFY2(d.ok, qPrintable(d.log));
    QVERIFY2(d.badLines.isEmpty(), qPrintable(d.badLines.join(QLatin1Char('\n'))));
    QCOMPARE(d.samples.size(), (input.size() + 159) / 160 * 160);
    const pvconv::Quality q = pvconv::measureQuality(input, d.samples);
    qInfo("segSNR %.2f dB, LSD %.2f dB over %d frames", q.segSnrDb, q.lsdDb, q.frames);
    QVERIFY2(q.segSnrDb >= minSegSnr, qPrintable(QString::number(q.segSnrDb)));
    QVERIFY2(q.lsdDb <= maxLsd, qPrintable(QString::number(q.lsdDb)));
}

void TestCli::convertsWavOfEveryKind_data() {
    QTest::addColumn<QString>("format"); // sox output options
    QTest::newRow("44.1 kHz stereo 16-bit") << QStringLiteral("-r 44100 -c 2 -b 16");
    QTest::newRow("48 kHz mono 24-bit") << QStringLiteral("-r 48000 -c 1 -b 24");
    QTest::newRow("96 kHz stereo 32-bit") << QStringLiteral("-r 96000 -c 2 -b 32");
    QTest::newRow("22.05 kHz float") << QStringLiteral("-r 22050 -c 1 -e floating-point -b 32");
    QTest::newRow("16 kHz 3 channels double")
        << QStringLiteral("-r 16000 -c 3 -e floating-point -b 64");
    QTest::newRow("11.025 kHz 8-bit") << QStringLiteral("-r 11025 -c 1 -b 8");
    QTest::newRow("8 kHz stereo 16-bit") << QStringLiteral("-r 8000 -c 2 -b 16");
    // sox writes WAVE_FORMAT_EXTENSIBLE for more than two channels or more than 16 bits.
    QTest::newRow("extensible 6 channels 24-bit") << QStringLiteral("-r 44100 -c 6 -b 24");
}

void TestCli::convertsWavOfEveryKind() {
    QFETCH(QString, format);
    QTemporaryDir dir;
    const QString speech = dir.filePath(QStringLiteral("speech.wav"));
    const QString wav = dir.filePath(QStringLiteral("in.wav"));
    const QString ref = dir.filePath(QStringLiteral("ref.wav"));
    QCOMPARE(run(QStringLiteral("espeak-ng"),
                 {QStringLiteral("-w"), speech,
                  QStringLiteral("The quick brown fox rings the old phone twice.")})
                 .exitCode,
             0);
    QCOMPARE(run(QStringLiteral("sox"),
                 QStringList{speech} + format.split(QLatin1Char(' ')) + QStringList{wav})
                 .exitCode,
             0);
    // What pvconv is measured against: the same file made 8 kHz mono by sox at its
    // very high quality.
    QCOMPARE(run(QStringLiteral("sox"),
                 {wav, QStringLiteral("-r"), QStringLiteral("8000"), QStringLiteral("-c"),
                  QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), ref,
                  QStringLiteral("rate"), QStringLiteral("-v")})
                 .exitCode,
             0);
    const std::vector<int16_t> input = samplesOfWav(ref);
    QVERIFY(!input.empty());
    const Run r = run(kPvconv, {wav});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    const Decoded d = ffmpegDecode(dir.filePath(QStringLiteral("in.qcp")));
    QVERIFY2(d.ok && d.badLines.isEmpty(), qPrintable(d.log));
    QCOMPARE(d.samples.size(), (input.size() + 159) / 160 * 160);
    const pvconv::Quality q = pvconv::measureQuality(input, d.samples);
    qInfo("segSNR %.2f dB, LSD %.2f dB", q.segSnrDb, q.lsdDb);
    QVERIFY2(q.segSnrDb >= 4.0, qPrintable(QString::number(q.segSnrDb)));
    QVERIFY2(q.lsdDb <= 11.0, qPrintable(QString::number(q.lsdDb)));
}

void TestCli::outputNameFollowsInput_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    QTest::newRow("wav") << QStringLiteral("temp.wav") << QStringLiteral("temp.qcp");
    QTest::newRow("upper case, space")
        << QStringLiteral("My Rec.WAV") << QStringLiteral("My Rec.qcp");
    QTest::newRow("no extension") << QStringLiteral("take1") << QStringLiteral("take1.qcp");
    QTest::newRow("dots") << QStringLiteral("a.b.wav") << QStringLiteral("a.b.qcp");
}

void TestCli::outputNameFollowsInput() {
    QFETCH(QString, input);
    QFETCH(QString, output);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(input), wav16(tones({500.0}, 8000.0, 800))));
    const Run r = run(kPvconv, {dir.filePath(input)});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QVERIFY(QFileInfo::exists(dir.filePath(output)));
    QCOMPARE(entries(dir.path()).size(), 2);
}

void TestCli::replacesAnOldOutput() {
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("x.wav")), wav16(tones({500.0}, 8000.0, 1600))));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("x.qcp")), QByteArray("stale")));
    QCOMPARE(run(kPvconv, {dir.filePath(QStringLiteral("x.wav"))}).exitCode, 0);
    const Decoded d = ffmpegDecode(dir.filePath(QStringLiteral("x.qcp")));
    QVERIFY2(d.ok && d.badLines.isEmpty(), qPrintable(d.log));
    QCOMPARE(d.samples.size(), size_t(1600));
}

void TestCli::rejectsBadInputs_data() {
    QTest::addColumn<QString>("make"); // sox arguments after the output, or a keyword
    QTest::addColumn<QString>("reason");
    QTest::newRow("mu-law") << QStringLiteral("-r 8000 -c 1 -e mu-law")
                            << QStringLiteral("not PCM");
    QTest::newRow("text") << QStringLiteral("text") << QStringLiteral("not a RIFF/WAVE");
    QTest::newRow("truncated header") << QStringLiteral("truncated") << QStringLiteral("truncated");
    QTest::newRow("missing file") << QStringLiteral("missing") << QStringLiteral("cannot open");
    QTest::newRow("directory") << QStringLiteral("directory") << QStringLiteral("directory");
}

void TestCli::rejectsBadInputs() {
    QFETCH(QString, make);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("bad.wav"));
    if (make == QLatin1String("text")) {
        QVERIFY(writeFile(wav, QByteArray("this is a note, not a recording\n")));
    } else if (make == QLatin1String("truncated")) {
        QVERIFY(writeFile(wav, wav16(tones({500.0}, 8000.0, 800)).left(30)));
    } else if (make == QLatin1String("directory")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("bad.wav")));
    } else if (make != QLatin1String("missing")) {
        QStringList args = {QStringLiteral("-n")};
        args << make.split(QLatin1Char(' ')) << wav << QStringLiteral("synth")
             << QStringLiteral("0.5") << QStringLiteral("sine") << QStringLiteral("440");
        const Run s = run(QStringLiteral("sox"), args);
        QVERIFY2(s.started && s.exitCode == 0, s.err.constData());
    }
    const QStringList before = entries(dir.path());

    const Run r = run(kPvconv, {wav});
    QVERIFY(r.started);
    QVERIFY(r.exitCode != 0);
    QVERIFY(r.out.isEmpty());
    const QStringList lines = nonEmptyLines(r.err);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains(reason), qPrintable(lines.first()));
    QCOMPARE(entries(dir.path()), before); // no output, no temporary file
}

void TestCli::failedWriteLeavesNoFile() {
    // The output name is taken by a directory: the rename at the end fails,
    // and the temporary file must be gone too.
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("x.wav")), wav16(tones({500.0}, 8000.0, 1600))));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("x.qcp")));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("x.qcp/keep")), QByteArray("k")));
    const Run r = run(kPvconv, {dir.filePath(QStringLiteral("x.wav"))});
    QVERIFY(r.exitCode != 0);
    QCOMPARE(nonEmptyLines(r.err).size(), 1);
    QCOMPARE(entries(dir.path()), (QStringList{QStringLiteral("x.qcp"), QStringLiteral("x.wav")}));
}

void TestCli::fullRateKeepsThePinnedOutput() {
    // The same checksum as the encoder's pin: --full-rate writes what pvconv
    // wrote before variable rate and DC removal existed.
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("pin.wav"));
    QVERIFY(writeFile(wav, wav16(pinnedSignal())));
    for (const QStringList& options :
         {QStringList{QStringLiteral("--full-rate")},
          QStringList{QStringLiteral("--full-rate"), QStringLiteral("--keep-dc")}}) {
        const Run r = run(kPvconv, options + QStringList{wav});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const QByteArray q = readFile(dir.filePath(QStringLiteral("pin.qcp")));
        QCOMPARE(q.size(), 3384);
        QCOMPARE(fnv1a(reinterpret_cast<const uint8_t*>(q.constData()), size_t(q.size())),
                 uint64_t(0xaca49b35f92b661full));
    }
}

void TestCli::dcOffsetIsRemoved() {
    // Speech with a DC offset of 10 % of full scale scores, against the
    // clean speech, within 0.5 dB of the clean speech's own score; the DC
    // removal costs clean speech at most 0.3 dB.
    QTemporaryDir dir, scratch;
    const QString clean = dir.filePath(QStringLiteral("clean.wav"));
    const QString dc = dir.filePath(QStringLiteral("dc.wav"));
    QVERIFY(makeClip(QStringLiteral("speech16"), clean, scratch.path()));
    const Run s =
        run(QStringLiteral("sox"), {clean, dc, QStringLiteral("dcshift"), QStringLiteral("0.1")});
    QVERIFY2(s.exitCode == 0, s.err.constData());
    const std::vector<int16_t> reference = samplesOfWav(clean);
    auto score = [&](const QString& wav, const QStringList& options) {
        const Run r = run(kPvconv, options + QStringList{wav});
        if (r.exitCode != 0)
            return -100.0;
        QString qcp = wav;
        qcp.replace(QLatin1String(".wav"), QLatin1String(".qcp"));
        const Decoded d = ffmpegDecode(qcp);
        return d.ok ? pvconv::measureQuality(reference, d.samples).segSnrDb : -100.0;
    };
    const QStringList full = {QStringLiteral("--full-rate")};
    const double cleanScore = score(clean, {}), dcScore = score(dc, {});
    const double keptDc = score(dc, {QStringLiteral("--keep-dc")});
    const double cleanFull = score(clean, full + QStringList{QStringLiteral("--remove-dc")});
    const double before = score(clean, full);
    qInfo("clean %.2f dB, with DC %.2f dB (kept: %.2f dB); full rate %.2f dB, before DC removal "
          "%.2f dB",
          cleanScore, dcScore, keptDc, cleanFull, before);
    QVERIFY2(std::fabs(dcScore - cleanScore) <= 0.5, qPrintable(QString::number(dcScore)));
    QVERIFY2(keptDc < cleanScore - 5.0, qPrintable(QString::number(keptDc)));
    QVERIFY2(cleanFull >= before - 0.3, qPrintable(QString::number(cleanFull)));
}

void TestCli::refusesANonWavAfterAShortPrefix() {
    QTemporaryDir dir;
    // A sparse 300 MB file of garbage.
    const QString big = dir.filePath(QStringLiteral("big.wav"));
    QVERIFY(writeFile(big, QByteArray("MZ\x90\x00 not audio at all")));
    QVERIFY(QFile::resize(big, qint64(300) << 20));
    const Run r = run(kPvconv, {big});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("not a RIFF/WAVE file"), r.err.constData());

    // Through a FIFO, counting what pvconv takes: the writer meets a closed
    // pipe once pvconv has refused the input, after at most the pipe's buffer.
    const QString fifo = dir.filePath(QStringLiteral("pipe.wav"));
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const pid_t pid = spawn({QStringLiteral("-o"), dir.filePath(QStringLiteral("pipe.qcp")), fifo});
    QVERIFY(pid > 0);
    std::signal(SIGPIPE, SIG_IGN);
    // Opened without blocking (ENXIO until pvconv has opened its end), so
    // that a pvconv that never comes cannot hang the test.
    int fd = -1;
    QElapsedTimer waited;
    waited.start();
    while (fd < 0 && waited.elapsed() < 20000) {
        fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd < 0)
            QTest::qSleep(5);
    }
    QVERIFY(fd >= 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const QByteArray garbage(65536, 'g');
    qint64 written = 0;
    bool closed = false;
    while (written < (qint64(300) << 20)) {
        const ssize_t w = ::write(fd, garbage.constData(), size_t(garbage.size()));
        if (w < 0) {
            closed = errno == EPIPE;
            break;
        }
        written += w;
    }
    ::close(fd);
    int status = 0;
    QCOMPARE(waitpid(pid, &status, 0), pid);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    QVERIFY(closed);
    QVERIFY2(written <= 4 * 65536, qPrintable(QString::number(written)));
}

void TestCli::temporaryFileNeverFollowsALink() {
    // Every name pvconv may take for its temporary file is a planted link to
    // a file of someone else's: none is followed, and with all taken the
    // conversion fails cleanly; with one name free it succeeds.
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("victim"));
    QVERIFY(writeFile(victim, QByteArray("keep")));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("x.wav")), wav16(tones({500.0}, 8000.0, 1600))));
    const QByteArray target = QFile::encodeName(victim);
    for (int i = 0; i < 10000; ++i) {
        const QString link =
            dir.filePath(QStringLiteral("x.qcp.part%1").arg(i, 4, 10, QLatin1Char('0')));
        QVERIFY(symlink(target.constData(), QFile::encodeName(link).constData()) == 0);
    }
    const Run full = run(kPvconv, {dir.filePath(QStringLiteral("x.wav"))});
    QCOMPARE(full.exitCode, 1);
    QCOMPARE(nonEmptyLines(full.err).size(), 1);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("x.qcp"))));
    QCOMPARE(readFile(victim), QByteArray("keep"));

    QVERIFY(QFile::remove(dir.filePath(QStringLiteral("x.qcp.part4242"))));
    const Run one = run(kPvconv, {dir.filePath(QStringLiteral("x.wav"))});
    QVERIFY2(one.exitCode == 0, one.err.constData());
    QCOMPARE(readFile(victim), QByteArray("keep"));
    const QFileInfo out(dir.filePath(QStringLiteral("x.qcp")));
    QVERIFY(out.exists() && !out.isSymLink());
    QCOMPARE(entries(dir.path()).size(), 10000 - 1 + 3);
    const Decoded d = ffmpegDecode(out.filePath());
    QVERIFY2(d.ok && d.badLines.isEmpty(), qPrintable(d.log));
}

void TestCli::signalLeavesNoPartFile_data() {
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
    QTest::newRow("SIGQUIT") << int(SIGQUIT);
    QTest::newRow("SIGXFSZ") << int(SIGXFSZ);
    QTest::newRow("SIGALRM") << int(SIGALRM);
    QTest::newRow("SIGUSR1") << int(SIGUSR1);
}

void TestCli::signalLeavesNoPartFile() {
    QFETCH(int, sig);
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("long.wav"));
    // Ten minutes of tones: long enough to be caught in the middle.
    std::vector<int16_t> s = tones({180.0, 730.0, 1450.0}, 12000.0, 8000 * 600);
    QVERIFY(writeFile(wav, wav16(s)));
    const pid_t pid = spawn({wav});
    QVERIFY(pid > 0);
    QElapsedTimer t;
    t.start();
    bool sawPart = false;
    while (!sawPart && t.elapsed() < 20000) {
        for (const QString& e : entries(dir.path()))
            sawPart = sawPart || e.contains(QLatin1String(".part"));
        if (!sawPart)
            QTest::qSleep(5);
    }
    QVERIFY(sawPart);
    QTest::qSleep(50);
    QCOMPARE(kill(pid, sig), 0);
    int status = 0;
    QCOMPARE(waitpid(pid, &status, 0), pid);
    QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == sig, qPrintable(QString::number(status)));
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("long.wav")});
}

void TestCli::longInputKeepsMemoryBounded() {
    // Over thirty minutes of digital silence in a sparse file: the conversion
    // streams, so its peak memory stays small (generous: ASan inflates it).
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("long.wav"));
    const QByteArray header = wavHeader(1900.0);
    QVERIFY(writeFile(wav, header));
    QVERIFY(QFile::resize(wav, header.size() + qint64(1900) * 8000 * 2));
    // The child's own high-water mark, read while it runs: its rusage
    // would also count the pages of this test process it was forked from.
    const pid_t pid = spawn({wav});
    QVERIFY(pid > 0);
    const QString statusFile = QStringLiteral("/proc/%1/status").arg(pid);
    long peakKb = 0;
    int status = 0;
    const QString exe = QStringLiteral("/proc/%1/exe").arg(pid);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        // Before its exec the child is still a copy of this process.
        if (QFileInfo(exe).canonicalFilePath() != QFileInfo(kPvconv).canonicalFilePath()) {
            QTest::qSleep(1);
            continue;
        }
        const QList<QByteArray> lines = readFile(statusFile).split('\n');
        for (const QByteArray& line : lines)
            if (line.startsWith("VmHWM:"))
                peakKb = std::max(peakKb, line.mid(6).trimmed().split(' ').first().toLong());
        QTest::qSleep(10);
    }
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    qInfo("peak RSS %ld kB", peakKb);
    QVERIFY(peakKb > 0);
    QVERIFY2(peakKb < 64 * 1024, qPrintable(QString::number(peakKb)));
    // 95 000 packets, each a rate byte and three bytes of eighth rate.
    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("long.qcp"))).size(), qint64(194 + 95000 * 4));
}

namespace {
// pvconv with its standard input and output on the given descriptors (-1: /dev/null);
// returns its exit code, -1 when it died.
int runWith(const QStringList& args, int in, int out) {
    std::vector<QByteArray> store{kPvconv.toLocal8Bit()};
    for (const QString& a : args)
        store.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : store)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        dup2(in >= 0 ? in : null, 0);
        dup2(out >= 0 ? out : null, 1);
        dup2(null, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
} // namespace

void TestCli::failedSummaryPutsNothingInPlace() {
    // The summary on standard output cannot be written: a full disk, a closed pipe.
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("x.wav"));
    QVERIFY(writeFile(wav, wav16(tones({500.0}, 8000.0, 1600))));
    const int full = ::open("/dev/full", O_WRONLY);
    QVERIFY(full >= 0);
    QCOMPARE(runWith({wav}, -1, full), 1);
    ::close(full);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("x.wav")});
    int pipeFds[2];
    QVERIFY(::pipe(pipeFds) == 0);
    ::close(pipeFds[0]);
    QCOMPARE(runWith({wav}, -1, pipeFds[1]), 1);
    ::close(pipeFds[1]);
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("x.wav")});
    // Written where it can be: the same run succeeds.
    QCOMPARE(runWith({wav}, -1, -1), 0);
    QCOMPARE(entries(dir.path()), (QStringList{QStringLiteral("x.qcp"), QStringLiteral("x.wav")}));
}

void TestCli::streamNeedsAnOutputName() {
    // Standard input has no folder of its own: "-.qcp" here or /dev/stdin.qcp in /dev.
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("x.wav"));
    QVERIFY(writeFile(wav, wav16(tones({500.0}, 8000.0, 1600))));
    const QString out = dir.filePath(QStringLiteral("out.qcp"));
    for (const QString& input : {QStringLiteral("-"), QStringLiteral("/dev/stdin")}) {
        const int in = ::open(QFile::encodeName(wav).constData(), O_RDONLY);
        int pipeFds[2];
        QVERIFY(in >= 0 && ::pipe(pipeFds) == 0);
        // A pipe, as a script would feed it.
        const QByteArray bytes = readFile(wav);
        QVERIFY(::write(pipeFds[1], bytes.constData(), size_t(bytes.size())) == bytes.size());
        ::close(pipeFds[1]);
        QCOMPARE(runWith({input}, pipeFds[0], -1), 2);
        QCOMPARE(runWith({input}, in, -1), 2); // a file on standard input is no different
        QVERIFY(!QFileInfo::exists(QStringLiteral("/dev/stdin.qcp")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("-.qcp")));
        QCOMPARE(runWith({QStringLiteral("-o"), out, input}, in, -1), 0);
        ::close(in);
        ::close(pipeFds[0]);
        QVERIFY(readFile(out).startsWith("RIFF"));
        QVERIFY(QFile::remove(out));
    }
    QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("x.wav")});
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
