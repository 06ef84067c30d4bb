#include "engine/ConfigFile.h"

#include "engine/AppInfo.h"

#include <QDir>

namespace tess::ConfigFile {

QString defaultPath() {
    return AppInfo::path() + QDir::separator() + QStringLiteral("config.cfg");
}

QStringList parseLines(const QByteArray& bytes) {
    QStringList lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        const bool terminated = end >= 0;
        if (!terminated)
            end = bytes.size();
        qsizetype stop = end;
        // A CR before the LF, or cut off at the very end, belongs to the line end.
        if (stop > start && bytes.at(stop - 1) == '\r')
            --stop;
        lines.append(QString::fromLocal8Bit(bytes.constData() + start, stop - start));
        start = end + 1;
    }
    return lines;
}

QByteArray serialise(int blankLine, const QString& saveFolder, const QString& url,
                     const QString& vendor, const QString& version) {
    QByteArray out = QByteArray::number(blankLine) + "\r\n";
    for (const QString* value : {&saveFolder, &url, &vendor, &version})
        out += value->toLocal8Bit() + "\r\n";
    return out;
}

int blankLineState(const QString& line) {
    const QString t = line.trimmed();
    if (t == QLatin1String("1"))
        return 1;
    if (t == QLatin1String("2"))
        return 2;
    return 0;
}

QString blankLineSetting(int boxValue) {
    return boxValue == 1 ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace tess::ConfigFile
