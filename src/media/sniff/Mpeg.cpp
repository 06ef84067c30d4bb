// Compressed music: MPEG audio (an ID3v2 tag skipped, then the first frame header),
// ADTS AAC, and MPEG-4 audio (.m4a: ftyp, then moov/mvhd for the length when it lies
// in the bytes given).
#include "media/sniff/Sniff.h"

namespace tess::sniff {

namespace {

void readMp3Frame(Bytes b, size_t at, Facts* f) {
    if (!has(b, at, 4)) {
        f->past = true;
        return;
    }
    const unsigned char* h = b.data + at;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) {
        f->fault = "no MPEG audio frame where the first one should be";
        return;
    }
    const int version = (h[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = (h[1] >> 1) & 3;   // 1: III, 2: II, 3: I
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || bitrateIndex == 15 || rateIndex == 3) {
        f->fault = "the first MPEG audio frame header is not valid";
        return;
    }
    static const uint32_t rates[3] = {44100, 48000, 32000};
    f->sampleRate = rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    f->channels = (h[3] >> 6) == 3 ? 1 : 2;
    f->codec = layer == 1 ? "mp3" : layer == 2 ? "mp2" : "mp1";
    // Layer III bit rates in kbit/s, MPEG-1 and MPEG-2/2.5.
    static const int l3v1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int l3v2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const int kbps = layer == 1 ? (version == 3 ? l3v1 : l3v2)[bitrateIndex] : 0;
    if (kbps > 0 && f->total > at)
        f->seconds = double(f->total - at) * 8 / (kbps * 1000.0); // as if constant bit rate
}

void readAdts(Bytes b, Facts* f) {
    if (!has(b, 0, 7)) {
        f->past = true;
        return;
    }
    static const uint32_t rates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                       22050, 16000, 12000, 11025, 8000,  7350};
    const int index = (b.data[2] >> 2) & 0x0F;
    if (index >= 13) {
        f->fault = "the ADTS header gives no sampling rate";
        return;
    }
    f->codec = "aac";
    f->sampleRate = rates[index];
    f->channels = ((b.data[2] & 1) << 2) | (b.data[3] >> 6);
}

// MPEG-4 boxes: the movie header's time scale and duration, if moov is in reach.
void readMp4(Bytes b, Facts* f) {
    f->codec = "mp4";
    uint64_t at = 0;
    uint64_t end = b.size;
    for (int guard = 0; guard < 10000 && at < end; ++guard) {
        if (!has(b, at, 8)) {
            f->past = true;
            return;
        }
        const size_t c = size_t(at);
        uint64_t len = be32(b, c);
        size_t head = 8;
        if (len == 1) {
            if (!has(b, at, 16)) {
                f->past = true;
                return;
            }
            len = uint64_t(be32(b, c + 8)) << 32 | be32(b, c + 12);
            head = 16;
        } else if (len == 0) {
            len = f->total - at;
        }
        if (len > f->total) {
            f->fault = "a box is longer than the file";
            return;
        }
        if (len < head) {
            f->fault = "a box is shorter than its own header";
            return;
        }
        if (tag(b, c + 4, "moov")) {
            end = at + len; // look inside it
            at += head;
            continue;
        }
        if (tag(b, c + 4, "mvhd")) {
            if (!has(b, at + head, 32)) {
                f->past = true;
                return;
            }
            const Bytes v{b.data + c + head, size_t(b.size - c - head)};
            const bool wide = v.data[0] == 1;
            if (wide && !has(v, 0, 32)) {
                f->past = true;
                return;
            }
            const uint32_t scale = wide ? be32(v, 20) : be32(v, 12);
            const uint64_t duration =
                wide ? (uint64_t(be32(v, 24)) << 32 | be32(v, 28)) : be32(v, 16);
            if (scale > 0)
                f->seconds = double(duration) / scale;
            return;
        }
        at += len;
    }
}

} // namespace

void readMpeg(Bytes b, Facts* f) {
    if (has(b, 0, 10) && b.data[0] == 'I' && b.data[1] == 'D' && b.data[2] == '3') {
        for (int i = 6; i < 10; ++i)
            if (b.data[i] & 0x80) {
                f->fault = "the ID3 tag's size is not valid";
                return;
            }
        const uint64_t size = uint64_t(b.data[6]) << 21 | uint64_t(b.data[7]) << 14 |
                              uint64_t(b.data[8]) << 7 | b.data[9];
        const uint64_t start = 10 + size + ((b.data[5] & 0x10) ? 10 : 0);
        if (start > f->total) {
            f->fault = "the ID3 tag runs past the end of the file";
            return;
        }
        if (start + 4 > b.size) {
            f->past = true;
            return;
        }
        // After the tag may come either kind of stream.
        if (b.data[start] == 0xFF && (b.data[start + 1] & 0xF6) == 0xF0) {
            f->format = "aac";
            readAdts(Bytes{b.data + start, size_t(b.size - start)}, f);
        } else {
            readMp3Frame(b, size_t(start), f);
        }
        return;
    }
    if (f->format == "aac" && tag(b, 4, "ftyp"))
        readMp4(b, f);
    else if (f->format == "aac")
        readAdts(b, f);
    else
        readMp3Frame(b, 0, f);
}

} // namespace tess::sniff
