// Saves a picture for the README: the main window with one file opened, or with
// a second argument "splash" or "about" the start-up or About window.
#include "core/FrmGetURL.h"
#include "platform/AppInfo.h"
#include "platform/Controls.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "shell/Form1.h"
#include "shell/Program.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QTemporaryDir dir;
    tess::AppInfo::setPathForTesting(dir.path());
    tess::MessageBox::setRecording(true);
    tess::Program program;
    const QString which = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (which == QLatin1String("splash") || which == QLatin1String("about")) {
        QWidget* w = nullptr;
        if (which == QLatin1String("splash")) {
            w = program.frmSplashWindow();
        } else {
            tess::frmAbout* about = program.frmAboutWindow();
            about->setHeightTwips(tess::frmAbout::FullHeightTwips);
            about->tmrwin->stop();
            w = about;
        }
        w->show();
        app.processEvents();
        return w->grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    }
    tess::Form1* f = program.form1();
    f->show();
    QFile song(dir.filePath(QStringLiteral("ringtone.mid")));
    song.open(QIODevice::WriteOnly);
    song.write(QByteArray(2716, 'x'));
    song.close();
    f->txtsave->setText(QStringLiteral("/srv/www/wap"));
    f->txtVersion->setText(QStringLiteral("1.0"));
    f->txtVendor->setText(QStringLiteral("Example Tones"));
    tess::FileDialog::setNextFileName(song.fileName());
    f->cmndgcd_Click();
    program.frmGetURL()->txtautoURL->setText(QStringLiteral("http://www.example.com/wap/"));
    program.frmGetURL()->CMNDOK_Click();
    app.processEvents();
    return f->grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
