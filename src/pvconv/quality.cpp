#include "quality.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace pvconv {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kFrame = 160;
constexpr int kFft = 256;

void fft(std::complex<double>* a, int n) {
    for (int i = 1, j = 0; i < n; ++i) {
        int bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (int len = 2; len <= n; len <<= 1) {
        const double ang = -2.0 * kPi / len;
        const std::complex<double> wl(std::cos(ang), std::sin(ang));
        for (int i = 0; i < n; i += len) {
            std::complex<double> w(1.0, 0.0);
            for (int j = 0; j < len / 2; ++j) {
                const std::complex<double> u = a[i + j], v = a[i + j + len / 2] * w;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

void powerSpectrum(const double* x, double* p) {
    std::complex<double> a[kFft];
    for (int i = 0; i < kFft; ++i) {
        const double w = i < kFrame ? 0.5 - 0.5 * std::cos(2.0 * kPi * i / (kFrame - 1)) : 0.0;
        a[i] = i < kFrame ? x[i] * w : 0.0;
    }
    fft(a, kFft);
    for (int i = 0; i <= kFft / 2; ++i)
        p[i] = std::norm(a[i]);
}

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

    double lsdSum = 0.0;
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
        powerSpectrum(r, pr);
        powerSpectrum(d, pd);
        double acc = 0.0;
        for (int k = 0; k <= kFft / 2; ++k) {
            // A floor of one LSB squared keeps empty bins finite.
            const double diff = 10.0 * std::log10((pr[k] + 1.0) / (pd[k] + 1.0));
            acc += diff * diff;
        }
        lsdSum += std::sqrt(acc / (kFft / 2 + 1));
        ++counted;
    }
    q.lsdDb = counted ? lsdSum / counted : 0.0;
    return q;
}

} // namespace pvconv
