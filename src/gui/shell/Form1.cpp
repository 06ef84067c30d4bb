#include "shell/Form1.h"

#include "audio/FrmConvert.h"
#include "batch/frmBatch.h"
#include "config/ConfigLoadandSave.h"
#include "config/Form2.h"
#include "config/FrmOptSet.h"
#include "core/AutoURLEngine.h"
#include "core/FrmGetURL.h"
#include "core/Steps.h"
#include "engine/AppInfo.h"
#include "engine/ConfigFile.h"
#include "engine/ContentTypes.h"
#include "engine/Maker.h"
#include "net/FrmCheck.h"
#include "pages/FrmPages.h"
#include "platform/Controls.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "publish/FrmPublish.h"
#include "shell/frmAbout.h"

#include <QAction>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLayout>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace tess {

namespace {

const char* const kOpenFilter =
    "All Valid Types|*.mid;*.qcp;*.cmx;*.png;*.jpg;*.bmp|MIDI (*.mid*)|*.mid|QCELP Audio "
    "(*.qcp)|*.qcp|CMX 2.0+ (*.cmx)|*.cmx|PNG Image (*.png)|*.png|JPEG Image (*.jpg)|*.jpg|WBMP "
    "Image (*.wbmp)|*.*bmp|";

QGroupBox* frame(QWidget* parent, const char* name, const char* title) {
    auto* f = named(new QGroupBox(QLatin1String(title), parent), name);
    return f;
}

QPushButton* pictureButton(QWidget* parent, const char* name, const char* picture,
                           const char* tip) {
    auto* b = named(new QPushButton(parent), name);
    b->setIcon(QIcon(QLatin1String(picture)));
    b->setIconSize(QSize(64, 35));
    b->setToolTip(QLatin1String(tip));
    return b;
}

QFrame* line(QWidget* parent, const char* name) {
    auto* l = named(new QFrame(parent), name);
    l->setFrameShape(QFrame::HLine);
    l->setFrameShadow(QFrame::Sunken);
    return l;
}

} // namespace

