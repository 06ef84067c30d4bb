#include "wav_reader.h"

#include <cstring>

namespace pvconv {
namespace {

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

WavAudio fail(std::string why) {
    WavAudio w;
    w.error = std::move(why);
    return w;
}

// Tail shared by the PCM sub-format GUID of WAVE_FORMAT_EXTENSIBLE (after its
// two-byte format code): 0000-0010-8000-00AA00389B71.
constexpr uint8_t kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

std::string hex16(unsigned v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 12; shift >= 0; shift -= 4)
        s += digits[(v >> shift) & 0xF];
    return s;
}

} // namespace

WavAudio parseWav(const uint8_t* data, size_t size) {
    if (size < 12)
        return fail(size >= 4 && std::memcmp(data, "RIFF", 4) != 0
                        ? "not a RIFF/WAVE file"
                        : "truncated file: no complete RIFF header");
    if (std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
        return fail("not a RIFF/WAVE file");

    const uint8_t* fmt = nullptr;
    size_t fmtSize = 0;
    bool fmtTruncated = false;
    const uint8_t* pcm = nullptr;
    size_t pcmSize = 0;
    bool pcmTruncated = false;

    // Walk the chunks in whatever order they come; the RIFF size is not
    // trusted, the file's real length is.
    size_t pos = 12;
    while (size - pos >= 8) {
        const uint8_t* id = data + pos;
        const uint32_t claimed = le32(data + pos + 4);
        const size_t body = pos + 8;
        const size_t avail = size - body;
        const bool cut = claimed > avail;
        const size_t len = cut ? avail : claimed;
        if (std::memcmp(id, "fmt ", 4) == 0 && fmt == nullptr) {
            fmt = data + body;
            fmtSize = len;
            fmtTruncated = cut;
        } else if (std::memcmp(id, "data", 4) == 0 && pcm == nullptr) {
            pcm = data + body;
            pcmSize = len;
            pcmTruncated = cut;
        }
        if (cut)
            break;
        // Chunks of odd size are followed by one pad byte.
        const size_t next = static_cast<size_t>(claimed) + (claimed & 1u);
        if (next >= size - body)
            break;
        pos = body + next;
    }

    if (fmt == nullptr)
        return fail("no fmt chunk: not a usable WAVE file");
    if (fmtSize < 16)
        return fail(fmtTruncated ? "truncated file: fmt chunk cut short" : "fmt chunk too short");

    uint16_t format = le16(fmt);
    const uint16_t channels = le16(fmt + 2);
    const uint32_t rate = le32(fmt + 4);
    const uint16_t blockAlign = le16(fmt + 12);
    const uint16_t bits = le16(fmt + 14);

    if (format == kFormatExtensible) {
        if (fmtSize < 40 || le16(fmt + 16) < 22)
            return fail(fmtTruncated ? "truncated file: fmt chunk cut short"
                                     : "WAVE_FORMAT_EXTENSIBLE fmt chunk too short");
        const uint8_t* guid = fmt + 24;
        if (std::memcmp(guid + 2, kSubformatTail, sizeof kSubformatTail) != 0)
            return fail("not PCM: unknown WAVE_FORMAT_EXTENSIBLE sub-format");
        format = le16(guid);
    }
    if (format != kFormatPcm)
        return fail("not PCM: format code " + hex16(format) + " (need 0x0001, integer PCM)");
    if (channels != 1)
        return fail(std::to_string(channels) + " channels instead of 1 (need mono)");
    if (rate != kRequiredRate)
        return fail(std::to_string(rate) + " Hz instead of 8000 Hz");
    if (bits != 8 && bits != 16)
        return fail(std::to_string(bits) + " bits per sample (need 8 or 16)");
    if (blockAlign != bits / 8)
        return fail("block align " + std::to_string(blockAlign) + " does not match " +
                    std::to_string(bits) + "-bit mono");

    if (pcm == nullptr)
        return fail("no data chunk");

    WavAudio w;
    w.bitsPerSample = bits;
    w.dataTruncated = pcmTruncated;
    const size_t count = pcmSize / blockAlign;
    if (count == 0)
        return fail(pcmTruncated ? "truncated file: data chunk holds no samples"
                                 : "no audio: data chunk is empty");
    w.samples.resize(count);
    for (size_t i = 0; i < count; ++i) {
        if (bits == 8)
            w.samples[i] = static_cast<int16_t>((pcm[i] - 128) * 256);
        else
            w.samples[i] = static_cast<int16_t>(le16(pcm + 2 * i));
    }
    w.ok = true;
    return w;
}

} // namespace pvconv
