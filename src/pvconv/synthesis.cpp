#include "synthesis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pvconv {

float gainOfIndex(int g1) {
    return tables::kGainTimes8[g1] / (8.0f * 8192.0f);
}

Lspf decodeLspf(const std::array<uint8_t, 5>& lspv) {
    Lspf l{};
    float acc = 0.0f;
    for (int i = 0; i < 5; ++i) {
        const uint16_t* e = tables::kLspVq[i][lspv[i]];
        acc = static_cast<float>(acc + e[0] * 0.0001);
        l[2 * i] = acc;
        acc = static_cast<float>(acc + e[1] * 0.0001);
        l[2 * i + 1] = acc;
    }
    return l;
}

bool lspfAcceptable(const Lspf& l, float margin) {
    if (l[9] <= 0.66f + margin || l[9] >= 0.985f - margin)
        return false;
    for (int i = 4; i < kLpcOrder; ++i)
        if (std::fabs(l[i] - l[i - 4]) < 0.0931f + margin)
            return false;
    return true;
}

int predictedGainOffset(int g1a, int g1b, int g1c) {
    return std::clamp((g1a + g1b + g1c) / 3 - 6, 0, 32);
}

Lspf mixLspf(const Lspf& prev, const Lspf& curr, float w) {
    Lspf out{};
    for (int i = 0; i < kLpcOrder; ++i)
        out[i] = curr[i] * w + prev[i] * (1.0f - w);
    return out;
}

Lspf interpolateLspf(const Lspf& prev, const Lspf& curr, int subframe) {
    const float w = 0.25f * static_cast<float>(subframe + 1);
    Lspf out{};
    for (int i = 0; i < kLpcOrder; ++i)
        out[i] = w * curr[i] + (1.0f - w) * prev[i];
    return out;
}

bool quarterLspfAcceptable(const Lspf& l, float margin) {
    if (l[9] <= 0.70f + margin || l[9] >= 0.97f - margin)
        return false;
    for (int i = 3; i < kLpcOrder; ++i)
        if (std::fabs(l[i] - l[i - 2]) < 0.08f + margin)
            return false;
    return true;
}

bool quarterGainsAcceptable(const uint8_t cbgain[5]) {
    int prev = 0;
    for (int i = 1; i < 5; ++i) {
        const int diff = cbgain[i] - cbgain[i - 1];
        if (std::abs(diff) > 10 || std::abs(diff - prev) > 12)
            return false;
        prev = diff;
    }
    return true;
}

void decodeCodebook(const FullRateFrame& f, float gain[16], int index[16], int g1[16],
                    int subframes) {
    for (int i = 0; i < subframes; ++i) {
        g1[i] = 4 * f.cbgain[i];
        if (subframes == 16 && (i & 3) == 3)
            g1[i] += predictedGainOffset(g1[i - 1], g1[i - 2], g1[i - 3]);
        gain[i] = gainOfIndex(g1[i]);
        index[i] = f.cindex[i];
        if (f.cbsign[i]) {
            gain[i] = -gain[i];
            index[i] = (index[i] - 89) & 127;
        }
    }
}

void pitchFilterFrame(float* mem, const float* in, const float gain[4], const int lag[4],
                      const int frac[4], float* result) {
    float* out = mem + kPitchMemory;
    for (int s = 0; s < kPitchSubframes; ++s) {
        for (int n = 0; n < kPitchSubframeSize; ++n, ++out, ++in) {
            if (gain[s] != 0.0f) {
                const float* past = out - lag[s];
                const float p = frac[s] ? halfSample(past) : *past;
                *out = *in + gain[s] * p;
            } else {
                *out = *in;
            }
        }
    }
    std::copy(mem + kPitchMemory, mem + kPitchMemory + kFrameSize, result);
    std::memmove(mem, mem + kFrameSize, kPitchMemory * sizeof(float));
}

namespace {

// y[n] = x[n] - sum a[k] y[n-k-1]; y points after kLpcOrder samples of history.
void synthesize(const Lpc& a, const float* x, float* y, int n) {
    for (int i = 0; i < n; ++i) {
        float acc = x[i];
        for (int k = 0; k < kLpcOrder; ++k)
            acc -= a[k] * y[i - k - 1];
        y[i] = acc;
    }
}

float energy(const float* x, int n) {
    float s = 0.0f;
    for (int i = 0; i < n; ++i)
        s += x[i] * x[i];
    return s;
}

} // namespace

