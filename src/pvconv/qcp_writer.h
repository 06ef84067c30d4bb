#pragma once

#include "qcelp_frame.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pvconv {

// Size of the header before the first packet: RIFF, fmt, vrat and the data
// chunk's own header.
inline constexpr size_t kQcpHeaderSize = 194;

// Average bit rate of a file of packets holding dataBytes bytes (rate bytes
// included), each packet 20 ms, rounded to the nearest bit per second.
uint32_t averageBitRate(uint64_t packets, uint64_t dataBytes);

// Header of a QCP file (RFC 3625) of the given packets.
std::vector<uint8_t> qcpHeader(uint64_t packets, uint64_t dataBytes);

// Bytes of a whole QCP file holding QCELP-13K packets.
std::vector<uint8_t> buildQcp(const std::vector<Packet>& packets);

// Removes the temporary file of a conversion when a signal ends the program (INT,
// TERM, HUP, QUIT, XFSZ, ALRM, USR1, USR2, XCPU), then lets the signal take its
// default action.
void removeTemporaryOnSignals();

// A QCP file written packet by packet to a temporary name beside its target,
// made exclusively (never through a planted link), its header completed at
// the end, then renamed over the target. Abandoned (removed) unless finished.
class QcpOutput {
public:
    QcpOutput() = default;
    QcpOutput(const QcpOutput&) = delete;
    QcpOutput& operator=(const QcpOutput&) = delete;
    ~QcpOutput();

    // Each returns an empty string on success, else the reason.
    std::string create(const std::string& target);
    std::string write(const Packet& packet);
    std::string finish();
    void abandon();

    const std::string& temporaryPath() const { return tmp_; }
    uint64_t packets() const { return packets_; }
    uint64_t dataBytes() const { return dataBytes_; }

private:
    std::string flush();

    int fd_ = -1;
    std::string target_;
    std::string tmp_;
    uint64_t packets_ = 0;
    uint64_t dataBytes_ = 0;
    std::vector<uint8_t> pending_;
};

// Writes bytes to target through a QcpOutput-style temporary file and rename.
std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace pvconv
