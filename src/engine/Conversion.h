#pragma once

#include <QString>
#include <functional>

namespace tess::Conversion {

// Where a conversion stopped.
enum class Stage {
    None,       // it did not stop: the QCP file is written
    TempFolder, // the temporary folder could not be used
    CopyIn,     // the WAV file could not be copied into it
    Start,      // the converter could not be started
    Output,     // the converter ended without an output file
    CopyBack,   // the QCP file could not be written
    CleanUp     // a temporary file could not be removed (the QCP file is written)
};

struct Result {
    Stage stage = Stage::None;
    QString logLine; // the failing stage's log line (already passed to Hooks::log)
    QString message; // what to tell the user
    QString notice;  // something the user should hear of though all went well (a link replaced)
    // What the converter wrote on its error output (Hooks::keepConverterErrors), at
    // most 4 KiB, with the run's temp.wav path replaced by the WAV file's own.
    QString converterSaid;
    bool ok() const { return stage == Stage::None; }
};

struct Hooks {
    // Each log line as the stages pass, the failing stage's line included.
    std::function<void(const QString& line)> log;
    // The converter has ended; its output is looked for next.
    std::function<void()> converterEnded;
    // Keep the converter's error output in Result::converterSaid rather than let it
    // through to ours (the command line words the failure itself).
    bool keepConverterErrors = false;
};

// Everything about a WAV file that the converter refuses, read from its header
// (a few bytes of each of at most 64 chunks): not a WAV file (and what it is instead), not
// integer PCM, not 8000 Hz, not mono, not 8 or 16 bits, no data. Each a short
// phrase ("44100 Hz, not 8000 Hz"); empty when the header is fit to convert, or
// when the file cannot be read (the conversion then says why).
QStringList inputProblems(const QString& wavPath);

// Converts the WAV file at wavPath into the QCP file at qcpPath (replaced through a
// temporary file beside it). Works in a fresh private folder made for this run inside
// AudioPaths::tempFolder(): the WAV is copied there as temp.wav, the converter
// (AudioPaths::converterPath(), by its exact path, temp.wav its one argument) writes
// temp.qcp beside it, which is copied to qcpPath. The run's folder and whatever is in
// it are removed afterwards, after a failure too, and should a signal end the
// process (see Teardown). Blocks until the converter ends.
Result run(const QString& wavPath, const QString& qcpPath, const Hooks& hooks = {});

} // namespace tess::Conversion
