#include "wav_reader.h"

#include <algorithm>
#include <cmath>
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

// Tail shared by the PCM sub-format GUID of WAVE_FORMAT_EXTENSIBLE (after its
// two-byte format code): 0000-0010-8000-00AA00389B71.
constexpr uint8_t kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// The fmt fields the reader looks at all lie in its first 40 bytes.
constexpr size_t kFmtBytesUsed = 40;

std::string hex16(unsigned v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 12; shift >= 0; shift -= 4)
        s += digits[(v >> shift) & 0xF];
    return s;
}

} // namespace

size_t MemorySource::read(uint8_t* to, size_t n) {
    const size_t take = std::min(n, size_ - pos_);
    if (take > 0)
        std::memcpy(to, data_ + pos_, take);
    pos_ += take;
    return take;
}

bool MemorySource::seek(uint64_t offset) {
    if (offset > size_)
        return false;
    pos_ = static_cast<size_t>(offset);
    return true;
}

size_t WavStream::fill(uint8_t* to, size_t n) {
    size_t got = 0;
    while (got < n) {
        const size_t r = src_.read(to + got, n - got);
        if (r == 0)
            break;
        got += r;
    }
    consumed_ += got;
    return got;
}

uint8_t* WavStream::buffer() {
    if (!buf_)
        buf_.reset(new uint8_t[kBufferSize]);
    return buf_.get();
}

bool WavStream::skip(uint64_t n) {
    uint8_t* scratch = buffer();
    while (n > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n, kBufferSize));
        const size_t got = fill(scratch, want);
        n -= got;
        if (got < want)
            return false;
    }
    return true;
}

bool WavStream::fail(std::string why) {
    error_ = std::move(why);
    return false;
}

bool WavStream::open() {
    uint8_t head[12];
    const size_t n = fill(head, sizeof head);
    if (n < 12)
        return fail(n >= 4 && std::memcmp(head, "RIFF", 4) != 0
                        ? "not a RIFF/WAVE file"
                        : "truncated file: no complete RIFF header");
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return fail("not a RIFF/WAVE file");

    // Walk the chunks in whatever order they come; the RIFF size is not
    // trusted, the input's real length is (when it has one).
    const int64_t total = src_.size();
    const bool sized = total >= 0;
    uint8_t fmt[kFmtBytesUsed] = {};
    bool haveFmt = false, fmtTruncated = false;
    uint64_t fmtSize = 0;
    bool haveData = false, dataCut = false;
    uint64_t dataPos = 0, dataLen = 0;
    uint64_t pos = 12;
    for (;;) {
        if (sized && static_cast<uint64_t>(total) - pos < 8)
            break;
        uint8_t h[8];
        if (fill(h, 8) < 8)
            break;
        const uint32_t claimed = le32(h + 4);
        const uint64_t body = pos + 8;
        uint64_t len = claimed;
        bool cut = false;
        if (sized) {
            const uint64_t avail = static_cast<uint64_t>(total) - body;
            cut = claimed > avail;
            len = cut ? avail : claimed;
        }
        uint64_t taken = 0; // bytes of the body read already
        if (std::memcmp(h, "fmt ", 4) == 0 && !haveFmt) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(len, kFmtBytesUsed));
            const size_t got = fill(fmt, want);
            taken = got;
            haveFmt = true;
            if (got < want) // a stream that ends inside fmt
                cut = true;
            fmtSize = got < want ? got : len;
            fmtTruncated = cut;
            if (haveData)
                break;
        } else if (std::memcmp(h, "data", 4) == 0 && !haveData) {
            haveData = true;
            dataPos = body;
            dataLen = len;
            dataCut = cut;
            if (haveFmt)
                break; // the samples follow right here
            if (!sized)
                return fail("data chunk before fmt chunk in an input that cannot seek");
        }
        if (cut)
            break;
        // Chunks of odd size are followed by one pad byte.
        const uint64_t next = static_cast<uint64_t>(claimed) + (claimed & 1u);
        if (sized) {
            if (next >= static_cast<uint64_t>(total) - body)
                break;
            pos = body + next;
            if (!src_.seek(pos))
                break;
        } else {
            if (!skip(next - taken))
                break;
            pos = body + next;
        }
    }
    if (!src_.error().empty())
        return fail("read error: " + src_.error());

    if (!haveFmt)
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
    if (format != kFormatPcm && format != kFormatFloat)
        return fail("not PCM: format code " + hex16(format) +
                    " (need 0x0001, integer PCM, or 0x0003, float)");
    const bool isFloat = format == kFormatFloat;
    if (channels == 0 || channels > kMaxChannels)
        return fail(std::to_string(channels) + " channels (need 1 to " +
                    std::to_string(kMaxChannels) + ")");
    if (rate < kMinRate || rate > kMaxRate)
        return fail(std::to_string(rate) + " Hz (need " + std::to_string(kMinRate) + " to " +
                    std::to_string(kMaxRate) + " Hz)");
    if (isFloat ? bits != 32 && bits != 64 : bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return fail(std::to_string(bits) + " bits per sample (need " +
                    (isFloat ? "32 or 64 for float" : "8, 16, 24 or 32") + ")");
    if (blockAlign != channels * (bits / 8))
        return fail("block align " + std::to_string(blockAlign) + " does not match " +
                    std::to_string(bits) + "-bit " +
                    (channels == 1 ? std::string("mono") : std::to_string(channels) + " channels"));

    if (!haveData)
        return fail("no data chunk");
    if (sized && !src_.seek(dataPos))
        return fail("read error: cannot seek to the data chunk");

    bits_ = bits;
    channels_ = channels;
    rate_ = rate;
    kind_ = isFloat ? SampleKind::Float : SampleKind::Integer;
    truncated_ = dataCut;
    dataLeft_ = dataLen;
    if (dataLen / blockAlign == 0)
        return fail(dataCut ? "truncated file: data chunk holds no samples"
                            : "no audio: data chunk is empty");
    refill();
    if (!src_.error().empty())
        return fail("read error: " + src_.error());
    if (bufLen_ < static_cast<size_t>(blockAlign))
        return fail("truncated file: data chunk holds no samples");
    return true;
}

