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

Lspf interpolateLspf(const Lspf& prev, const Lspf& curr, int subframe) {
    const float w = 0.25f * static_cast<float>(subframe + 1);
    Lspf out{};
    for (int i = 0; i < kLpcOrder; ++i)
        out[i] = w * curr[i] + (1.0f - w) * prev[i];
    return out;
}

void decodeCodebook(const FullRateFrame& f, float gain[16], int index[16]) {
    int g1[16];
    for (int i = 0; i < 16; ++i) {
        g1[i] = 4 * f.cbgain[i];
        if ((i & 3) == 3)
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

bool Decoder::decode(const FullRatePayload& payload, float out[kFrameSize], bool prefilter,
                     bool postfilter) {
    const FullRateFrame f = unpackFullRate(payload);
    if (f.reserved != 0)
        return false;
    for (int s = 0; s < kPitchSubframes; ++s)
        if (f.pfrac[s] && f.plag[s] >= 124)
            return false;
    const Lspf lspf = decodeLspf(f.lspv);
    if (!lspfAcceptable(lspf))
        return false;

    float gain[16];
    int index[16];
    decodeCodebook(f, gain, index);
    float cb[kFrameSize];
    for (int i = 0; i < 16; ++i)
        for (int n = 0; n < kCodebookSubframeSize; ++n)
            cb[i * 10 + n] = gain[i] * codebookSample(index[i], n);

    float pgain[4];
    int lag[4], frac[4];
    for (int s = 0; s < 4; ++s) {
        pgain[s] = f.plag[s] ? (f.pgain[s] + 1) * 0.25f : 0.0f;
        lag[s] = f.plag[s] + 16;
        frac[s] = f.pfrac[s];
    }
    float exc[kFrameSize];
    pitchFilterFrame(pitchMem_, cb, pgain, lag, frac, exc);

    if (prefilter) {
        // Pitch pre-filter at half the gain, then scaled back to the energy of
        // the pitch-filtered signal in every pitch subframe.
        float pre[4];
        for (int s = 0; s < 4; ++s)
            pre[s] = 0.5f * std::min(pgain[s], 1.0f);
        float shaped[kFrameSize];
        pitchFilterFrame(prefilterMem_, exc, pre, lag, frac, shaped);
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

    Lpc lpc{};
    float* y = formantMem_ + kLpcOrder;
    for (int s = 0; s < 4; ++s) {
        lpc = decoderLpc(interpolateLspf(prevLspf_, lspf, s));
        synthesize(lpc, exc + s * 40, y + s * 40, 40);
    }

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
    return true;
}

} // namespace pvconv
