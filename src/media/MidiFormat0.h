#pragma once

#include <QByteArray>
#include <QString>

namespace tess::media {

// Standard MIDI files of format 1 (tracks played together) merged into format 0 (one
// track), which every phone plays: the same events at the same ticks, the tempo map
// first where events fall together. Headers lie: every length is checked against
// the bytes there are, and a damaged file gives the reason instead of a guess.
struct MidiResult {
    bool ok = false;
    QByteArray bytes; // the format 0 file
    QString reason;   // why not, when !ok
    int tracks = 0;   // merged
};
MidiResult midiToFormat0(const QByteArray& smf);

// The largest MIDI file read for it (4 MiB): far beyond any ringtone.
inline constexpr qint64 kMaxMidiBytes = 4 * 1024 * 1024;

} // namespace tess::media
