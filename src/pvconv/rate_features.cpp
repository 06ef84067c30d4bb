#include "rate_features.h"

#include "spectrum.h"

#include <algorithm>
#include <cmath>

namespace pvconv {

namespace {
// A frame whose shape moved less than this counts towards a steady run.
constexpr double kSteadyDb = 1.5;
} // namespace

ToneFeatures ToneTracker::next(const double* p) {
    ToneFeatures f;
    // A floor far below any sound keeps digital silence finite.
    constexpr double kFloor = 1e-9;
    double logSum = 0.0, sum = 0.0;
    constexpr int kFirst = 2, kLast = 127;
    for (int k = kFirst; k <= kLast; ++k) {
        logSum += std::log(p[k] + kFloor);
        sum += p[k] + kFloor;
    }
    const int n = kLast - kFirst + 1;
    f.flatnessDb = 10.0 * (logSum / n - std::log(sum / n)) / std::log(10.0);

    // Sixteen bands of eight bins; the shape is each band's level against the loudest.
    double band[kBands];
    double loudest = -1e9;
    for (int b = 0; b < kBands; ++b) {
        double e = kFloor;
        for (int k = 1 + 8 * b; k < 9 + 8 * b; ++k)
            e += p[k];
        band[b] = 10.0 * std::log10(e);
        loudest = std::max(loudest, band[b]);
    }
    // Bands more than 40 dB down hold little but noise: clamp them, so that their
    // chance ups and downs do not count as a change of shape.
    for (double& v : band)
        v = std::max(v - loudest, -40.0);
    if (haveShape_) {
        double acc = 0.0;
        for (int b = 0; b < kBands; ++b)
            acc += (band[b] - shape_[b]) * (band[b] - shape_[b]);
        f.shapeChangeDb = std::sqrt(acc / kBands);
    } else {
        f.shapeChangeDb = 40.0;
    }
    std::copy(band, band + kBands, shape_);
    haveShape_ = true;
    steady_ = f.shapeChangeDb < kSteadyDb ? steady_ + 1 : 0;
    f.steadyFrames = steady_;
    return f;
}

} // namespace pvconv
