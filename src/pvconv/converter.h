#pragma once

#include "encoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pvconv {

// Removes a DC offset and slow drift with zero phase: the input minus its
// low-pass, the low-pass being two cascaded moving averages (linear phase,
// a symmetric FIR) whose delay is taken back by a look-ahead of
// kDelay samples (512 ms). Everything from 10 Hz up passes untouched in
// phase and within 0.01 dB in level. Only the part of the low-pass beyond
// kKeep is taken away: a recording's own small offset, part of its sound,
// stays.
class DcRemover {
public:
    static constexpr int kLength = 4096; // of each moving average: first zero at 2 Hz
    static constexpr int kDelay = kLength - 1;
    static constexpr double kKeep = 64.0; // -54 dBFS

    // Appends the filtered samples (full scale 1.0) that the new input makes
    // ready; kDelay samples behind the input until finish().
    void push(const int16_t* x, size_t n, std::vector<float>& out);
    // The last kDelay samples, the input continued by its mean over the
    // last kLength samples.
    void finish(std::vector<float>& out);

private:
    void start(std::vector<float>& out);
    void step(int32_t x, std::vector<float>& out);

    // The first kLength samples wait for their mean, which primes the
    // filter as the input's past: a tone starting at full level or an
    // offset present from the first sample then makes no transient.
    std::vector<int16_t> first_;
    bool started_ = false;
    uint64_t n_ = 0;
    int64_t s1_ = 0, s2_ = 0; // the two running sums
    int32_t xs_[2 * kLength]; // recent input
    int64_t s1s_[kLength];    // recent first sums
};

struct ConverterOptions {
    EncoderOptions encoder;
    bool removeDc = true;
};

// The whole conversion of a stream of 16-bit samples into packets, with
// bounded memory whatever the length.
class Converter {
public:
    explicit Converter(const ConverterOptions& options = {});
    void push(const int16_t* samples, size_t count, std::vector<Packet>& out);
    void finish(std::vector<Packet>& out);

private:
    ConverterOptions opt_;
    DcRemover dc_;
    Encoder encoder_;
    std::vector<float> scratch_;
};

} // namespace pvconv
