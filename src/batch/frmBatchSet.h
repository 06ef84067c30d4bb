#pragma once

#include "shell/Form.h"

#include <QWidget>

namespace tess {

// The batch settings window.
class frmBatchSet : public Form<QWidget> {
    Q_OBJECT
public:
    frmBatchSet();
};

} // namespace tess
