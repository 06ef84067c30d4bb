#include "media/sniff/Sniff.h"

#include <cstring>

namespace tess::sniff {

namespace {

bool starts(Bytes b, const char* magic, size_t n) {
    return b.size >= n && std::memcmp(b.data, magic, n) == 0;
}

// WBMP has no signature: type 0, header 0, then two multi-byte integers whose
// product must account for the file's size exactly, unless its name says WBMP.
bool looksLikeWbmp(Bytes b, uint64_t total, const std::string& extension) {
    if (b.size < 4 || b.data[0] != 0 || b.data[1] != 0)
        return extension == "wbmp" && b.size > 0;
    if (extension == "wbmp")
        return true;
    Facts f;
    f.total = total;
    f.size = b.size;
    readWbmp(b, &f);
    return f.fault.empty() && f.width > 0 && f.height > 0;
}

bool mpegSync(Bytes b, size_t at) {
    return has(b, at, 4) && b.data[at] == 0xFF && (b.data[at + 1] & 0xE0) == 0xE0;
}

} // namespace

std::string detect(Bytes b, uint64_t total, const std::string& extension) {
    if (starts(b, "\x89PNG\r\n\x1a\n", 8))
        return "png";
    if (starts(b, "\xFF\xD8\xFF", 3))
        return "jpeg";
    if (starts(b, "GIF87a", 6) || starts(b, "GIF89a", 6))
        return "gif";
    if (starts(b, "BM", 2) && b.size >= 18) {
        const uint32_t dib = le32(b, 14);
        if (dib == 12 || dib == 40 || dib == 52 || dib == 56 || dib == 64 || dib == 108 ||
            dib == 124)
            return "bmp";
    }
    if (starts(b, "RIFF", 4) && tag(b, 8, "QLCM"))
        return "qcp";
    if (starts(b, "RIFF", 4) && tag(b, 8, "WAVE"))
        return "wav";
    if (starts(b, "MThd", 4))
        return "midi";
    if (starts(b, "cmid", 4))
        return extension == "pmd" ? "pmd" : "cmx";
    if (starts(b, "ID3", 3))
        return "mp3";
    if (b.size >= 2 && b.data[0] == 0xFF && (b.data[1] & 0xF6) == 0xF0)
        return "aac"; // ADTS: sync, layer 00
    if (mpegSync(b, 0) && (b.data[1] & 0x06) != 0)
        return "mp3";
    if (tag(b, 4, "ftyp") && has(b, 8, 4) &&
        (tag(b, 8, "M4A ") || tag(b, 8, "M4B ") || tag(b, 8, "mp42") || tag(b, 8, "isom") ||
         tag(b, 8, "3gp4") || tag(b, 8, "3gp5") || tag(b, 8, "3g2a")))
        return "aac";
    {
        Facts f;
        readHtml(b, &f);
        if (!f.markup.empty())
            return "html";
    }
    if (looksLikeWbmp(b, total, extension))
        return "wbmp";
    return "unknown";
}

Facts sniff(Bytes head, uint64_t total, const std::string& extension) {
    Facts f;
    f.total = total;
    f.size = head.size;
    f.format = detect(head, total, extension);
    if (f.format == "png")
        readPng(head, &f);
    else if (f.format == "jpeg")
        readJpeg(head, &f);
    else if (f.format == "gif")
        readGif(head, &f);
    else if (f.format == "wbmp")
        readWbmp(head, &f);
    else if (f.format == "bmp")
        readBmp(head, &f);
    else if (f.format == "qcp")
        readQcp(head, &f);
    else if (f.format == "midi")
        readMidi(head, &f);
    else if (f.format == "wav")
        readWav(head, &f);
    else if (f.format == "mp3" || f.format == "aac")
        readMpeg(head, &f);
    else if (f.format == "html")
        readHtml(head, &f);
    if (f.truncated() && f.fault.empty())
        f.fault = "the file ends inside its own headers";
    return f;
}

} // namespace tess::sniff
