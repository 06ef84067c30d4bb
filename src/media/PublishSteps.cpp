// The media steps publish drives, as this build has them.
#include "media/Fit.h"
#include "media/Inspect.h"
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
    steps.inspect = [](const QString& path, const PhoneProfile& phone) {
        QStringList lines;
        for (const Finding& f : inspectFile(path, phone).findings) {
            const char* level = f.severity == Severity::Refuse ? "refuse: "
                                : f.severity == Severity::May  ? "may: "
                                                               : "hint: ";
            lines << QLatin1String(level) + f.what +
                         (f.fix.isEmpty() ? QString()
                                          : QStringLiteral(" (") + f.fix + QLatin1Char(')'));
        }
        return lines;
    };
    steps.threadsPerStep = [](int threads) { setPictureThreads(threads); };
    return steps;
}

} // namespace tess::media
