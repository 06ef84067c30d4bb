#pragma once

#include <array>
#include <cstdint>

namespace pvconv {

// Samples per frame, per pitch subframe and per codebook subframe.
inline constexpr int kFrameSize = 160;
inline constexpr int kPitchSubframes = 4;
inline constexpr int kPitchSubframeSize = 40;
inline constexpr int kCodebookSubframes = 16;
inline constexpr int kCodebookSubframeSize = 10;
// A full-rate packet is 266 bits, stored in 34 bytes after its rate byte.
inline constexpr int kFullRatePayloadBytes = 34;
inline constexpr uint8_t kFullRateByte = 4;

// The transmission codes of one full-rate frame, before bit packing.
struct FullRateFrame {
    std::array<uint8_t, 5> lspv{};    // split VQ indices (6, 7, 7, 6, 6 bits)
    std::array<uint8_t, 4> plag{};    // pitch lag minus 16; 0 switches the pitch filter off
    std::array<uint8_t, 4> pfrac{};   // 1 adds half a sample to the lag
    std::array<uint8_t, 4> pgain{};   // pitch gain (code + 1) / 4
    std::array<uint8_t, 16> cbsign{}; // 1 negates the gain and rotates the index
    std::array<uint8_t, 16> cbgain{}; // gain code (3 bits for every fourth subframe)
    std::array<uint8_t, 16> cindex{}; // codebook index as transmitted
    uint8_t reserved = 0;             // must stay zero, or the frame is erased
};

using FullRatePayload = std::array<uint8_t, kFullRatePayloadBytes>;

FullRatePayload packFullRate(const FullRateFrame& frame);
FullRateFrame unpackFullRate(const FullRatePayload& payload);

// Bit width of each field, so that callers can check ranges.
inline constexpr int kLspvBits[5] = {6, 7, 7, 6, 6};
inline int cbgainBits(int subframe) {
    return (subframe & 3) == 3 ? 3 : 4;
}

} // namespace pvconv
