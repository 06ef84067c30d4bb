#pragma once

#include "media/Phones.h"

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>

namespace tess::media {

// How bad a finding is for the phone.
enum class Severity {
    Refuse, // the phone will refuse the file or show it wrong
    May,    // the phone may refuse or misshow it
    Hint    // works, but could be better
};

// "refuse", "may", "hint": as --json and the result lines name them.
QString severityName(Severity s);

struct Finding {
    Severity severity = Severity::Hint;
    QString code; // stable, e.g. "interlaced", "too-many-pixels", "not-a-ringtone"
    QString what; // one line: what is wrong, for this phone
    QString fix;  // one line naming the command that makes it right
};

struct Inspection {
    // By the file's own bytes, never its name:
    // png jpeg gif wbmp bmp qcp midi cmx pmd wav mp3 aac html unknown
    QString format;
    QString kind; // "picture" "sound" "page" "other"
    qint64 size = 0;
    QSize pixels;
    int bitDepth = 0;        // bits per channel (PNG), per sample (JPEG, WAV), per pixel (BMP, GIF)
    bool interlaced = false; // PNG Adam7 or progressive JPEG
    double seconds = 0;
    QString codec; // "qcelp13k" "evrc" "smv" for QCP; "pcm" etc. for WAV
    QList<Finding> findings;

    // Further facts, where the format has them.
    QString colour;      // "grey" "rgb" "palette" "grey+alpha" "rgba" "cmyk" "ycbcr"
    int frames = 0;      // animation frames (GIF, APNG); 0 when still
    int orientation = 0; // EXIF orientation 1..8; 0 when none
    int sampleRate = 0;  // sounds
    int channels = 0;    // sounds
    int midiFormat = -1; // SMF 0, 1, 2
    int midiTracks = 0;  // MTrk chunks that parse
    QString error;       // the file could not be read at all (then format is "unknown")

    bool works() const; // no Refuse finding
    // "jpeg picture, 4000x3000, 8-bit ycbcr, progressive, 2345678 bytes"
    QString summary() const;
};

// Reads at most kInspectHeadBytes of the file (a FIFO, device or folder is refused
// at once) and judges it for phone. contentType: the descriptor's Content-Type,
// when there is one, is checked against the bytes.
Inspection inspectFile(const QString& path, const PhoneProfile& phone,
                       const QString& contentType = {});

// The same for bytes already in hand (e.g. the start of a download): head is the
// first bytes, totalSize the whole file's size; fileName gives the extension.
Inspection inspectBytes(const QByteArray& head, qint64 totalSize, const QString& fileName,
                        const PhoneProfile& phone, const QString& contentType = {});

// The most of a file inspection reads: every header of interest lies in it.
inline constexpr qint64 kInspectHeadBytes = 256 * 1024;

// The command that fits a picture / makes a ringtone of a sound, for a fix line.
QString fitCommand(const PhoneProfile& phone, const QString& fileName);
QString convertCommand(const QString& fileName);

} // namespace tess::media
