#include "shell/frmAbout.h"

namespace tess {

frmAbout::frmAbout() {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Tessavane"));
}

} // namespace tess
