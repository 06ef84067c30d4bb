#include "media/ReadHead.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tess::media {

namespace {

Head failed(const QString& reason) {
    Head h;
    h.reason = reason;
    return h;
}

} // namespace

Head readHead(const QString& path, qint64 maxBytes) {
    if (path.isEmpty())
        return failed(QStringLiteral("no file named"));
#ifndef _WIN32
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return failed(S_ISDIR(st.st_mode) ? QStringLiteral("it is a folder, not a file")
                                          : QStringLiteral("it is not a regular file"));
    }
    Head h;
    h.size = qint64(st.st_size);
    const qint64 want = qMax<qint64>(0, qMin(maxBytes, h.size));
    h.bytes.resize(want);
    qint64 got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, h.bytes.data() + got, size_t(want - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return failed(QString::fromLocal8Bit(std::strerror(err)));
        }
        if (n == 0)
            break; // shrank while we read
        got += n;
    }
    ::close(fd);
    h.bytes.truncate(got);
    h.ok = true;
    return h;
#else
    const QFileInfo info(path);
    if (info.isDir())
        return failed(QStringLiteral("it is a folder, not a file"));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return failed(f.errorString());
    Head h;
    h.size = f.size();
    h.bytes = f.read(maxBytes);
    h.ok = true;
    return h;
#endif
}

} // namespace tess::media
