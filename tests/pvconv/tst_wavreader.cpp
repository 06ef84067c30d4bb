// The WAV reader against ordinary, odd and hostile files.
#include "testutil.h"
#include "wav_reader.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

using namespace pvconv;
using namespace testutil;

namespace {

WavAudio parse(const QByteArray& b) {
    return parseWav(reinterpret_cast<const uint8_t*>(b.constData()), static_cast<size_t>(b.size()));
}

const std::vector<int16_t> kRamp = {0, 1, -1, 1000, -1000, 32767, -32768, 12345};

QByteArray fmt16() {
    return chunk("fmt ", fmtBody(1, 1, 8000, 16));
}

} // namespace

class TestWavReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void acceptsOddButValidFiles_data();
    void acceptsOddButValidFiles();
    void widensEightBitSamples();
    void truncatedDataUsesWhatIsPresent();
    void rejectsWithOneLineReason_data();
    void rejectsWithOneLineReason();
    void readsEveryFormat_data();
    void readsEveryFormat();
    void survivesHostileMutations();
    void streamsFromAnInputThatCannotSeek();
};

void TestWavReader::acceptsOddButValidFiles_data() {
    QTest::addColumn<QByteArray>("file");
    const QByteArray data = chunk("data", pcm16(kRamp));
    QTest::newRow("plain") << riffWave(fmt16() + data);
    QTest::newRow("data before fmt") << riffWave(data + fmt16());
    QTest::newRow("unknown chunks skipped")
        << riffWave(chunk("LIST", QByteArray(26, 'x')) + fmt16() + chunk("fact", le32(8)) + data);
    QTest::newRow("odd-sized chunk padded")
        << riffWave(fmt16() + chunk("junk", QByteArray(3, 'j')) + data);
    QTest::newRow("fmt with extra bytes")
        << riffWave(chunk("fmt ", fmtBody(1, 1, 8000, 16) + le16(0)) + data);
    QTest::newRow("extensible PCM")
        << riffWave(chunk("fmt ", extensibleFmtBody(1, 1, 8000, 16)) + data);
    QByteArray wrongRiffSize = riffWave(fmt16() + data);
    wrongRiffSize.replace(4, 4, le32(0xFFFFFFF0u));
    QTest::newRow("RIFF size ignored") << wrongRiffSize;
    QTest::newRow("trailing garbage") << riffWave(fmt16() + data) + QByteArray(5, '\x7f');
    QTest::newRow("odd byte after samples")
        << riffWave(fmt16() + chunk("data", pcm16(kRamp) + QByteArray(1, '\x55')));
}

void TestWavReader::acceptsOddButValidFiles() {
    QFETCH(QByteArray, file);
    const WavAudio w = parse(file);
    QVERIFY2(w.ok, w.error.c_str());
    QCOMPARE(w.samples, kRamp);
    QCOMPARE(w.bitsPerSample, 16);
    QVERIFY(!w.dataTruncated);
}

void TestWavReader::widensEightBitSamples() {
    QByteArray body;
    for (int v : {128, 0, 255, 129, 127})
        body += static_cast<char>(v);
    const WavAudio w = parse(riffWave(chunk("fmt ", fmtBody(1, 1, 8000, 8)) + chunk("data", body)));
    QVERIFY2(w.ok, w.error.c_str());
    const std::vector<int16_t> expected = {0, -32768, 32512, 256, -256};
    QCOMPARE(w.samples, expected);
    QCOMPARE(w.bitsPerSample, 8);
}

void TestWavReader::truncatedDataUsesWhatIsPresent() {
    // The data chunk claims 1000 bytes, but the file ends after 7 samples and a half.
    QByteArray file = riffWave(fmt16() + QByteArray("data", 4) + le32(1000) +
                               pcm16({1, 2, 3, 4, 5, 6, 7}) + QByteArray(1, '\x01'));
    const WavAudio w = parse(file);
    QVERIFY2(w.ok, w.error.c_str());
    QCOMPARE(w.samples, (std::vector<int16_t>{1, 2, 3, 4, 5, 6, 7}));
    QVERIFY(w.dataTruncated);
}

