// A Qt generic plugin that plays the user in an installed tessavane on the
// offscreen platform: it answers every message box with OK, types a vendor and
// the home folder as save folder into the options window and saves, makes the
// descriptor when a file is open, prints the log, then ends the program. With
// TESS_DRIVER_CONVERT=WAV it opens the conversion window and converts WAV instead.
//   QT_PLUGIN_PATH=DIR QT_QPA_GENERIC_PLUGINS=tessdriver tessavane [FILE]
// (DIR holds generic/libtessdriver.so). Used by scripts/install-check.sh only.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

void say(const QString& line) {
    std::printf("driver: %s\n", qPrintable(line));
    std::fflush(stdout);
}

class Driver : public QObject {
public:
    Driver() {
        timer_.setInterval(100);
        connect(&timer_, &QTimer::timeout, this, &Driver::tick);
        timer_.start();
    }

private:
    QWidget* visible(const char* name) const {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->objectName() == QLatin1String(name))
                return w;
        return nullptr;
    }

    void tick() {
        // Some 30 seconds without getting through is a failure.
        if (++ticks_ > 300) {
            say(QStringLiteral("gave up"));
            std::fflush(stdout);
            std::_Exit(3);
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                say(QStringLiteral("message: ") + box->text());
                box->button(QMessageBox::Ok)->click();
                return;
            }
        }
        if (QWidget* options = visible("FrmOptSet")) {
            options->findChild<QLineEdit*>(QStringLiteral("txtVendor"))
                ->setText(QStringLiteral("CI Tones"));
            options->findChild<QLineEdit*>(QStringLiteral("txtGCD"))->setText(QDir::homePath());
            say(QStringLiteral("Save Settings"));
            options->findChild<QPushButton*>(QStringLiteral("CMNDOK"))->click();
            return;
        }
        QWidget* main = visible("Form1");
        if (!main) {
            mainTicks_ = 0;
            return;
        }
        // The options window of a first start opens a moment after the main window.
        if (++mainTicks_ < 10)
            return;
        // The window blocks while the converter runs: a test signals it meanwhile.
        if (const QString wav = qEnvironmentVariable("TESS_DRIVER_CONVERT"); !wav.isEmpty()) {
            if (QWidget* convert = visible("FrmConvert")) {
                convert->findChild<QLineEdit*>(QStringLiteral("txtwav"))->setText(wav);
                say(QStringLiteral("Convert WAV"));
                convert->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
            } else if (auto* open = main->findChild<QAbstractButton*>(QStringLiteral("CMNDwav"))) {
                open->click();
            }
            return;
        }
        auto* make = main->findChild<QPushButton*>(QStringLiteral("cmndmake"));
        if (!made_ && make && make->isEnabled()) {
            made_ = true;
            say(QStringLiteral("Make GCD"));
            make->click();
            return;
        }
        if (auto* log = main->findChild<QListWidget*>(QStringLiteral("lblstat")))
            for (int i = 0; i < log->count(); ++i)
                say(QStringLiteral("log: ") + log->item(i)->text());
        timer_.stop();
        QApplication::quit();
    }

    QTimer timer_;
    int ticks_ = 0;
    int mainTicks_ = 0;
    bool made_ = false;
};

class DriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "driver.json")
public:
    QObject* create(const QString& key, const QString&) override {
        if (key.compare(QLatin1String("tessdriver"), Qt::CaseInsensitive) != 0)
            return nullptr;
        return new Driver;
    }
};

} // namespace

#include "driver.moc"