Form1::Form1() {
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    setFont(classicFont());

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twips(8625), twips(5160));
    setCentralWidget(client);

    F1 = frame(client, "F1", "Step 1 : Open");
    placeTwips(F1, 120, 0, 1335, 975);
    cmndgcd = pictureButton(F1, "cmndgcd", ":/button_open.png", "Create a Single GCD File.");
    placeTwips(cmndgcd, 120, 240, 1095, 615);

    Frame2 = frame(client, "Frame2", "Batch GCD:");
    placeTwips(Frame2, 120, 1080, 1335, 975);
    CMNDBatch =
        pictureButton(Frame2, "CMNDBatch", ":/button_batch.png", "Create multiple GCD's at once.");
    placeTwips(CMNDBatch, 120, 240, 1095, 615);

    Frame1 = frame(client, "Frame1", "WAV to QCP:");
    placeTwips(Frame1, 120, 2160, 1335, 975);
    CMNDwav = pictureButton(Frame1, "CMNDwav", ":/button_wav.png", "Convert WAV to QCP Audio.");
    placeTwips(CMNDwav, 120, 240, 1095, 615);

    F2 = frame(client, "F2", "Step 2 : Type Select");
    placeTwips(F2, 1560, 0, 2295, 3375);
    F2->setEnabled(false);
    opGroup = new QButtonGroup(this);
    // Two wrapped lines need 27 pixels: the options are a little taller than first laid out.
    static const int opGeometry[6][4] = {{120, 240, 1455, 405},  {120, 720, 1695, 405},
                                         {120, 1200, 1815, 405}, {120, 1800, 1215, 405},
                                         {120, 2280, 1215, 405}, {120, 2760, 2055, 495}};
    for (int row = 0; row < kContentTypeCount; ++row) {
        auto* o = new OptionButton(QLatin1String(contentTypes()[row].caption), F2);
        o->setObjectName(QStringLiteral("op") + QString::number(row + 1));
        // Our font runs wider than the one the layout was made for: every option
        // may use the frame's full inner width, so no caption needs a third line.
        placeTwips(o, opGeometry[row][0], opGeometry[row][1], std::max(opGeometry[row][2], 2055),
                   opGeometry[row][3]);
        o->setEnabled(false);
        opGroup->addButton(o, row);
        op[row] = o;
        connect(o, &QRadioButton::clicked, this, [this, row] { opClick(row); });
    }
    Line1 = line(F2, "Line1");
    Line1->setGeometry(twips(240), twips(1680) - 1, twips(2040 - 240), 3);

    F3 = frame(client, "F3", "Step 3 : GCD Attributes");
    placeTwips(F3, 3960, 0, 4575, 3375);
    F3->setEnabled(false);
    lblsave = makeLabel(F3, "lblsave", "Save GCD To:");
    placeTwips(lblsave, 120, 360, 1095, 255);
    txtsave = named(new TextBox(F3), "txtsave");
    placeTwips(txtsave, 1440, 240, 2655, 285);
    Cmndbrowse = makeButton(F3, "Cmndbrowse", ">");
    placeTwips(Cmndbrowse, 4200, 240, 255, 255);
    Line2 = line(F3, "Line2");
    Line2->setGeometry(twips(120), twips(600) - 1, twips(4440 - 120), 3);
    chkBlankline = named(new CheckBox(QStringLiteral("Make 1st Line BLANK for Compatibility"), F3),
                         "chkBlankline");
    chkBlankline->setToolTip(
        QStringLiteral("For some phones it may help if a blank line is inserted."));
    // Reaches a little to the left and right to hold the whole caption.
    placeTwips(chkBlankline, 1320, 720, 3195, 255);
    Label1 = makeLabel(F3, "Label1", "Content-Type:");
    // The captions' colons need more than the first widths; the boxes start at 1440.
    placeTwips(Label1, 120, 960, 1275, 375);
    lbltype = makeLabel(F3, "lbltype", "", true);
    placeTwips(lbltype, 1440, 960, 2655, 255);
    Label2 = makeLabel(F3, "Label2", "Content-Name:");
    placeTwips(Label2, 120, 1320, 1275, 375);
    txtname = named(new TextBox(F3), "txtname");
    placeTwips(txtname, 1440, 1200, 2655, 285);
    Label3 = makeLabel(F3, "Label3", "Content-Version:");
    placeTwips(Label3, 120, 1680, 1275, 375);
    txtVersion = named(new TextBox(F3), "txtVersion");
    placeTwips(txtVersion, 1440, 1560, 2655, 285);
    Label4 = makeLabel(F3, "Label4", "Content-Vendor:");
    placeTwips(Label4, 120, 2040, 1275, 375);
    txtVendor = named(new TextBox(F3), "txtVendor");
    placeTwips(txtVendor, 1440, 1920, 2655, 285);
    Label5 = makeLabel(F3, "Label5", "Content-URL:");
    placeTwips(Label5, 120, 2400, 1275, 375);
    txtURL = named(new TextBox(F3), "txtURL");
    txtURL->setBackground(QColor(255, 255, 255));
    placeTwips(txtURL, 1440, 2280, 2655, 285);
    CMNDURL = makeButton(F3, "CMNDURL", "A");
    placeTwips(CMNDURL, 4200, 2280, 255, 255);
    Label6 = makeLabel(F3, "Label6", "Content-Size:");
    placeTwips(Label6, 120, 2760, 1275, 375);
    lblsize = makeLabel(F3, "lblsize", "", true);
    placeTwips(lblsize, 1440, 2760, 1455, 255);
    CMNDDefaults = makeButton(F3, "CMNDDefaults", "Load Defaults");
    placeTwips(CMNDDefaults, 1920, 3000, 1215, 255);
    Image1 = named(new PictureBox(F3), "Image1");
    Image1->setPixmap(picture(QStringLiteral(":/about_small.png")));
    Image1->setScaledContents(true);
    placeTwips(Image1, 3360, 2595, 1200, 750);
    // Disabled one by one, so that enabling the frame leaves them disabled until Step 3.
    for (QWidget* w : std::initializer_list<QWidget*>{lblsave, txtsave, Label1, lbltype, Label2,
                                                      txtname, Label3, txtVersion, Label4,
                                                      txtVendor, Label5, txtURL, Label6, lblsize})
        w->setEnabled(false);

    F4 = frame(client, "F4", "Step 4 : Make GCD");
    placeTwips(F4, 6960, 3600, 1575, 1335);
    F4->setEnabled(false);
    cmndmake = pictureButton(F4, "cmndmake", ":/button_make.png", "Create GCD File.");
    placeTwips(cmndmake, 240, 360, 1095, 735);
    cmndmake->setEnabled(false);

    lblstat = named(new QListWidget(client), "lblstat");
    placeTwips(lblstat, 120, 3480, 6735, 1590);
    lblstat->setUniformItemSizes(true);
    {
        QPalette pal = lblstat->palette();
        pal.setColor(QPalette::Base, Qt::black);
        pal.setColor(QPalette::Text, QColor(255, 0, 0));
        lblstat->setPalette(pal);
    }

    tmroptset = named(new QTimer(this), "tmroptset");
    tmroptset->setInterval(50);

    buildMenu();
    // Fixed border: the window keeps the client area's size.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(tmroptset, &QTimer::timeout, this, &Form1::tmroptset_Timer);
    connect(txtURL, &QLineEdit::textChanged, this, &Form1::txtURL_Change);
    connect(chkBlankline, &QCheckBox::stateChanged, this, &Form1::chkBlankline_Click);
    connect(cmndgcd, &QPushButton::clicked, this, &Form1::cmndgcd_Click);
    connect(cmndmake, &QPushButton::clicked, this, &Form1::cmndMake_Click);
    connect(Cmndbrowse, &QPushButton::clicked, this, &Form1::Cmndbrowse_Click);
    connect(CMNDURL, &QPushButton::clicked, this, &Form1::CMNDURL_Click);
    connect(CMNDDefaults, &QPushButton::clicked, this, &Form1::CMNDDefaults_Click);
    connect(CMNDBatch, &QPushButton::clicked, this, &Form1::CMNDBatch_Click);
    connect(CMNDwav, &QPushButton::clicked, this, &Form1::CMNDwav_Click);
    connect(Image1, &PictureBox::clicked, this, &Form1::Image1_Click);
}

