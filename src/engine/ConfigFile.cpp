#include "engine/ConfigFile.h"

#include "engine/AppInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tess::ConfigFile {

namespace {

const QString kFileName = QStringLiteral("config.cfg");

#ifndef _WIN32
// By the effective ids, as a write would be checked.
bool writableFolder(const QString& folder) {
    const QFileInfo info(folder);
    return info.isDir() &&
           ::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK, AT_EACCESS) == 0;
}

// Root may write anywhere; the folder the package installs into still never
// gets a settings file of ours.
bool installFolder(const QString& folder) {
#ifdef TESS_INSTALL_BINDIR
    const QString installed = QFileInfo(QStringLiteral(TESS_INSTALL_BINDIR)).canonicalFilePath();
    return !installed.isEmpty() && QFileInfo(folder).canonicalFilePath() == installed;
#else
    Q_UNUSED(folder);
    return false;
#endif
}
#endif

} // namespace

QString defaultPath() {
    const QString folder = AppInfo::path();
    const QString beside = folder + QDir::separator() + kFileName;
#ifdef _WIN32
    return beside;
#else
    if (QFileInfo::exists(beside) || (writableFolder(folder) && !installFolder(folder)))
        return beside;
    return configFolder() + QLatin1Char('/') + kFileName;
#endif
}

QString configFolder() {
    // The generic location plus our name: AppConfigLocation would follow each
    // executable's own name and split the window's and the command's settings.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tessavane");
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
