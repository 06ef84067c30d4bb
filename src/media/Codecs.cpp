// The program's side of tessavane-codecs.so: finds and loads it once, on first use,
// and forwards Fit.h's and Sound.h's media work to it.
#include "media/codecs/Codecs.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace tess::media {

namespace {

// The program's own folder, from the kernel: the module is found beside the install
// the program runs from, wherever that was moved.
QString programFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    path[n] = '\0';
    return QFileInfo(QFile::decodeName(path)).absolutePath();
}

// Code is loaded only from a file and folder no other user can change.
QString unsafeBecause(const QByteArray& path) {
    const QByteArray folder = path.left(path.lastIndexOf('/'));
    for (const QByteArray& p : {path, folder}) {
        struct stat st {};
        if (::stat(p.constData(), &st) != 0)
            return QString::fromLocal8Bit(std::strerror(errno));
        if (st.st_mode & (S_IWGRP | S_IWOTH))
            return QFile::decodeName(p) + QStringLiteral(": writable by other users");
        if (st.st_uid != 0 && st.st_uid != ::geteuid())
            return QFile::decodeName(p) + QStringLiteral(": owned by another user");
    }
    return {};
}

struct Loaded {
    const CodecTable* table = nullptr;
    QString reason;
};

Loaded load() {
    Loaded l;
    const QString path = QFileInfo(programFolder() + QStringLiteral("/" TESS_BIN_TO_CODECS "/") +
                                   QLatin1String(kCodecModuleName))
                             .absoluteFilePath();
    const QByteArray native = QFile::encodeName(path);
    const QString why =
        QStringLiteral("the media libraries could not be loaded (") + path + QStringLiteral(": ");
    if (const QString unsafe = unsafeBecause(native); !unsafe.isEmpty()) {
        l.reason = why + unsafe + QLatin1Char(')');
        return l;
    }
    // Never unloaded: FFmpeg and GLib keep state for the life of the process.
    void* handle = ::dlopen(native.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        l.reason = why + QString::fromLocal8Bit(::dlerror()) + QLatin1Char(')');
        return l;
    }
    const auto entry = reinterpret_cast<CodecEntry>(::dlsym(handle, kCodecEntry));
    const CodecTable* table = entry ? entry(&Teardown::program()) : nullptr;
    if (!table || table->version < kCodecTableVersion) {
        l.reason = why + QStringLiteral("not the module this program was built with)");
        return l;
    }
    l.table = table;
    return l;
}

const Loaded& loaded() {
    static std::once_flag once;
    static Loaded l;
    std::call_once(once, [] { l = load(); });
    return l;
}

} // namespace

const CodecTable* codecs(QString* reason) {
    const Loaded& l = loaded();
    if (!l.table && reason)
        *reason = l.reason;
    return l.table;
}

bool mediaInit() {
    const CodecTable* t = codecs();
    return t && t->init();
}

void setPictureThreads(int threads) {
    if (const CodecTable* t = codecs())
        t->setPictureThreads(threads);
}

ScaledPicture scalePicture(const QString& source, const PhoneProfile& phone,
                           const FitOptions& options) {
    QString reason;
    if (const CodecTable* t = codecs(&reason))
        return t->scalePicture(source, phone, options);
    ScaledPicture r;
    r.reason = reason;
    return r;
}

FitResult fitPicture(const QString& source, const QString& target, const PhoneProfile& phone,
                     const FitOptions& options) {
    QString reason;
    if (const CodecTable* t = codecs(&reason))
        return t->fitPicture(source, target, phone, options);
    FitResult r;
    r.reason = reason;
    return r;
}

SoundResult makeRingtone(const QString& source, const QString& target, const SoundOptions& options,
                         const QString& pvconvPath, const std::atomic_bool* cancel) {
    QString reason;
    if (const CodecTable* t = codecs(&reason))
        return t->makeRingtone(source, target, options, pvconvPath, cancel);
    SoundResult r;
    r.reason = reason;
    r.stage = SoundStage::Input;
    return r;
}

bool looksLikeSound(const QString& path) {
    const CodecTable* t = codecs();
    return t && t->looksLikeSound(path);
}

DecodedSound decodeTo8kMono(const QString& path, double maxSeconds) {
    QString reason;
    if (const CodecTable* t = codecs(&reason))
        return t->decodeTo8kMono(path, maxSeconds);
    DecodedSound r;
    r.reason = reason;
    return r;
}

} // namespace tess::media
