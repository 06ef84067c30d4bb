#pragma once

#include "engine/Descriptor.h"

#include <QString>
#include <optional>

namespace tess {

// Why a media file's path cannot name a descriptor's file: a line break or NUL
// in its name, or a name that is not valid UTF-8. None when the name is usable.
std::optional<QString> mediaNameProblem(const QString& path);

// What a media file gives its descriptor.
struct MediaFacts {
    QString fileName;    // after the last "/", extension included
    QString contentName; // the file name without its last four characters
    QString size;        // decimal digits
    int typeRow = -1;    // row of the content-type table, -1 when no key matches
};

// The facts of the media file at path, or why there are none.
struct MediaIntake {
    std::optional<MediaFacts> facts;
    QString reason;
};
MediaIntake inspectMedia(const QString& path);

// Everything a descriptor takes besides the media file: what the windows keep in
// the Step 3 boxes and config.cfg.
struct MakeSettings {
    QString saveFolder;
    QString version;
    QString vendor;
    QString url;                        // Content-URL when no base is set
    std::optional<QString> autoUrlBase; // Auto URL ReNaming: base + file name
    QString typeOverride;               // MIME type for every file; empty: by extension
    bool blankLine = false;
};

// The descriptor a media file gets, or why it gets none.
struct Made {
    bool ok = false;
    QString reason;
    QString path;   // the descriptor's path, set once known
    QString notice; // written, but the user should hear of something (a link replaced)
    DescriptorFields fields;
    QByteArray bytes; // what prepareDescriptor made ready to write
};

// The fields and path of media's descriptor, without writing anything.
Made planDescriptor(const QString& mediaPath, const MakeSettings& settings);

// Plans the descriptor and makes its bytes, refusing values that would break a
// line; nothing is written yet.
Made prepareDescriptor(const QString& mediaPath, const MakeSettings& settings);
// Writes what prepareDescriptor made ready; made tells the outcome.
void finishDescriptor(Made& made);

// Plans and writes one descriptor, the same bytes the main window writes for the
// same file and values.
Made makeDescriptor(const QString& mediaPath, const MakeSettings& settings);

} // namespace tess