void Form1::buildMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File"));
    auto item = [&](const char* name, const char* text, void (Form1::*handler)()) {
        QAction* a = file->addAction(QLatin1String(text));
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    mnugcd = item("mnugcd", "&Open File to GCD...", &Form1::mnugcd_Click);
    dobatch = item("dobatch", "Run a GCD &Batch...", &Form1::dobatch_Click);
    mnuconv = item("mnuconv", "WAV to &QCELP Conversion...", &Form1::mnuconv_Click);
    mnudiv2 = file->addSeparator();
    mnudiv2->setObjectName(QStringLiteral("mnudiv2"));
    mnuopt = item("mnuopt", "Configuration...", &Form1::mnuopt_Click);
    mnudiv1 = file->addSeparator();
    mnudiv1->setObjectName(QStringLiteral("mnudiv1"));
    mnuexit = item("mnuexit", "E&xit", &Form1::mnuexit_Click);
    mnuTools = menuBar()->addMenu(QStringLiteral("Tools"));
    mnuTools->setObjectName(QStringLiteral("mnuTools"));
    mnuCheck = mnuTools->addAction(QStringLiteral("Check on Server..."));
    mnuCheck->setObjectName(QStringLiteral("mnuCheck"));
    connect(mnuCheck, &QAction::triggered, this, &Form1::mnuCheck_Click);
    mnuPublish = mnuTools->addAction(QStringLiteral("Publish Folder..."));
    mnuPublish->setObjectName(QStringLiteral("mnuPublish"));
    connect(mnuPublish, &QAction::triggered, this, &Form1::mnuPublish_Click);
    mnuPages = mnuTools->addAction(QStringLiteral("Make Download Pages..."));
    mnuPages->setObjectName(QStringLiteral("mnuPages"));
    connect(mnuPages, &QAction::triggered, this, &Form1::mnuPages_Click);
    mnuAbout = menuBar()->addAction(QStringLiteral("&About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
    connect(mnuAbout, &QAction::triggered, this, &Form1::mnuAbout_Click);
}

void Form1::logTop(const QString& line) {
    if (holdingLog_)
        heldTop_.append(line);
    else
        lblstat->insertItem(0, line);
}

void Form1::logBottom(const QString& line) {
    if (holdingLog_)
        heldBottom_.append(line);
    else
        lblstat->addItem(line);
}

void Form1::holdLog() {
    holdingLog_ = true;
}

void Form1::releaseLog() {
    if (!holdingLog_)
        return;
    holdingLog_ = false;
    std::reverse(heldTop_.begin(), heldTop_.end());
    lblstat->insertItems(0, heldTop_);
    lblstat->addItems(heldBottom_);
    heldTop_.clear();
    heldBottom_.clear();
}

void Form1::Form_Load() {
    setWindowTitle(QStringLiteral("Orlwick's Tessavane v") + AppInfo::versionText());
    logTop(windowTitle() + QStringLiteral(" Started!"));
    ConfigLoadandSave::Startup();
    const QString file = std::exchange(session().startFile, QString());
    if (!file.isEmpty())
        openMediaFile(file);
}

void Form1::Form_Unload() {
    Program::get().endProgram();
}

void Form1::tmroptset_Timer() {
    showWindow(Program::get().frmOptSet());
    tmroptset->stop();
}

void Form1::txtURL_Change() {
    Session& s = session();
    if (!s.autoUrlBusy) {
        s.autoUrlActive = false;
        txtURL->setBackground(QColor(255, 255, 255));
    } else {
        s.autoUrlActive = true;
        txtURL->setBackground(QColor(0, 192, 0));
    }
}

void Form1::chkBlankline_Click() {
    session().blankLine = ConfigFile::blankLineSetting(chkBlankline->value());
}

void Form1::cmndgcd_Click() {
    const std::optional<QString> file =
        FileDialog::getOpenFileName(this, QLatin1String(kOpenFilter));
    if (file)
        openMediaFile(*file);
}

void Form1::openMediaFile(const QString& file) {
    // A name that would forge descriptor lines is refused before anything changes.
    if (const std::optional<QString> problem = mediaNameProblem(file)) {
        MessageBox::show(QStringLiteral("The file ") + file + QStringLiteral(" cannot be used: ") +
                             *problem + QLatin1Char('.'),
                         this);
        return;
    }
    // Any failure from here on ends the intake silently; what was done stays done.
    try {
        logTop(QStringLiteral("Selected File:") + file);
        session().selectedFilePath = file;
        Steps::EnableStep2();
        Steps::FillFileAttributes();
        AutoURLEngine::ApplyAutoURL(false);
    } catch (const StepError&) {
    }
}

void Form1::mnugcd_Click() {
    cmndgcd_Click();
}

void Form1::opClick(int row) {
    const ContentType& type = contentTypes()[row];
    lbltype->setText(QLatin1String(type.mime));
    logTop(QLatin1String(type.logLine));
    Steps::EnableStep3();
}

void Form1::cmndMake_Click() {
    try {
        Steps::MakeGcd();
    } catch (const StepError& e) {
        MessageBox::show(e.message, this);
    }
}

void Form1::Cmndbrowse_Click() {
    session().autoUrlBusy = false;
    showWindow(Program::get().form2());
}

void Form1::CMNDURL_Click() {
    showWindow(Program::get().frmGetURL());
}

void Form1::CMNDDefaults_Click() {
    ConfigLoadandSave::LoadConfig();
}

void Form1::CMNDBatch_Click() {
    showWindow(Program::get().frmBatchWindow());
}

void Form1::dobatch_Click() {
    CMNDBatch_Click();
}

void Form1::CMNDwav_Click() {
    showWindow(Program::get().frmConvert());
}

void Form1::mnuconv_Click() {
    CMNDwav_Click();
}

void Form1::mnuopt_Click() {
    showWindow(Program::get().frmOptSet());
}

void Form1::Image1_Click() {
    showWindow(Program::get().frmAboutWindow());
}

void Form1::mnuAbout_Click() {
    Image1_Click();
}

void Form1::mnuCheck_Click() {
    showWindow(Program::get().frmCheck());
}

void Form1::mnuPages_Click() {
    showWindow(Program::get().frmPages());
}

void Form1::mnuPublish_Click() {
    showWindow(Program::get().frmPublish());
}

void Form1::mnuexit_Click() {
    Program::get().endProgram();
}

} // namespace tess
