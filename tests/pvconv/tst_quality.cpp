// The quality measures the tests and the benchmark rely on.
#include "quality.h"
#include "testutil.h"

#include <QtTest>

#include <cmath>
#include <random>

using namespace pvconv;

namespace {

std::vector<int16_t> noiseLike(int count, double rms, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0.0, rms);
    std::vector<int16_t> s(static_cast<size_t>(count));
    for (auto& v : s)
        v = static_cast<int16_t>(std::clamp(n(rng), -32768.0, 32767.0));
    return s;
}

} // namespace

class TestQuality : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void identicalSignalsScorePerfect();
    void delayIsFoundAndRemoved();
    void addedNoiseGivesItsSnr();
    void quietFramesAreSkipped();
    void spectralDistanceGrowsWithColouring();
};

void TestQuality::identicalSignalsScorePerfect() {
    const std::vector<int16_t> s = testutil::tones({300.0, 1000.0}, 9000.0, 8000);
    const Quality q = measureQuality(s, s);
    QCOMPARE(q.lag, 0);
    QCOMPARE(q.segSnrDb, 35.0);
    QVERIFY(q.lsdDb < 1e-9);
    QCOMPARE(q.frames, 50);
}

void TestQuality::delayIsFoundAndRemoved() {
    const std::vector<int16_t> s = noiseLike(8000, 3000.0, 1);
    std::vector<int16_t> late(137, 0);
    late.insert(late.end(), s.begin(), s.end());
    const Quality q = measureQuality(s, late);
    QCOMPARE(q.lag, 137);
    QCOMPARE(q.segSnrDb, 35.0);
}

void TestQuality::addedNoiseGivesItsSnr() {
    // White noise 10 dB below the signal in every frame: segSNR near 10 dB.
    const std::vector<int16_t> s = noiseLike(16000, 3000.0, 2);
    const std::vector<int16_t> n = noiseLike(16000, 3000.0 / std::sqrt(10.0), 3);
    std::vector<int16_t> d(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        d[i] = static_cast<int16_t>(s[i] + n[i]);
    const Quality q = measureQuality(s, d, 0);
    QVERIFY2(std::fabs(q.segSnrDb - 10.0) < 0.5, qPrintable(QString::number(q.segSnrDb)));
}

void TestQuality::quietFramesAreSkipped() {
    // Ten loud frames, then ten frames 60 dB down that the decoder ruins:
    // only the loud ones count.
    std::vector<int16_t> s = noiseLike(1600, 5000.0, 4);
    const std::vector<int16_t> quiet = noiseLike(1600, 5.0, 5);
    s.insert(s.end(), quiet.begin(), quiet.end());
    std::vector<int16_t> d = s;
    for (size_t i = 1600; i < d.size(); ++i)
        d[i] = static_cast<int16_t>(-d[i] * 50);
    const Quality q = measureQuality(s, d, 0);
    QCOMPARE(q.frames, 10);
    QCOMPARE(q.segSnrDb, 35.0);
}

void TestQuality::spectralDistanceGrowsWithColouring() {
    // A first-difference filter tilts the spectrum; the stronger the tilt,
    // the larger the distance.
    const std::vector<int16_t> s = noiseLike(8000, 3000.0, 6);
    double previous = 0.0;
    for (double a : {0.2, 0.5, 0.9}) {
        std::vector<int16_t> d(s.size());
        for (size_t i = 0; i < s.size(); ++i)
            d[i] = static_cast<int16_t>(s[i] - a * (i ? s[i - 1] : 0));
        const double lsd = measureQuality(s, d, 0).lsdDb;
        QVERIFY2(lsd > previous, qPrintable(QString::number(lsd)));
        previous = lsd;
    }
}

QTEST_GUILESS_MAIN(TestQuality)
#include "tst_quality.moc"
