// Bit packing, LSP conversions and the decoder model, checked against
// themselves and against ffmpeg's QCELP decoder.
#include "encoder.h"
#include "lpc.h"
#include "qcelp_frame.h"
#include "qcp_writer.h"
#include "synthesis.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <QtTest>

#include <bitset>
#include <cmath>
#include <random>

using namespace pvconv;

namespace {

FullRateFrame randomFrame(std::mt19937& rng) {
    auto bits = [&](int n) { return static_cast<uint8_t>(rng() & ((1u << n) - 1u)); };
    FullRateFrame f;
    for (int i = 0; i < 5; ++i)
        f.lspv[i] = bits(kLspvBits[i]);
    for (int i = 0; i < 4; ++i) {
        f.plag[i] = bits(7);
        f.pfrac[i] = bits(1);
        f.pgain[i] = bits(3);
    }
    for (int i = 0; i < 16; ++i) {
        f.cbsign[i] = bits(1);
        f.cbgain[i] = bits(cbgainBits(i));
        f.cindex[i] = bits(7);
    }
    return f;
}

bool sameFrame(const FullRateFrame& a, const FullRateFrame& b) {
    return a.lspv == b.lspv && a.plag == b.plag && a.pfrac == b.pfrac && a.pgain == b.pgain &&
           a.cbsign == b.cbsign && a.cbgain == b.cbgain && a.cindex == b.cindex &&
           a.reserved == b.reserved;
}

int popcount(const FullRatePayload& p) {
    int n = 0;
    for (uint8_t b : p)
        n += static_cast<int>(std::bitset<8>(b).count());
    return n;
}

// A test signal of voiced-like pulses, digital silence, noise and a mix, so
// that every encoder path (pitch, fractional lags, both gain signs, eighth
// rate and the way back to full rate) is exercised.
std::vector<int16_t> mixedSignal(int count) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<int16_t> s(static_cast<size_t>(count));
    double phase = 0.0;
    for (int n = 0; n < count; ++n) {
        const double f0 = 110.0 + 60.0 * std::sin(2.0 * pvconv::kPi * n / 16000.0);
        phase += f0 / 8000.0;
        double v = 0.0;
        for (int k = 1; k < 20; ++k)
            v += std::sin(2.0 * pvconv::kPi * k * phase) / k;
        double x = 0.0;
        switch ((n / 3000) % 4) {
        case 0:
            x = 4000.0 * v;
            break;
        case 1:
            x = 0.0;
            break;
        case 2:
            x = 2500.0 * noise(rng);
            break;
        default:
            x = 3000.0 * v + 800.0 * noise(rng);
            break;
        }
        s[static_cast<size_t>(n)] = static_cast<int16_t>(std::clamp(x, -32768.0, 32767.0));
    }
    return s;
}

int eighthRateCount(const std::vector<Packet>& packets) {
    int n = 0;
    for (const Packet& p : packets)
        n += p.rate == kEighthRateByte ? 1 : 0;
    return n;
}

} // namespace

class TestBitstream : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void packingRoundTrips();
    void packingFillsExactly266Bits();
    void eighthRatePackingRoundTrips();
    void halfAndQuarterRatePacking();
    void lspConversionsRoundTrip();
    void lspDecodingFollowsTheCodebooks();
    void decoderMatchesFfmpeg_data();
    void decoderMatchesFfmpeg();
    void encoderSearchesOnTheDecoderSynthesis_data();
    void encoderSearchesOnTheDecoderSynthesis();
};

void TestBitstream::packingRoundTrips() {
    std::mt19937 rng(1);
    for (int i = 0; i < 2000; ++i) {
        const FullRateFrame f = randomFrame(rng);
        const FullRateFrame back = unpackFullRate(packFullRate(f));
        QVERIFY2(sameFrame(f, back), qPrintable(QStringLiteral("frame %1").arg(i)));
    }
}

void TestBitstream::packingFillsExactly266Bits() {
    // Every field at its maximum: the runs must neither overlap nor leave gaps,
    // and only the two reserved bits and the six pad bits stay clear.
    FullRateFrame f;
    for (int i = 0; i < 5; ++i)
        f.lspv[i] = static_cast<uint8_t>((1u << kLspvBits[i]) - 1u);
    for (int i = 0; i < 4; ++i) {
        f.plag[i] = 127;
        f.pfrac[i] = 1;
        f.pgain[i] = 7;
    }
    for (int i = 0; i < 16; ++i) {
        f.cbsign[i] = 1;
        f.cbgain[i] = static_cast<uint8_t>((1u << cbgainBits(i)) - 1u);
        f.cindex[i] = 127;
    }
    const FullRatePayload p = packFullRate(f);
    QCOMPARE(popcount(p), 264);
    QCOMPARE(p[33] & 0x3F, 0); // pad after bit 266
    f.reserved = 3;
    QCOMPARE(popcount(packFullRate(f)), 266);
    // The first three bits carry the low bits of the third LSP index.
    FullRateFrame one;
    one.lspv[2] = 5;
    QCOMPARE(static_cast<int>(packFullRate(one)[0] >> 5), 5);
}

