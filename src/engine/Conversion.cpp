#include "engine/Conversion.h"

#include "engine/AudioPaths.h"
#include "engine/FileOps.h"
#include "engine/MediaSniff.h"
#include "engine/Process.h"

#include "engine/Teardown.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <utility>

#ifdef _WIN32
#include <QTemporaryDir>
#else
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tess::Conversion {

namespace {

#ifndef _WIN32
// A run's own folder, made and used through descriptors: the base is opened once and
// everything after is relative to it, so a base renamed or swapped for a link mid-run
// leads nowhere else. Removal never follows a link and never leaves the folder.
class RunFolder {
public:
    ~RunFolder() {
        remove();
        for (int fd : {self_, base_})
            if (fd >= 0)
                ::close(fd);
    }
    FileResult make(const QString& base) {
        base_ = ::open(QFile::encodeName(base).constData(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (base_ < 0 || ::fstat(base_, &st) != 0)
            return failure(errno);
        if (st.st_uid != ::geteuid())
            return FileResult{false, QStringLiteral("it belongs to another user")};
        static const char kLetters[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < 100; ++attempt) {
            quint64 bits = QRandomGenerator::system()->generate64();
            QByteArray name = "run-";
            for (int i = 0; i < 6; ++i, bits /= 62)
                name += kLetters[bits % 62];
            // 0700 after the umask too, as mkdtemp makes it.
            if (::mkdirat(base_, name.constData(), 0700) != 0) {
                if (errno == EEXIST)
                    continue;
                return failure(errno);
            }
            self_ =
                ::openat(base_, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (self_ < 0) {
                const int err = errno;
                ::unlinkat(base_, name.constData(), AT_REMOVEDIR);
                return failure(err);
            }
            name_ = name;
            Teardown::addFolder(base_, name_, self_);
            path_ = QDir::toNativeSeparators(QDir(base).filePath(QFile::decodeName(name)));
            return {};
        }
        return failure(EEXIST);
    }
    int fd() const { return self_; }
    QString path() const { return path_; }
    // A regular file, not a link to one: the converter's output must be its own.
    bool holdsPlainFile(const char* name) const {
        struct stat st {};
        return ::fstatat(self_, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    }
    int removeFile(const char* name) const {
        return ::unlinkat(self_, name, 0) == 0 || errno == ENOENT ? 0 : errno;
    }
    // Everything in it, then the folder itself; true when it is gone.
    bool remove() {
        if (self_ < 0 || name_.isEmpty())
            return true;
        Teardown::removeContents(self_);
        const bool gone = ::unlinkat(base_, name_.constData(), AT_REMOVEDIR) == 0;
        Teardown::dropFolder(self_);
        name_.clear();
        return gone;
    }

private:
    static FileResult failure(int err) {
        return FileResult{false, QString::fromLocal8Bit(std::strerror(err))};
    }
    int base_ = -1;
    int self_ = -1;
    QByteArray name_;
    QString path_;
};
#else
// A folder no one else has seen: every run starts empty, so nothing planted in the
// shared base (a link named temp.wav, an old temp.qcp) can reach this run.
class RunFolder {
public:
    FileResult make(const QString& base) {
        QTemporaryDir dir(QDir(base).filePath(QStringLiteral("run-XXXXXX")));
        if (!dir.isValid())
            return FileResult{false, dir.errorString()};
        dir.setAutoRemove(false);
        path_ = QDir::toNativeSeparators(dir.path());
        return {};
    }
    ~RunFolder() { remove(); }
    QString path() const { return path_; }
    bool holdsPlainFile(const char* name) const {
        const QFileInfo info(QDir(path_).filePath(QLatin1String(name)));
        return info.isFile() && !info.isSymLink();
    }
    int removeFile(const char* name) const {
        QFile::remove(QDir(path_).filePath(QLatin1String(name)));
        return 0;
    }
    bool remove() {
        if (path_.isEmpty())
            return true;
        const bool gone = QDir(path_).removeRecursively();
        path_.clear();
        return gone;
    }

private:
    QString path_;
};
#endif

} // namespace

Result run(const QString& wavPath, const QString& qcpPath, const Hooks& hooks) {
    auto log = [&](const QString& line) {
        if (hooks.log)
            hooks.log(line);
    };
    RunFolder folder;
    // Every failure: one log line, one message, and the run's folder removed.
    auto fail = [&](Stage stage, const QString& line, const QString& message) {
        log(line);
        folder.remove();
        return Result{stage, line, message, QString(), QString()};
    };

    const QString base = AudioPaths::tempFolder();
    FileResult made = AudioPaths::prepareTempFolder(base);
    if (made)
        made = folder.make(base);
    if (!made)
        return fail(Stage::TempFolder, QStringLiteral("The Temp DIR could not be used: ") + base,
                    QStringLiteral("The temporary folder ") + base +
                        QStringLiteral(" cannot be used: ") + made.reason);

    const QString tempWav = AudioPaths::tempWavIn(folder.path());
    const QString tempQcp = AudioPaths::tempQcpIn(folder.path());
#ifndef _WIN32
    const FileResult copied = FileOps::copyToNewFileAt(wavPath, folder.fd(), "temp.wav");
#else
    const FileResult copied = FileOps::copyToNewFile(wavPath, tempWav);
#endif
    if (!copied)
        return fail(Stage::CopyIn,
                    QStringLiteral("Your WAV file could not be copied to the Temp DIR."),
                    QStringLiteral("The WAV file could not be copied to ") + tempWav +
                        QStringLiteral(": ") + copied.reason);

    log(QStringLiteral("WAV to QCP Conversion started."));
    log(QStringLiteral("Attempting to Convert ") + wavPath);
    log(QStringLiteral("Calling PVConv.exe to convert your file, please wait..."));

    const QString converter = AudioPaths::converterPath();
    const QString errorFile = hooks.keepConverterErrors
                                  ? QDir(folder.path()).filePath(QStringLiteral("errors.txt"))
                                  : QString();
    const ProcessRun started = Process::run(converter, {tempWav}, errorFile);
    if (!started.started)
        return fail(Stage::Start, QStringLiteral("PVConv.exe could not be started: ") + converter,
                    QStringLiteral("The converter ") + converter +
                        QStringLiteral(" could not be started: ") + started.error +
                        QStringLiteral("\nIt must be in the application folder."));

    log(QStringLiteral("Done. PVConv.exe has terminated."));
    if (hooks.converterEnded)
        hooks.converterEnded();
    QString converterSaid;
    if (!errorFile.isEmpty()) {
        QFile errors(errorFile);
        if (errors.open(QIODevice::ReadOnly))
            converterSaid =
                QString::fromLocal8Bit(errors.read(4096)).replace(tempWav, wavPath).trimmed();
    }

    if (!folder.holdsPlainFile("temp.qcp")) {
        Result r =
            fail(Stage::Output,
                 QStringLiteral(
                     "The Output file from PVConv.exe could not be found! PVConv.exe Failed!"),
                 QStringLiteral("PVConv.exe has failed to convert your WAV file. Make sure "
                                "that the WAV you are trying to convert is PCM 8000Hz  8 or "
                                "16 Bit MONO!"));
        r.converterSaid = converterSaid;
        return r;
    }

    log(QStringLiteral("Output file from PVConv.exe found. Moving from Temp DIR."));
#ifndef _WIN32
    const FileResult written = FileOps::copyFileFromAt(folder.fd(), "temp.qcp", qcpPath);
#else
    const FileResult written = FileOps::copyFile(tempQcp, qcpPath, FileOps::SourceLink::Refuse);
#endif
    if (!written)
        return fail(Stage::CopyBack,
                    QStringLiteral("The new QCP file could not be written: ") + qcpPath,
                    QStringLiteral("The new QCP file could not be written to ") + qcpPath +
                        QStringLiteral(": ") + written.reason);
    log(QStringLiteral("New QCP file at: ") + qcpPath);

    const std::pair<const char*, QString> temps[] = {{"temp.wav", tempWav}, {"temp.qcp", tempQcp}};
    for (const auto& [name, temp] : temps) {
        if (!folder.holdsPlainFile(name))
            continue;
        if (const int err = folder.removeFile(name))
            return fail(Stage::CleanUp,
                        QStringLiteral("A temporary file could not be deleted: ") + temp,
                        QStringLiteral("The temporary file ") + temp +
                            QStringLiteral(" could not be deleted: ") +
                            QString::fromLocal8Bit(std::strerror(err)));
    }
    // Anything else the converter left, then the folder itself.
    const QString left = folder.path();
    if (!folder.remove())
        return fail(Stage::CleanUp,
                    QStringLiteral("A temporary file could not be deleted: ") + left,
                    QStringLiteral("The temporary file ") + left +
                        QStringLiteral(" could not be deleted: the folder could not be removed"));
    log(QStringLiteral("Temporary files deleted. Conversion Done."));
    return Result{Stage::None, QString(), QString(), written.notice, QString()};
}

QStringList inputProblems(const QString& wavPath) {
    QFile file(wavPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE") {
        const QString other = sniffFormat(head + file.read(kSniffBytes - head.size()));
        if (!other.isEmpty() && other != QLatin1String("wav"))
            return {QStringLiteral("it is ") + formatDescription(other) +
                    QStringLiteral(", not a WAV file")};
        return {QStringLiteral("it is not a WAV file")};
    }
    auto le = [](const QByteArray& b, int at, int bytes) {
        quint32 v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(b[at + i]);
        return v;
    };
    QByteArray fmt;
    bool data = false;
    bool walked = false; // every chunk up to the file's end was seen
    qint64 pos = 12;
    // Eight bytes a chunk, a few chunks: a file with more before its samples is left to
    // the converter to judge.
    for (int chunk = 0; chunk < 64 && (fmt.isEmpty() || !data); ++chunk) {
        if (pos >= file.size() || !file.seek(pos)) {
            walked = true;
            break;
        }
        const QByteArray h = file.read(8);
        if (h.size() < 8) {
            walked = true;
            break;
        }
        const quint32 length = le(h, 4, 4);
        if (h.startsWith("fmt ") && fmt.isEmpty())
            fmt = file.read(std::min<quint32>(length, 40));
        else if (h.startsWith("data"))
            data = true;
        pos += 8 + qint64(length) + (length & 1);
    }
    if (fmt.isEmpty() && !walked)
        return {};
    if (fmt.size() < 16)
        return {QStringLiteral("it has no usable format chunk")};
    QStringList problems;
    quint32 format = le(fmt, 0, 2);
    const quint32 channels = le(fmt, 2, 2);
    const quint32 rate = le(fmt, 4, 4);
    const quint32 bits = le(fmt, 14, 2);
    if (format == 0xfffe && fmt.size() >= 26)
        format = le(fmt, 24, 2); // WAVE_FORMAT_EXTENSIBLE: the sub-format's code
    if (format != 1)
        problems.append(format == 3 ? QStringLiteral("floating-point samples, not integer PCM")
                                    : QStringLiteral("format code 0x%1, not PCM (0x0001)")
                                          .arg(format, 4, 16, QLatin1Char('0')));
    if (rate != 8000)
        problems.append(QString::number(rate) + QStringLiteral(" Hz, not 8000 Hz"));
    if (channels != 1)
        problems.append(QString::number(channels) + QStringLiteral(" channels, not 1 (mono)"));
    if (bits != 8 && bits != 16)
        problems.append(QString::number(bits) + QStringLiteral(" bits per sample, not 8 or 16"));
    if (!data && walked && problems.isEmpty())
        problems.append(QStringLiteral("no sound data (no data chunk)"));
    return problems;
}

} // namespace tess::Conversion
