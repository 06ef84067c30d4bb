#pragma once

#include <cstdint>

// Constant tables of the QCELP-13K bit stream (TIA/EIA IS-733). They are data
// the decoder in every phone holds; the encoder must use the very same values
// so that its analysis-by-synthesis model matches what a phone plays.
namespace pvconv::tables {

// Split vector quantiser of the ten LSP frequencies: five codebooks of pairs of
// frequency increments in units of 1/10000 of the Nyquist frequency.
extern const uint16_t kLspVq1[64][2];
extern const uint16_t kLspVq2[128][2];
extern const uint16_t kLspVq3[128][2];
extern const uint16_t kLspVq4[64][2];
extern const uint16_t kLspVq5[64][2];
// Codebook sizes, and the tables in split order.
inline constexpr int kLspVqSize[5] = {64, 128, 128, 64, 64};
extern const uint16_t (*const kLspVq[5])[2];

// Linear codebook gain for each gain index 0..60, multiplied by 8 (the step
// is about 1 dB). Divide by 8 * 8192 for the decoder's float scale.
extern const uint16_t kGainTimes8[61];

// Circular excitation codebook of full-rate frames, values times 100.
extern const int16_t kFullRateCodebook[128];

// Circular excitation codebook of half-rate frames, values times 2.
extern const int8_t kHalfRateCodebook[128];

// Half of the symmetric 21-tap filter that shapes quarter-rate noise
// (taps 0..9 and the centre tap 10).
extern const double kQuarterNoiseFir[11];

// Half of the symmetric 8-tap interpolator of the half-sample pitch lag.
inline constexpr float kHammSinc[4] = {-0.006822f, 0.041249f, -0.143459f, 0.588863f};

// The decoder widens every formant by this factor per LPC order.
inline constexpr double kBandwidthExpansion = 0.9883;

} // namespace pvconv::tables