void TestBitstream::eighthRatePackingRoundTrips() {
    std::mt19937 rng(5);
    for (int t = 0; t < 500; ++t) {
        EighthRateFrame f;
        for (auto& b : f.lsp)
            b = static_cast<uint8_t>(rng() & 1u);
        f.seed = static_cast<uint8_t>(rng() & 15u);
        f.cbgain = static_cast<uint8_t>(rng() & 3u);
        const Packet p = packEighthRate(f);
        QCOMPARE(p.size(), 3);
        QCOMPARE(int(p.bytes[2] & 0x0F), 0); // 20 bits used, reserved bits clear
        const EighthRateFrame back = unpackEighthRate(p);
        QCOMPARE(back.lsp, f.lsp);
        QCOMPARE(back.seed, f.seed);
        QCOMPARE(back.cbgain, f.cbgain);
        QCOMPARE(back.reserved, uint8_t(0));
    }
    // The seed's top bit leads the packet, the first LSP bit follows.
    EighthRateFrame one;
    one.seed = 8;
    one.lsp[0] = 1;
    QCOMPARE(int(packEighthRate(one).bytes[0]), 0xC0);
}

void TestBitstream::halfAndQuarterRatePacking() {
    // Round trips, and with every field at its maximum the runs fill exactly
    // 124 (half) and 54 (quarter) bits: nothing overlaps, nothing is left out.
    std::mt19937 rng(9);
    for (int t = 0; t < 1000; ++t) {
        FullRateFrame f = randomFrame(rng), h, q;
        h.lspv = q.lspv = f.lspv;
        h.plag = f.plag;
        h.pfrac = f.pfrac;
        h.pgain = f.pgain;
        for (size_t i = 0; i < 4; ++i) {
            h.cbsign[i] = f.cbsign[i];
            h.cbgain[i] = static_cast<uint8_t>(f.cbgain[i] & 15u);
            h.cindex[i] = f.cindex[i];
        }
        for (size_t i = 0; i < 5; ++i)
            q.cbgain[i] = static_cast<uint8_t>(rng() & 15u);
        const Packet hp = halfRatePacket(h), qp = quarterRatePacket(q);
        QCOMPARE(hp.size(), 16);
        QCOMPARE(qp.size(), 7);
        QVERIFY(sameFrame(unpackFrame(hp), h));
        QVERIFY(sameFrame(unpackFrame(qp), q));
    }
    FullRateFrame f;
    for (int i = 0; i < 5; ++i)
        f.lspv[i] = static_cast<uint8_t>((1u << kLspvBits[i]) - 1u);
    for (size_t i = 0; i < 4; ++i) {
        f.plag[i] = 127;
        f.pfrac[i] = 1;
        f.pgain[i] = 7;
        f.cbsign[i] = 1;
        f.cbgain[i] = 15;
        f.cindex[i] = 127;
    }
    f.cbgain[4] = 15;
    const Packet h = halfRatePacket(f);
    QCOMPARE(popcount(h.bytes), 124);
    QCOMPARE(h.bytes[15] & 0x0F, 0);
    f.reserved = 3;
    const Packet q = quarterRatePacket(f);
    QCOMPARE(popcount(q.bytes), 54);
    QCOMPARE(q.bytes[6] & 0x03, 0);
    // The gain of the fifth quarter-rate subframe comes last, after the reserved bits.
    FullRateFrame last;
    last.cbgain[4] = 9;
    QCOMPARE(int(quarterRatePacket(last).bytes[6]), 9 << 2);
}

void TestBitstream::lspConversionsRoundTrip() {
    // LSPs spread over the band as speech has them; float LPC cannot hold
    // ten roots crowded into a narrow band to this precision.
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(0.05f, 0.095f);
    for (int t = 0; t < 200; ++t) {
        Lspf l{};
        float acc = 0.0f;
        for (int i = 0; i < kLpcOrder; ++i) {
            acc += u(rng);
            l[i] = acc;
        }
        Lspf back{};
        QVERIFY(lpcToLspf(lspfToLpc(l), back));
        for (int i = 0; i < kLpcOrder; ++i)
            QVERIFY2(std::fabs(back[i] - l[i]) < 1e-4f,
                     qPrintable(QStringLiteral("trial %1 lsp %2").arg(t).arg(i)));
    }
    // A flat spectrum has evenly spaced LSPs and an all-zero predictor.
    Lspf flat{};
    for (int i = 0; i < kLpcOrder; ++i)
        flat[i] = static_cast<float>(i + 1) / 11.0f;
    for (float a : lspfToLpc(flat))
        QVERIFY(std::fabs(a) < 1e-5f);
}

