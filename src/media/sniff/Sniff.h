#pragma once

// The format readers of inspection: plain C++ over a bounded span of a file's first
// bytes, no Qt, no allocation beyond a few strings, so they can run under a fuzzer.
// Each reads only inside the span it is given; where a header goes on past the span
// it says so (Facts::past) rather than guess.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tess::sniff {

struct Bytes {
    const unsigned char* data = nullptr;
    size_t size = 0;
};

struct Facts {
    std::string format =
        "unknown";      // png jpeg gif wbmp bmp qcp midi cmx pmd wav mp3 aac html unknown
    uint64_t total = 0; // the whole file's size
    std::string fault;  // the structure is broken, in a few words ("IHDR chunk missing")
    bool past = false;  // a header runs past the bytes given
    bool truncated() const { return past && size >= total; } // ...and the file ends there
    size_t size = 0;                                         // how many bytes were given

    // Pictures
    uint32_t width = 0, height = 0;
    int bitDepth = 0;        // per channel (PNG), per sample (JPEG), per pixel (GIF, BMP, WBMP)
    std::string colour;      // grey rgb palette grey+alpha rgba cmyk ycbcr ycck mono
    bool interlaced = false; // PNG Adam7, progressive JPEG
    int frames = 0;          // GIF images, APNG frames
    int orientation = 0;     // EXIF 1..8
    int wbmpType = -1;
    std::string compression; // BMP

    // Sounds
    std::string codec; // qcelp13k evrc smv pcm ... mp3 aac
    uint32_t sampleRate = 0;
    int channels = 0;
    double seconds = 0;
    int midiFormat = -1, midiTracksDeclared = 0, midiTracks = 0, midiDivision = 0;

    // Pages
    std::string markup; // wml xhtml html
};

// The format by the first bytes alone; extension ("wbmp", lowercase) only settles the
// one format without a signature.
std::string detect(Bytes b, uint64_t total, const std::string& extension);

// detect, then that format's reader.
Facts sniff(Bytes head, uint64_t total, const std::string& extension);

// One reader per format; each expects its signature at the start of b.
void readPng(Bytes b, Facts* f);
void readJpeg(Bytes b, Facts* f);
void readGif(Bytes b, Facts* f);
void readWbmp(Bytes b, Facts* f);
void readBmp(Bytes b, Facts* f);
void readQcp(Bytes b, Facts* f);
void readMidi(Bytes b, Facts* f);
void readWav(Bytes b, Facts* f);
void readMpeg(Bytes b, Facts* f); // mp3, ADTS AAC, MPEG-4 audio (.m4a)
void readHtml(Bytes b, Facts* f);

// Bounded reads: each returns false (and reads nothing) when [at, at+n) is outside b.
inline bool has(Bytes b, uint64_t at, uint64_t n) {
    return at <= b.size && n <= b.size - at;
}
inline uint32_t be16(Bytes b, size_t at) {
    return uint32_t(b.data[at]) << 8 | b.data[at + 1];
}
inline uint32_t le16(Bytes b, size_t at) {
    return uint32_t(b.data[at + 1]) << 8 | b.data[at];
}
inline uint32_t be32(Bytes b, size_t at) {
    return be16(b, at) << 16 | be16(b, at + 2);
}
inline uint32_t le32(Bytes b, size_t at) {
    return le16(b, at + 2) << 16 | le16(b, at);
}
inline bool tag(Bytes b, size_t at, const char* four) {
    if (!has(b, at, 4))
        return false;
    for (int i = 0; i < 4; ++i)
        if (b.data[at + i] != static_cast<unsigned char>(four[i]))
            return false;
    return true;
}

} // namespace tess::sniff
