// Pages: WML or XHTML Mobile Profile or plain HTML, by the first markup after any
// byte order mark, white space, XML declaration and comments.
#include "media/sniff/Sniff.h"

#include <cctype>
#include <cstring>

namespace tess::sniff {

namespace {

bool startsNoCase(Bytes b, size_t at, const char* word) {
    const size_t n = std::strlen(word);
    if (!has(b, at, n))
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(b.data[at + i]) != static_cast<unsigned char>(word[i]))
            return false;
    return true;
}

// The offset just after the first occurrence of word at or after at, within 4 KB.
size_t findAfter(Bytes b, size_t at, const char* word) {
    const size_t n = std::strlen(word);
    for (size_t i = at; i + n <= b.size && i < at + 4096; ++i)
        if (startsNoCase(b, i, word))
            return i + n;
    return 0;
}

} // namespace

void readHtml(Bytes b, Facts* f) {
    size_t at = 0;
    if (has(b, 0, 3) && b.data[0] == 0xEF && b.data[1] == 0xBB && b.data[2] == 0xBF)
        at = 3;
    for (int guard = 0; guard < 64; ++guard) {
        while (at < b.size && at < 4096 && std::isspace(b.data[at]))
            ++at;
        if (startsNoCase(b, at, "<?xml") || startsNoCase(b, at, "<!--")) {
            const bool comment = b.data[at + 1] == '!';
            const size_t next = findAfter(b, at, comment ? "-->" : "?>");
            if (next == 0)
                return;
            at = next;
            continue;
        }
        break;
    }
    if (startsNoCase(b, at, "<!doctype wml") || startsNoCase(b, at, "<wml")) {
        f->markup = "wml";
    } else if (startsNoCase(b, at, "<!doctype html")) {
        const size_t end = findAfter(b, at, ">");
        const size_t mobile = findAfter(b, at, "xhtml mobile");
        f->markup = (mobile != 0 && (end == 0 || mobile < end)) ? "xhtml" : "html";
    } else if (startsNoCase(b, at, "<html")) {
        const size_t end = findAfter(b, at, ">");
        const size_t ns = findAfter(b, at, "http://www.w3.org/1999/xhtml");
        f->markup = (ns != 0 && (end == 0 || ns < end)) ? "xhtml" : "html";
    }
}

} // namespace tess::sniff
