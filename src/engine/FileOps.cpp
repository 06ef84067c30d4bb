#include "engine/FileOps.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifndef _WIN32
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tess::FileOps {

namespace {

FileResult failure(const QString& reason) {
    return FileResult{false, reason};
}

#ifndef _WIN32
QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

mode_t newFileMode() {
    // Read once: the umask is process-wide and the program is single-threaded.
    static const mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

// Plain POSIX calls: a batch writes thousands of descriptors and QSaveFile costs
// several times as much per file.
FileResult replaceFilePosix(const QString& path, const QByteArray& bytes) {
    QByteArray target = QFile::encodeName(path);
    mode_t mode = newFileMode();
    struct stat st {};
    bool exists = ::lstat(target.constData(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        // Replace the file a link points to, not the link.
        if (char* real = ::realpath(target.constData(), nullptr)) {
            target = real;
            std::free(real);
            exists = ::stat(target.constData(), &st) == 0;
        } else {
            exists = false;
        }
    }
    if (exists) {
        // A read-only file is not forced, whoever runs the program.
        if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
            return failure(QStringLiteral("the file is read-only"));
        mode = st.st_mode & 07777;
    }
    const int slash = target.lastIndexOf('/');
    // A short name, so that any legal target name leaves room for it.
    QByteArray tmp = target.left(slash + 1) + ".tess-XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        return failure(errnoText(errno));
    auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(tmp.constData());
        return failure(errnoText(err));
    };
    if (::fchmod(fd, mode) != 0)
        return abandon(errno);
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return abandon(errno);
        }
        data += n;
        left -= n;
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.constData());
        return failure(errnoText(err));
    }
    if (::rename(tmp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(tmp.constData());
        return failure(errnoText(err));
    }
    return {};
}
#endif

} // namespace

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

bool folderExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

std::optional<qint64> fileSize(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
#ifndef _WIN32
    // One stat call; a batch asks once per file.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<qint64>(st.st_size);
#else
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    return info.size();
#endif
}

FileResult replaceFile(const QString& path, const QByteArray& bytes) {
#ifndef _WIN32
    // rename() refuses a folder in the way (EISDIR) and the temporary file goes:
    // no separate look at the target, which a batch would pay once per file.
    return replaceFilePosix(path, bytes);
#else
    if (QFileInfo(path).isDir())
        return failure(QStringLiteral("Is a directory"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return failure(file.errorString());
    return {};
#endif
}

FileResult copyFile(const QString& src, const QString& dst) {
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly))
        return failure(in.errorString());
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return failure(in.errorString());
    return replaceFile(dst, bytes);
}

FileResult deleteFile(const QString& path) {
    QFile file(path);
    if (!file.remove())
        return failure(file.errorString());
    return {};
}

} // namespace tess::FileOps
