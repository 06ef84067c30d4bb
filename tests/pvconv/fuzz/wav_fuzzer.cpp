// libFuzzer target of the streaming WAV reader: any byte string, read as a
// file (known length, seekable) and as a pipe (neither), must give either
// samples or a one-line reason, without reading outside the input. Samples
// go on through the downmix and the resampler, as in pvconv.
#include "audio_input.h"
#include "wav_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// A pipe: no length, no seeking, short reads.
class PipeSource : public pvconv::ByteSource {
public:
    PipeSource(const uint8_t* d, size_t n) : data_(d), size_(n) {}
    size_t read(uint8_t* to, size_t n) override {
        const size_t take = std::min({n, size_ - pos_, size_t(1000)});
        std::memcpy(to, data_ + pos_, take);
        pos_ += take;
        return take;
    }
    bool seek(uint64_t) override { return false; }
    const std::string& error() const override { return error_; }

private:
    const uint8_t* data_;
    size_t size_, pos_ = 0;
    std::string error_;
};

void check(pvconv::ByteSource& src, size_t size) {
    pvconv::WavStream w(src);
    if (!w.open()) {
        if (w.error().empty() || w.error().find('\n') != std::string::npos)
            std::abort();
        return;
    }
    const int bits = w.bitsPerSample();
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 64)
        std::abort();
    if (w.channels() < 1 || w.channels() > static_cast<int>(pvconv::kMaxChannels))
        std::abort();
    pvconv::EncoderInput in(w);
    if (!in.error().empty())
        return; // a rate the resampler refuses is a reason, not a fault
    size_t total = 0, got;
    int16_t block[333];
    while ((got = in.read(block, 333)) > 0)
        total += got;
    // Frames can only come from bytes of the input, and there is at least one.
    const uint64_t frames = w.isPlain8kMono() ? total : in.inputFrames();
    if (frames == 0 || frames > size || w.bytesRead() > size || !in.error().empty())
        std::abort();
    // Resampled: no more than the rate ratio allows, give or take the filter's rounding.
    if (total > frames * pvconv::kRequiredRate / w.rate() + 2)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pvconv::MemorySource file(data, size);
    check(file, size);
    PipeSource pipe(data, size);
    check(pipe, size);
    return 0;
}
