#include "qcp_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace pvconv {
namespace {

void put16(std::vector<uint8_t>& b, unsigned v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFFu);
    put16(b, v >> 16);
}
// Byte by byte: GCC 12 warns falsely about vector::insert of arrays here.
void putBytes(std::vector<uint8_t>& b, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        b.push_back(p[i]);
}
void putTag(std::vector<uint8_t>& b, const char* tag) {
    putBytes(b, reinterpret_cast<const uint8_t*>(tag), 4);
}

// QCELP-13K codec GUID {5E7F6D41-B115-11D0-BA91-00805FB4B97E} in file byte order.
constexpr uint8_t kQcelp13kGuid[16] = {0x41, 0x6D, 0x7F, 0x5E, 0x15, 0xB1, 0xD0, 0x11,
                                       0xBA, 0x91, 0x00, 0x80, 0x5F, 0xB4, 0xB9, 0x7E};
constexpr uint32_t kFmtBodySize = 150;

} // namespace

std::vector<uint8_t> buildQcp(const std::vector<Packet>& packets) {
    std::vector<uint8_t> b;
    size_t dataSize = 0;
    for (const Packet& p : packets)
        dataSize += 1 + static_cast<size_t>(p.size());
    b.reserve(12 + 8 + kFmtBodySize + 16 + 8 + dataSize + 1);
    putTag(b, "RIFF");
    put32(b, 0); // patched below
    putTag(b, "QLCM");

    putTag(b, "fmt ");
    put32(b, kFmtBodySize);
    b.push_back(1); // major version
    b.push_back(0); // minor version
    putBytes(b, kQcelp13kGuid, 16);
    put16(b, 2); // codec version
    uint8_t name[80] = {};
    std::memcpy(name, "Qcelp 13K", 9);
    putBytes(b, name, sizeof name);
    // Average bits per second over the file: every packet stands for 20 ms.
    const size_t bps = packets.empty() ? 14000 : dataSize * 8 * 50 / packets.size();
    put16(b, static_cast<unsigned>(bps));
    put16(b, kFullRatePayloadBytes + 1); // largest packet, rate byte included
    put16(b, kFrameSize);                // samples per packet
    put16(b, 8000);                      // sampling rate
    put16(b, 16);                        // bits per sample
    // Rate map: payload size in bytes (without the rate byte) for each rate byte.
    constexpr uint8_t kRateMap[5][2] = {{34, 4}, {16, 3}, {7, 2}, {3, 1}, {0, 0}};
    put32(b, 5);
    for (int i = 0; i < 8; ++i) {
        b.push_back(i < 5 ? kRateMap[i][0] : 0);
        b.push_back(i < 5 ? kRateMap[i][1] : 0);
    }
    for (int i = 0; i < 20; ++i) // reserved
        b.push_back(0);

    putTag(b, "vrat");
    put32(b, 8);
    put32(b, 1); // variable rate: each packet starts with its rate byte
    put32(b, static_cast<uint32_t>(packets.size()));

    putTag(b, "data");
    put32(b, static_cast<uint32_t>(dataSize));
    for (const Packet& p : packets) {
        b.push_back(p.rate);
        putBytes(b, p.bytes.data(), static_cast<size_t>(p.size()));
    }
    if (dataSize & 1u)
        b.push_back(0);

    const uint32_t riffSize = static_cast<uint32_t>(b.size() - 8);
    for (int i = 0; i < 4; ++i)
        b[4 + i] = static_cast<uint8_t>(riffSize >> (8 * i));
    return b;
}

std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::random_device rd;
    const std::string tmp = path + ".part" + std::to_string(rd() % 1000000u);
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr)
        return "cannot create " + tmp + ": " + std::strerror(errno);
    const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int err = errno;
    const bool closed = std::fclose(f) == 0;
    if (!wrote || !closed) {
        std::remove(tmp.c_str());
        return "cannot write " + tmp + ": " + std::strerror(wrote ? errno : err);
    }
#ifdef _WIN32
    // Windows will not rename over an existing file.
    std::remove(path.c_str());
#endif
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        std::remove(tmp.c_str());
        return "cannot rename to " + path + ": " + std::strerror(e);
    }
    return {};
}

} // namespace pvconv
