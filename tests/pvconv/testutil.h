#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Helpers shared by the pvconv tests: building WAV files byte by byte,
// running external tools, and decoding QCP files with ffmpeg.
namespace testutil {

struct Run {
    bool started = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program found on PATH (or by path) and waits for it.
Run run(const QString& program, const QStringList& args);

// Little-endian fields and RIFF chunks.
QByteArray le16(unsigned v);
QByteArray le32(uint32_t v);
QByteArray chunk(const char* id, const QByteArray& body, bool pad = true);
QByteArray fmtBody(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits);
QByteArray extensibleFmtBody(uint16_t subformat, uint16_t channels, uint32_t rate, uint16_t bits);
QByteArray pcm16(const std::vector<int16_t>& s);
// RIFF/WAVE file around the given chunks, with the correct RIFF size.
QByteArray riffWave(const QByteArray& chunks);
// A plain 8000 Hz mono 16-bit WAV file.
QByteArray wav16(const std::vector<int16_t>& s);

std::vector<int16_t> samplesOfS16(const QByteArray& raw);

// Samples of a tone mix, for tests that need a signal without external tools.
std::vector<int16_t> tones(const std::vector<double>& hz, double amplitude, int count);

struct Decoded {
    bool ok = false; // ffmpeg ran and exited with 0
    std::vector<int16_t> samples;
    QStringList badLines; // every ffmpeg message except the harmless ones
    QString log;
};

// Decodes a QCP file with ffmpeg. ffmpeg notes a missing bitrate byte for
// every packet of any QCP file; that line is not a bad frame and is ignored.
Decoded ffmpegDecode(const QString& qcpPath);

// Two seconds of enveloped tones, a pause of digital silence and tones in
// noise: the input whose full-rate output the tests pin.
std::vector<int16_t> pinnedSignal();
// Three seconds over a quiet room noise: a voiced sound, its fading end
// followed by a quiet unvoiced sound, a pause and a second voiced sound, so
// that variable rate uses all four rates.
std::vector<int16_t> variableSignal();
// FNV-1a, 64 bits.
uint64_t fnv1a(const uint8_t* data, size_t size);

bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

} // namespace testutil
