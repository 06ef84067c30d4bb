#include "engine/ConfigFile.h"

#include "engine/AppInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tess::ConfigFile {

QString defaultPath() {
    return AppInfo::path() + QDir::separator() + QStringLiteral("config.cfg");
}

ReadResult readFile(const QString& path) {
    ReadResult r;
    const QFileInfo info(path);
    if (!info.exists()) {
        r.reason = QStringLiteral("No such file or directory");
        return r;
    }
    // Checked before opening: opening a FIFO would wait for a writer.
    if (!info.isFile()) {
        r.reason = info.isDir() ? QStringLiteral("it is a folder, not a file")
                                : QStringLiteral("it is not a regular file");
        return r;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        r.reason = file.errorString();
        return r;
    }
    QByteArray bytes;
    int lines = 0;
    while (lines < kLineCount && !file.atEnd()) {
        const QByteArray line = file.readLine(kMaxLineBytes + 1);
        if (line.isEmpty() && file.error() != QFileDevice::NoError)
            break;
        if (line.size() > kMaxLineBytes && !line.endsWith('\n')) {
            r.reason = QStringLiteral("a line is longer than %1 bytes").arg(kMaxLineBytes);
            return r;
        }
        bytes += line;
        ++lines;
    }
    if (file.error() != QFileDevice::NoError) {
        r.reason = file.errorString();
        return r;
    }
    r.lines = parseLines(bytes);
    r.ok = true;
    return r;
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
