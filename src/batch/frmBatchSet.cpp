#include "batch/frmBatchSet.h"

#include "platform/Controls.h"

namespace tess {

frmBatchSet::frmBatchSet() {
    setObjectName(QStringLiteral("frmBatchSet"));
    setWindowTitle(QStringLiteral("Batch Settings"));
    txtsave = named(new TextBox(this), "txtsave");
}

} // namespace tess
