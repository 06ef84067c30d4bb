#pragma once

#include <QString>

namespace tess {

// A step of the descriptor workflow that could not be done. The intake drops it
// silently, the Make button shows it, a batch run logs it and goes on.
struct StepError {
    QString message;
};

} // namespace tess
