#include "engine/PathRules.h"

namespace tess {

std::optional<QString> fileNameOfPath(const QString& path, QChar separator) {
    const int at = path.lastIndexOf(separator);
    if (at < 0)
        return std::nullopt;
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

QString autoUrlFor(const QString& base, const QString& fileName) {
    return base + fileName;
}

} // namespace tess
