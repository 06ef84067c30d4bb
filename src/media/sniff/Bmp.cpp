// Windows BMP: the file header and the DIB header's size, depth and compression.
// Not a phone format; it is read to say so precisely.
#include "media/sniff/Sniff.h"

namespace tess::sniff {

void readBmp(Bytes b, Facts* f) {
    if (!has(b, 0, 26)) {
        f->past = true;
        return;
    }
    const uint32_t dib = le32(b, 14);
    if (dib == 12) {
        f->width = le16(b, 18);
        f->height = le16(b, 20);
        f->bitDepth = int(le16(b, 24));
        f->compression = "none";
    } else {
        if (!has(b, 0, 34)) {
            f->past = true;
            return;
        }
        const int32_t w = int32_t(le32(b, 18));
        const int32_t h = int32_t(le32(b, 22));
        f->width = w < 0 ? 0u - uint32_t(w) : uint32_t(w);
        f->height = h < 0 ? 0u - uint32_t(h) : uint32_t(h);
        f->bitDepth = int(le16(b, 28));
        static const char* const names[] = {"none", "rle8", "rle4", "bitfields", "jpeg", "png"};
        const uint32_t c = le32(b, 30);
        f->compression = c < 6 ? names[c] : "unknown";
    }
    f->colour = f->bitDepth <= 8 ? "palette" : "rgb";
    if (f->width == 0 || f->height == 0)
        f->fault = "the picture size is zero";
    else if (le32(b, 2) != 0 && le32(b, 2) > f->total)
        f->fault = "the file is shorter than its header says";
}

} // namespace tess::sniff
