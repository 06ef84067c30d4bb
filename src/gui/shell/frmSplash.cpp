#include "shell/frmSplash.h"

#include "engine/AppInfo.h"
#include "platform/Controls.h"
#include "shell/Form1.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

namespace tess {

namespace {

// Arial Black where it is installed; otherwise the heaviest cut of a sans.
QFont loadingFont() {
    QFont f;
    f.setFamilies({QStringLiteral("Arial Black"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(18);
    if (QFontInfo(f).family() != QLatin1String("Arial Black"))
        f.setWeight(QFont::Black);
    return f;
}

const QColor LabelText(0xf4, 0xf1, 0xe8);

} // namespace

frmSplash::frmSplash() {
    setObjectName(QStringLiteral("frmSplash"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(twips(5250), twips(3750));
    setFont(classicFont());

    Image1 = named(new QLabel(this), "Image1");
    Image1->setPixmap(picture(QStringLiteral(":/splash.jpg")));
    placeTwips(Image1, 0, 0, 5250, 3750);

    QPalette light = palette();
    light.setColor(QPalette::WindowText, LabelText);

    Label1 = named(new QLabel(QStringLiteral("vx.x Public Release"), this), "Label1");
    Label1->setPalette(light);
    placeTwips(Label1, 60, 60, 2700, 255);

    lblload = named(new QLabel(QStringLiteral("LOADING..."), this), "lblload");
    lblload->setFont(loadingFont());
    lblload->setPalette(light);
    lblload->setAlignment(Qt::AlignCenter);
    placeTwips(lblload, 0, 2700, 5250, 600);

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(3500);
    connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
    tmr1 = named(new QTimer(this), "tmr1");
    tmr1->setInterval(350);
    connect(tmr1, &QTimer::timeout, this, &frmSplash::tmr1_Timer);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Timer1->start();
    tmr1->start();
}

void frmSplash::Form_Load() {
    Label1->setText(QStringLiteral(" v") + QString::number(AppInfo::major()) + QLatin1Char('.') +
                    QString::number(AppInfo::minor()) + QLatin1Char('.') +
                    QString::number(AppInfo::revision()) + QStringLiteral(" Public Release"));
}

void frmSplash::tmr1_Timer() {
    lblload->setHidden(!lblload->isHidden());
}

void frmSplash::Timer1_Timer() {
    // The main window's load may hold a message box open, and its event loop
    // would tick us again: show the main window and close once only.
    if (ended_)
        return;
    ended_ = true;
    Timer1->stop();
    showWindow(Program::get().form1());
    Form_Unload();
}

} // namespace tess
