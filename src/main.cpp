#include "engine/AppInfo.h"
#include "engine/Teardown.h"
#include "platform/Controls.h"
#include "shell/Program.h"
#include "shell/frmSplash.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {

const char* const kUsage =
    "Usage: tessavane [FILE]\n"
    "Writes GCD content descriptors for ringtones and pictures, one file at a time or\n"
    "in batches, and converts WAV recordings to QCELP audio.\n"
    "\n"
    "FILE is a media file (MIDI, QCELP, CMX, PNG, JPEG or WBMP) opened in Step 1 as if\n"
    "chosen in the open dialog. Without it the program starts with no file.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Settings are kept in config.cfg beside the program when its folder is writable\n"
    "or already holds one, otherwise in $XDG_CONFIG_HOME/tessavane (by default\n"
    "~/.config/tessavane).\n";

} // namespace

int main(int argc, char* argv[]) {
    // Answered before the window system is asked for: help2man and scripts run us
    // without a display.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version") || !std::strcmp(argv[i], "-V")) {
            std::printf("tessavane %s\n", qPrintable(tess::AppInfo::versionText()));
            return 0;
        }
    }

    QApplication app(argc, argv);
    // SIGTERM or SIGHUP (a closed session) leaves no temporary file nor converter behind.
    tess::Teardown::installSignalHandlers();
    // Lets Wayland desktops match the window to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tessavane.Tessavane"));
    // Qt has taken its own options (-platform, -style ...); what is left is ours.
    const QStringList args = QCoreApplication::arguments().mid(1);
    QString file;
    bool options = true;
    for (const QString& a : args) {
        if (options && a == QLatin1String("--")) {
            options = false;
            continue;
        }
        if ((options && a.startsWith(QLatin1Char('-'))) || !file.isEmpty()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        file = a;
    }

    tess::Program program;
    if (!file.isEmpty())
        program.session().startFile = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    QIcon icon(QStringLiteral(":/icon.png"));
    icon.addFile(QStringLiteral(":/icon_64.png"));
    QApplication::setWindowIcon(icon);
    tess::showWindow(program.frmSplashWindow());
    return app.exec();
}
