#include "spectrum.h"

#include <cmath>
#include <complex>
#include <utility>

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

struct Hann {
    double w[kFrame];
    Hann() {
        for (int i = 0; i < kFrame; ++i)
            w[i] = 0.5 - 0.5 * std::cos(2.0 * kPi * i / (kFrame - 1));
    }
};

template <typename T> void spectrum(const T* x, double* p) {
    static const Hann hann;
    std::complex<double> a[kFft];
    for (int i = 0; i < kFft; ++i)
        a[i] = i < kFrame ? static_cast<double>(x[i]) * hann.w[i] : 0.0;
    fft(a, kFft);
    for (int i = 0; i < kSpectrumBins; ++i)
        p[i] = std::norm(a[i]);
}

} // namespace

void framePowerSpectrum(const double* x, double p[kSpectrumBins]) {
    spectrum(x, p);
}
void framePowerSpectrum(const float* x, double p[kSpectrumBins]) {
    spectrum(x, p);
}

} // namespace pvconv
