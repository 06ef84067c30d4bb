// JPEG: markers up to the start of scan; the frame header (SOFn) gives size, precision,
// components and whether it is progressive; APP1 Exif the orientation; APP14 Adobe
// the colour transform of a four-component (CMYK or YCCK) picture.
#include "media/sniff/Sniff.h"

#include <cstring>

namespace tess::sniff {

namespace {

// The orientation tag (0x0112) of the first IFD of an Exif block, or 0.
int exifOrientation(Bytes b, size_t at, size_t len) {
    if (len < 14 || std::memcmp(b.data + at, "Exif\0\0", 6) != 0)
        return 0;
    const Bytes t{b.data + at + 6, len - 6};
    bool little;
    if (t.data[0] == 'I' && t.data[1] == 'I')
        little = true;
    else if (t.data[0] == 'M' && t.data[1] == 'M')
        little = false;
    else
        return 0;
    auto u16 = [&](size_t o) { return little ? le16(t, o) : be16(t, o); };
    auto u32 = [&](size_t o) { return little ? le32(t, o) : be32(t, o); };
    if (u16(2) != 42)
        return 0;
    const uint32_t ifd = u32(4);
    if (!has(t, ifd, 2))
        return 0;
    const uint32_t count = u16(ifd);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t e = uint64_t(ifd) + 2 + uint64_t(i) * 12;
        if (!has(t, e, 12))
            return 0;
        if (u16(size_t(e)) == 0x0112 && u16(size_t(e) + 2) == 3) {
            const uint32_t v = u16(size_t(e) + 8);
            return v >= 1 && v <= 8 ? int(v) : 0;
        }
    }
    return 0;
}

} // namespace

void readJpeg(Bytes b, Facts* f) {
    size_t at = 2;
    int adobeTransform = -1;
    int components = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        // Fill bytes (0xFF) may come before a marker.
        while (has(b, at, 1) && b.data[at] == 0xFF && has(b, at + 1, 1) && b.data[at + 1] == 0xFF)
            ++at;
        if (!has(b, at, 2)) {
            f->past = true;
            break;
        }
        if (b.data[at] != 0xFF) {
            f->fault = "a marker was expected where there is none";
            return;
        }
        const int m = b.data[at + 1];
        at += 2;
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7))
            continue; // no length
        if (m == 0xD8 || m == 0xD9) {
            f->fault = "an image marker in the middle of the headers";
            return;
        }
        if (!has(b, at, 2)) {
            f->past = true;
            break;
        }
        const uint32_t len = be16(b, at);
        if (len < 2) {
            f->fault = "a segment length is too short";
            return;
        }
        if (m == 0xDA) // start of scan: every header came before it
            break;
        const bool sof = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (!has(b, at, len)) {
            f->past = true;
            if (!sof || !has(b, at, 8))
                break;
        }
        if (sof) {
            if (len < 8) {
                f->fault = "the frame header is too short";
                return;
            }
            f->bitDepth = b.data[at + 2];
            f->height = be16(b, at + 3);
            f->width = be16(b, at + 5);
            components = b.data[at + 7];
            const int process = m & 0x0F;
            f->interlaced = process == 2 || process == 6 || process == 10 || process == 14;
            if (process == 3 || process == 7 || process == 11 || process == 15)
                f->compression = "lossless";
            else if (process >= 9)
                f->compression = "arithmetic";
            if (f->width == 0) {
                f->fault = "the frame header gives no width";
                return;
            }
            if (f->past)
                break;
        } else if (m == 0xE1 && f->orientation == 0) {
            f->orientation = exifOrientation(b, at + 2, len - 2);
        } else if (m == 0xEE && len >= 14 && std::memcmp(b.data + at + 2, "Adobe", 5) == 0) {
            adobeTransform = b.data[at + 13];
        }
        at += len;
    }
    if (components == 1)
        f->colour = "grey";
    else if (components == 3)
        f->colour = "ycbcr";
    else if (components == 4)
        f->colour = adobeTransform == 2 ? "ycck" : "cmyk";
    else if (components != 0)
        f->colour = std::to_string(components) + " components";
    if (f->width == 0 && !f->past && f->fault.empty())
        f->fault = "no frame header before the image data";
}

} // namespace tess::sniff