Decoder::Decoder() {
    for (int i = 0; i < kLpcOrder; ++i)
        prevLspf_[i] = static_cast<float>((i + 1) / 11.0);
    std::fill(std::begin(pitchMem_), std::end(pitchMem_), 0.0f);
    std::fill(std::begin(prefilterMem_), std::end(prefilterMem_), 0.0f);
    std::fill(std::begin(formantMem_), std::end(formantMem_), 0.0f);
    std::fill(std::begin(postPoleMem_), std::end(postPoleMem_), 0.0f);
}

namespace {

constexpr double kLspSpread = 0.02;              // eighth-rate LSP step and minimum spacing
constexpr double kEighthPredictor = 29.0 / 32.0; // pull of the previous LSPs
constexpr double kNoiseScale = 1.373681186 / 32768.0;

} // namespace

Lspf Decoder::eighthRatePrediction() const {
    const Lspf& base = prevRate_ == kEighthRateByte ? predictorLspf_ : prevLspf_;
    Lspf p{};
    for (int i = 0; i < kLpcOrder; ++i)
        p[i] = static_cast<float>(base[i] * kEighthPredictor +
                                  (i + 1) * ((1.0 - kEighthPredictor) / 11.0));
    return p;
}

int Decoder::eighthRateGainBase() const {
    return std::clamp((prevG1_[0] + prevG1_[1]) / 2 - 5, 0, 54);
}

namespace {

// One noise sample of the quarter-rate filter over raw[-20..0], accumulated
// in float with double taps, as the decoder does.
float quarterFir(const float* raw) {
    float v = 0.0f;
    for (int j = 0; j < 10; ++j)
        v = static_cast<float>(v + tables::kQuarterNoiseFir[j] * (raw[-j] + raw[-20 + j]));
    return static_cast<float>(v + tables::kQuarterNoiseFir[10] * raw[-10]);
}

uint16_t quarterSeed(const std::array<uint8_t, 5>& lspv) {
    return static_cast<uint16_t>((0x0003 & lspv[4]) << 14 | (0x003F & lspv[3]) << 8 |
                                 (0x0060 & lspv[2]) << 1 | (0x0007 & lspv[1]) << 3 |
                                 (0x0038 & lspv[0]) >> 3);
}

} // namespace

void Decoder::quarterRateNoise(const std::array<uint8_t, 5>& lspv, float out[kFrameSize]) const {
    float raw[20 + kFrameSize];
    std::copy(noiseMem_, noiseMem_ + 20, raw);
    uint16_t seed = quarterSeed(lspv);
    const float g = static_cast<float>(kNoiseScale);
    for (int n = 0; n < kFrameSize; ++n) {
        seed = static_cast<uint16_t>(521 * seed + 259);
        raw[20 + n] = static_cast<float>(static_cast<int16_t>(seed));
        out[n] = g * quarterFir(raw + 20 + n);
    }
}

bool Decoder::decodeQuarter(const Packet& packet, float exc[kFrameSize], Lspf& lspf, Lpc lpc[4]) {
    const FullRateFrame f = unpackFrame(packet);
    if (f.reserved != 0 || !quarterGainsAcceptable(f.cbgain.data()))
        return false;
    lspf = decodeLspf(f.lspv);
    if (!quarterLspfAcceptable(lspf))
        return false;
    octaveCount_ = 0;
    int g1[5];
    float gain[8];
    for (int i = 0; i < 5; ++i) {
        g1[i] = 4 * f.cbgain[i];
        gain[i] = gainOfIndex(g1[i]);
    }
    prevG1_[0] = g1[3];
    prevG1_[1] = g1[4];
    lastCodebookGain_ = gainOfIndex(g1[4]);
    // Smoothing of the noise energy over eight blocks, as the decoder does it.
    gain[7] = gain[4];
    gain[6] = static_cast<float>(0.4 * gain[3] + 0.6 * gain[4]);
    gain[5] = gain[3];
    gain[4] = static_cast<float>(0.8 * gain[2] + 0.2 * gain[3]);
    gain[3] = static_cast<float>(0.2 * gain[1] + 0.8 * gain[2]);
    gain[2] = gain[1];
    gain[1] = static_cast<float>(0.6 * gain[0] + 0.4 * gain[1]);

    float raw[20 + kFrameSize];
    std::copy(noiseMem_, noiseMem_ + 20, raw);
    uint16_t seed = quarterSeed(f.lspv);
    for (int i = 0; i < 8; ++i) {
        const float g = static_cast<float>(gain[i] * kNoiseScale);
        for (int k = 0; k < 20; ++k) {
            const int n = i * 20 + k;
            seed = static_cast<uint16_t>(521 * seed + 259);
            raw[20 + n] = static_cast<float>(static_cast<int16_t>(seed));
            exc[n] = g * quarterFir(raw + 20 + n);
        }
    }
    std::copy(raw + kFrameSize, raw + kFrameSize + 20, noiseMem_);

    // Noise frames keep no pitch: both pitch memories take the noise itself.
    std::copy(exc + 17, exc + kFrameSize, pitchMem_);
    std::copy(exc + 17, exc + kFrameSize, prefilterMem_);
    for (int s = 0; s < 4; ++s)
        lpc[s] = decoderLpc(interpolateLspf(prevLspf_, lspf, s));
    return true;
}

