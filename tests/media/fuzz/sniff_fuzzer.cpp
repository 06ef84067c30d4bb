// libFuzzer target of the media format readers: any byte string, taken as a whole
// file and as the head of a longer one, under each name that changes what is tried,
// must give facts or a fault without reading outside the input.
#include "media/sniff/Sniff.h"

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy: the sanitizer sees one byte past the end.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size ? size : 1]);
    if (size)
        std::memcpy(copy.get(), data, size);
    const tess::sniff::Bytes bytes{copy.get(), size};
    for (const char* ext : {"", "wbmp", "pmd"}) {
        const tess::sniff::Facts whole = tess::sniff::sniff(bytes, size, ext);
        const tess::sniff::Facts head = tess::sniff::sniff(bytes, uint64_t(size) + 5000000, ext);
        // The format is told by the first bytes alone, whatever follows them (but WBMP,
        // which has no signature, by its size).
        if (whole.format != head.format && whole.format != "wbmp" && head.format != "wbmp")
            __builtin_trap();
    }
    return 0;
}
