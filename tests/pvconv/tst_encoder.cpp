// The encoder in-process: packet count, acceptance of every frame by the
// decoder, the QCP layout, and quality through ffmpeg on generated signals.
#include "converter.h"
#include "encoder.h"
#include "qcp_writer.h"
#include "quality.h"
#include "synthesis.h"
#include "testutil.h"

#include <QTemporaryDir>
#include <QtTest>

#include <random>

using namespace pvconv;
using namespace testutil;

namespace {

std::vector<int16_t> signalOf(const QString& kind, int count) {
    std::mt19937 rng(11);
    std::vector<int16_t> s(static_cast<size_t>(count));
    for (int n = 0; n < count; ++n) {
        double v = 0.0;
        if (kind == QLatin1String("silence"))
            v = 0.0;
        else if (kind == QLatin1String("square"))
            v = ((n / 20) & 1) ? 32767.0 : -32768.0;
        else if (kind == QLatin1String("noise"))
            v = static_cast<double>(static_cast<int16_t>(rng()));
        else if (kind == QLatin1String("dc"))
            v = 20000.0;
        else if (kind == QLatin1String("clicks"))
            v = n % 397 == 0 ? 30000.0 : 0.0;
        else if (kind == QLatin1String("tiny"))
            v = static_cast<double>(static_cast<int>(rng() % 3) - 1);
        s[static_cast<size_t>(n)] = static_cast<int16_t>(v);
    }
    return s;
}

struct Encoded {
    std::vector<Packet> packets;
    Decoded decoded;
};

Encoded encodeAndDecode(const std::vector<int16_t>& input, bool variable = false) {
    Encoded e;
    EncoderOptions opt;
    opt.variableRate = variable;
    Encoder enc(opt);
    e.packets = enc.encode(input);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("clip.qcp"));
    if (writeFileAtomically(path.toStdString(), buildQcp(e.packets)).empty())
        e.decoded = ffmpegDecode(path);
    return e;
}

int q16(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8);
}

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

} // namespace

class TestEncoder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void packetCountIsCeilOfFrames_data();
    void packetCountIsCeilOfFrames();
    void everyFrameIsAccepted_data();
    void everyFrameIsAccepted();
    void encodingIsRepeatable();
    void fullRateOutputIsPinned();
    void streamingGivesTheSamePackets();
    void dcRemoverIsZeroPhase();
    void silenceTakesEighthRate();
    void qcpLayoutFollowsRfc3625();
    void variableRateHeader();
    void toneQuality_data();
    void toneQuality();
    void ringtonesKeepFullRateQuality_data();
    void ringtonesKeepFullRateQuality();
};

void TestEncoder::packetCountIsCeilOfFrames_data() {
    QTest::addColumn<int>("samples");
    for (int n : {1, 159, 160, 161, 1600, 4321})
        QTest::newRow(qPrintable(QString::number(n))) << n;
}

void TestEncoder::packetCountIsCeilOfFrames() {
    QFETCH(int, samples);
    const Encoded e = encodeAndDecode(tones({300.0, 1250.0}, 8000.0, samples));
    const size_t frames = (static_cast<size_t>(samples) + 159) / 160;
    QCOMPARE(e.packets.size(), frames);
    QVERIFY2(e.decoded.ok, qPrintable(e.decoded.log));
    QVERIFY2(e.decoded.badLines.isEmpty(), qPrintable(e.decoded.badLines.join(QLatin1Char('\n'))));
    QCOMPARE(e.decoded.samples.size(), frames * 160);
}

void TestEncoder::everyFrameIsAccepted_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("variable");
    for (bool variable : {false, true})
        for (const char* k : {"silence", "square", "noise", "dc", "clicks", "tiny"})
            QTest::newRow(
                qPrintable(QString::fromLatin1(k) + (variable ? QStringLiteral(", variable rate")
                                                              : QStringLiteral(", full rate"))))
                << QString::fromLatin1(k) << variable;
}

