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

// An eighth-rate packet is 20 bits in 3 bytes: background noise for pauses.
inline constexpr int kEighthRatePayloadBytes = 3;
inline constexpr uint8_t kEighthRateByte = 1;

// The codes of one eighth-rate frame.
struct EighthRateFrame {
    std::array<uint8_t, 10> lsp{}; // 1 moves LSP i up from its prediction, 0 down
    uint8_t seed = 0;              // 4 bits that only vary the noise seed
    uint8_t cbgain = 0;            // 2 bits added to the predicted gain index
    uint8_t reserved = 0;          // must stay zero, or the frame is erased
};

// A half-rate packet is 124 bits in 16 bytes: the full-rate LSP and pitch
// codes, and one codebook subframe (sign, 4-bit gain, index) per pitch
// subframe. It reuses FullRateFrame: elements 0..3 of the codebook arrays.
inline constexpr int kHalfRatePayloadBytes = 16;
inline constexpr uint8_t kHalfRateByte = 3;
// A quarter-rate packet is 54 bits in 7 bytes: the LSP codes and five 4-bit
// gains of a noise excitation (cbgain[0..4] of a FullRateFrame), and two
// reserved bits.
inline constexpr int kQuarterRatePayloadBytes = 7;
inline constexpr uint8_t kQuarterRateByte = 2;

// Payload bytes of a rate byte (0 for an unknown one).
inline int payloadBytes(uint8_t rate) {
    switch (rate) {
    case kFullRateByte:
        return kFullRatePayloadBytes;
    case kHalfRateByte:
        return kHalfRatePayloadBytes;
    case kQuarterRateByte:
        return kQuarterRatePayloadBytes;
    case kEighthRateByte:
        return kEighthRatePayloadBytes;
    default:
        return 0;
    }
}

// One packet of a QCP file: rate byte and payload.
struct Packet {
    uint8_t rate = kFullRateByte;
    FullRatePayload bytes{}; // the first size() bytes are the payload
    int size() const { return payloadBytes(rate); }
    bool operator==(const Packet& o) const { return rate == o.rate && bytes == o.bytes; }
};

Packet fullRatePacket(const FullRateFrame& frame);
Packet halfRatePacket(const FullRateFrame& frame);
Packet quarterRatePacket(const FullRateFrame& frame);
// Unpacks a full-, half- or quarter-rate packet.
FullRateFrame unpackFrame(const Packet& packet);
Packet packEighthRate(const EighthRateFrame& frame);
EighthRateFrame unpackEighthRate(const Packet& packet);

// Bit width of each field, so that callers can check ranges.
inline constexpr int kLspvBits[5] = {6, 7, 7, 6, 6};
inline int cbgainBits(int subframe) {
    return (subframe & 3) == 3 ? 3 : 4;
}

} // namespace pvconv
