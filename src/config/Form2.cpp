#include "config/Form2.h"

namespace tess {

Form2::Form2() {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Save GCD To Folder:"));
}

} // namespace tess
