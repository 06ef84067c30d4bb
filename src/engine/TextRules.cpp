#include "engine/TextRules.h"

namespace tess::TextRules {

bool breaksLine(const QString& value) {
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        if (u == u'\r' || u == u'\n' || u == u'\0')
            return true;
    }
    return false;
}

QString singleLine(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\r' || u == u'\n')
            break;
        if (u == u'\t' || (u >= 0x20 && u != 0x7f))
            out += c;
    }
    return out;
}

} // namespace tess::TextRules
