#pragma once

#include "lpc.h"
#include "qcelp_frame.h"
#include "qcelp_tables.h"

#include <array>

namespace pvconv {

// Decoder-side meaning of the transmission codes. The encoder searches with
// these very functions so that what it chooses is what a phone rebuilds.

// Longest pitch lag plus the taps of the half-sample interpolator.
inline constexpr int kPitchMemory = 143;

// Linear gain of gain index 0..60 on the decoder's float scale.
float gainOfIndex(int g1);

// LSP frequencies of a frame's codes, summed as the decoder does, in float.
Lspf decodeLspf(const std::array<uint8_t, 5>& lspv);

// The decoder's sanity check of full-rate LSPs; failing frames are erased.
bool lspfAcceptable(const Lspf& lspf, float margin = 0.0f);

// The fourth gain index of a pitch subframe is predicted from the three before it.
int predictedGainOffset(int g1a, int g1b, int g1c);

// Interpolated LSP frequencies of pitch subframe 0..3 between two frames.
Lspf interpolateLspf(const Lspf& prev, const Lspf& curr, int subframe);

// Value n (0..9) of the codebook vector that effective index c selects, with
// the decoder's 1/100 scale: the vector starts at entry -c of the circle.
inline float codebookSample(int c, int n) {
    return 0.01f * tables::kFullRateCodebook[(n - c) & 127];
}

// Signed codebook gains and effective indices of the 16 codebook subframes.
void decodeCodebook(const FullRateFrame& f, float gain[16], int index[16]);

// Half-sample interpolation at x - 0.5, from x[-4] to x[3].
inline float halfSample(const float* x) {
    const float* h = tables::kHammSinc;
    return h[0] * (x[-4] + x[3]) + h[1] * (x[-3] + x[2]) + h[2] * (x[-2] + x[1]) +
           h[3] * (x[-1] + x[0]);
}

// Runs the pitch synthesis filter over one frame: mem holds kPitchMemory
// past outputs followed by room for 160 new ones; in is the codebook signal.
// The 160 outputs are copied to result, and mem is shifted for the next frame.
void pitchFilterFrame(float* mem, const float* in, const float gain[4], const int lag[4],
                      const int frac[4], float* result);

// The decoder: bit stream in, 160 samples out (float, full scale 1.0).
class Decoder {
public:
    Decoder();
    // Returns false for a frame the decoder would erase. The pitch pre-filter
    // and the formant post-filter can be left out to look at the synthesis.
    bool decode(const FullRatePayload& payload, float out[kFrameSize], bool prefilter = true,
                bool postfilter = true);

private:
    Lspf prevLspf_;
    float pitchMem_[kPitchMemory + kFrameSize];
    float prefilterMem_[kPitchMemory + kFrameSize];
    float formantMem_[kLpcOrder + kFrameSize];
    float postPoleMem_[kLpcOrder];
    float tiltMem_ = 0.0f;
    float agcMem_ = 0.0f;
};

} // namespace pvconv
