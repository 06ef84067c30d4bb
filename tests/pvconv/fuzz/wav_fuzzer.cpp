// libFuzzer target of the WAV reader: any byte string must give either audio
// or a one-line reason, without reading outside the buffer.
#include "wav_reader.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pvconv::WavAudio w = pvconv::parseWav(data, size);
    if (w.ok) {
        // Samples can only come from bytes of the file.
        if (w.samples.empty() || w.samples.size() > size || !w.error.empty())
            std::abort();
        if (w.bitsPerSample != 8 && w.bitsPerSample != 16)
            std::abort();
    } else if (w.error.empty() || w.error.find('\n') != std::string::npos ||
               !w.samples.empty()) {
        std::abort();
    }
    return 0;
}
