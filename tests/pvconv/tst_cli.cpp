// The pvconv program end to end: its command line, its output beside the
// input, ffmpeg decoding of what it writes, and its failures.
#include "quality.h"
#include "testutil.h"
#include "wav_reader.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

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

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void helpAndVersion();
    void usageErrors_data();
    void usageErrors();
    void convertsRecordings_data();
    void convertsRecordings();
    void outputNameFollowsInput_data();
    void outputNameFollowsInput();
    void replacesAnOldOutput();
    void rejectsBadInputs_data();
    void rejectsBadInputs();
    void failedWriteLeavesNoFile();
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
    QTest::addColumn<double>("minSegSnr");
    QTest::addColumn<double>("maxLsd");
    // Floors well below what the encoder reaches (see docs/pvconv.md), high
    // enough that a broken search, table or packing falls through.
    QTest::newRow("espeak-ng speech, 16-bit") << QStringLiteral("speech16") << 4.0 << 11.0;
    QTest::newRow("espeak-ng speech, 8-bit") << QStringLiteral("speech8") << 4.0 << 11.0;
    QTest::newRow("sox tone") << QStringLiteral("tone") << 15.0 << 30.0;
    QTest::newRow("sox chord") << QStringLiteral("chord") << 8.0 << 30.0;
}

void TestCli::convertsRecordings() {
    QFETCH(QString, kind);
    QFETCH(double, minSegSnr);
    QFETCH(double, maxLsd);
    QTemporaryDir dir, scratch;
    const QString wav = dir.filePath(QStringLiteral("temp.wav"));
    QVERIFY2(makeClip(kind, wav, scratch.path()), "espeak-ng or sox failed");
    const std::vector<int16_t> input = samplesOfWav(wav);
    QVERIFY(!input.empty());

    const Run r = run(kPvconv, {wav});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QVERIFY(r.err.isEmpty());
    QCOMPARE(nonEmptyLines(r.out).size(), 1);
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
    QTest::newRow("22050 Hz") << QStringLiteral("-r 22050 -c 1 -b 16")
                              << QStringLiteral("22050 Hz instead of 8000 Hz");
    QTest::newRow("stereo") << QStringLiteral("-r 8000 -c 2 -b 16") << QStringLiteral("2 channels");
    QTest::newRow("24 bits") << QStringLiteral("-r 8000 -c 1 -b 24") << QStringLiteral("24 bits");
    QTest::newRow("float") << QStringLiteral("-r 8000 -c 1 -b 32 -e floating-point")
                           << QStringLiteral("not PCM");
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

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