void TestEncoder::everyFrameIsAccepted() {
    // Extreme inputs push LSPs and gains to the edges where a decoder erases
    // frames; neither our decoder model nor ffmpeg may reject any of them.
    QFETCH(QString, kind);
    QFETCH(bool, variable);
    const Encoded e = encodeAndDecode(signalOf(kind, 8000), variable);
    Decoder dec;
    float out[kFrameSize];
    for (size_t f = 0; f < e.packets.size(); ++f)
        QVERIFY2(dec.decode(e.packets[f], out), qPrintable(QStringLiteral("frame %1").arg(f)));
    QVERIFY2(e.decoded.ok, qPrintable(e.decoded.log));
    QVERIFY2(e.decoded.badLines.isEmpty(), qPrintable(e.decoded.badLines.join(QLatin1Char('\n'))));
    QCOMPARE(e.decoded.samples.size(), e.packets.size() * kFrameSize);
}

void TestEncoder::encodingIsRepeatable() {
    const std::vector<int16_t> s = tones({220.0, 660.0, 1800.0}, 12000.0, 3200);
    Encoder a, b;
    QCOMPARE(a.encode(s), b.encode(s));
}

void TestEncoder::fullRateOutputIsPinned() {
    // Checksum of the file the full-rate encoder wrote before variable rate
    // existed: full rate must stay bit for bit what it was.
    Encoder enc;
    const std::vector<uint8_t> q = buildQcp(enc.encode(pinnedSignal()));
    QCOMPARE(q.size(), size_t(3384));
    QCOMPARE(fnv1a(q.data(), q.size()), uint64_t(0xaca49b35f92b661full));
}

void TestEncoder::streamingGivesTheSamePackets() {
    // However the input is cut into blocks, the packets are the same.
    const std::vector<int16_t> s = variableSignal();
    for (bool variable : {false, true}) {
        ConverterOptions opt;
        opt.encoder.variableRate = variable;
        std::vector<Packet> whole;
        Converter one(opt);
        one.push(s.data(), s.size(), whole);
        one.finish(whole);
        QCOMPARE(whole.size(), (s.size() + 159) / 160);
        for (size_t block : {size_t(1), size_t(7), size_t(160), size_t(4099)}) {
            std::vector<Packet> parts;
            Converter c(opt);
            for (size_t at = 0; at < s.size(); at += block)
                c.push(s.data() + at, std::min(block, s.size() - at), parts);
            c.finish(parts);
            QVERIFY2(parts == whole, qPrintable(QStringLiteral("block %1").arg(block)));
        }
    }
}

void TestEncoder::dcRemoverIsZeroPhase() {
    // A 10 % offset goes (down to the 64 LSB left alone); a 100 Hz tone on
    // it comes out in place, neither delayed nor changed in level; every
    // sample comes out, short inputs too.
    const int n = 40000;
    std::vector<int16_t> x(n);
    for (int i = 0; i < n; ++i)
        x[size_t(i)] =
            static_cast<int16_t>(3277.0 + 8000.0 * std::sin(2.0 * kPi * 100.0 * i / 8000.0));
    DcRemover dc;
    std::vector<float> y;
    dc.push(x.data(), x.size(), y);
    dc.finish(y);
    QCOMPARE(y.size(), x.size());
    double mean = 0.0, err = 0.0, sig = 0.0;
    for (int i = 0; i < n; ++i) {
        const double tone = 8000.0 * std::sin(2.0 * kPi * 100.0 * i / 8000.0);
        mean += y[size_t(i)] * 32768.0 / n;
        const double e = y[size_t(i)] * 32768.0 - 64.0 - tone;
        err += e * e;
        sig += tone * tone;
    }
    QVERIFY2(std::fabs(mean - 64.0) < 2.0, qPrintable(QString::number(mean)));
    QVERIFY2(10.0 * std::log10(sig / err) > 50.0, qPrintable(QString::number(sig / err)));
    for (int len : {1, 100, 5000}) {
        DcRemover d;
        std::vector<float> out;
        d.push(x.data(), size_t(len), out);
        d.finish(out);
        QCOMPARE(out.size(), size_t(len));
    }
}

