#include "shell/frmAbout.h"

#include "engine/AppInfo.h"
#include "engine/FileOps.h"
#include "engine/ProgramStart.h"
#include "engine/Registry.h"
#include "platform/Controls.h"
#include "platform/MessageBox.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>

namespace tess {

namespace {

const QColor LabelText(0xf4, 0xf1, 0xe8);

#ifndef _WIN32
// Without a registry, what desktops commonly offer in its place.
bool startDesktopSysInfo() {
    struct Candidate {
        const char* program;
        QStringList arguments;
    };
    const Candidate candidates[] = {
        {"kinfocenter", {}},
        {"hardinfo2", {}},
        {"hardinfo", {}},
        {"gnome-control-center", {QStringLiteral("info-overview")}},
    };
    for (const Candidate& c : candidates) {
        const QString path = QStandardPaths::findExecutable(QLatin1String(c.program));
        if (!path.isEmpty() && ProgramStart::startDetached(path, c.arguments))
            return true;
    }
    return false;
}
#endif

} // namespace

frmAbout::frmAbout() {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setFont(classicFont());

    Image1 = named(new QLabel(this), "Image1");
    Image1->setPixmap(picture(QStringLiteral(":/about.bmp")));
    placeTwips(Image1, 0, 0, 5250, 3750);

    QPalette light = palette();
    light.setColor(QPalette::WindowText, LabelText);

    lblVersion = named(new QLabel(QStringLiteral("Version"), this), "lblVersion");
    lblVersion->setFont(classicFont(true));
    lblVersion->setPalette(light);
    placeTwips(lblVersion, 120, 90, 2880, 255);

    Label1 =
        named(new QLabel(QStringLiteral("THANK YOU TINKERTONES.EXAMPLE FOR ALL THE HELP!"), this),
              "Label1");
    Label1->setFont(classicFont(true));
    Label1->setPalette(light);
    Label1->setAlignment(Qt::AlignCenter);
    placeTwips(Label1, 60, 2475, 5130, 255);

    lblDisclaimer = named(
        new QLabel(
            QStringLiteral("Thanks to everyone at tinkertones.example for testing, ideas and "
                           "patient answers while this tool took shape. Questions, bugs or wishes? "
                           "Find the author in the tinkertones.example forums, in the "
                           "Tessavane thread."),
            this),
        "lblDisclaimer");
    lblDisclaimer->setPalette(light);
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    placeTwips(lblDisclaimer, 120, 2790, 5010, 930);

    lblDescription = named(
        new QLabel(
            QStringLiteral("Tessavane is the first public tool that automates making GCD files. It "
                           "is freeware: it may not be sold, distributed or copied without its "
                           "creator's consent, and violations may lead to legal measures."),
            this),
        "lblDescription");
    lblDescription->setWordWrap(true);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(lblDescription, 120, 3795, 5010, 690);

    cmdSysInfo = named(new QPushButton(QStringLiteral("&System Info..."), this), "cmdSysInfo");
    placeTwips(cmdSysInfo, 2460, 4515, 1335, 360);
    cmdOK = named(new QPushButton(QStringLiteral("OK"), this), "cmdOK");
    placeTwips(cmdOK, 3885, 4515, 1260, 360);
    cmdOK->setDefault(true);
    setTabOrder(cmdOK, cmdSysInfo);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    tmrwin = named(new QTimer(this), "tmrwin");
    tmrwin->setInterval(10);
    connect(tmrwin, &QTimer::timeout, this, &frmAbout::tmrwin_Timer);

    setHeightTwips(FullHeightTwips);
    // Centred for its full height, so that it unrolls into the middle of the screen.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmAbout::setHeightTwips(int height) {
    heightTwips_ = height;
    // The client area is what is left below the title bar and inside the borders.
    const int client = twips(height - (FullHeightTwips - ClientHeightTwips));
    setFixedSize(twips(5250), std::max(1, client));
}

void frmAbout::Form_Load() {
    const QString version = QString::number(AppInfo::major()) + QLatin1Char('.') +
                            QString::number(AppInfo::minor()) + QLatin1Char('.') +
                            QString::number(AppInfo::revision());
    setWindowTitle(QStringLiteral("About ") + AppInfo::title() + QStringLiteral(" v") + version);
    lblVersion->setText(QStringLiteral("Version") + QLatin1Char(' ') + version);
    cmdOK->setFocus();
    setHeightTwips(CollapsedHeightTwips);
    tmrwin->start();
}

void frmAbout::tmrwin_Timer() {
    const int height = heightTwips();
    if (height >= FullHeightTwips) {
        setHeightTwips(FullHeightTwips);
        tmrwin->stop();
    } else {
        setHeightTwips(height + 200);
    }
}

void frmAbout::cmdOK_Click() {
    Form_Unload();
}

void frmAbout::reject() {
    cmdOK_Click();
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::StartSysInfo() {
    const QString locationKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
    const QString locationValue = QStringLiteral("PATH");
    const QString folderKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
    const QString folderValue = QStringLiteral("MSINFO");

    QString SysInfoPath;
    bool found = false;
    if (GetKeyValue(Reg::LocalMachine, locationKey, locationValue, SysInfoPath)) {
        found = true;
    } else if (GetKeyValue(Reg::LocalMachine, folderKey, folderValue, SysInfoPath)) {
        const QString candidate = SysInfoPath + QDir::separator() + QStringLiteral("MSINFO32.EXE");
        if (FileOps::fileExists(candidate)) {
            SysInfoPath = candidate;
            found = true;
        }
    }
    if (found && ProgramStart::startDetached(SysInfoPath))
        return;
#ifndef _WIN32
    if (startDesktopSysInfo())
        return;
#endif
    MessageBox::show(QStringLiteral("System Information Is Unavailable At This Time"), this);
}

bool frmAbout::GetKeyValue(quint32 KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                           QString& KeyVal) {
    Registry& registry = Registry::current();
    RegKey hKey = 0;
    // Reading is all it needs, and all a user without administrator rights is granted.
    if (registry.open(KeyRoot, KeyName.toLocal8Bit(), Reg::Read, &hKey) != Reg::Success) {
        KeyVal.clear();
        return false;
    }

    constexpr quint32 BufferSize = 1024;
    QByteArray buffer(BufferSize, '\0');
    quint32 size = BufferSize;
    quint32 type = 0;
    bool result = false;
    if (registry.query(hKey, SubKeyRef.toLocal8Bit(), &type, buffer.data(), &size) !=
        Reg::Success) {
        KeyVal.clear();
    } else {
        buffer.truncate(int(std::min(size, BufferSize)));
        // Strings may or may not be stored with their terminating zero.
        if (!buffer.isEmpty() && buffer.back() == '\0')
            buffer.chop(1);
        if (type == Reg::String) {
            KeyVal = QString::fromLocal8Bit(buffer);
        } else if (type == Reg::Dword) {
            // Little-endian; the zero cut above may have taken a high byte.
            quint32 number = 0;
            for (int i = 0; i < std::min(4, int(buffer.size())); ++i)
                number |= quint32(uchar(buffer[i])) << (8 * i);
            KeyVal = QString::number(number);
        }
        result = true;
    }
    registry.close(hKey);
    return result;
}

} // namespace tess
