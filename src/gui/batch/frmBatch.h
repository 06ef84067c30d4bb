#pragma once

#include "shell/Form.h"

#include <QWidget>

class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace tess {

class DirList;
class DriveList;
class FileList;

// The batch file picker: the user browses folders and builds the batch list,
// the full paths of the media files one batch run describes.
class frmBatch : public Form<QWidget> {
    Q_OBJECT
public:
    frmBatch();

    void Form_Load() override;

    // The pattern File1 lists; matched without regard to case.
    static QString filePattern();

    // Handlers, named after their control and event.
    void Drive1_Change();
    void Dir1_Change();
    void File1_PathChange();
    void CMNDAdd_Click();
    void Command3_Click();
    void listFiles_DblClick();
    void Command4_Click();
    void Command5_Click();
    void Command1_Click();
    void Command2_Click();

    // Controls.
    QGroupBox* Frame1;
    QLabel* Label1;
    DirList* Dir1;
    QLabel* Label2;
    FileList* File1;
    DriveList* Drive1;
    QLabel* Label3;
    QLabel* lbltotal;
    QPushButton* CMNDAdd;
    QPushButton* Command3;
    QFrame* Line1;
    QPushButton* Command4;
    QPushButton* Command5;
    QGroupBox* Frame2;
    QListWidget* listFiles;
    QLabel* Label5;
    QLabel* lbltot;
    QPushButton* Command2;
    QPushButton* Command1;

private:
    void showCount();
    void clearListSelection();
    static QString entryFor(const QString& folder, const QString& fileName);
};

} // namespace tess
