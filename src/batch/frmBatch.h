#pragma once

#include "shell/Form.h"

#include <QWidget>

namespace tess {

// The batch file picker.
class frmBatch : public Form<QWidget> {
    Q_OBJECT
public:
    frmBatch();
};

} // namespace tess
