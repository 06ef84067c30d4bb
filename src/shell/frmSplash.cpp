#include "shell/frmSplash.h"

namespace tess {

frmSplash::frmSplash() {
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QStringLiteral(""));
}

} // namespace tess