void TestBitstream::lspDecodingFollowsTheCodebooks() {
    const std::array<uint8_t, 5> idx = {3, 17, 99, 40, 63};
    const Lspf l = decodeLspf(idx);
    double acc = 0.0;
    for (int s = 0; s < 5; ++s)
        for (int k = 0; k < 2; ++k) {
            acc += tables::kLspVq[s][idx[s]][k] / 10000.0;
            QVERIFY(std::fabs(l[2 * s + k] - acc) < 1e-5);
        }
    // Crowded LSPs are refused, as the decoder erases such frames.
    Lspf crowded = l;
    crowded[5] = crowded[1] + 0.05f;
    QVERIFY(!lspfAcceptable(crowded));
}

void TestBitstream::decoderMatchesFfmpeg_data() {
    QTest::addColumn<bool>("variable");
    QTest::newRow("full rate") << false;
    QTest::newRow("variable rate") << true;
}

void TestBitstream::decoderMatchesFfmpeg() {
    // Our decoder model, post-filters included, must reproduce what ffmpeg
    // plays from our packets: any table, layout or filter mistake shows here.
    QFETCH(bool, variable);
    const std::vector<int16_t> input = variable ? testutil::variableSignal() : mixedSignal(15000);
    EncoderOptions opt;
    opt.variableRate = variable;
    Encoder enc(opt);
    const std::vector<Packet> packets = enc.encode(input);
    int count[5] = {};
    for (const Packet& p : packets)
        ++count[p.rate];
    QTemporaryDir dir;
    const QString qcp = dir.filePath(QStringLiteral("mixed.qcp"));
    QVERIFY(writeFileAtomically(qcp.toStdString(), buildQcp(packets)).empty());
    const testutil::Decoded d = testutil::ffmpegDecode(qcp);
    QVERIFY2(d.ok, qPrintable(d.log));
    QVERIFY2(d.badLines.isEmpty(), qPrintable(d.badLines.join(QLatin1Char('\n'))));
    QCOMPARE(d.samples.size(), packets.size() * kFrameSize);
    if (variable) {
        for (uint8_t r : {kFullRateByte, kHalfRateByte, kQuarterRateByte, kEighthRateByte})
            QVERIFY2(count[r] >= 3, qPrintable(QStringLiteral("rate %1: %2").arg(r).arg(count[r])));
    } else {
        QVERIFY(eighthRateCount(packets) >= 10); // the silent stretch
        QVERIFY(eighthRateCount(packets) <= 25);
    }

    Decoder dec;
    double signal = 0.0, diff = 0.0;
    float out[kFrameSize];
    for (size_t f = 0; f < packets.size(); ++f) {
        QVERIFY2(dec.decode(packets[f], out), qPrintable(QStringLiteral("frame %1").arg(f)));
        for (int n = 0; n < kFrameSize; ++n) {
            const double ours = std::clamp(std::lrint(out[n] * 32768.0), -32768L, 32767L);
            const double theirs = d.samples[f * kFrameSize + static_cast<size_t>(n)];
            signal += theirs * theirs;
            diff += (ours - theirs) * (ours - theirs);
        }
    }
    QVERIFY(signal > 0.0);
    const double snr = 10.0 * std::log10(signal / std::max(diff, 1e-9));
    qInfo("decoder model vs ffmpeg: %.1f dB", snr);
    QVERIFY2(snr > 50.0, qPrintable(QStringLiteral("model vs ffmpeg: %1 dB").arg(snr)));
}

void TestBitstream::encoderSearchesOnTheDecoderSynthesis_data() {
    QTest::addColumn<bool>("prefilter");
    QTest::addColumn<bool>("variable");
    QTest::newRow("with the pitch pre-filter") << true << false;
    QTest::newRow("bare synthesis") << false << false;
    QTest::newRow("variable rate, pre-filter") << true << true;
    QTest::newRow("variable rate, bare") << false << true;
}

void TestBitstream::encoderSearchesOnTheDecoderSynthesis() {
    // What the encoder believes the decoder synthesises while it searches
    // must be what the decoder does synthesise from the packets.
    QFETCH(bool, prefilter);
    QFETCH(bool, variable);
    EncoderOptions opt;
    opt.trackPrefilter = prefilter;
    opt.variableRate = variable;
    Encoder enc(opt);
    std::vector<float> model;
    const std::vector<Packet> packets =
        enc.encode(variable ? testutil::variableSignal() : mixedSignal(15000), &model);
    QCOMPARE(model.size(), packets.size() * kFrameSize);
    Decoder dec;
    double signal = 0.0, diff = 0.0;
    float out[kFrameSize];
    for (size_t f = 0; f < packets.size(); ++f) {
        QVERIFY(dec.decode(packets[f], out, prefilter, false));
        for (int n = 0; n < kFrameSize; ++n) {
            const double m = model[f * kFrameSize + static_cast<size_t>(n)];
            signal += static_cast<double>(out[n]) * out[n];
            diff += (m - out[n]) * (m - out[n]);
        }
    }
    QVERIFY(signal > 0.0);
    const double snr = 10.0 * std::log10(signal / std::max(diff, 1e-30));
    qInfo("encoder model vs decoder synthesis: %.1f dB", snr);
    QVERIFY2(snr > 80.0, qPrintable(QString::number(snr)));
}

QTEST_GUILESS_MAIN(TestBitstream)
#include "tst_bitstream.moc"
