#pragma once

#include "shell/Form.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

namespace tess {

class TextBox;

// "GCD Attributes: Auto URL ReNaming": switches the renaming on with a base URL.
class FrmGetURL : public Form<QWidget> {
    Q_OBJECT
public:
    FrmGetURL();
    void Form_Load() override;
    void CMNDOK_Click();
    void CMNDCANCEL_Click();

    QLabel* Label1;
    QGroupBox* Frame1;
    TextBox* txtautoURL;
    QPushButton* CMNDCANCEL;
    QPushButton* CMNDOK;
};

} // namespace tess
