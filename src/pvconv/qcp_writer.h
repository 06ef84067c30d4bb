#pragma once

#include "qcelp_frame.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pvconv {

// Bytes of a QCP file (RFC 3625) holding QCELP-13K packets.
std::vector<uint8_t> buildQcp(const std::vector<Packet>& packets);

// Writes bytes to a temporary name beside path, then renames it to path, so a
// failure never leaves a partial file under the final name. Returns an empty
// string on success, else the reason.
std::string writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

} // namespace pvconv
