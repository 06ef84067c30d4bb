#pragma once

#include "core/StepError.h"

namespace tess::Steps {

// Opens Step 2 and selects the type option matching the selected file's ending.
void EnableStep2();
// Opens Step 3 (the attribute fields) and Step 4.
void EnableStep3();
// Opens Step 4 (the Make button).
void EnableStep4();
// Fills name and size from the selected file path and applies Auto URL ReNaming.
// Throws StepError when the path has no name, the name is too short or the file is gone.
void FillFileAttributes();
// Writes the descriptor from the main window's fields and logs where. Throws
// StepError when it cannot be written; then nothing is logged.
void MakeGcd();

} // namespace tess::Steps
