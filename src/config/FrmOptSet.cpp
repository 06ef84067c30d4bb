#include "config/FrmOptSet.h"

namespace tess {

FrmOptSet::FrmOptSet() {
    setObjectName(QStringLiteral("FrmOptSet"));
    setWindowTitle(QStringLiteral("Tessavane: Set Options"));
}

} // namespace tess
