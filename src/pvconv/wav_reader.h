#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pvconv {

// The encoder's rate. The reader takes any rate and channel count; other
// inputs are downmixed and resampled to this (see audio_input.h).
inline constexpr uint32_t kRequiredRate = 8000;
// Bounds of what the reader takes, beyond which a header is surely damaged.
inline constexpr uint32_t kMinRate = 1000;
inline constexpr uint32_t kMaxRate = 1536000;
inline constexpr unsigned kMaxChannels = 64;

enum class SampleKind { Integer, Float };

// Where the reader's bytes come from: a file, a pipe or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes; returns how many (0 at the end or on an error).
    virtual size_t read(uint8_t* to, size_t n) = 0;
    // Total length when known (a regular file, memory), else -1.
    virtual int64_t size() const { return -1; }
    // Moves to an absolute offset; only when size() is known.
    virtual bool seek(uint64_t offset) = 0;
    // Set when read() stopped on an error rather than at the end.
    virtual const std::string& error() const = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t read(uint8_t* to, size_t n) override;
    int64_t size() const override { return static_cast<int64_t>(size_); }
    bool seek(uint64_t offset) override;
    const std::string& error() const override { return error_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    std::string error_;
};

// Reads the header of a RIFF/WAVE file, then streams its samples. Only a
// small bounded prefix is read before a non-WAV input is refused, and the
// memory used does not grow with the file.
class WavStream {
public:
    explicit WavStream(ByteSource& source) : src_(source) {}
    // Reads and checks the header and the first block of samples; false with
    // error() set when the input is not usable.
    bool open();
    // Up to max samples (16-bit scale, 8-bit input widened); 0 at the end.
    // Only for 8 or 16-bit mono input (isPlain8kMono() or any rate).
    size_t read(int16_t* out, size_t max);
    // Up to max frames, each the mean of its channels at full scale 1.0
    // (NaN read as 0, infinities and out-of-range floats clipped); 0 at the end.
    size_t readMono(double* out, size_t max);

    int channels() const { return channels_; }
    uint32_t rate() const { return rate_; }
    SampleKind kind() const { return kind_; }
    // 8000 Hz mono 8 or 16-bit integer: samples go to the encoder as they are.
    bool isPlain8kMono() const {
        return rate_ == kRequiredRate && channels_ == 1 && kind_ == SampleKind::Integer &&
               bits_ <= 16;
    }

    const std::string& error() const { return error_; }
    int bitsPerSample() const { return bits_; }
    // The data chunk claimed more than the file holds (known at the latest
    // once read() has returned 0).
    bool dataTruncated() const { return truncated_; }
    // Bytes taken from the source so far.
    uint64_t bytesRead() const { return consumed_; }

private:
    size_t fill(uint8_t* to, size_t n); // reads until n bytes or the end
    bool skip(uint64_t n);
    bool fail(std::string why);
    size_t refill();

    ByteSource& src_;
    std::string error_;
    int bits_ = 0;
    int channels_ = 0;
    uint32_t rate_ = 0;
    SampleKind kind_ = SampleKind::Integer;
    bool truncated_ = false;
    uint64_t consumed_ = 0;
    uint64_t dataLeft_ = 0; // bytes of the data chunk not yet taken from the source
    static constexpr size_t kBufferSize = 65536;
    uint8_t* buffer(); // allocated on first use: most refusals never need it
    std::unique_ptr<uint8_t[]> buf_;
    size_t bufPos_ = 0, bufLen_ = 0;
};

struct WavAudio {
    bool ok = false;
    std::string error;            // one line, set when !ok
    std::vector<int16_t> samples; // 16-bit scale, 8-bit input widened (plain 8 kHz mono)
    std::vector<double> mono;     // any other input: its frames downmixed, full scale 1.0
    int bitsPerSample = 0;
    int channels = 0;
    uint32_t rate = 0;
    bool dataTruncated = false; // the data chunk claimed more than the file holds
};

// Parses a whole RIFF/WAVE file held in memory through WavStream. Never
// reads outside [data, data + size) and never throws on bad input.
WavAudio parseWav(const uint8_t* data, size_t size);

} // namespace pvconv
