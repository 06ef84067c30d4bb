#include "engine/AudioPaths.h"

#include "engine/AppInfo.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tess::AudioPaths {

namespace {
QString g_tempOverride;

QString inFolder(const QString& folder, const QString& name) {
    return QDir::toNativeSeparators(QDir(folder).filePath(name));
}

FileResult failure(const QString& reason) {
    return FileResult{false, reason};
}

#ifndef _WIN32
QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// mkpath, but a missing parent is never made writable by others, whatever the umask.
bool makeParents(const QString& folder) {
    const QByteArray path = QFile::encodeName(QDir::cleanPath(QDir(folder).absolutePath()));
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray step = slash < 0 ? path : path.left(slash);
        // EEXIST, or a refusal to look at a folder that is there all the same.
        if (::mkdir(step.constData(), 0755) != 0 && errno != EEXIST &&
            !QFileInfo(QFile::decodeName(step)).isDir())
            return false;
        if (slash < 0)
            return QFileInfo(folder).isDir();
    }
}

// The account's own home, for when $HOME cannot be trusted.
QString accountHome() {
    if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_dir != nullptr)
        return QFile::decodeName(pw->pw_dir);
    return QDir::homePath();
}
#endif
} // namespace

bool trustedBase(const QString& folder) {
#ifdef _WIN32
    return !folder.isEmpty();
#else
    if (!QDir::isAbsolutePath(folder))
        return false;
    QByteArray path = QFile::encodeName(QDir::cleanPath(folder));
    const uid_t me = ::geteuid();
    for (;;) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
        if (st.st_uid != me && st.st_uid != 0)
            return false;
        // Sticky, as /tmp is: no one may rename or replace what is not theirs.
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX))
            return false;
        // Up to the root: for root itself every folder is its own.
        if (path == "/")
            return true;
        const qsizetype slash = path.lastIndexOf('/');
        path = slash <= 0 ? QByteArray("/") : path.left(slash);
    }
#endif
}

QString qcpPathFor(const QString& wavPath) {
    return wavPath.left(std::max<qsizetype>(0, wavPath.size() - 3)) + QStringLiteral("qcp");
}

QString defaultTempFolder(const QString& runtimeDir, const QString& cacheHome,
                          const QString& home) {
#ifdef _WIN32
    Q_UNUSED(runtimeDir);
    Q_UNUSED(cacheHome);
    Q_UNUSED(home);
    return QStringLiteral("c:\\temp");
#else
    const QString app = QStringLiteral("tessavane");
    // Relative values are invalid by the XDG rules; they would follow the current folder.
    if (QDir::isAbsolutePath(runtimeDir))
        return QDir(runtimeDir).filePath(app);
    if (QDir::isAbsolutePath(cacheHome))
        return QDir(cacheHome).filePath(app);
    return QDir(home).filePath(QStringLiteral(".cache/") + app);
#endif
}

QString tempFolder() {
    if (!g_tempOverride.isEmpty())
        return QDir::toNativeSeparators(g_tempOverride);
#ifdef _WIN32
    return defaultTempFolder({}, {}, {});
#else
    // Plain su keeps the other user's variables: their folders are passed over.
    auto trusted = [](const char* name) {
        const QString value = qEnvironmentVariable(name);
        return trustedBase(value) ? value : QString();
    };
    const QString home = trustedBase(QDir::homePath()) ? QDir::homePath() : accountHome();
    return defaultTempFolder(trusted("XDG_RUNTIME_DIR"), trusted("XDG_CACHE_HOME"), home);
#endif
}

void setTempFolderForTesting(const QString& folder) {
    g_tempOverride = folder;
}

QString tempWavIn(const QString& folder) {
    return inFolder(folder, QStringLiteral("temp.wav"));
}

QString tempQcpIn(const QString& folder) {
    return inFolder(folder, QStringLiteral("temp.qcp"));
}

QString converterPath() {
#ifdef _WIN32
    const QString name = QStringLiteral("pvconv.exe");
#else
    const QString name = QStringLiteral("pvconv");
#endif
    return inFolder(AppInfo::path(), name);
}

FileResult prepareTempFolder(const QString& folder) {
#ifdef _WIN32
    if (QFileInfo(folder).isDir())
        return {};
    if (!QDir().mkpath(folder))
        return failure(QStringLiteral("the folder could not be created"));
    return {};
#else
    const QByteArray path = QFile::encodeName(folder);
    const QString parent = QFileInfo(folder).absolutePath();
    // Others may not rename or replace what is in a sticky folder; in an open one they may.
    auto parentIsOpen = [&] {
        struct stat up {};
        return ::stat(QFile::encodeName(parent).constData(), &up) == 0 && (up.st_mode & S_IWOTH) &&
               !(up.st_mode & S_ISVTX);
    };
    const QString openParent =
        QStringLiteral("its parent folder can be changed by other users (writable by all, "
                       "not sticky)");
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        if (errno != ENOENT)
            return failure(errnoText(errno));
        // Parents are ordinary folders; only our own folder is private.
        if (!makeParents(parent))
            return failure(QStringLiteral("its parent folder could not be created"));
        if (parentIsOpen())
            return failure(openParent);
        if (::mkdir(path.constData(), 0700) == 0) {
            // The umask may have taken bits away, never added any; make it exactly 0700.
            if (::chmod(path.constData(), 0700) != 0)
                return failure(errnoText(errno));
            return {};
        }
        // Made at the same moment by another conversion (publish runs several): judged
        // as any folder that was there.
        if (errno != EEXIST)
            return failure(errnoText(errno));
        if (::lstat(path.constData(), &st) != 0)
            return failure(errnoText(errno));
    }
    if (S_ISLNK(st.st_mode))
        return failure(QStringLiteral("it is a symbolic link"));
    if (!S_ISDIR(st.st_mode))
        return failure(QStringLiteral("it is not a folder"));
    if (st.st_uid != ::geteuid())
        return failure(QStringLiteral("it belongs to another user"));
    if (parentIsOpen())
        return failure(openParent);
    if ((st.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return failure(errnoText(errno));
    return {};
#endif
}

} // namespace tess::AudioPaths
