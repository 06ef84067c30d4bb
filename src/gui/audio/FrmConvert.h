#pragma once

#include "shell/Form.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

namespace tess {

class TextBox;

// "Tessavane: Audio Conversion": picks one WAV file and converts it to QCP beside it.
// No load-time code: every opening starts with an empty path box.
class FrmConvert : public Form<QWidget> {
    Q_OBJECT
public:
    FrmConvert();

    void Command1_Click(); // ">": browse
    void Command2_Click(); // "Convert WAV"
    void Command3_Click(); // "Cancel"

    QGroupBox* Frame1;
    QLabel* Label1;
    TextBox* txtwav;
    QPushButton* Command1;
    QLabel* Label2;
    QLabel* Label3;
    QPushButton* Command3;
    QPushButton* Command2;
};

} // namespace tess
