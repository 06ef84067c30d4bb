#include "engine/ConfigFile.h"

#include "engine/AppInfo.h"
#include "engine/TextRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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
#ifdef _WIN32
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tessavane");
#else
    // A relative value is invalid by the XDG rules: it would follow the current folder.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base = QDir::isAbsolutePath(xdg) ? QDir::cleanPath(xdg)
                                                   : QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/tessavane");
#endif
}

namespace {

ReadResult readFailure(const QString& reason) {
    ReadResult r;
    r.ok = false;
    r.reason = reason;
    return r;
}

QString tooLong() {
    return QStringLiteral("a line is longer than %1 bytes").arg(kMaxLineBytes);
}

// Gathers bytes up to the end of the last line that counts. readChunk(buffer, size)
// returns the bytes read, 0 at the end, -1 on an error it reports itself.
template <class ReadChunk> ReadResult readLines(const ReadChunk& readChunk) {
    QByteArray bytes;
    char buffer[64 * 1024];
    int complete = 0;
    qsizetype lineStart = 0;
    for (;;) {
        const qint64 n = readChunk(buffer, qint64(sizeof buffer));
        if (n < 0)
            return readFailure(QString());
        if (n == 0)
            break;
        qsizetype from = bytes.size();
        bytes.append(buffer, qsizetype(n));
        qsizetype lf;
        while ((lf = bytes.indexOf('\n', from)) >= 0) {
            if (lf - lineStart > kMaxLineBytes)
                return readFailure(tooLong());
            lineStart = lf + 1;
            from = lineStart;
            if (++complete == kLineCount) {
                bytes.truncate(lineStart);
                ReadResult r;
                r.lines = parseLines(bytes);
                return r;
            }
        }
        if (bytes.size() - lineStart > kMaxLineBytes)
            return readFailure(tooLong());
    }
    ReadResult r;
    r.lines = parseLines(bytes);
    return r;
}

} // namespace

ReadResult readFile(const QString& path) {
#ifndef _WIN32
    // Non-blocking: a FIFO must not hold the program up before it can be refused.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return readFailure(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return readFailure(S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder, not a file")
                                               : QStringLiteral("it is not a regular file"));
    }
    QString error;
    ReadResult r = readLines([&](char* buffer, qint64 size) -> qint64 {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, size_t(size));
            if (n >= 0)
                return n;
            if (errno != EINTR) {
                error = QString::fromLocal8Bit(std::strerror(errno));
                return -1;
            }
        }
    });
    ::close(fd);
#else
    const QFileInfo info(path);
    if (info.isDir())
        return readFailure(QStringLiteral("it is a folder, not a file"));
    if (!info.isFile() && info.exists())
        return readFailure(QStringLiteral("it is not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return readFailure(file.errorString());
    QString error;
    ReadResult r = readLines([&](char* buffer, qint64 size) -> qint64 {
        const qint64 n = file.read(buffer, size);
        if (n < 0)
            error = file.errorString();
        return n;
    });
#endif
    if (!r.ok && r.reason.isEmpty())
        r.reason = error;
    return r;
}

FileResult save(const QString& path, int blankLine, const QString& saveFolder, const QString& url,
                const QString& vendor, const QString& version) {
    const std::pair<const QString*, const char*> fields[] = {{&saveFolder, "save folder"},
                                                             {&url, "Content-URL"},
                                                             {&vendor, "Content-Vendor"},
                                                             {&version, "Content-Version"}};
    for (const auto& [value, name] : fields) {
        if (TextRules::breaksLine(*value))
            return FileResult{false, QStringLiteral("the ") + QLatin1String(name) +
                                         QStringLiteral(" holds a line break or NUL character")};
    }
    return FileOps::replaceFile(path, serialise(blankLine, saveFolder, url, vendor, version));
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
