#pragma once

namespace pvconv {

inline constexpr int kSpectrumBins = 129; // 0..4 kHz in 31.25 Hz steps

// Power spectrum of a 160-sample frame: Hann window, zero-padded 256-point FFT.
void framePowerSpectrum(const double* x, double p[kSpectrumBins]);
void framePowerSpectrum(const float* x, double p[kSpectrumBins]);

} // namespace pvconv
