#pragma once

#include "wav_reader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pvconv {

// The encoder's input from any WAV the reader takes: 8000 Hz mono 8/16-bit
// samples pass as they are (bit for bit); anything else is downmixed to mono
// and resampled to 8000 Hz by libsoxr at its very high quality (a linear-phase
// low-pass flat to 3.65 kHz, images and aliases about 170 dB down), then
// rounded to 16 bits. Memory stays flat whatever the length.
class EncoderInput {
public:
    explicit EncoderInput(WavStream& wav);
    ~EncoderInput();
    EncoderInput(const EncoderInput&) = delete;
    EncoderInput& operator=(const EncoderInput&) = delete;

    // Empty, or why the resampler could not be set up.
    const std::string& error() const { return error_; }
    // Up to max 8 kHz samples; 0 at the end (the resampler's tail included).
    size_t read(int16_t* out, size_t max);
    // Input frames taken from the file so far.
    uint64_t inputFrames() const { return inFrames_; }

private:
    WavStream& wav_;
    std::string error_;
    struct Soxr;
    std::unique_ptr<Soxr> soxr_;
    std::vector<double> in_, out_;
    size_t inPos_ = 0, inLen_ = 0, outPos_ = 0, outLen_ = 0;
    bool inputEnded_ = false, drained_ = false;
    uint64_t inFrames_ = 0;
};

} // namespace pvconv
