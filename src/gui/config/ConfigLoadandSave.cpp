#include "config/ConfigLoadandSave.h"

#include "config/FrmOptSet.h"
#include "core/AutoURLEngine.h"
#include "engine/AppInfo.h"
#include "engine/ConfigFile.h"
#include "engine/FileOps.h"
#include "engine/PathRules.h"
#include "platform/Controls.h"
#include "platform/MessageBox.h"
#include "shell/Form1.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace tess::ConfigLoadandSave {

QString configPath() {
    return ConfigFile::defaultPath();
}

void Startup() {
    // Something there that is no regular file (a FIFO, a folder, a link to a device) is
    // not missing: the load names it and says why it is not read.
    if (QFileInfo::exists(configPath())) {
        LoadConfig();
        return;
    }
    MessageBox::show(QStringLiteral(
        "The Configuration File could not be found. Either this is your first time using "
        "Tessavane or the file is missing/corrupt. Opening the configuration window..."));
    // The options window opens from the event loop, after the main window is shown.
    Program::get().form1()->tmroptset->start();
}

void LoadConfig() {
    Program& program = Program::get();
    Session& s = program.session();
    const QString path = configPath();

    // Bounded: only a regular file, only its first five lines.
    const ConfigFile::ReadResult read = ConfigFile::readFile(path);
    if (!read.ok) {
        MessageBox::show(QStringLiteral("The Configuration file at ") + path +
                         QStringLiteral(" could not be read (") + read.reason +
                         QStringLiteral("). The current settings are kept."));
        return;
    }

    const QStringList& lines = read.lines;
    QString* const values[ConfigFile::kLineCount] = {
        &s.blankLine, &s.defaultSaveFolder, &s.defaultUrl, &s.defaultVendor, &s.defaultVersion};
    for (int i = 0; i < ConfigFile::kLineCount && i < lines.size(); ++i)
        *values[i] = lines[i];

    Form1* f = program.form1();
    if (lines.size() >= ConfigFile::kLineCount) {
        // Taken before the options window exists: its creation sets its box, whose
        // click handler rewrites the setting as 1 or 0 and would lose a grayed 2.
        const int blank = ConfigFile::blankLineState(s.blankLine);
        FrmOptSet* options = program.frmOptSet();
        options->chkBlankline->setValue(blank);
        f->chkBlankline->setValue(options->chkBlankline->value());

        f->txtsave->setText(s.defaultSaveFolder);
        f->txtURL->setText(s.defaultUrl);
        f->txtVendor->setText(s.defaultVendor);
        f->txtVersion->setText(s.defaultVersion);

        s.autoUrlBase = autoUrlBaseOf(f->txtURL->text());
        f->txtURL->setBackground(QColor(0, 192, 0));
        s.autoUrlActive = true;
        AutoURLEngine::ApplyAutoURL(true);
    } else {
        MessageBox::show(QStringLiteral("The Configuration file at ") + path +
                         QStringLiteral(" seems to be corrupt. Going to the options screen..."));
        showWindow(program.frmOptSet());
    }
    f->logTop(QStringLiteral("Tessavane Configuration file Loaded."));
}

bool SaveConfig() {
    Program& program = Program::get();
    FrmOptSet* options = program.frmOptSet();
    const QString path = configPath();
    // The user's configuration folder may not exist yet; a failure here shows
    // as the write's own failure below.
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Written beside the old file and renamed over it: a failure keeps the old one. A
    // value that would break the file's lines is refused the same way.
    const FileResult written = ConfigFile::save(
        path, options->chkBlankline->value(), options->txtGCD->text(), options->txtURL->text(),
        options->txtVendor->text(), options->txtVersion->text());
    if (!written) {
        MessageBox::show(QStringLiteral("The Configuration file at ") + path +
                             QStringLiteral(" could not be saved (") + written.reason +
                             QStringLiteral("). The previous settings are kept."),
                         options);
        return false;
    }
    if (!written.notice.isEmpty())
        qWarning("%s: %s", qPrintable(path), qPrintable(written.notice));
    program.form1()->logTop(QStringLiteral("Tessavane Configuration file Saved."));
    LoadConfig();
    return true;
}

} // namespace tess::ConfigLoadandSave
