#include "encoder.h"

#include "spectrum.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace pvconv {
namespace {

constexpr int kSub = kPitchSubframeSize;
constexpr int kUnit = kCodebookSubframeSize;
constexpr int kMinLag = 17; // plag 1..127; plag 0 switches the pitch filter off
constexpr int kMaxLag = 143;
constexpr int kMaxFracLag = 139;    // the decoder erases half-sample lags beyond this
constexpr float kLspMargin = 1e-4f; // keeps float rounding away from the erasure limits

// y = x filtered by 1/A(z), with hist holding the last kLpcOrder outputs (oldest first).
void synthesis(const Lpc& a, const float* x, float* y, int n, const float* hist) {
    float buf[kLpcOrder + kFrameSize];
    std::copy(hist, hist + kLpcOrder, buf);
    float* out = buf + kLpcOrder;
    for (int i = 0; i < n; ++i) {
        float acc = x[i];
        for (int k = 0; k < kLpcOrder; ++k)
            acc -= a[k] * out[i - k - 1];
        out[i] = acc;
    }
    std::copy(out, out + n, y);
}

// Pole-zero filter A(z/g1)/A(z/g2): num and den are the weighted coefficient
// sets, xh/yh the last kLpcOrder inputs and outputs.
void weighting(const Lpc& num, const Lpc& den, const float* x, float* y, int n, const float* xh,
               const float* yh) {
    float xb[kLpcOrder + kFrameSize], yb[kLpcOrder + kFrameSize];
    std::copy(xh, xh + kLpcOrder, xb);
    std::copy(yh, yh + kLpcOrder, yb);
    std::copy(x, x + n, xb + kLpcOrder);
    for (int i = 0; i < n; ++i) {
        const float* xi = xb + kLpcOrder + i;
        float acc = xi[0];
        for (int k = 0; k < kLpcOrder; ++k)
            acc += num[k] * xi[-k - 1] - den[k] * yb[kLpcOrder + i - k - 1];
        yb[kLpcOrder + i] = acc;
    }
    std::copy(yb + kLpcOrder, yb + kLpcOrder + n, y);
}

// Four partial sums let the compiler use vector instructions without
// reassociating on its own; N is 10 or 40 here.
template <int N> inline float dot(const float* a, const float* b) {
    float acc[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    int i = 0;
    for (; i + 4 <= N; i += 4)
        for (int k = 0; k < 4; ++k)
            acc[k] += a[i + k] * b[i + k];
    for (; i < N; ++i)
        acc[0] += a[i] * b[i];
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

// Zero-state response of the weighted synthesis filter to v (length kSub).
// Written as a sum of scaled, shifted impulse responses so that it vectorises;
// each starts at a multiple of four samples, over zeros before h, which add
// nothing: the sums are those of the plain convolution, bit for bit.
void filterH(const float* h, const float* v, float* y) {
    static_assert(kSub % 4 == 0, "whole groups of four");
    float hp[4 + kSub] = {};
    std::copy(h, h + kSub, hp + 4);
    std::fill(y, y + kSub, 0.0f);
    for (int m = 0; m < kSub; ++m) {
        const float vm = v[m];
        const float* hm = hp + 4 - m;
        for (int n = m & ~3; n < kSub; ++n)
            y[n] += vm * hm[n];
    }
}

// The adaptive vector of lag L (+ half when frac) with unit gain: the pitch
// filter's output for a silent input, looking back into the past excitation
// and, for lags shorter than the subframe, into its own output.
void adaptiveVector(const float* past, int lag, int frac, float gain, float* v) {
    float buf[kPitchMemory + kSub];
    const int need = std::min(lag + 4, kPitchMemory); // oldest sample the filter reads
    std::copy(past - need, past, buf + kPitchMemory - need);
    float* out = buf + kPitchMemory;
    for (int n = 0; n < kSub; ++n) {
        const float* p = out + n - lag;
        out[n] = gain * (frac ? halfSample(p) : *p);
    }
    std::copy(out, out + kSub, v);
}

// Gain indices a codebook subframe may use, and their linear gains.
struct GainLevels {
    int count = 0;
    int g1[16];
    float gain[16];
};

GainLevels levels(int offset, int codes) {
    GainLevels l;
    l.count = codes;
    for (int c = 0; c < codes; ++c) {
        l.g1[c] = offset + 4 * c;
        l.gain[c] = gainOfIndex(l.g1[c]);
    }
    return l;
}

// The 128 vectors of a circular codebook (entry(pos) for pos & 127) through the
// filter h, by the shift recursion: the vector of start s is entries s..s+N-1 of
// the circle, so y_s[n] = c[s] h[n] + y_{s+1}[n-1].
template <int N, class Entry>
void filterCircularCodebook(const float* h, Entry entry, float (&ys)[128][N]) {
    for (int n = 0; n < N; ++n) {
        float acc = 0.0f;
        for (int i = 0; i <= n; ++i)
            acc += h[n - i] * entry(127 + i);
        ys[127][n] = acc;
    }
    for (int st = 126; st >= 0; --st) {
        const float c0 = entry(st);
        ys[st][0] = c0 * h[0];
        for (int n = 1; n < N; ++n)
            ys[st][n] = c0 * h[n] + ys[st + 1][n - 1];
    }
}

// The same kept sample by sample (y[n][s]), so that each step runs across the
// 128 vectors; the arithmetic is that of the recursion above. For the short
// vectors of full rate, where dot() spends most of its time on the sums.
template <int N, class Entry>
void filterCircularCodebookBySample(const float* h, Entry entry, float (&y)[N][128]) {
    for (int n = 0; n < N; ++n) {
        float acc = 0.0f;
        for (int i = 0; i <= n; ++i)
            acc += h[n - i] * entry(127 + i);
        y[n][127] = acc;
    }
    float c[127];
    for (int st = 0; st < 127; ++st)
        c[st] = entry(st);
    for (int st = 0; st < 127; ++st)
        y[0][st] = c[st] * h[0];
    for (int n = 1; n < N; ++n)
        for (int st = 0; st < 127; ++st)
            y[n][st] = c[st] * h[n] + y[n - 1][st + 1];
}

// c[st] = dot<kUnit>(a_st, b_st) for the 128 vectors kept sample by sample,
// where a is either one vector for all (a[n]) or the vectors themselves: the
// products and the order of the sums of dot(), so the result is bit for bit
// the same, each step running across the vectors.
inline float sampleOf(const float* a, int n, int) {
    return a[n];
}
inline float sampleOf(const float (&a)[kUnit][128], int n, int st) {
    return a[n][st];
}
template <class A> void correlateAll(const A& a, const float (&b)[kUnit][128], float* c) {
    static_assert(kUnit == 10, "the sums below follow dot<10>");
    float s0[128], s1[128], s2[128], s3[128];
    for (int st = 0; st < 128; ++st) {
        s0[st] = sampleOf(a, 0, st) * b[0][st];
        s1[st] = sampleOf(a, 1, st) * b[1][st];
        s2[st] = sampleOf(a, 2, st) * b[2][st];
        s3[st] = sampleOf(a, 3, st) * b[3][st];
    }
    for (int st = 0; st < 128; ++st) {
        s0[st] += sampleOf(a, 4, st) * b[4][st];
        s1[st] += sampleOf(a, 5, st) * b[5][st];
        s2[st] += sampleOf(a, 6, st) * b[6][st];
        s3[st] += sampleOf(a, 7, st) * b[7][st];
    }
    for (int st = 0; st < 128; ++st) {
        s0[st] += sampleOf(a, 8, st) * b[8][st];
        s0[st] += sampleOf(a, 9, st) * b[9][st];
        c[st] = (s0[st] + s1[st]) + (s2[st] + s3[st]);
    }
}

} // namespace

Encoder::Encoder(EncoderOptions options) : opt_(options) {
    for (int i = 0; i < 240; ++i)
        window_[i] = static_cast<float>(0.54 - 0.46 * std::cos(2.0 * kPi * i / 239.0));
    for (int k = 0; k <= kLpcOrder; ++k) {
        // Gaussian lag window (60 Hz) to keep sharp resonances from running away.
        const double f = 2.0 * kPi * 60.0 * k / 8000.0;
        lagWindow_[k] = static_cast<float>(std::exp(-0.5 * f * f));
    }
    for (int i = 0; i < kLpcOrder; ++i)
        prevLspfQ_[i] = prevLspfU_[i] = static_cast<float>((i + 1) / 11.0);
    prevLspv_ = quantiseLspf(prevLspfU_);
    std::fill(std::begin(exc_), std::end(exc_), 0.0f);
    std::fill(std::begin(pre_), std::end(pre_), 0.0f);
    std::fill(std::begin(synMem_), std::end(synMem_), 0.0f);
    std::fill(std::begin(errMem_), std::end(errMem_), 0.0f);
    std::fill(std::begin(werrMem_), std::end(werrMem_), 0.0f);
}

bool Encoder::analyse(const float* signal, Lspf& lspf) const {
    float w[240];
    const float* start = signal + opt_.analysisCentre - 120;
    for (int i = 0; i < 240; ++i)
        w[i] = start[i] * window_[i];
    std::array<double, kLpcOrder + 1> r = autocorrelation(w, 240);
    // White-noise correction at -40 dB, plus a floor for digital silence.
    r[0] = r[0] * 1.0001 + 1e-10;
    for (int k = 1; k <= kLpcOrder; ++k)
        r[k] *= lagWindow_[k];
    Lpc a{};
    if (!levinson(r, a))
        return false;
    return lpcToLspf(a, lspf);
}

std::array<uint8_t, 5> Encoder::quantiseLspf(const Lspf& target, bool quarter) const {
    // Weights favour closely spaced LSPs, which mark the formant peaks.
    float weight[kLpcOrder];
    for (int i = 0; i < kLpcOrder; ++i) {
        const float lo = target[i] - (i > 0 ? target[i - 1] : 0.0f);
        const float hi = (i < kLpcOrder - 1 ? target[i + 1] : 1.0f) - target[i];
        weight[i] = 1.0f / std::max(lo, 0.005f) + 1.0f / std::max(hi, 0.005f);
    }

    // Tree search keeping the best few paths through the five splits, since
    // each split's increments add to the previous one's end.
    struct Path {
        float dist;
        float value[kLpcOrder];
        uint8_t index[5];
    };
    constexpr int kKeep = 4;
    Path paths[kKeep];
    int count = 1;
    paths[0].dist = 0.0f;
    Path next[kKeep];
    // The codebooks' increments as the doubles the sums below add.
    static const auto steps = [] {
        std::array<std::array<std::array<double, 2>, 128>, 5> t{};
        for (int s = 0; s < 5; ++s)
            for (int e = 0; e < tables::kLspVqSize[s]; ++e)
                for (int k = 0; k < 2; ++k)
                    t[s][e][k] = tables::kLspVq[s][e][k] * 0.0001;
        return t;
    }();
    for (int s = 0; s < 5; ++s) {
        int nextCount = 0;
        const auto& table = steps[static_cast<size_t>(s)];
        for (int p = 0; p < count; ++p) {
            const Path& base = paths[p];
            const float cum = s > 0 ? base.value[2 * s - 1] : 0.0f;
            for (int e = 0; e < tables::kLspVqSize[s]; ++e) {
                const float q0 = static_cast<float>(cum + table[e][0]);
                const float q1 = static_cast<float>(q0 + table[e][1]);
                const int i0 = 2 * s, i1 = 2 * s + 1;
                const float d0 = q0 - target[i0], d1 = q1 - target[i1];
                const float dist = base.dist + weight[i0] * d0 * d0 + weight[i1] * d1 * d1;
                if (nextCount == kKeep && dist >= next[kKeep - 1].dist)
                    continue;
                // The decoder erases frames whose LSPs crowd or leave the band.
                if (quarter) {
                    if (i0 >= 3 && q0 - base.value[i0 - 2] < 0.08f + kLspMargin)
                        continue;
                    if (i1 >= 3 && q1 - base.value[i1 - 2] < 0.08f + kLspMargin)
                        continue;
                    if (s == 4 && (q1 <= 0.70f + kLspMargin || q1 >= 0.97f - kLspMargin))
                        continue;
                } else {
                    if (i0 >= 4 && q0 - base.value[i0 - 4] < 0.0931f + kLspMargin)
                        continue;
                    if (i1 >= 4 &&
                        q1 - (i1 - 4 == i0 ? q0 : base.value[i1 - 4]) < 0.0931f + kLspMargin)
                        continue;
                    if (s == 4 && (q1 <= 0.66f + kLspMargin || q1 >= 0.985f - kLspMargin))
                        continue;
                }
                int at = std::min(nextCount, kKeep - 1);
                while (at > 0 && next[at - 1].dist > dist) {
                    if (at < kKeep)
                        next[at] = next[at - 1];
                    --at;
                }
                Path& np = next[at];
                std::copy(base.value, base.value + i0, np.value);
                std::copy(base.index, base.index + s, np.index);
                np.value[i0] = q0;
                np.value[i1] = q1;
                np.index[s] = static_cast<uint8_t>(e);
                np.dist = dist;
                if (nextCount < kKeep)
                    ++nextCount;
            }
        }
        if (nextCount == 0)
            return quarter ? std::array<uint8_t, 5>{} : prevLspv_; // nothing acceptable
        std::copy(next, next + nextCount, paths);
        count = nextCount;
    }
    std::array<uint8_t, 5> out{};
    std::copy(paths[0].index, paths[0].index + 5, out.begin());
    return out;
}

Encoder::PitchChoice Encoder::searchPitch(const float* x, const float* h, const float* exc) const {
    // Target filtered backwards, so that <x, H v> = <d, v> costs one dot product.
    float d[kSub];
    for (int m = 0; m < kSub; ++m) {
        float acc = 0.0f;
        for (int n = m; n < kSub; ++n)
            acc += x[n] * h[n - m];
        d[m] = acc;
    }
    // Half-sample values of the past, for lags long enough not to need the
    // subframe's own output: half[p] interpolates at p - 0.5.
    constexpr int kHalfFrom = kMaxFracLag; // p in [-139, -4]
    float half[kHalfFrom];
    for (int p = -kHalfFrom; p <= -4; ++p)
        half[p + kHalfFrom] = halfSample(exc + p);

    struct Cand {
        float score;
        int lag, frac;
    };
    constexpr int kKeep = 5;
    Cand best[kKeep];
    int count = 0;
    float v[kSub];
    // Energies of the sliding windows of past excitation, updated one lag at a time.
    double eInt = 0.0, eHalf = 0.0;
    for (int n = 0; n < kSub; ++n) {
        eInt += static_cast<double>(exc[n - kSub]) * exc[n - kSub];
        eHalf +=
            static_cast<double>(half[kHalfFrom - kSub - 3 + n]) * half[kHalfFrom - kSub - 3 + n];
    }
    for (int lag = kMinLag; lag <= kMaxLag; ++lag) {
        if (lag > kSub) {
            const float in = exc[-lag], out = exc[kSub - lag];
            eInt += static_cast<double>(in) * in - static_cast<double>(out) * out;
        }
        if (lag > kSub + 3 && lag <= kMaxFracLag) {
            const float in = half[kHalfFrom - lag], out = half[kHalfFrom + kSub - lag];
            eHalf += static_cast<double>(in) * in - static_cast<double>(out) * out;
        }
        for (int frac = 0; frac <= (lag <= kMaxFracLag ? 1 : 0); ++frac) {
            float ev, c;
            if (!frac && lag >= kSub) {
                c = dot<kSub>(d, exc - lag);
                ev = static_cast<float>(eInt);
            } else if (frac && lag >= kSub + 3) {
                c = dot<kSub>(d, half + kHalfFrom - lag);
                ev = static_cast<float>(eHalf);
            } else if (!frac) {
                // Short lag: the past repeats with the lag as period.
                for (int n = 0; n < kSub; ++n)
                    v[n] = n < lag ? exc[n - lag] : v[n - lag];
                ev = dot<kSub>(v, v);
                c = dot<kSub>(d, v);
            } else {
                // Short half-sample lag: samples whose taps all lie in the
                // past come from half[]; the rest read the vector itself.
                float buf[kSub + kSub + 8];
                float* out = buf + kSub + 8;
                std::copy(exc - lag - 4, exc, out - lag - 4);
                for (int n = 0; n < kSub; ++n)
                    out[n] = n + 3 < lag ? half[kHalfFrom + n - lag] : halfSample(out + n - lag);
                std::copy(out, out + kSub, v);
                ev = dot<kSub>(v, v);
                c = dot<kSub>(d, v);
            }
            if (c <= 0.0f)
                continue;
            if (ev <= 0.0f)
                continue;
            const float score = c * c / ev;
            if (count == kKeep && score <= best[kKeep - 1].score)
                continue;
            int at = std::min(count, kKeep - 1);
            while (at > 0 && best[at - 1].score < score) {
                if (at < kKeep)
                    best[at] = best[at - 1];
                --at;
            }
            best[at] = {score, lag, frac};
            if (count < kKeep)
                ++count;
        }
    }

    // Rank the candidates by their error with the best quantised gain. The
    // vector of a short lag depends on the gain, since the decoder feeds the
    // subframe's own output back; rank with unit gain, then settle the gain of
    // the winner with the exact vector.
    PitchChoice choice;
    float bestErr = 0.0f; // leaving the pitch filter off changes nothing
    float y[kSub];
    for (int i = 0; i < count; ++i) {
        const int lag = best[i].lag, frac = best[i].frac;
        adaptiveVector(exc, lag, frac, 1.0f, v);
        filterH(h, v, y);
        const float yy = dot<kSub>(y, y), xy = dot<kSub>(x, y);
        for (int code = 0; code < 8; ++code) {
            const float g = 0.25f * static_cast<float>(code + 1);
            const float err = g * g * yy - 2.0f * g * xy;
            if (err < bestErr) {
                bestErr = err;
                choice = {lag, frac, code};
            }
        }
    }
    const bool selfRef = choice.frac ? choice.lag < kSub + 3 : choice.lag < kSub;
    if (choice.lag && selfRef) {
        bestErr = 0.0f;
        const PitchChoice found = choice;
        choice = {};
        for (int code = 0; code < 8; ++code) {
            adaptiveVector(exc, found.lag, found.frac, 0.25f * static_cast<float>(code + 1), v);
            filterH(h, v, y);
            const float err = dot<kSub>(y, y) - 2.0f * dot<kSub>(x, y);
            if (err < bestErr) {
                bestErr = err;
                choice = {found.lag, found.frac, code};
            }
        }
    }
    return choice;
}

Packet Encoder::encodeFrame(const float* signal, float* synthesized) {
    if (opt_.variableRate) {
        const uint8_t rate = decideRate(signal);
        Packet p;
        switch (rate) {
        case kEighthRateByte:
            return encodeNoise(signal, synthesized);
        case kQuarterRateByte:
            p = encodeQuarterRate(signal, synthesized);
            if (p.rate == kQuarterRateByte)
                return p;
            p = halfRatePacket(encodeFullRate(signal, synthesized, true));
            break;
        case kHalfRateByte:
            p = halfRatePacket(encodeFullRate(signal, synthesized, true));
            break;
        default:
            p = fullRatePacket(encodeFullRate(signal, synthesized));
            break;
        }
        float out[kFrameSize];
        model_.decode(p, out, opt_.trackPrefilter, false);
        return p;
    }
    if (opt_.eighthRateSilence) {
        bool silent = true;
        for (int n = 0; n < kFrameSize && silent; ++n)
            silent = std::fabs(signal[n]) <= 2.0f / 32768.0f;
        if (silent)
            return encodeSilence(signal, synthesized);
    }
    const Packet p = fullRatePacket(encodeFullRate(signal, synthesized));
    float out[kFrameSize];
    model_.decode(p, out, opt_.trackPrefilter, false);
    return p;
}

namespace {

// Energy of a frame in the band below about 2 kHz and above it (a
// three-tap half-band split).
struct FrameFeatures {
    double low = 0.0, high = 0.0;
    bool digitalSilence = true;
};

FrameFeatures features(const float* x) {
    FrameFeatures f;
    for (int n = 0; n < kFrameSize; ++n) {
        const double lo = 0.25 * x[n - 1] + 0.5 * x[n] + 0.25 * x[n + 1];
        const double hi = x[n] - lo;
        f.low += lo * lo;
        f.high += hi * hi;
        f.digitalSilence = f.digitalSilence && std::fabs(x[n]) <= 2.0f / 32768.0f;
    }
    return f;
}

// Largest normalised correlation of the frame with its past, lags 20..143.
double voicing(const float* x) {
    const float e0 = dot<kFrameSize>(x, x);
    if (e0 <= 0.0f)
        return 0.0;
    float e1 = 0.0f; // energy of the lagged window, slid one lag at a time
    for (int n = 0; n < kFrameSize; ++n)
        e1 += x[n - 20] * x[n - 20];
    double best = 0.0;
    for (int lag = 20; lag <= kMaxLag; ++lag) {
        if (lag > 20)
            e1 += x[-lag] * x[-lag] - x[kFrameSize - lag] * x[kFrameSize - lag];
        const float c = dot<kFrameSize>(x, x - lag);
        if (c > 0.0f && e1 > 0.0f)
            best = std::max(best, static_cast<double>(c) / std::sqrt(static_cast<double>(e0) * e1));
    }
    return best;
}

// The same of the frame pre-emphasised: a noise with most of its energy
// low (pink, brown, a rumble) correlates with its past at every lag, while
// a voice stays periodic.
double periodicity(const float* x) {
    float y[kMaxLag + 1 + kFrameSize];
    float* p = y + kMaxLag + 1;
    for (int n = -kMaxLag - 1; n < kFrameSize; ++n)
        p[n] = x[n] - 0.9f * x[n - 1];
    return voicing(p);
}

double db(double ratio) {
    return 10.0 * std::log10(std::max(ratio, 1e-12));
}

} // namespace

uint8_t Encoder::decideRate(const float* signal) {
    // Band energies against an adaptive estimate of the background noise:
    // the estimate drops at once to a quieter frame and creeps up slowly,
    // so speech never raises it much, while a louder room does in time.
    const FrameFeatures f = features(signal);
    constexpr double kFloor = 160.0 * 1e-9; // about -90 dBFS
    const double low = std::max(f.low, kFloor), high = std::max(f.high, kFloor);
    const double snr = std::max(db(low / noiseLow_), db(high / noiseHigh_));
    const double energy = low + high;
    speechLevel_ = std::max(energy, speechLevel_ * 0.998); // decays ~0.4 dB/s
    const double level = db(energy / speechLevel_);
    noiseLow_ = low < noiseLow_ ? low : std::min(low, noiseLow_ * 1.02);
    noiseHigh_ = high < noiseHigh_ ? high : std::min(high, noiseHigh_ * 1.02);

    // Below full rate only what is speech-like or background: not a tone, a
    // bell's ring-out or the quiet tone between two beeps, however quiet.
    double spectrum[kSpectrumBins];
    framePowerSpectrum(signal, spectrum);
    const ToneFeatures tone = tones_.next(spectrum);
    const bool musical =
        tone.flatnessDb < opt_.tonalFlatnessDb ||
        (tone.steadyFrames >= opt_.steadyFrames && tone.shapeChangeDb < opt_.steadyChangeDb);

    sinceVoiced_ = std::min(sinceVoiced_ + 1, 1 << 20);
    bool speech = sinceVoiced_ <= opt_.speechContextFrames;
    uint8_t rate;
    if (f.digitalSilence) {
        rate = kEighthRateByte;
    } else if (musical) {
        rate = kFullRateByte;
    } else if (snr < opt_.noiseSnrDb &&
               (level < opt_.backgroundLevelDb || db(energy / kFrameSize) < opt_.backgroundDbfs)) {
        rate = kEighthRateByte; // the room, well below the sound or quiet in itself
    } else {
        // Speech, and only speech, has voiced frames every few syllables. The
        // voicing measure is costly: a loud frame soon after a voiced one
        // needs none.
        if ((level <= opt_.fullLevelDb || sinceVoiced_ > 3) && level > opt_.halfLevelDb &&
            periodicity(signal) > opt_.periodicVoice)
            sinceVoiced_ = 0;
        speech = sinceVoiced_ <= opt_.speechContextFrames;
        if (snr < opt_.noiseSnrDb) {
            rate = speech ? kEighthRateByte : kFullRateByte;
        } else if (!speech || level > opt_.fullLevelDb) {
            rate = kFullRateByte;
        } else {
            const double v = voicing(signal);
            if (v > 0.6 && level > opt_.halfLevelDb)
                rate = kFullRateByte;
            else if (v < 0.35 && level < opt_.quarterLevelDb)
                rate = kQuarterRateByte;
            else
                rate = kHalfRateByte;
        }
    }
    // Hangover: word endings fade into the noise; keep coding them for a
    // few frames rather than cut to noise. A sound that is not speech fades
    // at full rate.
    if (rate >= kHalfRateByte)
        hangover_ = opt_.hangoverFrames;
    else if (rate == kEighthRateByte && !f.digitalSilence && hangover_ > 0) {
        --hangover_;
        rate = speech ? kHalfRateByte : kFullRateByte;
    }
    return rate;
}

void Encoder::takeOverDecoder(const float* signal, const float* out) {
    std::copy(model_.pitchMemory(), model_.pitchMemory() + kPitchMemory, exc_);
    std::copy(model_.prefilterMemory(), model_.prefilterMemory() + kPitchMemory, pre_);
    std::copy(model_.synthesisMemory(), model_.synthesisMemory() + kLpcOrder, synMem_);
    prevLspfQ_ = prevLspfU_ = model_.lspf();
    const Lpc au = lspfToLpc(model_.lspf());
    const Lpc num = weighted(au, opt_.gamma1), den = weighted(au, opt_.gamma2);
    float err[kFrameSize], werr[kFrameSize];
    for (int n = 0; n < kFrameSize; ++n)
        err[n] = signal[n] - out[n];
    weighting(num, den, err, werr, kFrameSize, errMem_, werrMem_);
    std::copy(err + kFrameSize - kLpcOrder, err + kFrameSize, errMem_);
    std::copy(werr + kFrameSize - kLpcOrder, werr + kFrameSize, werrMem_);
}

Packet Encoder::encodeSilence(const float* signal, float* synthesized) {
    // Steer the LSPs towards a flat spectrum and the gain to its floor.
    EighthRateFrame f;
    const Lspf prediction = model_.eighthRatePrediction();
    for (int i = 0; i < kLpcOrder; ++i)
        f.lsp[static_cast<size_t>(i)] = prediction[i] < static_cast<float>(i + 1) / 11.0f;
    noiseSeed_ = static_cast<uint8_t>((noiseSeed_ * 5 + 3) & 15);
    f.seed = noiseSeed_;
    f.cbgain = 0; // also keeps the first 16 bits from being all ones
    const Packet p = packEighthRate(f);
    float out[kFrameSize];
    model_.decode(p, out, opt_.trackPrefilter, false);
    if (synthesized != nullptr)
        std::copy(out, out + kFrameSize, synthesized);
    takeOverDecoder(signal, out);
    return p;
}

namespace {

// RMS of the LPC residual of x over [from, to) with the filter a.
double residualRms(const Lpc& a, const float* x, int from, int to) {
    double e = 0.0;
    for (int n = from; n < to; ++n) {
        double r = x[n];
        for (int k = 0; k < kLpcOrder; ++k)
            r += a[k] * x[n - k - 1];
        e += r * r;
    }
    return std::sqrt(e / std::max(1, to - from));
}

} // namespace

Packet Encoder::encodeNoise(const float* signal, float* synthesized) {
    if (features(signal).digitalSilence)
        return encodeSilence(signal, synthesized);
    // Background noise: LSPs stepped towards the frame's own, and a gain
    // that follows the noise level (the decoder moves half way to it).
    Lspf lspf;
    if (!analyse(signal, lspf))
        lspf = prevLspfU_;
    EighthRateFrame f;
    const Lspf prediction = model_.eighthRatePrediction();
    for (int i = 0; i < kLpcOrder; ++i)
        f.lsp[static_cast<size_t>(i)] = lspf[i] > prediction[i];
    // The decoder's noise is uniform: RMS 1.3737 / sqrt(3) times the gain.
    const double target = residualRms(decoderLpc(lspf), signal, 0, kFrameSize) / 0.7931;
    const int base = model_.eighthRateGainBase();
    double bestDist = 1e30;
    for (int c = 0; c < 4; ++c) {
        const double g = gainOfIndex(std::min(base + 2 * c, 60));
        const double d = std::fabs(std::log(std::max(g, 1e-12) / std::max(target, 1e-12)));
        if (d < bestDist) {
            bestDist = d;
            f.cbgain = static_cast<uint8_t>(c);
        }
    }
    noiseSeed_ = static_cast<uint8_t>((noiseSeed_ * 5 + 3) & 15);
    f.seed = noiseSeed_;
    Packet p = packEighthRate(f);
    if (p.bytes[0] == 0xFF && p.bytes[1] == 0xFF) { // the decoder would erase it
        f.seed ^= 1;
        p = packEighthRate(f);
    }
    float out[kFrameSize];
    model_.decode(p, out, opt_.trackPrefilter, false);
    if (synthesized != nullptr)
        std::copy(out, out + kFrameSize, synthesized);
    takeOverDecoder(signal, out);
    return p;
}

Packet Encoder::encodeQuarterRate(const float* signal, float* synthesized) {
    // Unvoiced sound: LSPs and five gains of a shaped noise. The gains match
    // the energy of the LPC residual block by block.
    Lspf lspfU;
    if (!analyse(signal, lspfU))
        lspfU = prevLspfU_;
    FullRateFrame f;
    f.lspv = quantiseLspf(lspfU, true);
    const Lspf lspfQ = decodeLspf(f.lspv);
    if (!quarterLspfAcceptable(lspfQ)) {
        Packet none;
        none.rate = 0; // the caller codes the frame at half rate instead
        return none;
    }
    float unit[kFrameSize];
    model_.quarterRateNoise(f.lspv, unit);
    // Block RMS wanted (residual) and given by unit gain, in 20-sample blocks.
    double want[8], have[8];
    for (int b = 0; b < 8; ++b) {
        const Lpc a = decoderLpc(interpolateLspf(prevLspfQ_, lspfQ, b / 2));
        want[b] = residualRms(a, signal, b * 20, b * 20 + 20);
        double e = 0.0;
        for (int n = b * 20; n < b * 20 + 20; ++n)
            e += static_cast<double>(unit[n]) * unit[n];
        have[b] = std::sqrt(e / 20.0) + 1e-12;
    }
    // The decoder spreads its five gains over the eight blocks.
    const int anchors[5][2] = {{0, 1}, {2, 2}, {3, 4}, {5, 5}, {6, 7}};
    int prevDiff = 0;
    for (int i = 0; i < 5; ++i) {
        double w = 0.0, h = 0.0;
        for (int b = anchors[i][0]; b <= anchors[i][1]; ++b) {
            w += want[b] * want[b];
            h += have[b] * have[b];
        }
        const double target = std::sqrt(w / h);
        int best = 0;
        double bestDist = 1e30;
        for (int c = 0; c < 16; ++c) {
            const double d = std::fabs(std::log(gainOfIndex(4 * c) / std::max(target, 1e-12)));
            if (d < bestDist) {
                bestDist = d;
                best = c;
            }
        }
        if (i > 0) {
            // Steps the decoder accepts: at most 10, changing by at most 12.
            const int prev = f.cbgain[static_cast<size_t>(i - 1)];
            const int lo = prev + std::max(-10, prevDiff - 12);
            const int hi = prev + std::min(10, prevDiff + 12);
            best = std::clamp(best, std::max(lo, 0), std::min(hi, 15));
            prevDiff = best - prev;
        }
        f.cbgain[static_cast<size_t>(i)] = static_cast<uint8_t>(best);
    }
    const Packet p = quarterRatePacket(f);
    float out[kFrameSize];
    if (!model_.decode(p, out, opt_.trackPrefilter, false)) {
        Packet none;
        none.rate = 0;
        return none;
    }
    if (synthesized != nullptr)
        std::copy(out, out + kFrameSize, synthesized);
    takeOverDecoder(signal, out);
    prevLspv_ = f.lspv;
    return p;
}

namespace {

// Half rate: one 40-sample vector of the half-rate circular codebook per
// pitch subframe. Lags shorter than the subframe make the pitch filter feed
// the codebook vector back into itself, so the search filters the vectors
// through the pitch recursion as well as the weighted synthesis filter.
void halfRateCodebook(const float* x, const float* h, float* e, int lag, int frac, float pgain,
                      FullRateFrame& f, int j, float energyMix) {
    float hb[kPitchMemory + 8 + kSub] = {};
    float* hp = hb + kPitchMemory + 8;
    for (int n = 0; n < kSub; ++n) {
        float v = h[n];
        if (lag) {
            const float* p = hp + n - lag;
            v += pgain * (frac ? halfSample(p) : *p);
        }
        hp[n] = v;
    }
    // The pitch filter's output for a silent codebook, from the past alone.
    for (int n = 0; n < kSub; ++n) {
        if (lag) {
            const float* p = e + n - lag;
            e[n] = pgain * (frac ? halfSample(p) : *p);
        } else {
            e[n] = 0.0f;
        }
    }
    float t[kSub];
    for (int n = 0; n < kSub; ++n) {
        float acc = 0.0f;
        for (int m = 0; m <= n; ++m)
            acc += h[n - m] * e[m];
        t[n] = x[n] - acc;
    }
    // Filtered vectors by the shift recursion, as at full rate.
    static thread_local float ys[128][kSub];
    filterCircularCodebook(
        hp, [](int pos) { return 0.5f * tables::kHalfRateCodebook[pos & 127]; }, ys);
    const GainLevels lv = levels(0, 16);
    float bestErr = 0.0f; // a zero gain is the reference
    int bestStart = 0, bestLevel = 0;
    bool bestNeg = false;
    for (int st = 0; st < 128; ++st) {
        const float yy = dot<kSub>(ys[st], ys[st]);
        if (yy <= 0.0f)
            continue;
        const float c = dot<kSub>(t, ys[st]);
        const float ac = std::fabs(c);
        const float want = ac / yy;
        int hi = 0;
        while (hi < lv.count - 1 && lv.gain[hi] < want)
            ++hi;
        for (int l = std::max(0, hi - 1); l <= hi; ++l) {
            const float g = lv.gain[l];
            const float err = g * g * yy - 2.0f * g * ac;
            if (err < bestErr) {
                bestErr = err;
                bestStart = st;
                bestLevel = l;
                bestNeg = c < 0.0f;
            }
        }
    }
    if (energyMix > 0.0f) {
        // A sparse vector matches poorly, and the least-squares gain then
        // shrinks the excitation and leaves spectral holes: lean the gain
        // towards the one that keeps the target's energy.
        const float yy = dot<kSub>(ys[bestStart], ys[bestStart]);
        const float c = std::fabs(dot<kSub>(t, ys[bestStart]));
        const float want =
            (1.0f - energyMix) * (c / yy) + energyMix * std::sqrt(dot<kSub>(t, t) / yy);
        float bestDist = std::numeric_limits<float>::max();
        for (int l = 0; l < lv.count; ++l) {
            const float d = std::fabs(std::log(lv.gain[l] / want));
            if (d < bestDist) {
                bestDist = d;
                bestLevel = l;
            }
        }
    }
    const int c = (-bestStart) & 127;
    f.cbgain[static_cast<size_t>(j)] = static_cast<uint8_t>(bestLevel);
    f.cbsign[static_cast<size_t>(j)] = bestNeg ? 1 : 0;
    f.cindex[static_cast<size_t>(j)] = static_cast<uint8_t>(bestNeg ? (c + 89) & 127 : c);
    const float g = bestNeg ? -lv.gain[bestLevel] : lv.gain[bestLevel];
    // The excitation exactly as the decoder's pitch filter makes it.
    for (int n = 0; n < kSub; ++n) {
        float v = g * halfCodebookSample(c, n);
        if (lag) {
            const float* p = e + n - lag;
            v += pgain * (frac ? halfSample(p) : *p);
        }
        e[n] = v;
    }
}

} // namespace

FullRateFrame Encoder::encodeFullRate(const float* signal, float* synthesized, bool half) {
    FullRateFrame f;
    Lspf lspfU;
    if (!analyse(signal, lspfU))
        lspfU = prevLspfU_;
    f.lspv = quantiseLspf(lspfU);
    const Lspf lspfQ = decodeLspf(f.lspv);
    prevLspv_ = f.lspv;

    float* exc = exc_ + kPitchMemory; // the frame's excitation, history before it
    for (int j = 0; j < kPitchSubframes; ++j) {
        const float* s = signal + j * kSub;
        const Lpc aq = decoderLpc(interpolateLspf(prevLspfQ_, lspfQ, j));
        const Lpc au = lspfToLpc(interpolateLspf(prevLspfU_, lspfU, j));
        const Lpc num = weighted(au, opt_.gamma1), den = weighted(au, opt_.gamma2);

        // Impulse response of the weighted synthesis filter W(z) / Aq(z).
        float h[kSub], imp[kSub] = {1.0f};
        const float zeros[kLpcOrder] = {};
        synthesis(aq, imp, imp, kSub, zeros);
        weighting(num, den, imp, h, kSub, zeros, zeros);

        // Target: weighted error left when the excitation is silent.
        float ring[kSub], e0[kSub], x[kSub];
        const float silent[kSub] = {};
        synthesis(aq, silent, ring, kSub, synMem_);
        for (int n = 0; n < kSub; ++n)
            e0[n] = s[n] - ring[n];
        weighting(num, den, e0, x, kSub, errMem_, werrMem_);

        float* e = exc + j * kSub;
        const PitchChoice pc = searchPitch(x, h, e);
        const float pgain = pc.lag ? 0.25f * static_cast<float>(pc.code + 1) : 0.0f;
        f.plag[j] = static_cast<uint8_t>(pc.lag ? pc.lag - 16 : 0);
        f.pfrac[j] = static_cast<uint8_t>(pc.lag ? pc.frac : 0);
        f.pgain[j] = static_cast<uint8_t>(pc.lag ? pc.code : 0);

        if (half) {
            halfRateCodebook(x, h, e, pc.lag, pc.frac, pgain, f, j, opt_.halfEnergyMix);
        } else {
            // Filtered codebook vectors, the same for the four codebook subframes
            // of this pitch subframe: the vector of start s is entries s..s+9 of
            // the circle, so y_s[n] = cb[s] h[n] + y_{s+1}[n-1].
            // Kept sample by sample (yt[n][st]), so that each step of the
            // correlations below runs across all 128 vectors.
            float yt[kUnit][128];
            filterCircularCodebookBySample(
                h, [](int pos) { return 0.01f * tables::kFullRateCodebook[pos & 127]; }, yt);
            float yys[128], invYy[128];
            correlateAll(yt, yt, yys);
            for (int st = 0; st < 128; ++st)
                invYy[st] = 1.0f / yys[st];

            int g1[4] = {};
            for (int k = 0; k < 4; ++k) {
                float* u = e + k * kUnit;
                // Pitch part of this codebook subframe, exactly as the decoder forms it.
                for (int n = 0; n < kUnit; ++n) {
                    if (pc.lag) {
                        const float* p = u + n - pc.lag;
                        u[n] = pgain * (pc.frac ? halfSample(p) : *p);
                    } else {
                        u[n] = 0.0f;
                    }
                }
                // What is left of the target after everything already decided.
                float t[kUnit];
                for (int n = 0; n < kUnit; ++n) {
                    const int at = k * kUnit + n;
                    float acc = 0.0f;
                    for (int m = 0; m <= at; ++m)
                        acc += h[at - m] * e[m];
                    t[n] = x[at] - acc;
                }

                const int sub = j * 4 + k;
                const GainLevels lv =
                    k == 3 ? levels(predictedGainOffset(g1[0], g1[1], g1[2]), 8) : levels(0, 16);

                // Rank the 128 vectors by their best unquantised match, then
                // quantise the gain of the leaders and keep the smallest error.
                float cs[128], score[128];
                correlateAll(t, yt, cs);
                for (int st = 0; st < 128; ++st)
                    score[st] = cs[st] * cs[st] * invYy[st];
                constexpr int kLeaders = 6;
                int leader[kLeaders];
                int nLeaders = 0;
                // The sixth leader's score once there are six: most vectors
                // fall below it and cost one comparison.
                float floor = -std::numeric_limits<float>::infinity();
                for (int st = 0; st < 128; ++st) {
                    const float sc = score[st];
                    if (sc <= floor)
                        continue;
                    int at = std::min(nLeaders, kLeaders - 1);
                    while (at > 0 && score[leader[at - 1]] < sc) {
                        leader[at] = leader[at - 1];
                        --at;
                    }
                    leader[at] = st;
                    if (nLeaders < kLeaders)
                        ++nLeaders;
                    if (nLeaders == kLeaders)
                        floor = score[leader[kLeaders - 1]];
                }
                float bestErr = std::numeric_limits<float>::max();
                int bestStart = 0, bestLevel = 0;
                bool bestNeg = false;
                for (int li = 0; li < nLeaders; ++li) {
                    const int st = leader[li];
                    const float yy = yys[st];
                    const float ac = std::fabs(cs[st]);
                    const float want = ac / yy;
                    int hi = 0;
                    while (hi < lv.count - 1 && lv.gain[hi] < want)
                        ++hi;
                    for (int l = std::max(0, hi - 1); l <= hi; ++l) {
                        const float g = lv.gain[l];
                        const float err = g * g * yy - 2.0f * g * ac;
                        if (err < bestErr) {
                            bestErr = err;
                            bestStart = st;
                            bestLevel = l;
                            bestNeg = cs[st] < 0.0f;
                        }
                    }
                }
                const int c = (-bestStart) & 127; // effective index
                g1[k] = lv.g1[bestLevel];
                f.cbgain[sub] = static_cast<uint8_t>(bestLevel);
                f.cbsign[sub] = bestNeg ? 1 : 0;
                f.cindex[sub] = static_cast<uint8_t>(bestNeg ? (c + 89) & 127 : c);
                const float g = bestNeg ? -lv.gain[bestLevel] : lv.gain[bestLevel];
                for (int n = 0; n < kUnit; ++n)
                    u[n] += g * codebookSample(c, n);
            }
        }

        // Advance the decoder model and the weighting memories.
        float yq[kSub], err[kSub], werr[kSub];
        const float* drive = e;
        float shaped[kSub];
        if (opt_.trackPrefilter) {
            // The decoder drives its formant filter with the pitch pre-filtered
            // excitation, scaled back to the energy of the excitation.
            float* out = pre_ + kPitchMemory + j * kSub;
            const float pg = 0.5f * std::min(pgain, 1.0f);
            for (int n = 0; n < kSub; ++n) {
                const float* p = out + n - pc.lag;
                out[n] = e[n] + (pg != 0.0f ? pg * (pc.frac ? halfSample(p) : *p) : 0.0f);
            }
            const float eo = dot<kSub>(out, out);
            const float scale = eo != 0.0f ? std::sqrt(dot<kSub>(e, e) / eo) : 0.0f;
            for (int n = 0; n < kSub; ++n)
                shaped[n] = out[n] * scale;
            drive = shaped;
        }
        synthesis(aq, drive, yq, kSub, synMem_);
        if (synthesized != nullptr)
            std::copy(yq, yq + kSub, synthesized + j * kSub);
        std::copy(yq + kSub - kLpcOrder, yq + kSub, synMem_);
        for (int n = 0; n < kSub; ++n)
            err[n] = s[n] - yq[n];
        weighting(num, den, err, werr, kSub, errMem_, werrMem_);
        std::copy(err + kSub - kLpcOrder, err + kSub, errMem_);
        std::copy(werr + kSub - kLpcOrder, werr + kSub, werrMem_);
    }

    std::memmove(exc_, exc_ + kFrameSize, kPitchMemory * sizeof(float));
    std::memmove(pre_, pre_ + kFrameSize, kPitchMemory * sizeof(float));
    prevLspfQ_ = lspfQ;
    prevLspfU_ = lspfU;
    return f;
}

void Encoder::encodeReady(std::vector<Packet>& out, std::vector<float>* synthesis) {
    while (buf_.size() - start_ >= static_cast<size_t>(kHistory + kFrameSize + kLookahead)) {
        float syn[kFrameSize];
        out.push_back(encodeFrame(buf_.data() + start_ + kHistory, syn));
        if (synthesis != nullptr)
            synthesis->insert(synthesis->end(), syn, syn + kFrameSize);
        start_ += kFrameSize;
        ++framesDone_;
    }
    // Drop what no frame will look at again, now and then.
    if (start_ >= 8 * kFrameSize) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
}

void Encoder::push(const float* samples, size_t count, std::vector<Packet>& out,
                   std::vector<float>* synthesis) {
    if (buf_.empty())
        buf_.assign(kHistory, 0.0f);
    buf_.insert(buf_.end(), samples, samples + count);
    pushed_ += count;
    encodeReady(out, synthesis);
}

void Encoder::finish(std::vector<Packet>& out, std::vector<float>* synthesis) {
    if (buf_.empty())
        buf_.assign(kHistory, 0.0f);
    const uint64_t frames = (pushed_ + kFrameSize - 1) / kFrameSize;
    while (framesDone_ < frames) {
        buf_.resize(start_ + kHistory + kFrameSize + kLookahead, 0.0f);
        encodeReady(out, synthesis);
    }
}

std::vector<Packet> Encoder::encode(const std::vector<int16_t>& samples,
                                    std::vector<float>* synthesis) {
    std::vector<float> x(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        x[i] = samples[i] / 32768.0f;
    std::vector<Packet> out;
    out.reserve((samples.size() + kFrameSize - 1) / kFrameSize);
    if (synthesis != nullptr)
        synthesis->clear();
    push(x.data(), x.size(), out, synthesis);
    finish(out, synthesis);
    return out;
}

} // namespace pvconv
