#pragma once

#include "shell/Form.h"

#include <QWidget>

namespace tess {

class TextBox;

// The batch settings window.
class frmBatchSet : public Form<QWidget> {
    Q_OBJECT
public:
    frmBatchSet();

    TextBox* txtsave;
};

} // namespace tess
