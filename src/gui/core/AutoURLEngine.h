#pragma once

namespace tess::AutoURLEngine {

// Writes auto URL base + selected file name into the main window's URL box when
// the mode is on; activate = true also switches it on.
void ApplyAutoURL(bool activate);

} // namespace tess::AutoURLEngine
