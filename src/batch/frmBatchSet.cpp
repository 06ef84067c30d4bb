#include "batch/frmBatchSet.h"

namespace tess {

frmBatchSet::frmBatchSet() {
    setObjectName(QStringLiteral("frmBatchSet"));
    setWindowTitle(QStringLiteral("Batch Settings"));
}

} // namespace tess
