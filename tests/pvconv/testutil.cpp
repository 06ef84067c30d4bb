#include "testutil.h"

#include "lpc.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <random>

namespace testutil {

Run run(const QString& program, const QStringList& args) {
    Run r;
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return r;
    r.started = true;
    p.closeWriteChannel();
    p.waitForFinished(120000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QByteArray le16(unsigned v) {
    QByteArray b(2, '\0');
    b[0] = static_cast<char>(v & 0xFF);
    b[1] = static_cast<char>((v >> 8) & 0xFF);
    return b;
}

QByteArray le32(uint32_t v) {
    return le16(v & 0xFFFF) + le16(v >> 16);
}

QByteArray chunk(const char* id, const QByteArray& body, bool pad) {
    QByteArray b(id, 4);
    b += le32(static_cast<uint32_t>(body.size()));
    b += body;
    if (pad && (body.size() & 1))
        b += '\0';
    return b;
}

QByteArray fmtBody(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits) {
    const unsigned align = channels * ((bits + 7) / 8);
    return le16(format) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) +
           le16(bits);
}

QByteArray extensibleFmtBody(uint16_t subformat, uint16_t channels, uint32_t rate, uint16_t bits) {
    static const char tail[14] = {0x00, 0x00, 0x00,       0x00, 0x10, 0x00,       char(0x80),
                                  0x00, 0x00, char(0xAA), 0x00, 0x38, char(0x9B), 0x71};
    return fmtBody(0xFFFE, channels, rate, bits) + le16(22) + le16(bits) + le32(4) +
           le16(subformat) + QByteArray(tail, 14);
}

QByteArray pcm16(const std::vector<int16_t>& s) {
    QByteArray b;
    b.reserve(static_cast<int>(s.size() * 2));
    for (int16_t v : s)
        b += le16(static_cast<uint16_t>(v));
    return b;
}

QByteArray riffWave(const QByteArray& chunks) {
    return QByteArray("RIFF", 4) + le32(static_cast<uint32_t>(4 + chunks.size())) +
           QByteArray("WAVE", 4) + chunks;
}

QByteArray wav16(const std::vector<int16_t>& s) {
    return riffWave(chunk("fmt ", fmtBody(1, 1, 8000, 16)) + chunk("data", pcm16(s)));
}

std::vector<int16_t> samplesOfS16(const QByteArray& raw) {
    std::vector<int16_t> s(static_cast<size_t>(raw.size() / 2));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[int(2 * i)]) |
                                    (static_cast<uint8_t>(raw[int(2 * i + 1)]) << 8));
    return s;
}

std::vector<int16_t> tones(const std::vector<double>& hz, double amplitude, int count) {
    std::vector<int16_t> s(static_cast<size_t>(count));
    for (int n = 0; n < count; ++n) {
        double v = 0.0;
        for (double f : hz)
            v += std::sin(2.0 * pvconv::kPi * f * n / 8000.0);
        s[static_cast<size_t>(n)] = static_cast<int16_t>(amplitude * v / hz.size());
    }
    return s;
}

std::vector<int16_t> pinnedSignal() {
    std::vector<int16_t> s(16000);
    std::mt19937 rng(7);
    for (int n = 0; n < 16000; ++n) {
        const double env = 0.5 - 0.5 * std::cos(2.0 * pvconv::kPi * n / 4000.0);
        double v = env * (6000.0 * std::sin(2.0 * pvconv::kPi * 190.0 * n / 8000.0) +
                          3000.0 * std::sin(2.0 * pvconv::kPi * 1210.0 * n / 8000.0));
        if (n >= 9600 && n < 11200)
            v = 0.0;
        else if (n >= 11200)
            v += static_cast<double>(static_cast<int>(rng() % 2001) - 1000);
        s[static_cast<size_t>(n)] = static_cast<int16_t>(std::lround(v));
    }
    return s;
}

std::vector<int16_t> variableSignal() {
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 1.0);
    const int count = 8000 * 3;
    std::vector<int16_t> s(static_cast<size_t>(count));
    double phase = 0.0;
    for (int n = 0; n < count; ++n) {
        const double t = n / 8000.0;
        phase += (120.0 + 20.0 * std::sin(2.0 * pvconv::kPi * t)) / 8000.0;
        double v = 0.0;
        for (int k = 1; k < 12; ++k)
            v += std::sin(2.0 * pvconv::kPi * k * phase) / k;
        double x = 10.0 * noise(rng);
        if (t < 0.6)
            x += 6000.0 * v;
        else if (t < 1.1)
            x += 6000.0 * v * std::exp(-(t - 0.6) * 9.0);
        else if (t >= 1.1 && t < 1.33) // unvoiced, as speech has next to its vowels
            x += (t < 1.2 ? 400.0 : 45.0) * noise(rng);
        else if (t >= 2.2 && t < 2.7)
            x += 5000.0 * v;
        s[static_cast<size_t>(n)] = static_cast<int16_t>(std::clamp(x, -32768.0, 32767.0));
    }
    return s;
}

uint64_t fnv1a(const uint8_t* data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 1099511628211ull;
    }
    return h;
}

Decoded ffmpegDecode(const QString& qcpPath) {
    Decoded d;
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("decoded.raw"));
    const Run r = run(QStringLiteral("ffmpeg"),
                      {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
                       QStringLiteral("-loglevel"), QStringLiteral("warning"), QStringLiteral("-i"),
                       qcpPath, QStringLiteral("-f"), QStringLiteral("s16le"),
                       QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-y"), raw});
    d.log = QString::fromUtf8(r.err);
    d.ok = r.started && r.exitCode == 0;
    const QStringList lines = d.log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (line.contains(QLatin1String("Bitrate byte missing")) ||
            line.contains(QLatin1String("Bitrate byte is missing")) ||
            line.contains(QLatin1String("Last message repeated")) ||
            line.contains(QLatin1String("Estimating duration from bitrate")))
            continue;
        d.badLines << line;
    }
    d.samples = samplesOfS16(readFile(raw));
    return d;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace testutil
