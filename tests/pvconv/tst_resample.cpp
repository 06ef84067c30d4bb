// The rate conversion in front of the encoder, measured on sox-made files:
// what is left of a tone after taking out the tone itself shows aliases,
// images and noise together.
#include "audio_input.h"
#include "testutil.h"
#include "wav_reader.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace pvconv;
using namespace testutil;

namespace {

struct Fit {
    double amplitude = 0; // of the tone at the given frequency
    double residual = 0;  // RMS of everything else
};

// Least-squares fit of a sine and a cosine at hz over the middle of x (the
// ends hold the filter's start and stop).
Fit fitTone(const std::vector<int16_t>& x, double hz, double rate) {
    const size_t skip = x.size() / 10;
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
    for (size_t i = skip; i + skip < x.size(); ++i) {
        const double w = 2 * M_PI * hz * static_cast<double>(i) / rate;
        const double s = std::sin(w), c = std::cos(w), v = x[i] / 32768.0;
        ss += s * s, cc += c * c, sc += s * c, xs += v * s, xc += v * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    double r = 0;
    size_t n = 0;
    for (size_t i = skip; i + skip < x.size(); ++i, ++n) {
        const double w = 2 * M_PI * hz * static_cast<double>(i) / rate;
        const double e = x[i] / 32768.0 - a * std::sin(w) - b * std::cos(w);
        r += e * e;
    }
    return {std::hypot(a, b), std::sqrt(r / static_cast<double>(n))};
}

double dB(double ratio) {
    return 20 * std::log10(ratio);
}

} // namespace

class TestResample : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void tonesComeOutClean_data();
    void tonesComeOutClean();
    void passBandIsFlat();
    void lengthFollowsTheRate();

private:
    std::vector<int16_t> convert(const QString& soxArgs, const QString& synth);
    QTemporaryDir dir;
};

void TestResample::initTestCase() {
    QVERIFY(dir.isValid());
}

// Makes a file with sox and reads it through the encoder's input, as pvconv does.
std::vector<int16_t> TestResample::convert(const QString& soxArgs, const QString& synth) {
    const QString path = dir.filePath(QStringLiteral("in.wav"));
    const Run s =
        run(QStringLiteral("sox"),
            QStringList{QStringLiteral("-n")} + soxArgs.split(QLatin1Char(' ')) +
                QStringList{path, QStringLiteral("synth")} + synth.split(QLatin1Char(' ')));
    if (!s.started || s.exitCode != 0)
        qFatal("sox failed: %s", s.err.constData());
    const QByteArray bytes = readFile(path);
    MemorySource src(reinterpret_cast<const uint8_t*>(bytes.constData()),
                     static_cast<size_t>(bytes.size()));
    WavStream wav(src);
    std::vector<int16_t> out;
    if (!wav.open())
        return out;
    EncoderInput in(wav);
    int16_t block[1000];
    size_t got;
    while ((got = in.read(block, 1000)) > 0)
        out.insert(out.end(), block, block + got);
    return out;
}

void TestResample::tonesComeOutClean_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("hz");
    QTest::addColumn<double>("floorDb"); // everything but the tone at least this far down
    QTest::addColumn<bool>("passes");
    const QString stereo = QStringLiteral("-r 44100 -c 2 -b 24");
    QTest::newRow("3500 Hz at 44.1 kHz") << stereo << 3500.0 << 70.0 << true;
    QTest::newRow("3500 Hz at 48 kHz float")
        << QStringLiteral("-r 48000 -c 1 -e floating-point -b 32") << 3500.0 << 70.0 << true;
    QTest::newRow("4500 Hz at 44.1 kHz") << stereo << 4500.0 << 60.0 << false;
    QTest::newRow("7000 Hz at 22.05 kHz")
        << QStringLiteral("-r 22050 -c 1 -b 16") << 7000.0 << 60.0 << false;
}

void TestResample::tonesComeOutClean() {
    QFETCH(QString, format);
    QFETCH(double, hz);
    QFETCH(double, floorDb);
    QFETCH(bool, passes);
    // Half of full scale: -6 dBFS peak.
    const std::vector<int16_t> out = convert(format, QStringLiteral("3 sine %1 vol 0.5").arg(hz));
    QVERIFY(out.size() > 20000);
    const double input = 0.5;
    if (passes) {
        const Fit f = fitTone(out, hz, 8000);
        QVERIFY2(std::abs(dB(f.amplitude / input)) < 0.5, qPrintable(QString::number(f.amplitude)));
        const double down = dB(input / std::sqrt(2.0) / f.residual);
        qInfo("%.1f dB down", down);
        QVERIFY2(down >= floorDb, qPrintable(QString::number(down)));
    } else {
        // Above 4 kHz nothing may pass: the whole output is what leaked.
        const Fit f = fitTone(out, hz, 8000); // amplitude 0 at that rate is not the point
        const double down = dB(input / std::sqrt(2.0) / std::hypot(f.residual, f.amplitude));
        qInfo("%.1f dB down", down);
        QVERIFY2(down >= floorDb, qPrintable(QString::number(down)));
    }
}

void TestResample::passBandIsFlat() {
    for (double hz : {100.0, 300.0, 1000.0, 2000.0, 3000.0, 3300.0, 3400.0}) {
        const std::vector<int16_t> out = convert(QStringLiteral("-r 44100 -c 1 -b 24"),
                                                 QStringLiteral("1 sine %1 vol 0.5").arg(hz));
        const Fit f = fitTone(out, hz, 8000);
        QVERIFY2(std::abs(dB(f.amplitude / 0.5)) <= 0.5,
                 qPrintable(QStringLiteral("%1 Hz: %2 dB").arg(hz).arg(dB(f.amplitude / 0.5))));
    }
}

void TestResample::lengthFollowsTheRate() {
    // The resampler's delay is taken back and its tail flushed: 2.5 s stay 2.5 s.
    QCOMPARE(convert(QStringLiteral("-r 44100 -c 2 -b 16"), QStringLiteral("2.5 sine 440")).size(),
             size_t(20000));
    QCOMPARE(convert(QStringLiteral("-r 11025 -c 1 -b 8"), QStringLiteral("2.5 sine 440")).size(),
             size_t(20000));
    // Already 8 kHz, only mixed down: one sample per frame.
    QCOMPARE(convert(QStringLiteral("-r 8000 -c 4 -b 32"), QStringLiteral("0.5 sine 440")).size(),
             size_t(4000));
}

QTEST_GUILESS_MAIN(TestResample)
#include "tst_resample.moc"