void TestEncoder::silenceTakesEighthRate() {
    // Speech-like tones with a second of digital silence in the middle: the
    // pause goes out as eighth-rate packets, decodes quietly, and the frame
    // count stays ceil(n / 160).
    std::vector<int16_t> s = tones({180.0, 720.0, 1500.0}, 12000.0, 24000);
    std::fill(s.begin() + 8000, s.begin() + 16000, int16_t(0));
    const Encoded e = encodeAndDecode(s);
    int eighth = 0;
    for (const Packet& p : e.packets)
        eighth += p.rate == kEighthRateByte ? 1 : 0;
    QVERIFY2(eighth >= 48 && eighth <= 50, qPrintable(QString::number(eighth)));
    QVERIFY2(e.decoded.ok, qPrintable(e.decoded.log));
    QVERIFY2(e.decoded.badLines.isEmpty(), qPrintable(e.decoded.badLines.join(QLatin1Char('\n'))));
    QCOMPARE(e.decoded.samples.size(), size_t(24000));
    // Quiet in the pause once the speech has died away, loud around it.
    double pause = 0.0, sound = 0.0;
    for (size_t i = 10000; i < 16000; ++i)
        pause = std::max(pause, std::fabs(double(e.decoded.samples[i])));
    for (size_t i = 17000; i < 24000; ++i)
        sound = std::max(sound, std::fabs(double(e.decoded.samples[i])));
    QVERIFY2(pause < 30.0, qPrintable(QString::number(pause)));
    QVERIFY2(sound > 3000.0, qPrintable(QString::number(sound)));
    const Quality q = measureQuality(s, e.decoded.samples);
    QVERIFY2(q.segSnrDb >= 8.0, qPrintable(QString::number(q.segSnrDb)));
}

void TestEncoder::qcpLayoutFollowsRfc3625() {
    // Three full-rate packets and an eighth-rate one: 109 bytes of data.
    std::vector<Packet> packets(4);
    packets[1].bytes[0] = 0xAB;
    packets[3] = packEighthRate(EighthRateFrame{});
    packets[3].bytes[0] = 0xCD;
    const std::vector<uint8_t> q = buildQcp(packets);
    QCOMPARE(std::string(q.begin(), q.begin() + 4), std::string("RIFF"));
    QCOMPARE(static_cast<size_t>(u32At(q, 4)), q.size() - 8);
    QCOMPARE(std::string(q.begin() + 8, q.begin() + 16), std::string("QLCMfmt "));
    QCOMPARE(u32At(q, 16), 150u);
    // QCELP-13K GUID, then packet size 35, 160 samples per block, 8000 Hz.
    const uint8_t guid[16] = {0x41, 0x6D, 0x7F, 0x5E, 0x15, 0xB1, 0xD0, 0x11,
                              0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E};
    QVERIFY(std::equal(guid, guid + 16, q.begin() + 22));
    QCOMPARE(q[120] | (q[121] << 8), 109 * 8 * 50 / 4);
    QCOMPARE(q[122] | (q[123] << 8), 35);
    QCOMPARE(q[124] | (q[125] << 8), 160);
    QCOMPARE(q[126] | (q[127] << 8), 8000);
    QCOMPARE(u32At(q, 130), 5u);
    QCOMPARE(int(q[134]), 34); // full-rate payload size for rate byte 4
    QCOMPARE(int(q[135]), 4);

    // Walk the chunks: fmt first, then vrat and data, each padded to even
    // length, ending exactly at the end of the file.
    QStringList order;
    size_t at = 12;
    while (at + 8 <= q.size()) {
        order << QString::fromLatin1(reinterpret_cast<const char*>(&q[at]), 4);
        const uint32_t size = u32At(q, at + 4);
        if (order.last() == QLatin1String("vrat")) {
            QCOMPARE(u32At(q, at + 8), 1u);
            QCOMPARE(u32At(q, at + 12), 4u);
        }
        if (order.last() == QLatin1String("data")) {
            QCOMPARE(size, 109u); // odd: one pad byte follows
            QCOMPARE(int(q[at + 8]), 4);
            QCOMPARE(int(q[at + 8 + 35 + 1]), 0xAB);
            QCOMPARE(int(q[at + 8 + 105]), 1); // eighth-rate byte
            QCOMPARE(int(q[at + 8 + 106]), 0xCD);
            QVERIFY(at + 8 + 109 < q.size());
            QCOMPARE(int(q[at + 8 + 109]), 0); // pad
        }
        at += 8 + size + (size & 1u);
    }
    QCOMPARE(at, q.size());
    QCOMPARE(order,
             (QStringList{QStringLiteral("fmt "), QStringLiteral("vrat"), QStringLiteral("data")}));
}

