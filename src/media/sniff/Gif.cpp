// GIF: the logical screen, then blocks to the trailer, counting images (frames).
#include "media/sniff/Sniff.h"

namespace tess::sniff {

namespace {

// Skips a run of data sub-blocks; returns the offset after the terminator, or 0.
size_t skipSubBlocks(Bytes b, size_t at, Facts* f) {
    for (;;) {
        if (!has(b, at, 1)) {
            f->past = true;
            return 0;
        }
        const size_t n = b.data[at];
        ++at;
        if (n == 0)
            return at;
        if (!has(b, at, n)) {
            f->past = true;
            return 0;
        }
        at += n;
    }
}

} // namespace

void readGif(Bytes b, Facts* f) {
    if (!has(b, 0, 13)) {
        f->past = true;
        return;
    }
    f->width = le16(b, 6);
    f->height = le16(b, 8);
    const int flags = b.data[10];
    f->colour = "palette";
    f->bitDepth = (flags & 7) + 1;
    size_t at = 13;
    if (flags & 0x80)
        at += size_t(3) << ((flags & 7) + 1);
    for (int guard = 0; guard < 1000000; ++guard) {
        if (!has(b, at, 1)) {
            f->past = true;
            return;
        }
        const int block = b.data[at];
        if (block == 0x3B)
            return;
        if (block == 0x21) {
            if (!has(b, at, 2)) {
                f->past = true;
                return;
            }
            at = skipSubBlocks(b, at + 2, f);
            if (at == 0)
                return;
        } else if (block == 0x2C) {
            if (!has(b, at, 10)) {
                f->past = true;
                return;
            }
            const int local = b.data[at + 9];
            at += 10;
            if (local & 0x80)
                at += size_t(3) << ((local & 7) + 1);
            ++f->frames;
            at = skipSubBlocks(b, at + 1, f); // after the LZW code size
            if (at == 0)
                return;
        } else {
            f->fault = "an unknown block where an image or extension should be";
            return;
        }
    }
}

} // namespace tess::sniff
