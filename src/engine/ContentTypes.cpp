#include "engine/ContentTypes.h"

namespace tess {

const std::array<ContentType, kContentTypeCount>& contentTypes() {
    static const std::array<ContentType, kContentTypeCount> table{{
        {"MIDI (audio/midi)",
         "audio/midi",
         "audio/midi Content-Type Auto Selected",
         {".mid", "midi"}},
        {"13K QCELP Clips (audio/vnd.qcelp)",
         "audio/vnd.qcelp",
         "audio/vnd.qcelp Content-Type Auto Selected",
         {".qcp", nullptr}},
        {"CMX 2.0 or Higher (application/x-pmd)",
         "application/x-pmd",
         "application/x-pmd Content-Type Auto Selected.",
         {".cmx", nullptr}},
        {"PNG (image/png)",
         "image/png",
         "image/png Content-Type Auto Selected.",
         {".png", nullptr}},
        {"JPEG (image/jpeg)",
         "image/jpeg",
         "image/jpeg Content-Type Auto Selected.",
         {".jpg", "jpeg"}},
        {"WBMP (image/vnd.wap.wbmp)",
         "image/vnd.wap.wbmp",
         "image/vnd.wap.wbmp Content-Type Auto Selected.",
         {"wbmp", ".bmp"}},
    }};
    return table;
}

int contentTypeForPath(const QString& path) {
    const QString tail = path.right(4);
    // Keys are tried in this order; the first equal one wins.
    static const std::array<std::pair<const char*, int>, 9> order{{{".mid", 0},
                                                                   {"midi", 0},
                                                                   {".qcp", 1},
                                                                   {".cmx", 2},
                                                                   {".png", 3},
                                                                   {".jpg", 4},
                                                                   {"jpeg", 4},
                                                                   {"wbmp", 5},
                                                                   {".bmp", 5}}};
    for (const auto& [key, row] : order) {
        if (tail == QLatin1String(key))
            return row;
    }
    return -1;
}

} // namespace tess