void TestEncoder::variableRateHeader() {
    // One packet of each rate and a second eighth: 35 + 17 + 8 + 4 + 4 = 68
    // bytes; then full, half and eighth: 56 bytes in 3 packets, whose average
    // 7466.67 bit/s must round to 7467, not truncate.
    const Packet full, half = halfRatePacket(FullRateFrame{}),
                       quarter = quarterRatePacket(FullRateFrame{}),
                       eighth = packEighthRate(EighthRateFrame{});
    const std::vector<uint8_t> a = buildQcp({full, half, quarter, eighth, eighth});
    QCOMPARE(q16(a, 120), 68 * 8 * 50 / 5);
    QCOMPARE(u32At(a, 130), 5u); // five rates in the map
    const int map[5][2] = {{34, 4}, {16, 3}, {7, 2}, {3, 1}, {0, 0}};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(int(a[134 + 2 * i]), map[i][0]);
        QCOMPARE(int(a[135 + 2 * i]), map[i][1]);
        QCOMPARE(payloadBytes(uint8_t(map[i][1])), map[i][0]);
    }
    QCOMPARE(std::string(a.begin() + 170, a.begin() + 174), std::string("vrat"));
    QCOMPARE(u32At(a, 178), 1u); // variable rate
    QCOMPARE(u32At(a, 182), 5u); // packets
    QCOMPARE(u32At(a, 190), 68u);
    QCOMPARE(a.size(), size_t(194 + 68));
    QCOMPARE(int(a[194 + 35]), 3);
    QCOMPARE(int(a[194 + 35 + 17]), 2);
    QCOMPARE(int(a[194 + 35 + 17 + 8]), 1);

    const std::vector<uint8_t> b = buildQcp({full, half, eighth});
    QCOMPARE(q16(b, 120), 7467);
    QCOMPARE(averageBitRate(3, 56), 7467u);
    QCOMPARE(averageBitRate(1, 35), 14000u);

    // The streaming writer patches the same header at the end.
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("s.qcp")).toStdString();
    {
        QcpOutput out;
        QVERIFY(out.create(path).empty());
        for (const Packet& p : {full, half, quarter, eighth, eighth})
            QVERIFY(out.write(p).empty());
        QVERIFY(out.finish().empty());
    }
    const QByteArray written = readFile(QString::fromStdString(path));
    QCOMPARE(std::vector<uint8_t>(written.begin(), written.end()), a);
}

void TestEncoder::toneQuality_data() {
    QTest::addColumn<QList<double>>("hz");
    QTest::addColumn<double>("minSegSnr");
    QTest::newRow("sine 440") << QList<double>{440.0} << 15.0;
    QTest::newRow("sine 1900") << QList<double>{1900.0} << 10.0;
    QTest::newRow("chord") << QList<double>{261.63, 329.63, 392.0} << 8.0;
}

void TestEncoder::toneQuality() {
    QFETCH(QList<double>, hz);
    QFETCH(double, minSegSnr);
    const std::vector<int16_t> input =
        tones(std::vector<double>(hz.begin(), hz.end()), 12000.0, 16000);
    const Encoded e = encodeAndDecode(input);
    QVERIFY2(e.decoded.ok, qPrintable(e.decoded.log));
    const Quality q = measureQuality(input, e.decoded.samples);
    qInfo("segSNR %.2f dB, LSD %.2f dB", q.segSnrDb, q.lsdDb);
    QVERIFY2(q.segSnrDb >= minSegSnr, qPrintable(QString::number(q.segSnrDb)));
}

// Sounds a ringer is made of: struck bells ringing out about 40 dB, beeps with a
// quiet tone between them, plucked notes, over a faint hiss as a recording has.
void TestEncoder::ringtonesKeepFullRateQuality_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("bell ring-out") << "bell";
    QTest::newRow("beeps with a quiet tone between") << "alarm";
    QTest::newRow("decaying notes") << "notes";
    // Noise-like, not speech: they have no voiced frame, so no frame of them
    // is speech either, however quiet its tail.
    QTest::newRow("hi-hat hits") << "hihat";
    QTest::newRow("a shaker") << "shaker";
}

