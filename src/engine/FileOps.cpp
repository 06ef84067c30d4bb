#include "engine/FileOps.h"

#include "engine/Teardown.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#ifndef _WIN32
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#endif

namespace tess::FileOps {

namespace {

// Copies move this much at a time: memory stays flat whatever the file's size.
constexpr qint64 kChunk = 1 << 20;

FileResult failure(const QString& reason) {
    return FileResult{false, reason};
}

#ifndef _WIN32
QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// 0 or the errno of the failed write.
int writeAll(int fd, const char* data, qint64 left) {
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        left -= n;
    }
    return 0;
}

// Fills a file from bytes in memory.
struct BytesFill {
    const QByteArray& bytes;
    int operator()(int fd) const { return writeAll(fd, bytes.constData(), bytes.size()); }
};

// Fills a file from an open source, from its start, chunk by chunk.
struct StreamFill {
    int src;
    std::unique_ptr<char[]> buffer{new char[kChunk]};
    int operator()(int fd) const {
        if (::lseek(src, 0, SEEK_SET) < 0)
            return errno;
        for (;;) {
            const ssize_t n = ::read(src, buffer.get(), static_cast<size_t>(kChunk));
            if (n == 0)
                return 0;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (const int err = writeAll(fd, buffer.get(), n))
                return err;
        }
    }
};

// A folder that refuses a new file, or a rename over the target (sticky).
bool folderRefuses(int err) {
    return err == EACCES || err == EPERM;
}

// The last resort when the folder takes no temporary file: the target itself is
// truncated and written. Descriptors are small; a failure says the file may be cut.
template <class Fill>
FileResult writeInPlace(int dir, const QByteArray& name, const Fill& fill, int folderErr) {
    const int fd = ::openat(dir, name.constData(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return failure(errnoText(folderErr));
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = folderErr;
    if (err) {
        ::close(fd);
        return failure(errnoText(err));
    }
    if (::ftruncate(fd, 0) != 0)
        err = errno;
    if (!err)
        err = fill(fd);
    if (::close(fd) != 0 && !err)
        err = errno;
    if (err)
        return failure(errnoText(err) +
                       QStringLiteral(" (written in place: its folder takes no new file; "
                                      "the file may now be incomplete)"));
    return {};
}

// A new file in folder dir under a fresh short name (".tess-" and six letters, so
// any legal target name leaves room for it), never following a link. Created with
// the given mode, which the umask trims as for any new file.
int createTemporary(int dir, mode_t mode, QByteArray* name) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    // Names need only be unlikely to meet, not secret: O_EXCL settles a clash.
    // One generator per thread, seeded once, spares a lock per file.
    thread_local std::mt19937_64 random(QRandomGenerator::system()->generate64());
    for (int attempt = 0; attempt < 100; ++attempt) {
        quint64 bits = random();
        *name = ".tess-";
        for (int i = 0; i < 6; ++i, bits /= 62)
            *name += kLetters[bits % 62];
        // Registered as it is made: a signal then takes it away with the process.
        const int fd = Teardown::createFileAt(
            dir, *name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// An open folder, closed when it goes.
class Folder {
public:
    Folder() = default;
    explicit Folder(int fd) : fd_(fd) {}
    Folder(Folder&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Folder& operator=(Folder&& o) noexcept {
        std::swap(fd_, o.fd_);
        return *this;
    }
    ~Folder() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd() const { return fd_; }
    bool open() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Opens the folder that path (relative to base unless absolute) names its last
// entry in, and gives that entry's name.
Folder openFolderOf(int base, const QByteArray& path, QByteArray* name) {
    const qsizetype slash = path.lastIndexOf('/');
    *name = path.mid(slash + 1);
    const QByteArray folder = slash < 0    ? QByteArray(".")
                              : slash == 0 ? QByteArray("/")
                                           : path.left(slash);
    return Folder(::openat(base, folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Where the new file goes: an entry in a folder held open, and what is there now.
struct Target {
    Folder dir;
    QByteArray name;
    bool exists = false;
    struct stat st {};
    QString notice;
};

// Finds the entry to replace. A link is followed only while it and what it leads to
// are the user's own: anyone who may write a shared web folder could otherwise plant
// song.gcd -> /etc/shadow. Any other link is itself the entry to replace.
int findTarget(const QByteArray& path, Target* t) {
    t->dir = openFolderOf(AT_FDCWD, path, &t->name);
    if (!t->dir.open())
        return errno;
    if (t->name.isEmpty())
        return EISDIR;
    if (::fstatat(t->dir.fd(), t->name.constData(), &t->st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : errno;
    t->exists = true;
    if (!S_ISLNK(t->st.st_mode))
        return 0;
    const uid_t me = ::geteuid();
    // Each step relative to the folder it was found in: nothing looked at can be
    // swapped before it is used.
    Folder dir(::dup(t->dir.fd()));
    QByteArray name = t->name;
    struct stat st = t->st;
    for (int hop = 0; hop < 40 && dir.open() && S_ISLNK(st.st_mode); ++hop) {
        if (st.st_uid != me) {
            t->exists = false;
            t->notice = QStringLiteral("a symbolic link of another user's stood there: it is "
                                       "replaced by the new file, what it led to is untouched");
            return 0;
        }
        QByteArray text(PATH_MAX, '\0');
        const ssize_t n = ::readlinkat(dir.fd(), name.constData(), text.data(), text.size());
        if (n <= 0 || n >= text.size())
            break;
        text.truncate(n);
        QByteArray next;
        Folder up = openFolderOf(dir.fd(), text, &next);
        dir = std::move(up);
        name = next;
        if (!dir.open() || name.isEmpty() ||
            ::fstatat(dir.fd(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            break;
        if (!S_ISLNK(st.st_mode)) {
            if (st.st_uid != me) {
                t->exists = false;
                t->notice = QStringLiteral("a symbolic link to another user's file stood there: "
                                           "it is replaced by the new file, that file is "
                                           "untouched");
                return 0;
            }
            t->dir = std::move(dir);
            t->name = name;
            t->st = st;
            return 0;
        }
    }
    // A link of one's own that leads nowhere: the link itself is replaced.
    t->exists = false;
    return 0;
}

// Plain POSIX calls: a batch writes thousands of descriptors and QSaveFile costs
// several times as much per file.
template <class Fill> FileResult replaceWith(const QString& path, const Fill& fill) {
    Target t;
    if (const int err = findTarget(QFile::encodeName(path), &t))
        return failure(errnoText(err));
    const int dir = t.dir.fd();
    const struct stat& st = t.st;
    const bool exists = t.exists;
    const bool existingFile = exists && S_ISREG(st.st_mode);
    mode_t mode = 0;
    if (exists) {
        // A read-only file is not forced, whoever runs the program.
        if (existingFile && !(st.st_mode & S_IWUSR))
            return failure(QStringLiteral("the file is read-only"));
        mode = st.st_mode & 07777;
    }
    auto done = [&](FileResult r) {
        if (r)
            r.notice = t.notice;
        return r;
    };
    // A new target takes the mode of any new file at creation: no fchmod needed.
    // A replaced one's mode is set once the owner is.
    QByteArray tmp;
    const int fd = createTemporary(dir, exists ? 0600 : 0666, &tmp);
    if (fd < 0) {
        const int err = errno;
        if (existingFile && folderRefuses(err))
            return done(writeInPlace(dir, t.name, fill, err));
        return failure(errnoText(err));
    }
    auto drop = [&] {
        ::unlinkat(dir, tmp.constData(), 0);
        Teardown::dropFile(dir, tmp);
    };
    auto abandon = [&](int err) {
        ::close(fd);
        drop();
        return failure(errnoText(err));
    };
    // Someone else's file stays theirs (root replacing a web server's file); only
    // then is it worth a call. Before the mode: a change of owner clears set-id bits.
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, uid_t(-1), st.st_gid) != 0) {
            // Not allowed: the new file stays the user's own, as any new file would.
        }
    }
    if (exists && ::fchmod(fd, mode) != 0)
        return abandon(errno);
    if (const int err = fill(fd))
        return abandon(err);
    if (::close(fd) != 0) {
        const int err = errno;
        drop();
        return failure(errnoText(err));
    }
    if (::renameat(dir, tmp.constData(), dir, t.name.constData()) != 0) {
        const int err = errno;
        drop();
        if (existingFile && folderRefuses(err))
            return done(writeInPlace(dir, t.name, fill, err));
        return failure(errnoText(err));
    }
    Teardown::dropFile(dir, tmp);
    return done({});
}

// Opens a regular file for reading; a FIFO or device is refused, not waited on.
int openSource(const QString& path, bool followLink, FileResult* result) {
    int flags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    if (!followLink)
        flags |= O_NOFOLLOW;
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0) {
        *result = failure(errno == ELOOP && !followLink ? QStringLiteral("it is a symbolic link")
                                                        : errnoText(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno;
        ::close(fd);
        *result = failure(S_ISREG(st.st_mode) ? errnoText(err)
                                              : QStringLiteral("it is not a regular file"));
        return -1;
    }
    return fd;
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
    return replaceWith(path, BytesFill{bytes});
#else
    if (QFileInfo(path).isDir())
        return failure(QStringLiteral("Is a directory"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return failure(file.errorString());
    return {};
#endif
}

FileResult copyFile(const QString& src, const QString& dst, SourceLink sourceLink) {
#ifndef _WIN32
    FileResult result;
    const int in = openSource(src, sourceLink == SourceLink::Follow, &result);
    if (in < 0)
        return result;
    result = replaceWith(dst, StreamFill{in});
    ::close(in);
    return result;
#else
    if (sourceLink == SourceLink::Refuse && QFileInfo(src).isSymLink())
        return failure(QStringLiteral("it is a symbolic link"));
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly))
        return failure(in.errorString());
    if (QFileInfo(dst).isDir())
        return failure(QStringLiteral("Is a directory"));
    QSaveFile out(dst);
    if (!out.open(QIODevice::WriteOnly))
        return failure(out.errorString());
    QByteArray chunk;
    while (!(chunk = in.read(kChunk)).isEmpty()) {
        if (out.write(chunk) != chunk.size())
            return failure(out.errorString());
    }
    if (in.error() != QFileDevice::NoError)
        return failure(in.errorString());
    if (!out.commit())
        return failure(out.errorString());
    return {};
#endif
}

FileResult copyToNewFile(const QString& src, const QString& dst) {
#ifndef _WIN32
    QByteArray name;
    const Folder dir = openFolderOf(AT_FDCWD, QFile::encodeName(dst), &name);
    if (!dir.open())
        return failure(errnoText(errno));
    return copyToNewFileAt(src, dir.fd(), name);
#else
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly))
        return failure(in.errorString());
    QFile out(dst);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return failure(out.errorString());
    QByteArray chunk;
    bool ok = true;
    while (ok && !(chunk = in.read(kChunk)).isEmpty())
        ok = out.write(chunk) == chunk.size();
    ok = ok && in.error() == QFileDevice::NoError && out.flush();
    const QString reason =
        in.error() != QFileDevice::NoError ? in.errorString() : out.errorString();
    out.close();
    if (!ok) {
        out.remove();
        return failure(reason);
    }
    return {};
#endif
}

#ifndef _WIN32
FileResult copyToNewFileAt(const QString& src, int dir, const QByteArray& name) {
    FileResult result;
    const int in = openSource(src, true, &result);
    if (in < 0)
        return result;
    // O_EXCL with O_NOFOLLOW: a link planted at name fails the open instead of being followed.
    const int out = Teardown::createFileAt(
        dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (out < 0) {
        result = failure(errnoText(errno));
        ::close(in);
        return result;
    }
    int err = StreamFill{in}(out);
    if (::close(out) != 0 && !err)
        err = errno;
    ::close(in);
    if (err)
        ::unlinkat(dir, name.constData(), 0);
    Teardown::dropFile(dir, name);
    if (err)
        return failure(errnoText(err));
    return {};
}

FileResult copyFileFromAt(int dir, const QByteArray& name, const QString& dst) {
    const int in =
        ::openat(dir, name.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return failure(errno == ELOOP ? QStringLiteral("it is a symbolic link") : errnoText(errno));
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return failure(QStringLiteral("it is not a regular file"));
    }
    FileResult result = replaceWith(dst, StreamFill{in});
    ::close(in);
    return result;
}
#endif

FileResult deleteFile(const QString& path) {
    QFile file(path);
    if (!file.remove())
        return failure(file.errorString());
    return {};
}

} // namespace tess::FileOps