size_t WavStream::refill() {
    // Keep a partial sample, then top the buffer up from the data chunk.
    uint8_t* b = buffer();
    const size_t keep = bufLen_ - bufPos_;
    std::memmove(b, b + bufPos_, keep);
    bufPos_ = 0;
    bufLen_ = keep;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kBufferSize - keep, dataLeft_));
    const size_t got = fill(b + keep, want);
    dataLeft_ -= got;
    bufLen_ += got;
    if (got < want) {
        truncated_ = truncated_ || src_.error().empty();
        dataLeft_ = 0;
    }
    return got;
}

size_t WavStream::read(int16_t* out, size_t max) {
    const size_t width = static_cast<size_t>(bits_ / 8);
    if (width == 0 || width > 2 || channels_ != 1 || kind_ != SampleKind::Integer)
        return 0;
    if (bufLen_ - bufPos_ < width && dataLeft_ > 0)
        refill();
    const size_t count = std::min(max, (bufLen_ - bufPos_) / width);
    const uint8_t* p = buffer() + bufPos_;
    for (size_t i = 0; i < count; ++i) {
        if (width == 1)
            out[i] = static_cast<int16_t>((p[i] - 128) * 256);
        else
            out[i] = static_cast<int16_t>(le16(p + 2 * i));
    }
    bufPos_ += count * width;
    return count;
}

namespace {

double sampleAt(const uint8_t* p, int bits, SampleKind kind) {
    if (kind == SampleKind::Float) {
        double v;
        if (bits == 32) {
            const uint32_t u = le32(p);
            float f;
            std::memcpy(&f, &u, sizeof f);
            v = f;
        } else {
            const uint64_t u = le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32);
            std::memcpy(&v, &u, sizeof v);
        }
        if (std::isnan(v))
            return 0.0;
        return std::clamp(v, -1.0, 1.0);
    }
    switch (bits) {
    case 8:
        return (p[0] - 128) / 128.0;
    case 16:
        return static_cast<int16_t>(le16(p)) / 32768.0;
    case 24: {
        const auto u = static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) << 8;
        return static_cast<int32_t>(u) / 2147483648.0;
    }
    default:
        return static_cast<int32_t>(le32(p)) / 2147483648.0;
    }
}

} // namespace

size_t WavStream::readMono(double* out, size_t max) {
    const size_t width = static_cast<size_t>(bits_ / 8);
    const size_t frame = width * static_cast<size_t>(channels_);
    if (frame == 0)
        return 0;
    if (bufLen_ - bufPos_ < frame && dataLeft_ > 0)
        refill();
    const size_t count = std::min(max, (bufLen_ - bufPos_) / frame);
    const uint8_t* p = buffer() + bufPos_;
    for (size_t i = 0; i < count; ++i) {
        double sum = 0;
        for (int c = 0; c < channels_; ++c)
            sum += sampleAt(p + i * frame + static_cast<size_t>(c) * width, bits_, kind_);
        out[i] = sum / channels_;
    }
    bufPos_ += count * frame;
    return count;
}

WavAudio parseWav(const uint8_t* data, size_t size) {
    MemorySource src(data, size);
    WavStream stream(src);
    WavAudio w;
    if (!stream.open()) {
        w.error = stream.error();
        return w;
    }
    size_t got;
    if (stream.isPlain8kMono()) {
        int16_t block[4096];
        while ((got = stream.read(block, 4096)) > 0)
            w.samples.insert(w.samples.end(), block, block + got);
    } else {
        double block[4096];
        while ((got = stream.readMono(block, 4096)) > 0)
            w.mono.insert(w.mono.end(), block, block + got);
    }
    w.bitsPerSample = stream.bitsPerSample();
    w.channels = stream.channels();
    w.rate = stream.rate();
    w.dataTruncated = stream.dataTruncated();
    w.ok = true;
    return w;
}

} // namespace pvconv
