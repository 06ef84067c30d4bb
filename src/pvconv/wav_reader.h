#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pvconv {

// What the reader accepts: 8000 Hz mono PCM, 8-bit unsigned or 16-bit signed.
inline constexpr uint32_t kRequiredRate = 8000;

struct WavAudio {
    bool ok = false;
    std::string error;            // one line, set when !ok
    std::vector<int16_t> samples; // 16-bit scale, 8-bit input widened
    int bitsPerSample = 0;
    bool dataTruncated = false; // the data chunk claimed more than the file holds
};

// Parses a whole RIFF/WAVE file held in memory. Never reads outside
// [data, data + size) and never throws on bad input.
WavAudio parseWav(const uint8_t* data, size_t size);

} // namespace pvconv
