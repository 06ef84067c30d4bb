#include "converter.h"

#include <cmath>

namespace pvconv {

void DcRemover::start(std::vector<float>& out) {
    int64_t sum = 0;
    for (int16_t v : first_)
        sum += v;
    const auto n = static_cast<int64_t>(first_.size());
    const auto x = static_cast<int32_t>(n > 0 ? (2 * sum + (sum >= 0 ? n : -n)) / (2 * n) : 0);
    for (int32_t& v : xs_)
        v = x;
    for (int64_t& v : s1s_)
        v = static_cast<int64_t>(kLength) * x;
    s1_ = static_cast<int64_t>(kLength) * x;
    s2_ = static_cast<int64_t>(kLength) * kLength * x;
    started_ = true;
    for (int16_t v : first_)
        step(v, out);
    first_.clear();
    first_.shrink_to_fit();
}

void DcRemover::step(int32_t x, std::vector<float>& out) {
    const size_t i = static_cast<size_t>(n_ % (2 * kLength));
    s1_ += x - xs_[(i + kLength) % (2 * kLength)]; // the sample kLength back leaves
    xs_[i] = x;
    const size_t j = static_cast<size_t>(n_ % kLength);
    s2_ += s1_ - s1s_[j];
    s1s_[j] = s1_;
    ++n_;
    if (n_ > static_cast<uint64_t>(kDelay)) {
        const int32_t centre = xs_[(i + 2 * kLength - kDelay) % (2 * kLength)];
        double low = static_cast<double>(s2_) / (static_cast<double>(kLength) * kLength);
        // Offsets up to kKeep are left alone: a recording's own small, slowly
        // varying offset belongs to its sound, and a codec carries it well.
        low = low > kKeep ? low - kKeep : (low < -kKeep ? low + kKeep : 0.0);
        out.push_back(static_cast<float>((centre - low) / 32768.0));
    }
}

void DcRemover::push(const int16_t* x, size_t n, std::vector<float>& out) {
    size_t k = 0;
    for (; k < n && !started_; ++k) {
        first_.push_back(x[k]);
        if (first_.size() == static_cast<size_t>(kLength))
            start(out);
    }
    for (; k < n; ++k)
        step(x[k], out);
}

void DcRemover::finish(std::vector<float>& out) {
    if (!started_) {
        if (first_.empty())
            return;
        start(out);
    }
    // Continue with the mean of the last kLength inputs: s1_ is their sum.
    const auto tail = static_cast<int32_t>(std::llround(static_cast<double>(s1_) / kLength));
    for (int k = 0; k < kDelay; ++k)
        step(tail, out);
}

Converter::Converter(const ConverterOptions& options) : opt_(options), encoder_(options.encoder) {}

void Converter::push(const int16_t* samples, size_t count, std::vector<Packet>& out) {
    scratch_.clear();
    if (opt_.removeDc) {
        dc_.push(samples, count, scratch_);
    } else {
        for (size_t i = 0; i < count; ++i)
            scratch_.push_back(samples[i] / 32768.0f);
    }
    encoder_.push(scratch_.data(), scratch_.size(), out);
}

void Converter::finish(std::vector<Packet>& out) {
    if (opt_.removeDc) {
        scratch_.clear();
        dc_.finish(scratch_);
        encoder_.push(scratch_.data(), scratch_.size(), out);
    }
    encoder_.finish(out);
}

} // namespace pvconv
