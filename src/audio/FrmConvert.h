#pragma once

#include "shell/Form.h"

#include <QWidget>

namespace tess {

// The WAV-to-QCP conversion window.
class FrmConvert : public Form<QWidget> {
    Q_OBJECT
public:
    FrmConvert();
};

} // namespace tess
