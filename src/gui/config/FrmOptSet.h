#pragma once

#include "shell/Form.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

namespace tess {

class CheckBox;
class TextBox;

// "Tessavane: Set Options": edits the five defaults of config.cfg.
class FrmOptSet : public Form<QWidget> {
    Q_OBJECT
public:
    FrmOptSet();

    void Form_Load() override;
    void chkBlankline_Click();
    void Cmndbrowse_Click();
    void CMNDOK_Click();
    void CMNDCANCEL_Click();

    QGroupBox* Frame1;
    CheckBox* chkBlankline;
    QLabel* Label1;
    TextBox* txtGCD;
    QPushButton* Cmndbrowse;
    QLabel* Label3;
    QLabel* Label2;
    TextBox* txtURL;
    QLabel* Label4;
    QLabel* Label5;
    TextBox* txtVendor;
    QLabel* Label6;
    QLabel* Label7;
    TextBox* txtVersion;
    QLabel* Label8;
    QPushButton* CMNDCANCEL;
    QPushButton* CMNDOK;
};

} // namespace tess
