#include "qcelp_frame.h"

#include <cstddef>

namespace pvconv {
namespace {

enum Field : uint8_t { Lspv, Plag, Pfrac, Pgain, Cbsign, Cbgain, Cindex, Reserved };

// One run of bits of the full-rate packet: field, element, lowest bit of the
// element that the run carries, and its length. Runs are listed from the first
// bit of the packet on; each run is stored most significant bit first.
struct Run {
    Field field;
    uint8_t element;
    uint8_t shift;
    uint8_t length;
};

constexpr Run kFullRateLayout[] = {
    {Lspv, 2, 0, 3},    {Lspv, 1, 0, 7},    {Lspv, 0, 0, 6},    {Lspv, 4, 0, 6},
    {Lspv, 3, 0, 6},    {Lspv, 2, 3, 4},    {Cbsign, 0, 0, 1},  {Cbgain, 0, 0, 4},
    {Pfrac, 0, 0, 1},   {Plag, 0, 0, 7},    {Pgain, 0, 0, 3},   {Cindex, 1, 0, 4},
    {Cbsign, 1, 0, 1},  {Cbgain, 1, 0, 4},  {Cindex, 0, 0, 7},  {Cbgain, 3, 0, 1},
    {Cindex, 2, 0, 7},  {Cbsign, 2, 0, 1},  {Cbgain, 2, 0, 4},  {Cindex, 1, 4, 3},
    {Plag, 1, 0, 3},    {Pgain, 1, 0, 3},   {Cindex, 3, 0, 7},  {Cbsign, 3, 0, 1},
    {Cbgain, 3, 1, 2},  {Cindex, 4, 0, 6},  {Cbsign, 4, 0, 1},  {Cbgain, 4, 0, 4},
    {Pfrac, 1, 0, 1},   {Plag, 1, 3, 4},    {Cbgain, 6, 0, 3},  {Cindex, 5, 0, 7},
    {Cbsign, 5, 0, 1},  {Cbgain, 5, 0, 4},  {Cindex, 4, 6, 1},  {Cindex, 7, 0, 3},
    {Cbsign, 7, 0, 1},  {Cbgain, 7, 0, 3},  {Cindex, 6, 0, 7},  {Cbsign, 6, 0, 1},
    {Cbgain, 6, 3, 1},  {Cbgain, 8, 0, 1},  {Pfrac, 2, 0, 1},   {Plag, 2, 0, 7},
    {Pgain, 2, 0, 3},   {Cindex, 7, 3, 4},  {Cbsign, 9, 0, 1},  {Cbgain, 9, 0, 4},
    {Cindex, 8, 0, 7},  {Cbsign, 8, 0, 1},  {Cbgain, 8, 1, 3},  {Cindex, 10, 0, 4},
    {Cbsign, 10, 0, 1}, {Cbgain, 10, 0, 4}, {Cindex, 9, 0, 7},  {Pgain, 3, 0, 2},
    {Cindex, 11, 0, 7}, {Cbsign, 11, 0, 1}, {Cbgain, 11, 0, 3}, {Cindex, 10, 4, 3},
    {Cindex, 12, 0, 2}, {Cbsign, 12, 0, 1}, {Cbgain, 12, 0, 4}, {Pfrac, 3, 0, 1},
    {Plag, 3, 0, 7},    {Pgain, 3, 2, 1},   {Cindex, 13, 0, 6}, {Cbsign, 13, 0, 1},
    {Cbgain, 13, 0, 4}, {Cindex, 12, 2, 5}, {Cbgain, 15, 0, 3}, {Cindex, 14, 0, 7},
    {Cbsign, 14, 0, 1}, {Cbgain, 14, 0, 4}, {Cindex, 13, 6, 1}, {Reserved, 0, 0, 2},
    {Cindex, 15, 0, 7}, {Cbsign, 15, 0, 1},
};

// Half rate, in the same notation.
constexpr Run kHalfRateLayout[] = {
    {Lspv, 2, 0, 3},   {Lspv, 1, 0, 7},   {Lspv, 0, 0, 6},   {Lspv, 4, 0, 6},   {Lspv, 3, 0, 6},
    {Lspv, 2, 3, 4},   {Cbsign, 0, 0, 1}, {Cbgain, 0, 0, 4}, {Pfrac, 0, 0, 1},  {Plag, 0, 0, 7},
    {Pgain, 0, 0, 3},  {Plag, 1, 0, 6},   {Pgain, 1, 0, 3},  {Cindex, 0, 0, 7}, {Pgain, 2, 0, 2},
    {Cindex, 1, 0, 7}, {Cbsign, 1, 0, 1}, {Cbgain, 1, 0, 4}, {Pfrac, 1, 0, 1},  {Plag, 1, 6, 1},
    {Cindex, 2, 0, 2}, {Cbsign, 2, 0, 1}, {Cbgain, 2, 0, 4}, {Pfrac, 2, 0, 1},  {Plag, 2, 0, 7},
    {Pgain, 2, 2, 1},  {Pfrac, 3, 0, 1},  {Plag, 3, 0, 7},   {Pgain, 3, 0, 3},  {Cindex, 2, 2, 5},
    {Cindex, 3, 0, 7}, {Cbsign, 3, 0, 1}, {Cbgain, 3, 0, 4},
};

// Quarter rate.
constexpr Run kQuarterRateLayout[] = {
    {Lspv, 2, 0, 3},   {Lspv, 1, 0, 7},   {Lspv, 0, 0, 6},     {Lspv, 4, 0, 6},
    {Lspv, 3, 0, 6},   {Lspv, 2, 3, 4},   {Cbgain, 3, 0, 4},   {Cbgain, 2, 0, 4},
    {Cbgain, 1, 0, 4}, {Cbgain, 0, 0, 4}, {Reserved, 0, 0, 2}, {Cbgain, 4, 0, 4},
};

uint8_t* element(FullRateFrame& f, const Run& r) {
    switch (r.field) {
    case Lspv:
        return &f.lspv[r.element];
    case Plag:
        return &f.plag[r.element];
    case Pfrac:
        return &f.pfrac[r.element];
    case Pgain:
        return &f.pgain[r.element];
    case Cbsign:
        return &f.cbsign[r.element];
    case Cbgain:
        return &f.cbgain[r.element];
    case Cindex:
        return &f.cindex[r.element];
    case Reserved:
        return &f.reserved;
    }
    return &f.reserved;
}

template <size_t N> FullRatePayload pack(const Run (&layout)[N], const FullRateFrame& frame) {
    FullRatePayload out{};
    FullRateFrame copy = frame;
    size_t bit = 0;
    for (const Run& r : layout) {
        const unsigned value = (*element(copy, r) >> r.shift) & ((1u << r.length) - 1u);
        for (int i = r.length - 1; i >= 0; --i, ++bit) {
            if ((value >> i) & 1u)
                out[bit >> 3] |= static_cast<uint8_t>(0x80u >> (bit & 7));
        }
    }
    return out;
}

template <size_t N> FullRateFrame unpack(const Run (&layout)[N], const FullRatePayload& payload) {
    FullRateFrame f;
    size_t bit = 0;
    for (const Run& r : layout) {
        unsigned value = 0;
        for (int i = 0; i < r.length; ++i, ++bit)
            value = (value << 1) | ((payload[bit >> 3] >> (7 - (bit & 7))) & 1u);
        *element(f, r) |= static_cast<uint8_t>(value << r.shift);
    }
    return f;
}

} // namespace

FullRatePayload packFullRate(const FullRateFrame& frame) {
    return pack(kFullRateLayout, frame);
}

FullRateFrame unpackFullRate(const FullRatePayload& payload) {
    return unpack(kFullRateLayout, payload);
}

Packet fullRatePacket(const FullRateFrame& frame) {
    Packet p;
    p.rate = kFullRateByte;
    p.bytes = packFullRate(frame);
    return p;
}

Packet halfRatePacket(const FullRateFrame& frame) {
    Packet p;
    p.rate = kHalfRateByte;
    p.bytes = pack(kHalfRateLayout, frame);
    return p;
}

Packet quarterRatePacket(const FullRateFrame& frame) {
    Packet p;
    p.rate = kQuarterRateByte;
    p.bytes = pack(kQuarterRateLayout, frame);
    return p;
}

FullRateFrame unpackFrame(const Packet& p) {
    if (p.rate == kHalfRateByte)
        return unpack(kHalfRateLayout, p.bytes);
    if (p.rate == kQuarterRateByte)
        return unpack(kQuarterRateLayout, p.bytes);
    return unpack(kFullRateLayout, p.bytes);
}

namespace {

// Bits of the eighth-rate packet from the first on: -1..-4 are seed bits 3..0,
// 0..9 the LSP bits, 10 the 2-bit gain, 11 the 4 reserved bits.
constexpr int kEighthLayout[] = {-1, 0, 1, 2, -2, 3, 4, 5, -3, 6, 7, 8, -4, 9, 10, 11};

} // namespace

Packet packEighthRate(const EighthRateFrame& f) {
    Packet p;
    p.rate = kEighthRateByte;
    size_t bit = 0;
    auto put = [&](unsigned value, int length) {
        for (int i = length - 1; i >= 0; --i, ++bit)
            if ((value >> i) & 1u)
                p.bytes[bit >> 3] |= static_cast<uint8_t>(0x80u >> (bit & 7));
    };
    for (int item : kEighthLayout) {
        if (item < 0)
            put((f.seed >> (4 + item)) & 1u, 1);
        else if (item < 10)
            put(f.lsp[static_cast<size_t>(item)] & 1u, 1);
        else if (item == 10)
            put(f.cbgain & 3u, 2);
        else
            put(f.reserved & 15u, 4);
    }
    return p;
}

EighthRateFrame unpackEighthRate(const Packet& p) {
    EighthRateFrame f;
    size_t bit = 0;
    auto get = [&](int length) {
        unsigned v = 0;
        for (int i = 0; i < length; ++i, ++bit)
            v = (v << 1) | ((p.bytes[bit >> 3] >> (7 - (bit & 7))) & 1u);
        return static_cast<uint8_t>(v);
    };
    for (int item : kEighthLayout) {
        if (item < 0)
            f.seed |= static_cast<uint8_t>(get(1) << (4 + item));
        else if (item < 10)
            f.lsp[static_cast<size_t>(item)] = get(1);
        else if (item == 10)
            f.cbgain = get(2);
        else
            f.reserved = get(4);
    }
    return f;
}

} // namespace pvconv
