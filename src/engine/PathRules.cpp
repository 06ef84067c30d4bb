#include "engine/PathRules.h"

#include <algorithm>

namespace tess {

std::optional<QString> fileNameOfPath(const QString& path, QChar separator) {
    // -1 when there is none: the whole path is the name.
    const qsizetype at = path.lastIndexOf(separator);
    return path.mid(at + 1);
}

std::optional<QString> contentNameOf(const QString& fileName) {
    if (fileName.size() < 4)
        return std::nullopt;
    return fileName.left(fileName.size() - 4);
}

QString autoUrlBaseOf(const QString& url) {
    if (url.endsWith(QLatin1Char('/')))
        return url;
    return url + QLatin1Char('/');
}

namespace {

bool unreservedByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

QString urlPathSegment(const QString& fileName) {
    // Most names are plain: no copy for them (a batch asks once per file).
    if (std::all_of(fileName.begin(), fileName.end(), [](QChar c) {
            return c.unicode() < 0x80 && unreservedByte(uchar(c.unicode()));
        }))
        return fileName;
    const QByteArray bytes = fileName.toUtf8();
    QString out;
    out.reserve(bytes.size());
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (unreservedByte(c)) {
            out += QLatin1Char(char(c));
        } else {
            out += QLatin1Char('%');
            out += QLatin1Char(hex[c >> 4]);
            out += QLatin1Char(hex[c & 15]);
        }
    }
    return out;
}

QString autoUrlFor(const QString& base, const QString& fileName) {
    return base + urlPathSegment(fileName);
}

} // namespace tess
