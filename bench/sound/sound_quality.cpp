// sound_quality REF.s16 DECODED.s16: segSNR and LSD of a decoded ringtone (raw 8 kHz
// mono 16-bit) against its reference, by pvconv's own measure.
#include "quality.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

static std::vector<int16_t> load(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(static_cast<uint8_t>(b[2 * i]) | (b[2 * i + 1] << 8));
    return s;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sound_quality REF.s16 DECODED.s16\n");
        return 2;
    }
    const pvconv::Quality q = pvconv::measureQuality(load(argv[1]), load(argv[2]));
    std::printf("%.2f %.2f %d\n", q.segSnrDb, q.lsdDb, q.lag);
    return 0;
}
