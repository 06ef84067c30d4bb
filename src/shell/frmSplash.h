#pragma once

#include "shell/Form.h"

#include <QWidget>

namespace tess {

// The start-up splash window.
class frmSplash : public Form<QWidget> {
    Q_OBJECT
public:
    frmSplash();
};

} // namespace tess
