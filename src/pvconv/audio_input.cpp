#include "audio_input.h"

#include <algorithm>
#include <cmath>

#include <soxr.h>

namespace pvconv {

struct EncoderInput::Soxr {
    soxr_t s = nullptr;
    ~Soxr() {
        if (s)
            soxr_delete(s);
    }
};

namespace {
constexpr size_t kBlock = 8192;

int16_t toS16(double v) {
    const double x = std::nearbyint(v * 32768.0);
    return static_cast<int16_t>(std::clamp(x, -32768.0, 32767.0));
}
} // namespace

EncoderInput::EncoderInput(WavStream& wav) : wav_(wav) {
    if (wav_.isPlain8kMono())
        return;
    in_.resize(kBlock);
    if (wav_.rate() == kRequiredRate)
        return; // only a downmix or a wider sample: no rate change
    out_.resize(kBlock);
    soxr_ = std::make_unique<Soxr>();
    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    // Very high quality: the cost is small beside the encoder's.
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_runtime_spec_t rt = soxr_runtime_spec(1);
    soxr_->s = soxr_create(wav_.rate(), kRequiredRate, 1, &err, &io, &q, &rt);
    if (err != nullptr || soxr_->s == nullptr)
        error_ = std::string("cannot set up the resampler: ") + (err ? err : "unknown error");
}

EncoderInput::~EncoderInput() = default;

size_t EncoderInput::read(int16_t* out, size_t max) {
    if (wav_.isPlain8kMono())
        return wav_.read(out, max);
    if (!error_.empty())
        return 0;
    if (!soxr_) {
        const size_t got = wav_.readMono(in_.data(), std::min(max, in_.size()));
        inFrames_ += got;
        for (size_t i = 0; i < got; ++i)
            out[i] = toS16(in_[i]);
        return got;
    }
    size_t done = 0;
    while (done < max) {
        if (outPos_ < outLen_) {
            const size_t take = std::min(max - done, outLen_ - outPos_);
            for (size_t i = 0; i < take; ++i)
                out[done + i] = toS16(out_[outPos_ + i]);
            outPos_ += take;
            done += take;
            continue;
        }
        if (drained_)
            break;
        if (inPos_ == inLen_ && !inputEnded_) {
            inLen_ = wav_.readMono(in_.data(), in_.size());
            inPos_ = 0;
            inFrames_ += inLen_;
            inputEnded_ = inLen_ == 0;
        }
        size_t used = 0, made = 0;
        // Once the input has ended, a null input makes soxr flush its tail.
        const soxr_error_t err =
            inputEnded_
                ? soxr_process(soxr_->s, nullptr, 0, nullptr, out_.data(), out_.size(), &made)
                : soxr_process(soxr_->s, in_.data() + inPos_, inLen_ - inPos_, &used, out_.data(),
                               out_.size(), &made);
        if (err != nullptr) {
            error_ = std::string("resampler failed: ") + err;
            break;
        }
        inPos_ += used;
        outPos_ = 0;
        outLen_ = made;
        if (inputEnded_ && made == 0)
            drained_ = true;
    }
    return done;
}

} // namespace pvconv
