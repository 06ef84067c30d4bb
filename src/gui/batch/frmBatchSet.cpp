#include "batch/frmBatchSet.h"

#include "batch/BatchCode.h"
#include "batch/frmBatch.h"
#include "config/ConfigLoadandSave.h"
#include "config/Form2.h"
#include "engine/ConfigFile.h"
#include "platform/Controls.h"
#include "shell/Form1.h"

#include <QGroupBox>
#include <QPushButton>

namespace tess {

frmBatchSet::frmBatchSet() {
    setObjectName(QStringLiteral("frmBatchSet"));
    setWindowTitle(QStringLiteral("Batch Settings"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(classicFont());
    setFixedSize(twips(6000), twips(4140));

    Frame1 = named(new QGroupBox(QStringLiteral("Confirm Settings:"), this), "Frame1");
    placeTwips(Frame1, 120, 120, 5760, 3360);
    chkBlankline =
        named(new CheckBox(QStringLiteral("Make 1st Line Blank for Compatibility."), Frame1),
              "chkBlankline");
    placeTwips(chkBlankline, 120, 240, 5415, 255);
    Label1 = makeLabel(Frame1, "Label1", "Save GCD To:");
    placeTwips(Label1, 120, 600, 1335, 255);
    txtsave = named(new TextBox(Frame1), "txtsave");
    placeTwips(txtsave, 120, 840, 5055, 285);
    Cmndbrowse = makeButton(Frame1, "Cmndbrowse", ">");
    placeTwips(Cmndbrowse, 5280, 840, 285, 285);
    Label2 = makeLabel(Frame1, "Label2", "Content-Version:");
    placeTwips(Label2, 120, 1200, 1335, 255);
    txtVersion = named(new TextBox(Frame1), "txtVersion");
    placeTwips(txtVersion, 120, 1440, 3735, 285);
    Label3 = makeLabel(Frame1, "Label3", "Content-Vendor:");
    placeTwips(Label3, 120, 1800, 1335, 255);
    txtVendor = named(new TextBox(Frame1), "txtVendor");
    placeTwips(txtVendor, 120, 2040, 3735, 285);
    Label4 = makeLabel(Frame1, "Label4", "Content-URL:");
    placeTwips(Label4, 120, 2400, 1335, 255);
    txtURL = named(new TextBox(Frame1), "txtURL");
    placeTwips(txtURL, 120, 2640, 5415, 285);
    Image1 = named(new PictureBox(Frame1), "Image1");
    Image1->setPixmap(picture(QStringLiteral(":/batch_small.png")));
    Image1->setScaledContents(true);
    placeTwips(Image1, 4200, 1320, 1200, 750);

    Command3 = makeButton(this, "Command3", "Load Defaults");
    placeTwips(Command3, 120, 3600, 1455, 375);
    Command2 = makeButton(this, "Command2", "Cancel");
    placeTwips(Command2, 2280, 3600, 1335, 375);
    cmndRun = makeButton(this, "cmndRun", "Run Batch!");
    cmndRun->setFont(classicFont(true));
    placeTwips(cmndRun, 4440, 3600, 1440, 375);

    connect(chkBlankline, &QCheckBox::stateChanged, this, &frmBatchSet::chkBlankline_Click);
    connect(Cmndbrowse, &QPushButton::clicked, this, &frmBatchSet::Cmndbrowse_Click);
    connect(Command3, &QPushButton::clicked, this, &frmBatchSet::Command3_Click);
    connect(Command2, &QPushButton::clicked, this, &frmBatchSet::Command2_Click);
    connect(cmndRun, &QPushButton::clicked, this, &frmBatchSet::cmndRun_Click);
}

void frmBatchSet::copyFromMainWindow() {
    Form1* f = Program::get().form1();
    txtsave->setText(f->txtsave->text());
    txtVersion->setText(f->txtVersion->text());
    txtVendor->setText(f->txtVendor->text());
    txtURL->setText(f->txtURL->text());
}

void frmBatchSet::Form_Load() {
    chkBlankline->setValue(ConfigFile::blankLineState(session().blankLine));
    copyFromMainWindow();
}

void frmBatchSet::chkBlankline_Click() {
    session().blankLine = ConfigFile::blankLineSetting(chkBlankline->value());
}

void frmBatchSet::Cmndbrowse_Click() {
    // A clear busy flag sends the chosen folder to the main and batch windows.
    session().autoUrlBusy = false;
    showWindow(Program::get().form2());
}

void frmBatchSet::Command3_Click() {
    ConfigLoadandSave::LoadConfig();
    copyFromMainWindow();
}

void frmBatchSet::Command2_Click() {
    Program& p = Program::get();
    if (p.exists<frmBatch>())
        p.unload(p.frmBatchWindow());
    p.unload(this);
}

void frmBatchSet::cmndRun_Click() {
    hide();
    Program::get().form1()->chkBlankline->setValue(chkBlankline->value());
    BatchCode::RunBatch();
}

} // namespace tess
