#pragma once

#include "shell/Form.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace tess {

class DirList;
class DriveList;

// "Save GCD To Folder:": picks a save folder. Where it goes is decided by the auto
// URL busy flag when OK is pressed: set = the options window, clear = the main and
// batch settings windows.
class Form2 : public Form<QWidget> {
    Q_OBJECT
public:
    Form2();

    void Form_Load() override;
    void Drive1_Change();
    void CMNDOK_Click();
    void CMNDCNCL_Click();

    DirList* Dir1;
    DriveList* Drive1;
    QLabel* Label1;
    QPushButton* CMNDOK;
    QPushButton* CMNDCNCL;
};

} // namespace tess
