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
// weight * curr + (1 - weight) * prev, in the decoder's float arithmetic.
Lspf mixLspf(const Lspf& prev, const Lspf& curr, float weight);

// Value n (0..9) of the codebook vector that effective index c selects, with
// the decoder's 1/100 scale: the vector starts at entry -c of the circle.
inline float codebookSample(int c, int n) {
    return 0.01f * tables::kFullRateCodebook[(n - c) & 127];
}

// Value n (0..39) of the half-rate codebook vector of effective index c.
inline float halfCodebookSample(int c, int n) {
    return 0.5f * tables::kHalfRateCodebook[(n - c) & 127];
}

// Signed codebook gains, effective indices and gain indices of the 16
// codebook subframes (the first 4 at half rate, which predicts no gain).
void decodeCodebook(const FullRateFrame& f, float gain[16], int index[16], int g1[16],
                    int subframes = 16);

// The decoder's check of quarter-rate LSPs and gains; failing frames are erased.
bool quarterLspfAcceptable(const Lspf& lspf, float margin = 0.0f);
bool quarterGainsAcceptable(const uint8_t cbgain[5]);

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

// The decoder: packets in, 160 samples each out (float, full scale 1.0).
// Every rate pvconv writes: full, half, quarter and eighth.
class Decoder {
public:
    Decoder();
    // Returns false for a packet the decoder would erase. The pitch pre-filter
    // and the formant post-filter can be left out to look at the synthesis.
    bool decode(const Packet& packet, float out[kFrameSize], bool prefilter = true,
                bool postfilter = true);

    // State the encoder takes over after an eighth-rate frame.
    const Lspf& lspf() const { return prevLspf_; }
    const float* pitchMemory() const { return pitchMem_; }
    const float* prefilterMemory() const { return prefilterMem_; }
    const float* synthesisMemory() const { return formantMem_; } // last 10 samples
    // LSPs an eighth-rate frame predicts before its +-0.02 steps.
    Lspf eighthRatePrediction() const;
    // Gain index an eighth-rate frame adds its 2-bit code to.
    int eighthRateGainBase() const;
    float lastCodebookGain() const { return lastCodebookGain_; }
    // Unit-gain noise excitation of a quarter-rate frame with these LSP
    // codes, from the current filter memory (8 blocks of 20 samples).
    void quarterRateNoise(const std::array<uint8_t, 5>& lspv, float out[kFrameSize]) const;

private:
    bool decodeFull(const Packet& packet, float exc[kFrameSize], Lspf& lspf, Lpc lpc[4],
                    bool prefilter);
    bool decodeQuarter(const Packet& packet, float exc[kFrameSize], Lspf& lspf, Lpc lpc[4]);
    bool decodeEighth(const Packet& packet, float exc[kFrameSize], Lspf& lspf, Lpc lpc[4]);

    Lspf prevLspf_;
    Lspf predictorLspf_{};
    int prevRate_ = 0; // a decoder starts as after a blank frame
    int octaveCount_ = 0;
    int prevG1_[2] = {0, 0};
    float lastCodebookGain_ = 0.0f;
    float pitchMem_[kPitchMemory + kFrameSize];
    float prefilterMem_[kPitchMemory + kFrameSize];
    float formantMem_[kLpcOrder + kFrameSize];
    float noiseMem_[20] = {}; // last raw noise samples of the quarter-rate filter
    float postPoleMem_[kLpcOrder];
    float tiltMem_ = 0.0f;
    float agcMem_ = 0.0f;
};

} // namespace pvconv
