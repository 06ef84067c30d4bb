#include "core/FrmGetURL.h"

#include "core/AutoURLEngine.h"
#include "engine/PathRules.h"
#include "platform/Controls.h"
#include "shell/Form1.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace tess {

FrmGetURL::FrmGetURL() {
    setObjectName(QStringLiteral("FrmGetURL"));
    setWindowTitle(QStringLiteral("GCD Attributes: Auto URL ReNaming"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
    setFont(classicFont());
    setFixedSize(twips(5520), twips(2760));

    Label1 = named(
        new QLabel(
            QStringLiteral("When doing multiple files, Tessavane can automatically change the file "
                           "name on the end of the URL so you don't have to. Enter the FULL URL "
                           "(http://www.example.com/WAP/) of the DIRECTORY the file will reside in "
                           "and hit OK to activate Auto URL ReNaming. "),
            this),
        "Label1");
    Label1->setWordWrap(true);
    placeTwips(Label1, 120, 120, 5280, 975);

    Frame1 = named(new QGroupBox(QStringLiteral("Full URL:"), this), "Frame1");
    placeTwips(Frame1, 120, 1140, 5280, 735);
    txtautoURL = named(new TextBox(Frame1), "txtautoURL");
    placeTwips(txtautoURL, 120, 300, 5040, 315);

    CMNDCANCEL = makeButton(this, "CMNDCANCEL", QStringLiteral("Cancel"));
    placeTwips(CMNDCANCEL, 2280, 2040, 1215, 495);
    CMNDOK = makeButton(this, "CMNDOK", QStringLiteral("Activate URL ReNaming"));
    // Wide enough for its caption in our font.
    placeTwips(CMNDOK, 3570, 2040, 1830, 495);
    setTabOrder(txtautoURL, CMNDCANCEL);
    setTabOrder(CMNDCANCEL, CMNDOK);
    setFocusProxy(txtautoURL);

    connect(CMNDOK, &QPushButton::clicked, this, &FrmGetURL::CMNDOK_Click);
    connect(CMNDCANCEL, &QPushButton::clicked, this, &FrmGetURL::CMNDCANCEL_Click);
}

void FrmGetURL::Form_Load() {
    txtautoURL->setText(Program::get().form1()->txtURL->text());
    txtautoURL->setFocus();
}

void FrmGetURL::CMNDOK_Click() {
    Session& s = session();
    s.autoUrlBase = autoUrlBaseOf(txtautoURL->text());
    Program::get().form1()->txtURL->setBackground(QColor(0, 192, 0));
    s.autoUrlActive = true;
    AutoURLEngine::ApplyAutoURL(true);
    Program::get().unload(this);
}

void FrmGetURL::CMNDCANCEL_Click() {
    Program::get().unload(this);
}

} // namespace tess
