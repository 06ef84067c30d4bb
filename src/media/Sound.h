#pragma once

#include "media/Phones.h"

#include <QString>
#include <atomic>
#include <vector>

namespace tess::media {

struct SoundOptions {
    bool normalize = true;
    double targetLufs = -16;  // integrated loudness (EBU R128) after normalising
    double truePeakDb = -1;   // the gain is lowered so that no true peak passes this
    double startSeconds = 0;  // where the ringtone starts in the source
    double maxSeconds = 30;   // its longest length; 0 for the whole source
    double fadeSeconds = 0.5; // fade-out when the source is cut at maxSeconds
};

// Where a conversion stopped.
enum class SoundStage {
    None,       // done: target written
    Input,      // the source cannot be read or decoded
    TempFolder, // the private run folder could not be made
    Start,      // pvconv could not be started
    Converter,  // pvconv ended without a QCP file
    Output,     // the target could not be written
    Cancelled
};

struct SoundResult {
    bool ok = false;
    QString reason;      // one line, without the file's name
    double seconds = 0;  // length of the ringtone
    qint64 bytes = 0;    // of the QCP file
    double gainDb = 0;   // applied by normalising
    double loudness = 0; // of the source window in LUFS, when normalising
    QString notice;      // all went well, but the user should hear of this (a link replaced)
    SoundStage stage = SoundStage::None;
};

// Decodes any audio FFmpeg reads, makes it 8 kHz mono (libswresample with its soxr
// engine), normalises its loudness, trims and fades it, and streams it through a pipe
// in a private run folder into pvconv (started by its exact path, the pipe its one
// argument), which encodes while the next block is decoded. The QCP file is copied to
// target through a temporary file and a rename; the run folder goes in every case.
// Memory stays flat in the source's length. cancel may be null; checked often.
SoundResult makeRingtone(const QString& source, const QString& target, const SoundOptions& options,
                         const QString& pvconvPath, const std::atomic_bool* cancel = nullptr);

// FFmpeg can open it and it has an audio stream.
bool looksLikeSound(const QString& path);

// Decodes a file (a .qcp with FFmpeg's QCELP decoder, as a phone would) to 8 kHz mono
// 16-bit samples. Empty reason when it went well.
struct DecodedSound {
    std::vector<int16_t> samples;
    QString reason;
};
DecodedSound decodeTo8kMono(const QString& path, double maxSeconds = 0);

// Empty when bytes fit the phone's ringer limit, else how far over and what to do.
QString ringerSizeProblem(qint64 bytes, double seconds, const PhoneProfile& phone);

} // namespace tess::media