bool Decoder::decodeFull(const Packet& packet, float exc[kFrameSize], Lspf& lspf, Lpc lpc[4],
                         bool prefilter) {
    const bool half = packet.rate == kHalfRateByte;
    const FullRateFrame f = unpackFrame(packet);
    if (f.reserved != 0)
        return false;
    for (int s = 0; s < kPitchSubframes; ++s)
        if (f.pfrac[s] && f.plag[s] >= 124)
            return false;
    lspf = decodeLspf(f.lspv);
    if (!lspfAcceptable(lspf))
        return false;

    float gain[16];
    int index[16], g1[16];
    const int subframes = half ? 4 : 16;
    decodeCodebook(f, gain, index, g1, subframes);
    prevG1_[0] = g1[subframes - 2];
    prevG1_[1] = g1[subframes - 1];
    lastCodebookGain_ = gainOfIndex(g1[subframes - 1]);
    octaveCount_ = 0;

    float cb[kFrameSize];
    if (half) {
        for (int i = 0; i < 4; ++i)
            for (int n = 0; n < 40; ++n)
                cb[i * 40 + n] = gain[i] * halfCodebookSample(index[i], n);
    } else {
        for (int i = 0; i < 16; ++i)
            for (int n = 0; n < kCodebookSubframeSize; ++n)
                cb[i * 10 + n] = gain[i] * codebookSample(index[i], n);
    }

    float pgain[4];
    int lag[4], frac[4];
    for (int s = 0; s < 4; ++s) {
        pgain[s] = f.plag[s] ? (f.pgain[s] + 1) * 0.25f : 0.0f;
        lag[s] = f.plag[s] + 16;
        frac[s] = f.pfrac[s];
    }
    pitchFilterFrame(pitchMem_, cb, pgain, lag, frac, exc);

    // The pitch pre-filter runs always, to keep its memory; it shapes the
    // output only when asked.
    float pre[4];
    for (int s = 0; s < 4; ++s)
        pre[s] = 0.5f * std::min(pgain[s], 1.0f);
    float shaped[kFrameSize];
    pitchFilterFrame(prefilterMem_, exc, pre, lag, frac, shaped);
    if (prefilter) {
        // Scaled back to the energy of the pitch-filtered signal in every
        // pitch subframe.
        for (int s = 0; s < 4; ++s) {
            const float* v = shaped + s * 40;
            const float ev = energy(v, 40);
            float scale = 0.0f;
            if (ev != 0.0f)
                scale = std::sqrt(energy(exc + s * 40, 40) / ev);
            for (int n = 0; n < 40; ++n)
                exc[s * 40 + n] = v[n] * scale;
        }
    }
    for (int s = 0; s < 4; ++s)
        lpc[s] = decoderLpc(interpolateLspf(prevLspf_, lspf, s));
    return true;
}

