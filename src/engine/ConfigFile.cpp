#include "engine/ConfigFile.h"

#include "engine/AppInfo.h"

#include <QDir>
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
