// The media steps publish drives, as this build has them.
#include "media/Fit.h"
#include "media/Publish.h"
#include "media/Sound.h"

namespace tess::media {

MediaSteps defaultMediaSteps(const QString& pvconvPath) {
    MediaSteps steps;
    steps.looksLikeSound = [](const QString& path) { return looksLikeSound(path); };
    steps.ringtone = [pvconvPath](const QString& source, const QString& target,
                                  const std::atomic_bool* cancel) {
        const SoundResult r = makeRingtone(source, target, SoundOptions(), pvconvPath, cancel);
        return StepResult{r.ok, r.reason};
    };
    steps.fitPicture = [](const QString& source, const QString& target, const PhoneProfile& phone,
                          const QString& format) {
        FitOptions options;
        options.format = format;
        const FitResult r = fitPicture(source, target, phone, options);
        return StepResult{r.ok, r.reason};
    };
    return steps;
}

} // namespace tess::media
