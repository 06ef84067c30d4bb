#pragma once

// The media work that needs the big libraries (libvips, FFmpeg, libebur128) lives in
// a module of its own, tessavane-codecs.so, loaded the first time it is needed: a
// program that only reads a manifest or writes descriptors starts in milliseconds
// instead of loading some 150 libraries. Fit.h and Sound.h are the public face;
// their functions call through this table.
#include "engine/Teardown.h"
#include "media/Fit.h"
#include "media/Sound.h"

namespace tess::media {

// Grows only at its end; version says how much of it a module fills.
struct CodecTable {
    int version;
    bool (*init)();
    ScaledPicture (*scalePicture)(const QString& source, const PhoneProfile& phone,
                                  const FitOptions& options);
    FitResult (*fitPicture)(const QString& source, const QString& target, const PhoneProfile& phone,
                            const FitOptions& options);
    void (*setPictureThreads)(int threads);
    SoundResult (*makeRingtone)(const QString& source, const QString& target,
                                const SoundOptions& options, const QString& pvconvPath,
                                const std::atomic_bool* cancel);
    bool (*looksLikeSound)(const QString& path);
    DecodedSound (*decodeTo8kMono)(const QString& path, double maxSeconds);
};
inline constexpr int kCodecTableVersion = 1;
inline constexpr char kCodecEntry[] = "tess_codecs_v1";
inline constexpr char kCodecModuleName[] = "tessavane-codecs.so";

// The module's one entry point: hands it the program's clean-up registrations and
// returns its table.
using CodecEntry = const CodecTable* (*)(const Teardown::Registrations* program);

// The real work, inside the module.
namespace codec {
bool mediaInit();
void setPictureThreads(int threads);
ScaledPicture scalePicture(const QString& source, const PhoneProfile& phone,
                           const FitOptions& options);
FitResult fitPicture(const QString& source, const QString& target, const PhoneProfile& phone,
                     const FitOptions& options);
SoundResult makeRingtone(const QString& source, const QString& target, const SoundOptions& options,
                         const QString& pvconvPath, const std::atomic_bool* cancel);
bool looksLikeSound(const QString& path);
DecodedSound decodeTo8kMono(const QString& path, double maxSeconds);
} // namespace codec

// In the program: the loaded table, or null with why (the module's path and reason).
const CodecTable* codecs(QString* reason = nullptr);

} // namespace tess::media
