#pragma once

namespace pvconv {

// What the rate decision needs to know beyond band energies: whether a frame is
// tonal (a few strong spectral lines, as tones, chords, bells and their ring-outs
// have) and whether its spectral shape holds from frame to frame (a sustained note)
// or moves (speech). Speech and noise can take lower rates; tones cannot.
struct ToneFeatures {
    double flatnessDb =
        0.0; // spectral flatness 60 Hz-4 kHz: 0 for white noise, very negative for lines
    double shapeChangeDb = 0.0; // RMS change of the level-free band shape since the last frame
    int steadyFrames = 0;       // frames in a row whose shape held
};

class ToneTracker {
public:
    // p: the power spectrum of the frame (framePowerSpectrum).
    ToneFeatures next(const double* p);

    static constexpr int kBands = 16;

private:
    double shape_[kBands] = {};
    bool haveShape_ = false;
    int steady_ = 0;
};

} // namespace pvconv
