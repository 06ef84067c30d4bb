// Saves a picture for the README: the main window with one file opened, or with
// a second argument the start-up or About window, or another window of the program
// (splash, about, options, chooser, batch, batchset, convert, geturl).
// On a real X server (scripts/screenshots.sh) the picture is taken from the
// screen, window manager frame included; elsewhere the window draws itself.
#include "audio/FrmConvert.h"
#include "batch/frmBatch.h"
#include "batch/frmBatchSet.h"
#include "config/Form2.h"
#include "config/FrmOptSet.h"
#include "core/FrmGetURL.h"
#include "engine/AppInfo.h"
#include "platform/Controls.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "shell/Form1.h"
#include "shell/Program.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace {

bool save(QWidget* w, const char* path) {
    const QString file = QString::fromLocal8Bit(path);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        QCoreApplication::processEvents();
        return w->grab().save(file);
    }
    // Let the window manager map and frame the window, and the window paint.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 1500) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    const QRect frame = w->frameGeometry();
    return w->screen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(file);
}

} // namespace

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
        return save(w, argv[1]) ? 0 : 1;
    }
    tess::Form1* f = program.form1();
    // No options window of a first start over the picture.
    f->tmroptset->stop();
    QWidget* other = nullptr;
    if (which == QLatin1String("options"))
        other = program.frmOptSet();
    else if (which == QLatin1String("chooser"))
        other = program.form2();
    else if (which == QLatin1String("batch"))
        other = program.frmBatchWindow();
    else if (which == QLatin1String("batchset"))
        other = program.frmBatchSetWindow();
    else if (which == QLatin1String("convert"))
        other = program.frmConvert();
    else if (which == QLatin1String("geturl"))
        other = program.frmGetURL();
    if (other) {
        f->show();
        tess::showWindow(other);
        return save(other, argv[1]) ? 0 : 1;
    }
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
    return save(f, argv[1]) ? 0 : 1;
}