void TestEncoder::ringtonesKeepFullRateQuality() {
    QFETCH(QString, kind);
    constexpr double kPi = 3.14159265358979323846;
    std::mt19937 rng(5);
    std::normal_distribution<double> hiss(0.0, 3.0); // about -80 dBFS
    std::uniform_real_distribution<double> burst(-1.0, 1.0);
    std::vector<int16_t> input(8000 * 4);
    for (size_t i = 0; i < input.size(); ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        double v = 0.0;
        if (kind == QLatin1String("bell")) {
            const double u = std::fmod(t, 2.0);
            v = 0.45 * std::exp(-2.3 * u) * std::sin(2 * kPi * 740 * u) +
                0.2 * std::exp(-3.5 * u) * std::sin(2 * kPi * 740 * 2.76 * u);
        } else if (kind == QLatin1String("alarm")) {
            v = std::fmod(t, 0.5) < 0.15 ? 0.5 * std::sin(2 * kPi * 1200 * t)
                                         : 0.015 * std::sin(2 * kPi * 600 * t);
        } else if (kind == QLatin1String("hihat") || kind == QLatin1String("shaker")) {
            const bool hihat = kind == QLatin1String("hihat");
            const double u = std::fmod(t, hihat ? 0.25 : 0.125);
            v = (hihat ? 0.3 : 0.4) * std::exp(-(hihat ? 25.0 : 60.0) * u) * burst(rng);
        } else {
            const double notes[4] = {392.0, 523.25, 659.25, 587.33};
            const double u = std::fmod(t, 1.0);
            const double f = notes[static_cast<int>(t) % 4];
            for (int h = 1; h <= 4; ++h)
                v += 0.3 / h * std::exp(-3.0 * h * u) * std::sin(2 * kPi * f * h * u);
        }
        input[i] = static_cast<int16_t>(std::lround(v * 32767.0 + hiss(rng)));
    }
    const Encoded full = encodeAndDecode(input, false);
    const Encoded variable = encodeAndDecode(input, true);
    QVERIFY2(full.decoded.ok && full.decoded.badLines.isEmpty(), qPrintable(full.decoded.log));
    QVERIFY2(variable.decoded.ok && variable.decoded.badLines.isEmpty(),
             qPrintable(variable.decoded.log));
    const Quality qf = measureQuality(input, full.decoded.samples);
    const Quality qv = measureQuality(input, variable.decoded.samples);
    int lowered = 0;
    for (const Packet& p : variable.packets)
        lowered += p.rate != kFullRateByte;
    qInfo("full %.2f dB, variable %.2f dB, %d of %zu frames below full rate", qf.segSnrDb,
          qv.segSnrDb, lowered, variable.packets.size());
    // The ring-out and the quiet tone are sound: coded as such, they lose nothing.
    QVERIFY2(qv.segSnrDb >= qf.segSnrDb - 0.3,
             qPrintable(QStringLiteral("%1 against %2").arg(qv.segSnrDb).arg(qf.segSnrDb)));
    // Also as pvconv's own decoder model rebuilds it, post-filter on and off.
    for (bool postfilter : {true, false}) {
        std::vector<int16_t> out[2];
        for (int mode = 0; mode < 2; ++mode) {
            Decoder dec;
            float frame[kFrameSize];
            for (const Packet& p : (mode ? variable : full).packets) {
                QVERIFY(dec.decode(p, frame, true, postfilter));
                for (float x : frame)
                    out[mode].push_back(
                        static_cast<int16_t>(std::clamp(x * 32768.0f, -32768.0f, 32767.0f)));
            }
        }
        const double f = measureQuality(input, out[0]).segSnrDb;
        const double v = measureQuality(input, out[1]).segSnrDb;
        QVERIFY2(v >= f - 0.3, qPrintable(QStringLiteral("model (post-filter %1): %2 against %3")
                                              .arg(postfilter)
                                              .arg(v)
                                              .arg(f)));
    }
}

QTEST_GUILESS_MAIN(TestEncoder)
#include "tst_encoder.moc"
