#include "config/Form2.h"

#include "batch/frmBatchSet.h"
#include "config/FrmOptSet.h"
#include "platform/Controls.h"
#include "platform/DirList.h"
#include "platform/DriveList.h"
#include "shell/Form1.h"

#include <QLabel>
#include <QPushButton>

namespace tess {

Form2::Form2() {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Save GCD To Folder:"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
    setFont(classicFont());
    setFixedSize(twips(5535), twips(3585));

    Dir1 = named(new DirList(this), "Dir1");
    placeTwips(Dir1, 120, 120, 3135, 2895);
    Drive1 = named(new DriveList(this), "Drive1");
    placeTwips(Drive1, 120, 3120, 3135, 315);

    Label1 = named(new QLabel(QStringLiteral("The GCD File needs to be placed in your web "
                                             "server's ROOT DIRECTORY!!!"),
                              this),
                   "Label1");
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    placeTwips(Label1, 3360, 120, 2055, 975);

    CMNDOK = makeButton(this, "CMNDOK", QStringLiteral("OK"));
    placeTwips(CMNDOK, 3360, 1200, 2055, 375);
    CMNDCNCL = makeButton(this, "CMNDCNCL", QStringLiteral("Cancel"));
    placeTwips(CMNDCNCL, 3360, 1680, 2055, 375);

    setTabOrder(Dir1, Drive1);
    setTabOrder(Drive1, CMNDCNCL);
    setTabOrder(CMNDCNCL, CMNDOK);
    setFocusProxy(Dir1);

    connect(Drive1, &DriveList::driveChanged, this, &Form2::Drive1_Change);
    // A folder opened in the list may sit on another mount: the drive list follows.
    connect(Dir1, &DirList::pathChanged, this, [this](const QString& path) {
        const QString root = Drive1->rootFor(path);
        if (!root.isEmpty() && root != Drive1->drive())
            Drive1->setDriveSilently(root);
    });
    connect(CMNDOK, &QPushButton::clicked, this, &Form2::CMNDOK_Click);
    connect(CMNDCNCL, &QPushButton::clicked, this, &Form2::CMNDCNCL_Click);
}

void Form2::Form_Load() {
    Dir1->setFocus();
}

void Form2::Drive1_Change() {
    // A drive that cannot be read is reported by the folder list, which keeps its
    // folder; the drive list then goes back to the drive of that folder.
    if (!Dir1->setPath(Drive1->drive()))
        Drive1->setDriveSilently(Drive1->rootFor(Dir1->path()));
}

void Form2::CMNDOK_Click() {
    const QString p = Dir1->path();
    Program& program = Program::get();
    if (session().autoUrlBusy) {
        program.frmOptSet()->txtGCD->setText(p);
        program.form1()->logTop(QStringLiteral("Will Save GCD's to:") + p);
    } else {
        program.form1()->txtsave->setText(p);
        program.form1()->logTop(QStringLiteral("Will Save GCD's to:") + p);
        program.frmBatchSetWindow()->txtsave->setText(p);
    }
    program.unload(this);
}

void Form2::CMNDCNCL_Click() {
    Program::get().unload(this);
}

} // namespace tess
