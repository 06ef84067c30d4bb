#pragma once

#include "shell/Form.h"

#include <QWidget>

namespace tess {

// The save-folder chooser.
class Form2 : public Form<QWidget> {
    Q_OBJECT
public:
    Form2();
};

} // namespace tess
