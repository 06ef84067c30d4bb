#include "batch/frmBatch.h"

#include "batch/frmBatchSet.h"
#include "platform/Controls.h"
#include "platform/DirList.h"
#include "platform/DriveList.h"
#include "platform/FileList.h"
#include "platform/MessageBox.h"

#include <QDir>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

namespace tess {

namespace {} // namespace

QString frmBatch::filePattern() {
    return QStringLiteral("*.mid; *.mid;*.cmx;*.png;*.jpg");
}

frmBatch::frmBatch() {
    setObjectName(QStringLiteral("frmBatch"));
    setWindowTitle(QStringLiteral("Run a GCD Batch"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(classicFont());
    setFixedSize(twips(9015), twips(4500));

    Frame1 = named(new QGroupBox(QStringLiteral("What files do you want to run a batch on?"), this),
                   "Frame1");
    placeTwips(Frame1, 120, 120, 4575, 4215);
    Label1 = makeLabel(Frame1, "Label1", "Select Directory:");
    placeTwips(Label1, 120, 240, 2055, 255);
    Dir1 = named(new DirList(Frame1), "Dir1");
    placeTwips(Dir1, 120, 480, 2055, 3015);
    Label2 = makeLabel(Frame1, "Label2", "Files in Directory:");
    placeTwips(Label2, 2280, 240, 2175, 255);
    File1 = named(new FileList(Frame1), "File1");
    placeTwips(File1, 2280, 480, 2175, 3015);
    Drive1 = named(new DriveList(Frame1), "Drive1");
    placeTwips(Drive1, 120, 3600, 2055, 315);
    Label3 = makeLabel(Frame1, "Label3", "Number of Files:");
    placeTwips(Label3, 2280, 3600, 1215, 255);
    lbltotal = makeLabel(Frame1, "lbltotal", "- -", true);
    placeTwips(lbltotal, 3600, 3600, 855, 255);

    CMNDAdd = makeButton(this, "CMNDAdd", "------>");
    placeTwips(CMNDAdd, 4800, 960, 735, 375);
    Command3 = makeButton(this, "Command3", "<------");
    placeTwips(Command3, 4800, 1440, 735, 375);
    Line1 = named(new QFrame(this), "Line1");
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    Line1->setGeometry(twips(4800), twips(2040) - 1, twips(735), 3);
    Command4 = makeButton(this, "Command4", "DIR>");
    placeTwips(Command4, 4800, 2280, 735, 375);
    Command5 = makeButton(this, "Command5", "<ALL");
    placeTwips(Command5, 4800, 2760, 735, 375);

    Frame2 = named(new QGroupBox(QStringLiteral("Files to be Processed:"), this), "Frame2");
    placeTwips(Frame2, 5640, 120, 3255, 3735);
    listFiles = named(new QListWidget(Frame2), "listFiles");
    listFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    listFiles->setUniformItemSizes(true);
    placeTwips(listFiles, 120, 240, 3015, 3015);
    Label5 = makeLabel(Frame2, "Label5", "Files to be processed:");
    placeTwips(Label5, 120, 3360, 1695, 255);
    lbltot = makeLabel(Frame2, "lbltot", "0", true);
    placeTwips(lbltot, 1920, 3360, 1215, 255);

    Command2 = makeButton(this, "Command2", "Cancel");
    placeTwips(Command2, 6240, 3960, 1215, 375);
    Command1 = makeButton(this, "Command1", "Continue...");
    placeTwips(Command1, 7560, 3960, 1335, 375);
    Command1->setEnabled(false);

    // File1 opens where Dir1 opens; lbltotal keeps "- -" until the folder changes.
    File1->setPattern(filePattern());
    File1->setPath(Dir1->path());

    connect(Drive1, &DriveList::driveChanged, this, &frmBatch::Drive1_Change);
    connect(Dir1, &DirList::pathChanged, this, &frmBatch::Dir1_Change);
    connect(File1, &FileList::pathChanged, this, &frmBatch::File1_PathChange);
    connect(File1, &FileList::fileDoubleClicked, this, &frmBatch::CMNDAdd_Click);
    connect(CMNDAdd, &QPushButton::clicked, this, &frmBatch::CMNDAdd_Click);
    connect(Command3, &QPushButton::clicked, this, &frmBatch::Command3_Click);
    connect(listFiles, &QListWidget::itemDoubleClicked, this, &frmBatch::listFiles_DblClick);
    connect(Command4, &QPushButton::clicked, this, &frmBatch::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &frmBatch::Command5_Click);
    connect(Command1, &QPushButton::clicked, this, &frmBatch::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmBatch::Command2_Click);
}

void frmBatch::Form_Load() {
    listFiles->clear();
}

QString frmBatch::entryFor(const QString& folder, const QString& fileName) {
    // Joined as it stands: the root folder gives a doubled separator.
    return folder + QDir::separator() + fileName;
}

void frmBatch::showCount() {
    lbltot->setText(QString::number(listFiles->count()));
}

void frmBatch::clearListSelection() {
    listFiles->clearSelection();
    listFiles->setCurrentItem(nullptr);
}

void frmBatch::Drive1_Change() {
    // The drive that holds the open folder; a drive that cannot be read is
    // reported by Dir1 and the selection goes back to it.
    const QString previous = Drive1->rootFor(Dir1->path());
    if (!Dir1->setPath(Drive1->drive()))
        Drive1->setDriveSilently(previous);
}

void frmBatch::Dir1_Change() {
    const QString previous = File1->path();
    if (!File1->setPath(Dir1->path())) {
        MessageBox::show(QStringLiteral("Cannot list the files of \"") + Dir1->path() +
                             QStringLiteral("\"."),
                         this);
        Dir1->setPath(previous);
        return;
    }
    // Folders on other volumes are reachable from the folder list too.
    const QString root = Drive1->rootFor(Dir1->path());
    if (!root.isEmpty() && root != Drive1->drive())
        Drive1->setDriveSilently(root);
}

void frmBatch::File1_PathChange() {
    lbltotal->setText(QString::number(File1->fileCount()));
}

void frmBatch::CMNDAdd_Click() {
    if (File1->fileCount() == 0 || File1->selectedIndex() < 0)
        return;
    listFiles->addItem(entryFor(File1->path(), File1->selectedFileName()));
    showCount();
    clearListSelection();
    Command1->setEnabled(true);
}

void frmBatch::Command3_Click() {
    const QList<QListWidgetItem*> chosen = listFiles->selectedItems();
    if (chosen.isEmpty()) {
        Command1->setEnabled(false);
        return;
    }
    delete listFiles->takeItem(listFiles->row(chosen.first()));
    showCount();
    clearListSelection();
}

void frmBatch::listFiles_DblClick() {
    Command3_Click();
}

void frmBatch::Command4_Click() {
    const int n = File1->fileCount();
    if (n == 0)
        return;
    QStringList entries;
    entries.reserve(n);
    const QString folder = Dir1->path();
    for (int i = 0; i < n; ++i)
        entries.append(entryFor(folder, File1->fileName(i)));
    // One insertion for the whole folder; nothing can look in between, so the
    // counter is set once at the end.
    listFiles->addItems(entries);
    showCount();
    Command1->setEnabled(true);
}

void frmBatch::Command5_Click() {
    listFiles->clear();
    showCount();
    Command1->setEnabled(false);
}

void frmBatch::Command1_Click() {
    showWindow(Program::get().frmBatchSetWindow());
    hide();
}

void frmBatch::Command2_Click() {
    Program::get().unload(this);
}

} // namespace tess
