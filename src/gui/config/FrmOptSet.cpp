#include "config/FrmOptSet.h"

#include "config/ConfigLoadandSave.h"
#include "config/Form2.h"
#include "engine/ConfigFile.h"
#include "platform/Controls.h"
#include "shell/Form1.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace tess {

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
              int height) {
    QLabel* l = makeLabel(parent, name, text);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(l, left, top, width, height);
    return l;
}

// The options window's check box carries a caption of two lines.
class WrappingCheckBox : public CheckBox {
public:
    WrappingCheckBox(const QString& text, QWidget* parent) : CheckBox(text, parent) {
        setProperty(kWrapsCaption, true);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        paintWrappedCaption(this, QStyle::CE_CheckBox, QStyle::SE_CheckBoxContents);
    }
    // The whole caption answers a click, not only its first line.
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

} // namespace

FrmOptSet::FrmOptSet() {
    setObjectName(QStringLiteral("FrmOptSet"));
    setWindowTitle(QStringLiteral("Tessavane: Set Options"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
    setFont(classicFont());
    setFixedSize(twips(7935), twips(4395));

    Frame1 = named(new QGroupBox(QStringLiteral("Tessavane: Options"), this), "Frame1");
    placeTwips(Frame1, 120, 60, 7695, 3675);

    chkBlankline =
        named(new WrappingCheckBox(
                  QStringLiteral("Make 1st Line BLANK for compatibility. ( This may help if "
                                 "you get errors while downloading to your phone, otherwise "
                                 "leave unchecked)."),
                  Frame1),
              "chkBlankline");
    placeTwips(chkBlankline, 120, 240, 7455, 435);

    // Left column: save folder, then URL. Right column: vendor, then version.
    Label1 =
        label(Frame1, "Label1", QStringLiteral("By Default, Save GCD to:"), 120, 720, 3255, 255);
    txtGCD = named(new TextBox(Frame1), "txtGCD");
    placeTwips(txtGCD, 120, 960, 3255, 285);
    Cmndbrowse = makeButton(Frame1, "Cmndbrowse", QStringLiteral(">"));
    placeTwips(Cmndbrowse, 3435, 960, 285, 285);
    Label3 = label(Frame1, "Label3",
                   QStringLiteral("Save GCD To: This should be the ROOT DIRECTORY of your web "
                                  "server. ie. c:\\Program Files\\Web Server\\Pages\\"),
                   120, 1320, 3600, 735);

    Label2 = label(Frame1, "Label2", QStringLiteral("Default Content-URL:"), 120, 2160, 3255, 255);
    txtURL = named(new TextBox(Frame1), "txtURL");
    placeTwips(txtURL, 120, 2400, 3255, 285);
    Label4 = label(Frame1, "Label4",
                   QStringLiteral("Content-URL: This should be the location of your media files "
                                  "on the web. ie. http://www.example.com/wap/midi/"),
                   120, 2760, 3600, 735);

    Label5 = label(Frame1, "Label5", QStringLiteral("Content-Vendor:"), 3960, 720, 3615, 255);
    txtVendor = named(new TextBox(Frame1), "txtVendor");
    placeTwips(txtVendor, 3960, 960, 3615, 285);
    Label6 = label(Frame1, "Label6",
                   QStringLiteral("Content-Vendor: When files are downloaded to a phone the "
                                  "Content-Vendor is the person/company that hosted the file."),
                   3960, 1320, 3615, 735);

    Label7 = label(Frame1, "Label7", QStringLiteral("Content-Version:"), 3960, 2160, 3615, 255);
    txtVersion = named(new TextBox(Frame1), "txtVersion");
    placeTwips(txtVersion, 3960, 2400, 3615, 285);
    Label8 = label(Frame1, "Label8", QStringLiteral("Content-Version: The Version of the file"),
                   3960, 2760, 3615, 735);

    CMNDCANCEL = makeButton(this, "CMNDCANCEL", QStringLiteral("Cancel"));
    placeTwips(CMNDCANCEL, 5040, 3855, 1215, 375);
    CMNDOK = makeButton(this, "CMNDOK", QStringLiteral("Save Settings"));
    placeTwips(CMNDOK, 6360, 3855, 1455, 375);

    setTabOrder(chkBlankline, txtGCD);
    setTabOrder(txtGCD, Cmndbrowse);
    setTabOrder(Cmndbrowse, txtVendor);
    setTabOrder(txtVendor, txtURL);
    setTabOrder(txtURL, txtVersion);
    setTabOrder(txtVersion, CMNDCANCEL);
    setTabOrder(CMNDCANCEL, CMNDOK);
    setFocusProxy(chkBlankline);

    connect(chkBlankline, &QCheckBox::stateChanged, this, &FrmOptSet::chkBlankline_Click);
    connect(Cmndbrowse, &QPushButton::clicked, this, &FrmOptSet::Cmndbrowse_Click);
    connect(CMNDOK, &QPushButton::clicked, this, &FrmOptSet::CMNDOK_Click);
    connect(CMNDCANCEL, &QPushButton::clicked, this, &FrmOptSet::CMNDCANCEL_Click);
}

void FrmOptSet::Form_Load() {
    const Session& s = session();
    chkBlankline->setValue(ConfigFile::blankLineState(s.blankLine));
    txtGCD->setText(s.defaultSaveFolder);
    txtURL->setText(s.defaultUrl);
    txtVendor->setText(s.defaultVendor);
    txtVersion->setText(s.defaultVersion);
    chkBlankline->setFocus();
}

void FrmOptSet::chkBlankline_Click() {
    session().blankLine = ConfigFile::blankLineSetting(chkBlankline->value());
}

void FrmOptSet::Cmndbrowse_Click() {
    // The chooser sends its folder here while the busy flag is set.
    session().autoUrlBusy = true;
    showWindow(Program::get().form2());
}

void FrmOptSet::CMNDOK_Click() {
    if (!ConfigLoadandSave::SaveConfig())
        return;
    const Session& s = session();
    Form1* f = Program::get().form1();
    f->chkBlankline->setValue(chkBlankline->value());
    f->txtsave->setText(s.defaultSaveFolder);
    // An ordinary write: when it changes the renamed URL, Auto URL ReNaming goes off.
    f->txtURL->setText(s.defaultUrl);
    f->txtVendor->setText(s.defaultVendor);
    f->txtVersion->setText(s.defaultVersion);
    Program::get().unload(this);
}

void FrmOptSet::CMNDCANCEL_Click() {
    Program::get().unload(this);
}

} // namespace tess
