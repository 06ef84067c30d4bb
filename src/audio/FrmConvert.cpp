#include "audio/FrmConvert.h"

namespace tess {

FrmConvert::FrmConvert() {
    setObjectName(QStringLiteral("FrmConvert"));
    setWindowTitle(QStringLiteral("Tessavane: Audio Conversion"));
}

} // namespace tess
