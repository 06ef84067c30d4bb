#pragma once

#include <cstdint>
#include <vector>

namespace pvconv {

// Objective quality of a decoded signal against its reference, as the
// benchmark and the tests report it.
struct Quality {
    double segSnrDb = 0.0; // mean per-frame SNR, each clamped to [-10, 35] dB
    double lsdDb = 0.0;    // mean log-spectral distance
    double bandLsdDb[4] = {}; // the same over 0-1, 1-2, 2-3 and 3-4 kHz
    int lag = 0;           // decoded delay (0..400) that maximised segSNR
    int frames = 0;        // frames counted (within 40 dB of the loudest)
};

// 160-sample frames; frames more than 40 dB below the loudest reference frame
// are skipped; LSD compares Hann-windowed 256-point power spectra.
Quality measureQuality(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded,
                       int maxLag = 400);

} // namespace pvconv
