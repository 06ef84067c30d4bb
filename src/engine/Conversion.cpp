#include "engine/Conversion.h"

#include "engine/AudioPaths.h"
#include "engine/FileOps.h"
#include "engine/MediaSniff.h"
#include "engine/Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#ifdef _WIN32
#include <QTemporaryDir>
#else
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#endif

namespace tess::Conversion {

namespace {

// A folder no one else has seen: every run starts empty, so nothing planted in the
// shared base (a link named temp.wav, an old temp.qcp) can reach this run.
FileResult makeRunFolder(const QString& base, QString* folder) {
#ifdef _WIN32
    QTemporaryDir dir(QDir(base).filePath(QStringLiteral("run-XXXXXX")));
    if (!dir.isValid())
        return FileResult{false, dir.errorString()};
    dir.setAutoRemove(false);
    *folder = QDir::toNativeSeparators(dir.path());
    return {};
#else
    // mkdtemp makes it 0700, whatever the umask.
    QByteArray pattern = QFile::encodeName(base) + "/run-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return FileResult{false, QString::fromLocal8Bit(std::strerror(errno))};
    *folder = QFile::decodeName(pattern);
    return {};
#endif
}

// A regular file, not a link to one: the converter's output must be its own.
bool plainFileAt(const QString& path) {
#ifdef _WIN32
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
#else
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}

} // namespace

Result run(const QString& wavPath, const QString& qcpPath, const Hooks& hooks) {
    auto log = [&](const QString& line) {
        if (hooks.log)
            hooks.log(line);
    };
    QString folder;
    // Every failure: one log line, one message, and the run's folder removed.
    auto fail = [&](Stage stage, const QString& line, const QString& message) {
        log(line);
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
        return Result{stage, line, message, QString()};
    };

    const QString base = AudioPaths::tempFolder();
    FileResult made = AudioPaths::prepareTempFolder(base);
    if (made)
        made = makeRunFolder(base, &folder);
    if (!made)
        return fail(Stage::TempFolder, QStringLiteral("The Temp DIR could not be used: ") + base,
                    QStringLiteral("The temporary folder ") + base +
                        QStringLiteral(" cannot be used: ") + made.reason);

    const QString tempWav = AudioPaths::tempWavIn(folder);
    const QString tempQcp = AudioPaths::tempQcpIn(folder);
    if (const FileResult r = FileOps::copyToNewFile(wavPath, tempWav); !r)
        return fail(Stage::CopyIn,
                    QStringLiteral("Your WAV file could not be copied to the Temp DIR."),
                    QStringLiteral("The WAV file could not be copied to ") + tempWav +
                        QStringLiteral(": ") + r.reason);

    log(QStringLiteral("WAV to QCP Conversion started."));
    log(QStringLiteral("Attempting to Convert ") + wavPath);
    log(QStringLiteral("Calling PVConv.exe to convert your file, please wait..."));

    const QString converter = AudioPaths::converterPath();
    const QString errorFile =
        hooks.keepConverterErrors ? QDir(folder).filePath(QStringLiteral("errors.txt")) : QString();
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

    if (!plainFileAt(tempQcp)) {
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
    if (const FileResult r = FileOps::copyFile(tempQcp, qcpPath, FileOps::SourceLink::Refuse); !r)
        return fail(Stage::CopyBack,
                    QStringLiteral("The new QCP file could not be written: ") + qcpPath,
                    QStringLiteral("The new QCP file could not be written to ") + qcpPath +
                        QStringLiteral(": ") + r.reason);
    log(QStringLiteral("New QCP file at: ") + qcpPath);

    for (const QString& temp : {tempWav, tempQcp}) {
        if (!plainFileAt(temp))
            continue;
        if (const FileResult r = FileOps::deleteFile(temp); !r)
            return fail(Stage::CleanUp,
                        QStringLiteral("A temporary file could not be deleted: ") + temp,
                        QStringLiteral("The temporary file ") + temp +
                            QStringLiteral(" could not be deleted: ") + r.reason);
    }
    // Anything else the converter left, then the folder itself.
    if (!QDir(folder).removeRecursively()) {
        const QString left = folder;
        return fail(Stage::CleanUp,
                    QStringLiteral("A temporary file could not be deleted: ") + left,
                    QStringLiteral("The temporary file ") + left +
                        QStringLiteral(" could not be deleted: the folder could not be removed"));
    }
    log(QStringLiteral("Temporary files deleted. Conversion Done."));
    return {};
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