void TestWavReader::rejectsWithOneLineReason_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("reason");
    const QByteArray data = chunk("data", pcm16(kRamp));
    auto row = [](const char* name, const QByteArray& f, const char* why) {
        QTest::newRow(name) << f << QString::fromLatin1(why);
    };
    row("empty file", QByteArray(), "truncated");
    row("text file", QByteArray("hello, this is not audio at all\n"), "not a RIFF/WAVE");
    row("RIFX", QByteArray("RIFX") + le32(100) + QByteArray("WAVE") + fmt16() + data,
        "not a RIFF/WAVE");
    row("AVI", QByteArray("RIFF") + le32(100) + QByteArray("AVI ") + fmt16() + data,
        "not a RIFF/WAVE");
    row("header only", QByteArray("RIFF\x04\x00\x00\x00WA", 10), "truncated");
    row("a-law", riffWave(chunk("fmt ", fmtBody(6, 1, 8000, 8)) + data), "not PCM");
    row("float of 16 bits", riffWave(chunk("fmt ", fmtBody(3, 1, 8000, 16)) + data), "16 bits");
    row("extensible a-law", riffWave(chunk("fmt ", extensibleFmtBody(6, 1, 8000, 8)) + data),
        "not PCM");
    row("20 bits", riffWave(chunk("fmt ", fmtBody(1, 1, 8000, 20)) + data), "20 bits");
    row("no channels", riffWave(chunk("fmt ", fmtBody(1, 0, 8000, 16)) + data), "0 channels");
    row("rate zero", riffWave(chunk("fmt ", fmtBody(1, 1, 0, 16)) + data), "0 Hz");
    row("rate absurd", riffWave(chunk("fmt ", fmtBody(1, 1, 0xFFFFFFFFu, 16)) + data),
        "4294967295 Hz");
    QByteArray badAlign = fmtBody(1, 1, 8000, 16);
    badAlign.replace(12, 2, le16(4));
    row("block align", riffWave(chunk("fmt ", badAlign) + data), "block align");
    row("no fmt", riffWave(data), "no fmt chunk");
    row("no data", riffWave(fmt16()), "no data chunk");
    row("empty data", riffWave(fmt16() + chunk("data", QByteArray())), "no audio");
    row("short fmt", riffWave(chunk("fmt ", QByteArray(10, '\0')) + data), "too short");
    row("fmt cut off", riffWave(fmt16().left(14)), "truncated");
    row("data cut in first sample", riffWave(fmt16() + QByteArray("data", 4) + le32(100) + "x"),
        "truncated");
    row("huge chunk before fmt",
        riffWave(QByteArray("junk", 4) + le32(0xFFFFFFFFu) + fmt16() + data), "no fmt chunk");
}

void TestWavReader::rejectsWithOneLineReason() {
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);
    const WavAudio w = parse(file);
    QVERIFY(!w.ok);
    QVERIFY(w.samples.empty());
    const QString error = QString::fromStdString(w.error);
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(!error.contains(QLatin1Char('\n')));
}

void TestWavReader::readsEveryFormat_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    // Every format holds the same two frames: (0.5, -0.25) and (-1.0, 0.0) on the first two
    // channels, further channels 0.25; so the means are known exactly.
    auto frames = [](int bits, bool isFloat, int channels) {
        QByteArray b;
        const double v[2][2] = {{0.5, -0.25}, {-1.0, 0.0}};
        for (const auto& fr : v) {
            for (int c = 0; c < channels; ++c) {
                const double x = c < 2 ? fr[c] : 0.25;
                if (isFloat && bits == 32) {
                    const float f = static_cast<float>(x);
                    b.append(reinterpret_cast<const char*>(&f), 4);
                } else if (isFloat) {
                    b.append(reinterpret_cast<const char*>(&x), 8);
                } else if (bits == 8) {
                    b.append(static_cast<char>(static_cast<int>(128 + x * 128)));
                } else {
                    const auto i = static_cast<int64_t>(x * std::ldexp(1.0, bits - 1));
                    for (int k = 0; k < bits / 8; ++k)
                        b.append(static_cast<char>((i >> (8 * k)) & 0xFF));
                }
            }
        }
        return b;
    };
    struct Kind {
        const char* name;
        uint16_t format;
        int bits, channels, rate;
        bool extensible;
    };
    const Kind kinds[] = {{"8-bit stereo 11025", 1, 8, 2, 11025, false},
                          {"16-bit stereo 44100", 1, 16, 2, 44100, false},
                          {"24-bit mono 48000", 1, 24, 1, 48000, false},
                          {"32-bit 6 channels 96000", 1, 32, 6, 96000, false},
                          {"float 32 stereo 8000", 3, 32, 2, 8000, false},
                          {"float 64 mono 22050", 3, 64, 1, 22050, false},
                          {"extensible 24-bit stereo", 1, 24, 2, 44100, true},
                          {"extensible float 32 3 channels", 3, 32, 3, 16000, true}};
    for (const Kind& k : kinds) {
        const QByteArray fmt = k.extensible
                                   ? extensibleFmtBody(k.format, k.channels, k.rate, k.bits)
                                   : fmtBody(k.format, k.channels, k.rate, k.bits);
        QTest::newRow(k.name) << riffWave(chunk("fmt ", fmt) +
                                          chunk("data", frames(k.bits, k.format == 3, k.channels)))
                              << k.channels << k.rate;
    }
}

