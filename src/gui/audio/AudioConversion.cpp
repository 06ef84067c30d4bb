#include "audio/AudioConversion.h"

#include "audio/FrmConvert.h"
#include "engine/AudioPaths.h"
#include "engine/Conversion.h"
#include "media/Phones.h"
#include "media/Sound.h"
#include "platform/Controls.h"
#include "platform/MessageBox.h"
#include "shell/Form1.h"

#include <QListWidget>
#include <QPointer>

namespace tess::AudioConversion {

namespace {

QString sentence(const QString& reason) {
    return reason.isEmpty() ? reason : reason.left(1).toUpper() + reason.mid(1);
}

// A sound FFmpeg decodes: decoded, shaped by the panel's options and streamed into the
// converter, with the stages logged in the same lines as a WAV file copied to it.
void convertSound(Form1* f, QPointer<FrmConvert> window, const QString& source) {
    const QString target = AudioPaths::qcpPathFor(source);
    const QString converter = AudioPaths::converterPath();
    f->logTop(QStringLiteral("WAV to QCP Conversion started."));
    f->logTop(QStringLiteral("Attempting to Convert ") + source);
    f->logTop(QStringLiteral("Calling PVConv.exe to convert your file, please wait..."));
    const media::SoundResult r =
        media::makeRingtone(source, target, window->soundOptions(), converter);
    QWidget* over = window ? static_cast<QWidget*>(window.data()) : f;
    switch (r.stage) {
    case media::SoundStage::Input:
        f->logTop(QStringLiteral("The file could not be decoded: ") + source);
        MessageBox::show(source + QStringLiteral(" cannot be converted: ") + r.reason, over);
        return;
    case media::SoundStage::TempFolder:
        f->logTop(QStringLiteral("The Temp DIR could not be used: ") + AudioPaths::tempFolder());
        MessageBox::show(sentence(r.reason), over);
        return;
    case media::SoundStage::Start:
        f->logTop(QStringLiteral("PVConv.exe could not be started: ") + converter);
        MessageBox::show(
            sentence(r.reason) + QStringLiteral("\nIt must be in the application folder."), over);
        return;
    case media::SoundStage::Cancelled:
        return;
    default:
        break;
    }
    f->logTop(QStringLiteral("Done. PVConv.exe has terminated."));
    showWindow(f);
    if (r.stage == media::SoundStage::Converter) {
        f->logTop(QStringLiteral(
            "The Output file from PVConv.exe could not be found! PVConv.exe Failed!"));
        MessageBox::show(QStringLiteral("PVConv.exe has failed to convert your WAV file. Make sure "
                                        "that the WAV you are trying to convert is PCM 8000Hz  8 "
                                        "or 16 Bit MONO!"),
                         f);
        return;
    }
    f->logTop(QStringLiteral("Output file from PVConv.exe found. Moving from Temp DIR."));
    if (r.stage == media::SoundStage::Output) {
        f->logTop(QStringLiteral("The new QCP file could not be written: ") + target);
        MessageBox::show(sentence(r.reason), over);
        return;
    }
    f->logTop(QStringLiteral("New QCP file at: ") + target);
    f->logTop(QStringLiteral("Temporary files deleted. Conversion Done."));
    const media::PhoneList phones = media::loadPhones();
    if (const media::PhoneProfile* p = phones.find(QString::fromLatin1(media::kDefaultPhoneId)))
        if (QString big = media::ringerSizeProblem(r.bytes, r.seconds, *p); !big.isEmpty())
            MessageBox::show(target + QStringLiteral(" is ") +
                                 big.replace(QLatin1String("--max-seconds"),
                                             QLatin1String("a shorter \"longest\" of")),
                             f);
    if (window)
        Program::get().unload(window);
}

} // namespace

void ConvertWavToQcp() {
    Program& program = Program::get();
    Form1* f = program.form1();
    QPointer<FrmConvert> window = program.frmConvert();
    const QString wav = window->txtwav->text();

    f->lblstat->clear();
    // What FFmpeg decodes goes through the sound path; anything else is handed to the
    // converter as it is, which then says whether it takes it.
    if (media::looksLikeSound(wav)) {
        convertSound(f, window, wav);
        return;
    }

    Conversion::Hooks hooks;
    hooks.log = [f](const QString& line) { f->logTop(line); };
    // The main window comes back to the front as soon as the converter is done.
    hooks.converterEnded = [f] { showWindow(f); };
    const Conversion::Result result = Conversion::run(wav, AudioPaths::qcpPathFor(wav), hooks);
    // The window's log keeps its lines; a replaced link is told on standard error.
    if (!result.notice.isEmpty())
        qWarning("%s: %s", qPrintable(AudioPaths::qcpPathFor(wav)), qPrintable(result.notice));
    if (!result.ok()) {
        // A converter that wrote nothing is told over the main window; our own failures
        // over the conversion window, which stays open so that the user can try again.
        MessageBox::show(result.message, result.stage == Conversion::Stage::Output
                                             ? static_cast<QWidget*>(f)
                                             : window.data());
        return;
    }
    if (window)
        program.unload(window);
}

} // namespace tess::AudioConversion
