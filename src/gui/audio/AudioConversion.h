#pragma once

namespace tess::AudioConversion {

// Converts the WAV file named in FrmConvert.txtwav to a QCP file beside it by running
// the external converter on a copy in the temporary folder, logging each stage in the
// main window. Closes FrmConvert after a success, keeps it open after a failure.
void ConvertWavToQcp();

} // namespace tess::AudioConversion
