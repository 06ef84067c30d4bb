#pragma once

#include "lpc.h"
#include "qcelp_frame.h"
#include "rate_features.h"
#include "synthesis.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pvconv {

struct EncoderOptions {
    // Perceptual weighting W(z) = A(z/gamma1) / A(z/gamma2).
    float gamma1 = 0.94f;
    float gamma2 = 0.5f;
    // Centre of the 240-sample LPC analysis window, in samples from the frame start.
    int analysisCentre = 140;
    // Follow the decoder's pitch pre-filter in the formant filter memory.
    bool trackPrefilter = true;
    // Send eighth-rate noise packets for frames of digital silence.
    bool eighthRateSilence = true;
    // Choose full, half, quarter or eighth rate per frame from the signal;
    // off, every frame with sound is coded at full rate.
    bool variableRate = false;
    // Rate decision thresholds (dB): frames less than noiseSnrDb above the
    // background noise are noise (eighth rate); frames within fullLevelDb of
    // the speech level, or voiced and within halfLevelDb, are full rate;
    // unvoiced frames quieter than quarterLevelDb are quarter rate; the rest
    // half rate. After speech, hangoverFrames more are coded at half rate.
    double noiseSnrDb = 9.0;
    double fullLevelDb = -20.0;
    double halfLevelDb = -33.0;
    double quarterLevelDb = -40.0;
    int hangoverFrames = 2;
    // Tones, chords, bells and sustained notes stay at full rate however quiet
    // they get: a frame is tonal when its spectral flatness is below
    // tonalFlatnessDb, or a sustained note when its band shape has held within
    // steadyChangeDb for steadyFrames frames in a row.
    double tonalFlatnessDb = -30.0;
    double steadyChangeDb = 1.5;
    int steadyFrames = 4;
    // Only speech goes below full rate: a frame counts as speech when a voiced
    // frame came at most speechContextFrames before it. Clicks, a shutter,
    // hi-hats and other noise-like sounds have none, and keep full rate, as
    // does a noise-like frame that is loud: background is at least
    // backgroundLevelDb below the loudest recent frame, or quieter than
    // backgroundDbfs (RMS), as the room before the first word is. A voiced
    // frame has a normalised correlation above periodicVoice once
    // pre-emphasised.
    int speechContextFrames = 30;
    double periodicVoice = 0.6;
    double backgroundLevelDb = -30.0;
    double backgroundDbfs = -50.0;
    // Half rate: 0 takes the least-squares codebook gain, 1 the gain that
    // keeps the target's energy.
    float halfEnergyMix = 0.5f;
};

// QCELP-13K encoder, full rate or variable rate. Every search runs against the decoder's own
// synthesis (pitch filter with the half-sample lag, circular codebook, LSP
// interpolation, bandwidth widening), and the encoder keeps the decoder's
// filter memories, so what it chooses is what a phone rebuilds.
class Encoder {
public:
    explicit Encoder(EncoderOptions options = {});

    // Streaming: samples (full scale 1.0) in any chunks; the packets of the
    // frames they complete are appended to out (and the reconstruction of
    // each frame to synthesis, when given).
    void push(const float* samples, size_t count, std::vector<Packet>& out,
              std::vector<float>* synthesis = nullptr);
    // Pads the last frame with silence and encodes what is left.
    void finish(std::vector<Packet>& out, std::vector<float>* synthesis = nullptr);

    // Encodes a whole recording; the last frame is padded with silence.
    // Returns ceil(samples / 160) packets.
    // If synthesis is given, it receives the encoder's own reconstruction of
    // the decoder's synthesis (before the formant post-filter), for tests.
    std::vector<Packet> encode(const std::vector<int16_t>& samples,
                               std::vector<float>* synthesis = nullptr);

    // Encodes the frame at signal[0..159]. signal must stay readable from
    // kHistory samples before to kLookahead samples after the frame.
    Packet encodeFrame(const float* signal, float* synthesis = nullptr);

    static constexpr int kHistory = 160;
    static constexpr int kLookahead = 240;

private:
    struct PitchChoice {
        int lag = 0; // 0: pitch filter off
        int frac = 0;
        int code = 0; // gain (code + 1) / 4
    };

    FullRateFrame encodeFullRate(const float* signal, float* synthesis, bool half = false);
    Packet encodeSilence(const float* signal, float* synthesis);
    Packet encodeQuarterRate(const float* signal, float* synthesis);
    Packet encodeNoise(const float* signal, float* synthesis);
    uint8_t decideRate(const float* signal);
    void takeOverDecoder(const float* signal, const float* out);
    bool analyse(const float* signal, Lspf& lspf) const;
    std::array<uint8_t, 5> quantiseLspf(const Lspf& target, bool quarter = false) const;
    PitchChoice searchPitch(const float* x, const float* h, const float* exc) const;

    void encodeReady(std::vector<Packet>& out, std::vector<float>* synthesis);

    EncoderOptions opt_;
    // Input not yet encoded: kHistory samples before the next frame from start_ on.
    std::vector<float> buf_;
    size_t start_ = 0;
    uint64_t pushed_ = 0;
    uint64_t framesDone_ = 0;
    float window_[240];
    float lagWindow_[kLpcOrder + 1];
    Lspf prevLspfQ_;
    Lspf prevLspfU_;
    std::array<uint8_t, 5> prevLspv_{};
    float exc_[kPitchMemory + kFrameSize];
    float pre_[kPitchMemory + kFrameSize];
    float synMem_[kLpcOrder];
    float errMem_[kLpcOrder];
    float werrMem_[kLpcOrder];
    // The decoder itself, fed every packet: eighth-rate frames change its
    // state in ways the full-rate search does not model, so the encoder
    // takes its memories over after them.
    Decoder model_;
    uint8_t noiseSeed_ = 0;
    // Rate decision: background noise and speech level per band (energy of a
    // frame), and the frames of hangover left after speech.
    // The noise estimate starts at a typical room's -60 dBFS: it drops at
    // once to a quieter recording and climbs a few dB a second to a louder one.
    double noiseLow_ = 8e-5, noiseHigh_ = 8e-5;
    double speechLevel_ = 1e-7;
    int hangover_ = 0;
    int sinceVoiced_ = 1 << 20; // frames since the last voiced one
    ToneTracker tones_;
};

} // namespace pvconv
