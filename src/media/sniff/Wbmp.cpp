// WBMP (WAP bitmap): a type field, a fixed header byte (extension headers when its top
// bit is set), then width and height as multi-byte integers (7 bits a byte, the top bit
// saying more follow). Type 0 is the only one phones show: one bit a pixel, rows
// padded to whole bytes.
#include "media/sniff/Sniff.h"

namespace tess::sniff {

namespace {

// A multi-byte integer of at most 4 bytes (28 bits); false when it runs on or past b.
bool multiByte(Bytes b, size_t* at, uint32_t* value, Facts* f) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        if (!has(b, *at, 1)) {
            f->past = true;
            return false;
        }
        const unsigned char c = b.data[(*at)++];
        v = v << 7 | (c & 0x7F);
        if (!(c & 0x80)) {
            *value = v;
            return true;
        }
    }
    f->fault = "a multi-byte integer is longer than 4 bytes";
    return false;
}

} // namespace

void readWbmp(Bytes b, Facts* f) {
    size_t at = 0;
    uint32_t type = 0;
    if (!multiByte(b, &at, &type, f))
        return;
    f->wbmpType = int(type);
    f->colour = "mono";
    f->bitDepth = 1;
    if (type != 0) {
        f->fault = "WBMP type " + std::to_string(type) + " (only type 0 is in use)";
        return;
    }
    if (!has(b, at, 1)) {
        f->past = true;
        return;
    }
    unsigned char header = b.data[at++];
    // Extension headers: each byte's top bit says another follows.
    for (int guard = 0; header & 0x80; ++guard) {
        if (guard > 64) {
            f->fault = "extension headers do not end";
            return;
        }
        if (!has(b, at, 1)) {
            f->past = true;
            return;
        }
        header = b.data[at++];
    }
    if (!multiByte(b, &at, &f->width, f) || !multiByte(b, &at, &f->height, f))
        return;
    if (f->width == 0 || f->height == 0) {
        f->fault = "the picture size is zero";
        return;
    }
    const uint64_t need = uint64_t(at) + (uint64_t(f->width) + 7) / 8 * f->height;
    if (need > f->total) {
        f->fault = "the file is shorter than its picture";
    } else if (need < f->total) {
        f->fault = "the file is longer than its picture";
    }
}

} // namespace tess::sniff
