#pragma once

#include "shell/Form.h"

#include <QWidget>

namespace tess {

// The options window.
class FrmOptSet : public Form<QWidget> {
    Q_OBJECT
public:
    FrmOptSet();
};

} // namespace tess
