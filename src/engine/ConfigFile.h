#pragma once

#include "engine/FileOps.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tess::ConfigFile {

// config.cfg holds five lines in this order, no keys: blank-line state, default
// save folder, default URL, default vendor, default version.
constexpr int kLineCount = 5;

// Where config.cfg lives: the application folder when it holds one, or when the
// user may write there (a portable copy, a build) and it is not the folder the
// program installs into; otherwise configFolder() + "/config.cfg".
QString defaultPath();

// The user's own folder for our settings: $XDG_CONFIG_HOME/tessavane when that is
// absolute, else ~/.config/tessavane. Shared by every program of ours, whatever its file name.
QString configFolder();

// The longest line readFile takes, in bytes (4 MiB): far beyond any folder or URL,
// yet a broken file cannot make the program read without end.
constexpr qint64 kMaxLineBytes = 4 * 1024 * 1024;

// What reading config.cfg gave: up to kLineCount lines, or why it could not be read.
struct ReadResult {
    bool ok = true;
    QStringList lines; // at most kLineCount; fewer when the file is shorter
    QString reason;    // set when !ok, e.g. "it is not a regular file"
};

// Reads the first kLineCount lines of the file at path (as parseLines splits them)
// and nothing after them. Only a regular file is read: a FIFO, a device, a link to
// one or a folder is refused without waiting on it; so is a line longer than
// kMaxLineBytes.
ReadResult readFile(const QString& path);

// Writes the five lines to path through FileOps::replaceFile. A value holding CR,
// LF or NUL would break the file's lines: refused, naming the field, and nothing
// is written.
FileResult save(const QString& path, int blankLine, const QString& saveFolder, const QString& url,
                const QString& vendor, const QString& version);

// The lines of the file's bytes, decoded as UTF-8 (Qt 6's local 8-bit text on Linux). Lines end at
// LF, with or without a CR before it; a last line without a line end still counts, and an empty
// file has no lines.
QStringList parseLines(const QByteArray& bytes);

// The five lines, each ending in CR LF, encoded as UTF-8 (Qt 6's local 8-bit text on
// Linux, whatever the locale).
QByteArray serialise(int blankLine, const QString& saveFolder, const QString& url,
                     const QString& vendor, const QString& version);

// The check-box state a first line stands for: "0", "1" or "2" (grayed) once
// blanks are trimmed; anything else is 0.
int blankLineState(const QString& line);

// The blank-line setting a check box's state stores: "1" when ticked, else "0".
QString blankLineSetting(int boxValue);

} // namespace tess::ConfigFile
