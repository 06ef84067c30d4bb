#include "audio/AudioConversion.h"

#include "engine/AudioPaths.h"
#include "audio/FrmConvert.h"
#include "platform/Controls.h"
#include "engine/FileOps.h"
#include "platform/MessageBox.h"
#include "engine/Process.h"
#include "shell/Form1.h"

#include <QFileInfo>
#include <QListWidget>
#include <QPointer>

namespace tess::AudioConversion {

namespace {

// Anything at the path, a dangling symbolic link included.
bool somethingAt(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

void ConvertWavToQcp() {
    Program& program = Program::get();
    Form1* f = program.form1();
    QPointer<FrmConvert> window = program.frmConvert();
    const QString wav = window->txtwav->text();

    f->lblstat->clear();

    const QString folder = AudioPaths::tempFolder();
    const QString tempWav = AudioPaths::tempWavIn(folder);
    const QString tempQcp = AudioPaths::tempQcpIn(folder);

    // Every failure of our own: one status line, one message, no temp.wav left behind.
    // The window stays open so that the user can try again.
    bool folderUsable = false;
    auto fail = [&](const QString& line, const QString& message) {
        f->logTop(line);
        MessageBox::show(message, window);
        if (folderUsable && FileOps::fileExists(tempWav))
            FileOps::deleteFile(tempWav);
    };

    if (const FileResult r = AudioPaths::prepareTempFolder(folder); !r) {
        fail(QStringLiteral("The Temp DIR could not be used: ") + folder,
             QStringLiteral("The temporary folder ") + folder +
                 QStringLiteral(" cannot be used: ") + r.reason);
        return;
    }
    folderUsable = true;

    // A temp.qcp from an earlier run would pass for this run's output.
    if (somethingAt(tempQcp)) {
        if (const FileResult r = FileOps::deleteFile(tempQcp); !r) {
            fail(QStringLiteral("An old temporary file could not be deleted: ") + tempQcp,
                 QStringLiteral("The old temporary file ") + tempQcp +
                     QStringLiteral(" could not be deleted: ") + r.reason);
            return;
        }
    }
    if (const FileResult r = FileOps::copyFile(wav, tempWav); !r) {
        fail(QStringLiteral("Your WAV file could not be copied to the Temp DIR."),
             QStringLiteral("The WAV file could not be copied to ") + tempWav +
                 QStringLiteral(": ") + r.reason);
        return;
    }

    f->logTop(QStringLiteral("WAV to QCP Conversion started."));
    f->logTop(QStringLiteral("Attempting to Convert ") + wav);
    f->logTop(QStringLiteral("Calling PVConv.exe to convert your file, please wait..."));

    const QString converter = AudioPaths::converterPath();
    const ProcessRun run = Process::run(converter, {tempWav});
    if (!run.started) {
        fail(QStringLiteral("PVConv.exe could not be started: ") + converter,
             QStringLiteral("The converter ") + converter +
                 QStringLiteral(" could not be started: ") + run.error +
                 QStringLiteral("\nIt must be in the application folder."));
        return;
    }

    f->logTop(QStringLiteral("Done. PVConv.exe has terminated."));
    showWindow(f);

    if (!FileOps::fileExists(tempQcp)) {
        f->logTop(QStringLiteral(
            "The Output file from PVConv.exe could not be found! PVConv.exe Failed!"));
        MessageBox::show(QStringLiteral("PVConv.exe has failed to convert your WAV file. Make "
                                        "sure that the WAV you are trying to convert is PCM "
                                        "8000Hz  8 or 16 Bit MONO!"),
                         f); // the main window stays in front

        return;
    }

    f->logTop(QStringLiteral("Output file from PVConv.exe found. Moving from Temp DIR."));
    const QString target = AudioPaths::qcpPathFor(wav);
    if (const FileResult r = FileOps::copyFile(tempQcp, target); !r) {
        FileOps::deleteFile(tempQcp);
        fail(QStringLiteral("The new QCP file could not be written: ") + target,
             QStringLiteral("The new QCP file could not be written to ") + target +
                 QStringLiteral(": ") + r.reason);
        return;
    }
    f->logTop(QStringLiteral("New QCP file at: ") + target);

    if (FileOps::fileExists(tempWav)) {
        if (const FileResult r = FileOps::deleteFile(tempWav); !r) {
            fail(QStringLiteral("A temporary file could not be deleted: ") + tempWav,
                 QStringLiteral("The temporary file ") + tempWav +
                     QStringLiteral(" could not be deleted: ") + r.reason);
            return;
        }
    }
    if (FileOps::fileExists(tempQcp)) {
        if (const FileResult r = FileOps::deleteFile(tempQcp); !r) {
            fail(QStringLiteral("A temporary file could not be deleted: ") + tempQcp,
                 QStringLiteral("The temporary file ") + tempQcp +
                     QStringLiteral(" could not be deleted: ") + r.reason);
            return;
        }
        f->logTop(QStringLiteral("Temporary files deleted. Conversion Done."));
    }
    if (window)
        program.unload(window);
}

} // namespace tess::AudioConversion
