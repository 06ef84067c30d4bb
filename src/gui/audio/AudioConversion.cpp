#include "audio/AudioConversion.h"

#include "audio/FrmConvert.h"
#include "engine/AudioPaths.h"
#include "engine/Conversion.h"
#include "platform/Controls.h"
#include "platform/MessageBox.h"
#include "shell/Form1.h"

#include <QListWidget>
#include <QPointer>

namespace tess::AudioConversion {

void ConvertWavToQcp() {
    Program& program = Program::get();
    Form1* f = program.form1();
    QPointer<FrmConvert> window = program.frmConvert();
    const QString wav = window->txtwav->text();

    f->lblstat->clear();

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
