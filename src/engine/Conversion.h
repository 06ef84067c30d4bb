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
    bool ok() const { return stage == Stage::None; }
};

struct Hooks {
    // Each log line as the stages pass, the failing stage's line included.
    std::function<void(const QString& line)> log;
    // The converter has ended; its output is looked for next.
    std::function<void()> converterEnded;
};

// Converts the WAV file at wavPath into the QCP file at qcpPath (replaced through a
// temporary file beside it). Works in a fresh private folder made for this run inside
// AudioPaths::tempFolder(): the WAV is copied there as temp.wav, the converter
// (AudioPaths::converterPath(), by its exact path, temp.wav its one argument) writes
// temp.qcp beside it, which is copied to qcpPath. The run's folder and whatever is in
// it are removed afterwards, after a failure too, and should a signal end the
// process (see Teardown). Blocks until the converter ends.
Result run(const QString& wavPath, const QString& qcpPath, const Hooks& hooks = {});

} // namespace tess::Conversion
