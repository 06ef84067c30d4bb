// The media steps publish drives, as this build has them.
#include "media/Publish.h"

namespace tess::media {

MediaSteps defaultMediaSteps(const QString& pvconvPath) {
    Q_UNUSED(pvconvPath);
    MediaSteps steps;
    return steps;
}

} // namespace tess::media
