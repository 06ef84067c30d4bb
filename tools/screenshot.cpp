// Saves a picture of the main window with one file opened, for the README.
#include "core/FrmGetURL.h"
#include "platform/AppInfo.h"
#include "platform/Controls.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "shell/Form1.h"
#include "shell/Program.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QTemporaryDir dir;
    tess::AppInfo::setPathForTesting(dir.path());
    tess::MessageBox::setRecording(true);
    tess::Program program;
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