void TestWavReader::readsEveryFormat() {
    QFETCH(QByteArray, file);
    QFETCH(int, channels);
    QFETCH(int, rate);
    const WavAudio w = parse(file);
    QVERIFY2(w.ok, w.error.c_str());
    QCOMPARE(w.channels, channels);
    QCOMPARE(static_cast<int>(w.rate), rate);
    QVERIFY(w.samples.empty());
    QCOMPARE(w.mono.size(), size_t(2));
    const double extra = channels > 2 ? (channels - 2) * 0.25 : 0.0;
    const double want[2] = {channels == 1 ? 0.5 : (0.25 + extra) / channels,
                            channels == 1 ? -1.0 : (-1.0 + extra) / channels};
    for (int i = 0; i < 2; ++i)
        QVERIFY2(std::abs(w.mono[i] - want[i]) < 1.0 / 128, qPrintable(QString::number(w.mono[i])));
}

void TestWavReader::survivesHostileMutations() {
    // Random corruption of a valid file must give either audio or a reason,
    // never a crash or an out-of-bounds read (the sanitizer build checks the latter).
    const QByteArray good =
        riffWave(chunk("LIST", QByteArray(5, 'l')) + fmt16() + chunk("data", pcm16(kRamp)));
    std::mt19937 rng(42);
    for (int trial = 0; trial < 20000; ++trial) {
        QByteArray f = good;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            const int at = static_cast<int>(rng() % static_cast<unsigned>(f.size()));
            switch (rng() % 3) {
            case 0:
                f[at] = static_cast<char>(rng());
                break;
            case 1:
                f.truncate(at);
                break;
            default:
                f.insert(at, static_cast<char>(rng()));
                break;
            }
            if (f.isEmpty())
                break;
        }
        const WavAudio w = parse(f);
        if (w.ok) {
            const size_t n = w.samples.size() + w.mono.size();
            QVERIFY(n > 0);
            QVERIFY(n <= static_cast<size_t>(f.size()));
        } else {
            QVERIFY(!w.error.empty());
            QVERIFY(w.error.find('\n') == std::string::npos);
        }
    }
}

namespace {

// A pipe: unknown length, no seeking, and reads that return few bytes.
class PipeSource : public ByteSource {
public:
    explicit PipeSource(const QByteArray& b) : bytes_(b) {}
    size_t read(uint8_t* to, size_t n) override {
        const size_t take = std::min({n, size_t(7), size_t(bytes_.size()) - pos_});
        std::memcpy(to, bytes_.constData() + pos_, take);
        pos_ += take;
        return take;
    }
    bool seek(uint64_t) override { return false; }
    const std::string& error() const override { return error_; }
    size_t pos_ = 0;

private:
    QByteArray bytes_;
    std::string error_;
};

std::vector<int16_t> readAll(WavStream& w) {
    std::vector<int16_t> out;
    int16_t block[5];
    size_t got;
    while ((got = w.read(block, 5)) > 0)
        out.insert(out.end(), block, block + got);
    return out;
}

} // namespace

void TestWavReader::streamsFromAnInputThatCannotSeek() {
    // Same samples as from memory, odd chunks and a truncated data chunk included.
    std::vector<int16_t> many;
    for (int i = 0; i < 70000; ++i)
        many.push_back(static_cast<int16_t>(i * 7));
    const QByteArray files[] = {
        riffWave(chunk("LIST", QByteArray(5, 'l')) + fmt16() + chunk("data", pcm16(many))),
        riffWave(fmt16() + QByteArray("data", 4) + le32(1000) + pcm16(kRamp)),
        riffWave(chunk("fmt ", fmtBody(1, 1, 8000, 8)) + chunk("data", QByteArray("\x80\x01\xff"))),
    };
    for (const QByteArray& f : files) {
        PipeSource pipe(f);
        WavStream w(pipe);
        QVERIFY2(w.open(), w.error().c_str());
        const WavAudio whole = parse(f);
        QCOMPARE(readAll(w), whole.samples);
        QCOMPARE(w.dataTruncated(), whole.dataTruncated);
    }
    // A pipe cannot come back to samples that precede the format.
    PipeSource backwards(riffWave(chunk("data", pcm16(kRamp)) + fmt16()));
    WavStream b(backwards);
    QVERIFY(!b.open());
    QVERIFY(QString::fromStdString(b.error()).contains(QLatin1String("before fmt")));
    // A non-WAV input is refused after its first 12 bytes, however long it is.
    PipeSource text(QByteArray(1 << 20, 'x'));
    WavStream t(text);
    QVERIFY(!t.open());
    QCOMPARE(t.error(), std::string("not a RIFF/WAVE file"));
    QVERIFY(t.bytesRead() <= 12);
    QVERIFY(text.pos_ <= 12);
}

QTEST_GUILESS_MAIN(TestWavReader)
#include "tst_wavreader.moc"
