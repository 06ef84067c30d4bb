#pragma once

#include "shell/Form.h"

#include <QWidget>

namespace tess {

// The About window.
class frmAbout : public Form<QWidget> {
    Q_OBJECT
public:
    frmAbout();
};

} // namespace tess
