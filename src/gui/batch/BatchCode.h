#pragma once

namespace tess::BatchCode {

// Copies the batch settings into the main window and writes one descriptor per
// entry of the batch list through the main window's own steps, then logs a
// summary. An entry that fails is logged and the run goes on with the next.
void RunBatch();

} // namespace tess::BatchCode
