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
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace tess::ConfigLoadandSave {

QString configPath() {
    return ConfigFile::defaultPath();
}

void Startup() {
    if (FileOps::fileExists(configPath())) {
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

    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (!file.isOpen() || file.error() != QFileDevice::NoError) {
        MessageBox::show(QStringLiteral("The Configuration file at ") + path +
                         QStringLiteral(" could not be read (") + file.errorString() +
                         QStringLiteral("). The current settings are kept."));
        return;
    }
    file.close();

    const QStringList lines = ConfigFile::parseLines(bytes);
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
    const QByteArray bytes = ConfigFile::serialise(
        options->chkBlankline->value(), options->txtGCD->text(), options->txtURL->text(),
        options->txtVendor->text(), options->txtVersion->text());
    // The user's configuration folder may not exist yet; a failure here shows
    // as the write's own failure below.
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Written beside the old file and renamed over it: a failure keeps the old one.
    const FileResult written = FileOps::replaceFile(path, bytes);
    if (!written) {
        MessageBox::show(QStringLiteral("The Configuration file at ") + path +
                             QStringLiteral(" could not be saved (") + written.reason +
                             QStringLiteral("). The previous settings are kept."),
                         options);
        return false;
    }
    program.form1()->logTop(QStringLiteral("Tessavane Configuration file Saved."));
    LoadConfig();
    return true;
}

} // namespace tess::ConfigLoadandSave
