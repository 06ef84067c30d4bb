#pragma once

#include "shell/Form.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

namespace tess {

class CheckBox;
class PictureBox;
class TextBox;

// The batch settings window: the attributes every descriptor of a batch shares.
class frmBatchSet : public Form<QWidget> {
    Q_OBJECT
public:
    frmBatchSet();

    void Form_Load() override;

    // Handlers, named after their control and event.
    void chkBlankline_Click();
    void Cmndbrowse_Click();
    void Command3_Click();
    void Command2_Click();
    void cmndRun_Click();

    // Controls.
    QGroupBox* Frame1;
    CheckBox* chkBlankline;
    QLabel* Label1;
    TextBox* txtsave;
    QPushButton* Cmndbrowse;
    QLabel* Label2;
    TextBox* txtVersion;
    QLabel* Label3;
    TextBox* txtVendor;
    QLabel* Label4;
    TextBox* txtURL;
    PictureBox* Image1;
    QPushButton* Command3;
    QPushButton* Command2;
    QPushButton* cmndRun;

private:
    void copyFromMainWindow();
};

} // namespace tess