bool Decoder::decodeEighth(const Packet& packet, float exc[kFrameSize], Lspf& lspf, Lpc lpc[4]) {
    const uint16_t first16 = static_cast<uint16_t>((packet.bytes[0] << 8) | packet.bytes[1]);
    if (first16 == 0xFFFF)
        return false;
    const EighthRateFrame f = unpackEighthRate(packet);
    if (f.reserved != 0)
        return false;

    // The gain moves half way from the last codebook gain towards a gain
    // index predicted from the last two, in eight steps.
    const int g1 = 2 * f.cbgain + std::clamp((prevG1_[0] + prevG1_[1]) / 2 - 5, 0, 54);
    const float slope =
        static_cast<float>(0.5 * (static_cast<double>(gainOfIndex(g1)) - lastCodebookGain_) / 8);
    float gain[8];
    for (int i = 1; i <= 8; ++i)
        gain[i - 1] = lastCodebookGain_ + slope * static_cast<float>(i);
    lastCodebookGain_ = gain[7];
    prevG1_[0] = prevG1_[1];
    prevG1_[1] = g1;

    // White noise from a 16-bit congruential generator seeded by the packet.
    uint16_t seed = first16;
    for (int i = 0; i < 8; ++i) {
        const float g = static_cast<float>(gain[i] * kNoiseScale);
        for (int j = 0; j < 20; ++j) {
            seed = static_cast<uint16_t>(521 * seed + 259);
            exc[i * 20 + j] = g * static_cast<float>(static_cast<int16_t>(seed));
        }
    }

    // LSPs: a step either way from a prediction that leans towards a flat
    // spectrum, kept apart, then smoothed with the previous frame's.
    const Lspf& base = prevRate_ == kEighthRateByte ? predictorLspf_ : prevLspf_;
    ++octaveCount_;
    for (int i = 0; i < kLpcOrder; ++i) {
        const double step = f.lsp[static_cast<size_t>(i)] ? kLspSpread : -kLspSpread;
        lspf[i] = static_cast<float>(step + base[i] * kEighthPredictor +
                                     (i + 1) * ((1.0 - kEighthPredictor) / 11.0));
    }
    predictorLspf_ = lspf;
    lspf[0] = static_cast<float>(std::max<double>(lspf[0], kLspSpread));
    for (int i = 1; i < kLpcOrder; ++i)
        lspf[i] = static_cast<float>(std::max<double>(lspf[i], lspf[i - 1] + kLspSpread));
    lspf[9] = static_cast<float>(std::min<double>(lspf[9], 1.0 - kLspSpread));
    for (int i = kLpcOrder - 1; i > 0; --i)
        lspf[i - 1] = static_cast<float>(std::min<double>(lspf[i - 1], lspf[i] - kLspSpread));
    lspf = mixLspf(prevLspf_, lspf, octaveCount_ < 10 ? 0.875f : 0.1f);

    // Noise frames keep no pitch: both pitch memories take the noise itself.
    std::copy(exc + 17, exc + kFrameSize, pitchMem_);
    std::copy(exc + 17, exc + kFrameSize, prefilterMem_);
    // ffmpeg's decoder uses the first subframe's interpolated filter for all four.
    const Lpc a = decoderLpc(mixLspf(prevLspf_, lspf, 0.625f));
    for (int s = 0; s < 4; ++s)
        lpc[s] = a;
    return true;
}

bool Decoder::decode(const Packet& packet, float out[kFrameSize], bool prefilter, bool postfilter) {
    float exc[kFrameSize];
    Lspf lspf{};
    Lpc lpcs[4];
    bool ok = false;
    if (packet.rate == kFullRateByte || packet.rate == kHalfRateByte)
        ok = decodeFull(packet, exc, lspf, lpcs, prefilter);
    else if (packet.rate == kQuarterRateByte)
        ok = decodeQuarter(packet, exc, lspf, lpcs);
    else if (packet.rate == kEighthRateByte)
        ok = decodeEighth(packet, exc, lspf, lpcs);
    if (!ok)
        return false;

    float* y = formantMem_ + kLpcOrder;
    for (int s = 0; s < 4; ++s)
        synthesize(lpcs[s], exc + s * 40, y + s * 40, 40);
    const Lpc& lpc = lpcs[3];

    if (postfilter) {
        float zero[kFrameSize], pole[kLpcOrder + kFrameSize];
        const Lpc num = weighted(lpc, 0.625f), den = weighted(lpc, 0.775f);
        for (int n = 0; n < kFrameSize; ++n) {
            float acc = y[n];
            for (int k = 0; k < kLpcOrder; ++k)
                acc += num[k] * y[n - k - 1];
            zero[n] = acc;
        }
        std::copy(postPoleMem_, postPoleMem_ + kLpcOrder, pole);
        synthesize(den, zero, pole + kLpcOrder, kFrameSize);
        std::copy(pole + kFrameSize, pole + kFrameSize + kLpcOrder, postPoleMem_);
        float* p = pole + kLpcOrder;
        // Tilt compensation, first order.
        const float lastIn = p[kFrameSize - 1];
        for (int n = kFrameSize - 1; n > 0; --n)
            p[n] -= 0.3f * p[n - 1];
        p[0] -= 0.3f * tiltMem_;
        tiltMem_ = lastIn;
        // Smoothed gain control back to the energy of the synthesis.
        const float ep = energy(p, kFrameSize);
        float scale = 1.0f;
        if (ep != 0.0f)
            scale = std::sqrt(energy(y, kFrameSize) / ep);
        scale *= 1.0f - 0.9375f;
        float mem = agcMem_;
        for (int n = 0; n < kFrameSize; ++n) {
            mem = 0.9375f * mem + scale;
            out[n] = p[n] * mem;
        }
        agcMem_ = mem;
    } else {
        std::copy(y, y + kFrameSize, out);
    }

    std::memmove(formantMem_, formantMem_ + kFrameSize, kLpcOrder * sizeof(float));
    prevLspf_ = lspf;
    prevRate_ = packet.rate;
    return true;
}

} // namespace pvconv
