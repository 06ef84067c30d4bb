#pragma once

#include "shell/Form.h"

#include <QWidget>

class QLabel;
class QTimer;

namespace tess {

// The start-up window: a picture, the version and a blinking "LOADING..." for
// 3.5 seconds; then it shows the main window and closes.
class frmSplash : public Form<QWidget> {
    Q_OBJECT
public:
    frmSplash();

    void Form_Load() override;
    void tmr1_Timer();
    void Timer1_Timer();

    QTimer* Timer1;
    QTimer* tmr1;
    QLabel* Image1;
    QLabel* lblload;
    QLabel* Label1;

private:
    bool ended_ = false;
};

} // namespace tess
