#include "batch/frmBatch.h"

namespace tess {

frmBatch::frmBatch() {
    setObjectName(QStringLiteral("frmBatch"));
    setWindowTitle(QStringLiteral("Run a GCD Batch"));
}

} // namespace tess
