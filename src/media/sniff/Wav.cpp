// WAV: RIFF "WAVE" with its "fmt " (encoding, channels, rate, bits) and the size of
// "data" for the length. Phones take no WAV ringer; it is read to say what it is.
#include "media/sniff/Sniff.h"

namespace tess::sniff {

void readWav(Bytes b, Facts* f) {
    uint64_t at = 12;
    uint32_t byteRate = 0;
    bool haveFmt = false;
    for (int guard = 0; guard < 10000; ++guard) {
        if (!has(b, at, 8)) {
            f->past = true;
            return;
        }
        const size_t c = size_t(at);
        const uint32_t len = le32(b, c + 4);
        if (tag(b, c, "fmt ")) {
            if (len < 16) {
                f->fault = "the fmt chunk is too short";
                return;
            }
            if (!has(b, c + 8, 16)) {
                f->past = true;
                return;
            }
            haveFmt = true;
            uint32_t code = le16(b, c + 8);
            if (code == 0xFFFE && len >= 40 && has(b, c + 8, 40))
                code = le16(b, c + 8 + 24); // the sub-format GUID's first word
            switch (code) {
            case 1:
                f->codec = "pcm";
                break;
            case 2:
                f->codec = "adpcm";
                break;
            case 3:
                f->codec = "float";
                break;
            case 6:
                f->codec = "alaw";
                break;
            case 7:
                f->codec = "mulaw";
                break;
            case 0x11:
                f->codec = "ima-adpcm";
                break;
            case 0x55:
                f->codec = "mp3";
                break;
            default:
                f->codec = "code " + std::to_string(code);
                break;
            }
            f->channels = int(le16(b, c + 10));
            f->sampleRate = le32(b, c + 12);
            byteRate = le32(b, c + 16);
            f->bitDepth = int(le16(b, c + 22));
        } else if (tag(b, c, "data")) {
            if (!haveFmt) {
                f->fault = "the data chunk comes before the fmt chunk";
                return;
            }
            uint64_t bytes = len;
            if (at + 8 + bytes > f->total) // streamed writers leave the size open
                bytes = f->total > at + 8 ? f->total - at - 8 : 0;
            if (byteRate > 0)
                f->seconds = double(bytes) / byteRate;
            return;
        }
        at += 8 + uint64_t(len) + (len & 1);
    }
}

} // namespace tess::sniff
