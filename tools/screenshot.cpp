// Saves a picture for the README: the main window with one file opened, or with
// a second argument the start-up or About window, or another window of the program
// (splash, about, options, chooser, batch, batchset, convert, geturl), or the check
// window with the results of a check against a small server of its own (check), or the
// publish window after publishing a small folder made here (publish).
// On a real X server (scripts/screenshots.sh) the picture is taken from the
// screen, window manager frame included; elsewhere the window draws itself.
#include "audio/FrmConvert.h"
#include "batch/frmBatch.h"
#include "batch/frmBatchSet.h"
#include "config/Form2.h"
#include "config/FrmOptSet.h"
#include "core/FrmGetURL.h"
#include "engine/AppInfo.h"
#include "engine/Descriptor.h"
#include "net/FrmCheck.h"
#include "platform/Controls.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "publish/FrmPublish.h"
#include "shell/Form1.h"
#include "shell/Program.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cmath>

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

// Answers each GET with a canned response: the folder of a typical first upload,
// where the server knows no .gcd and one file is missing.
class CannedServer : public QTcpServer {
public:
    CannedServer() {
        listen(QHostAddress::LocalHost, 8080) || listen(QHostAddress::LocalHost, 0);
        base = QStringLiteral("http://127.0.0.1:") + QString::number(serverPort()) +
               QStringLiteral("/wap/");
        add("song", "audio/midi", "song.mid", 2310, "text/x-pcs-gcd");
        add("voice", "audio/vnd.qcelp", "voice.qcp", 5164, "text/x-pcs-gcd",
            "application/octet-stream");
        add("logo", "image/png", "logo.png", 1187, "text/x-pcs-gcd", "image/png", 1200);
        add("ring", "audio/midi", "ring.mid", -1, "text/x-pcs-gcd");
        add("intro", "audio/midi", "intro.mid", 1804, "text/plain");
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    const QByteArray request = s->readAll();
                    const QByteArray path = request.split(' ').value(1);
                    s->write(responses.value(path, response(404, "text/html", "gone")));
                    s->disconnectFromHost();
                });
            }
        });
    }
    QString base;

private:
    static QByteArray response(int status, const char* type, const QByteArray& body) {
        return "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Not Found") +
               "\r\nServer: nginx\r\nContent-Type: " + type +
               "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
               "\r\n\r\n" + body;
    }
    void add(const char* name, const char* type, const char* file, int size, const char* gcdType,
             const char* servedType = nullptr, int said = -1) {
        const QString n = QLatin1String(name);
        const QByteArray gcd = tess::descriptorBytes(
            {QLatin1String(type), n, QStringLiteral("1.0"), QStringLiteral("Acme Tones"),
             base + QLatin1String(file), QString::number(said >= 0 ? said : std::max(size, 1804))},
            false);
        responses.insert("/wap/" + QByteArray(name) + ".gcd", response(200, gcdType, gcd));
        if (size >= 0)
            responses.insert("/wap/" + QByteArray(file),
                             response(200, servedType ? servedType : type, QByteArray(size, 'x')));
    }
    QHash<QByteArray, QByteArray> responses;
};

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
    if (which == QLatin1String("check")) {
        CannedServer server;
        QTemporaryDir web;
        for (const char* name : {"intro", "logo", "ring", "song", "voice"}) {
            QFile gcd(web.filePath(QLatin1String(name) + QStringLiteral(".gcd")));
            gcd.open(QIODevice::WriteOnly);
        }
        tess::FrmCheck* check = program.frmCheck();
        check->txtCheckURL->setText(server.base);
        check->cboServer->setCurrentIndex(1);
        f->show();
        tess::showWindow(check);
        // The folder is listed from the temporary one; the box shows the usual place.
        check->txtCheckFolder->setText(web.path());
        check->cmndCheck_Click();
        check->txtCheckFolder->setText(QStringLiteral("/srv/www/wap"));
        while (!check->cmndCheck->isEnabled())
            app.processEvents(QEventLoop::WaitForMoreEvents);
        return save(check, argv[1]) ? 0 : 1;
    }
    if (which == QLatin1String("publish")) {
        // A small folder of a song, a photo, a picture that fits and a note, published.
        QTemporaryDir src;
        QImage photo(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                photo.setPixel(x, y, qRgb(x * 255 / 640, y * 255 / 480, 160));
        photo.save(src.filePath(QStringLiteral("Beach Sunset.jpg")), "JPEG", 90);
        photo.scaled(100, 75).save(src.filePath(QStringLiteral("logo.png")), "PNG");
        QFile note(src.filePath(QStringLiteral("notes.txt")));
        note.open(QIODevice::WriteOnly);
        note.write("a list of songs\n");
        note.close();
        // Two seconds of a falling tone as 8 kHz 16-bit WAV.
        QByteArray pcm;
        for (int i = 0; i < 16000; ++i) {
            const qint16 v = qint16(8000 * std::sin(i * (0.3 - i * 0.00001)));
            pcm.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
        }
        QByteArray wav("RIFF");
        auto le32 = [](quint32 v) -> QByteArray {
            return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24);
        };
        wav += le32(36 + pcm.size()) + "WAVEfmt " + le32(16) + QByteArray("\1\0\1\0", 4) +
               le32(8000) + le32(16000) + QByteArray("\2\0\x10\0", 4) + "data" + le32(pcm.size()) +
               pcm;
        QFile song(src.filePath(QStringLiteral("My Ringtone.wav")));
        song.open(QIODevice::WriteOnly);
        song.write(wav);
        song.close();
        tess::FrmPublish* w = program.frmPublish();
        // The converter beside this program; the application folder is a temporary one.
        w->steps = tess::media::defaultMediaSteps(QCoreApplication::applicationDirPath() +
                                                  QStringLiteral("/pvconv"));
        f->show();
        tess::showWindow(w);
        w->txtSource->setText(src.path());
        w->txtWebDir->setText(dir.filePath(QStringLiteral("web")));
        w->txtBaseURL->setText(QStringLiteral("http://www.example.com/wap/"));
        w->cmndPublish_Click();
        while (w->busy())
            app.processEvents(QEventLoop::WaitForMoreEvents);
        app.processEvents();
        w->txtSource->setText(QStringLiteral("/home/me/Music/for-phone"));
        w->txtWebDir->setText(QStringLiteral("/srv/www/wap"));
        return save(w, argv[1]) ? 0 : 1;
    }
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
