// PNG: the IHDR chunk, then the chunks before the image data for animation (acTL).
#include "media/sniff/Sniff.h"

namespace tess::sniff {

void readPng(Bytes b, Facts* f) {
    size_t at = 8;
    if (!has(b, at, 8 + 13)) {
        f->past = true;
        return;
    }
    if (be32(b, at) != 13 || !tag(b, at + 4, "IHDR")) {
        f->fault = "the IHDR chunk is missing";
        return;
    }
    const size_t d = at + 8;
    f->width = be32(b, d);
    f->height = be32(b, d + 4);
    f->bitDepth = b.data[d + 8];
    const int type = b.data[d + 9];
    const int interlace = b.data[d + 12];
    switch (type) {
    case 0:
        f->colour = "grey";
        break;
    case 2:
        f->colour = "rgb";
        break;
    case 3:
        f->colour = "palette";
        break;
    case 4:
        f->colour = "grey+alpha";
        break;
    case 6:
        f->colour = "rgba";
        break;
    default:
        f->fault = "unknown colour type " + std::to_string(type);
        return;
    }
    const int depth = f->bitDepth;
    const bool depthOk = type == 0
                             ? (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)
                         : type == 3 ? (depth == 1 || depth == 2 || depth == 4 || depth == 8)
                                     : (depth == 8 || depth == 16);
    if (!depthOk) {
        f->fault = "bit depth " + std::to_string(depth) + " is not allowed for its colour type";
        return;
    }
    if (f->width == 0 || f->height == 0 || f->width > 0x7fffffffu || f->height > 0x7fffffffu) {
        f->fault = "the picture size is out of range";
        return;
    }
    if (interlace > 1) {
        f->fault = "unknown interlace method";
        return;
    }
    f->interlaced = interlace == 1;
    // The chunks up to the first IDAT; animation control must come before it.
    at = d + 13 + 4;
    for (int guard = 0; guard < 100000; ++guard) {
        if (!has(b, at, 8)) {
            f->past = true;
            return;
        }
        const uint32_t len = be32(b, at);
        if (len > 0x7fffffffu) {
            f->fault = "a chunk length is out of range";
            return;
        }
        if (tag(b, at + 4, "IDAT") || tag(b, at + 4, "IEND"))
            return;
        if (tag(b, at + 4, "acTL")) {
            if (len < 8 || !has(b, at + 8, 8)) {
                f->past = len >= 8;
                if (len < 8)
                    f->fault = "the acTL chunk is too short";
                return;
            }
            const uint32_t frames = be32(b, at + 8);
            f->frames = frames > 100000 ? 100000 : int(frames);
        }
        const uint64_t next = uint64_t(at) + 12 + len;
        if (next > b.size) {
            f->past = true;
            return;
        }
        at = size_t(next);
    }
}

} // namespace tess::sniff
