#include "quality.h"

#include "spectrum.h"

#include <algorithm>
#include <cmath>

namespace pvconv {
namespace {

constexpr int kFrame = 160;
constexpr int kFft = 256;

} // namespace

Quality measureQuality(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec,
                       int maxLag) {
    Quality q;
    const int frames = static_cast<int>(ref.size() / kFrame);
    if (frames == 0)
        return q;
    std::vector<double> energy(frames);
    double loudest = 0.0;
    for (int f = 0; f < frames; ++f) {
        double e = 0.0;
        for (int n = 0; n < kFrame; ++n)
            e += static_cast<double>(ref[f * kFrame + n]) * ref[f * kFrame + n];
        energy[f] = e;
        loudest = std::max(loudest, e);
    }
    if (loudest <= 0.0)
        return q;
    const double floor = loudest * 1e-4; // 40 dB below the loudest frame
    auto decAt = [&](size_t i) -> double { return i < dec.size() ? dec[i] : 0.0; };

    double bestSnr = -1e9;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double sum = 0.0;
        int counted = 0;
        for (int f = 0; f < frames; ++f) {
            if (energy[f] < floor)
                continue;
            double noise = 0.0;
            for (int n = 0; n < kFrame; ++n) {
                const size_t i = static_cast<size_t>(f * kFrame + n);
                const double d = ref[i] - decAt(i + lag);
                noise += d * d;
            }
            const double snr = noise > 0.0 ? 10.0 * std::log10(energy[f] / noise) : 35.0;
            sum += std::clamp(snr, -10.0, 35.0);
            ++counted;
        }
        const double seg = counted ? sum / counted : 0.0;
        if (seg > bestSnr) {
            bestSnr = seg;
            q.lag = lag;
            q.frames = counted;
        }
    }
    q.segSnrDb = bestSnr;

    double lsdSum = 0.0, bandSum[4] = {};
    int counted = 0;
    for (int f = 0; f < frames; ++f) {
        if (energy[f] < floor)
            continue;
        double r[kFrame], d[kFrame], pr[kFft / 2 + 1], pd[kFft / 2 + 1];
        for (int n = 0; n < kFrame; ++n) {
            const size_t i = static_cast<size_t>(f * kFrame + n);
            r[n] = ref[i];
            d[n] = decAt(i + q.lag);
        }
        framePowerSpectrum(r, pr);
        framePowerSpectrum(d, pd);
        double acc = 0.0, band[4] = {};
        for (int k = 0; k <= kFft / 2; ++k) {
            // A floor of one LSB squared keeps empty bins finite.
            const double diff = 10.0 * std::log10((pr[k] + 1.0) / (pd[k] + 1.0));
            acc += diff * diff;
            band[std::min(k / (kFft / 8), 3)] += diff * diff;
        }
        lsdSum += std::sqrt(acc / (kFft / 2 + 1));
        for (int b = 0; b < 4; ++b) // 32 bins a band, 33 in the last (it holds 4 kHz)
            bandSum[b] += std::sqrt(band[b] / (b == 3 ? kFft / 8 + 1 : kFft / 8));
        ++counted;
    }
    q.lsdDb = counted ? lsdSum / counted : 0.0;
    for (int b = 0; b < 4; ++b)
        q.bandLsdDb[b] = counted ? bandSum[b] / counted : 0.0;
    return q;
}

} // namespace pvconv
