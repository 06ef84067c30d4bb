#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tess::ConfigFile {

// config.cfg holds five lines in this order, no keys: blank-line state, default
// save folder, default URL, default vendor, default version.
constexpr int kLineCount = 5;

// Where config.cfg lives: the application folder.
QString defaultPath();

// What reading config.cfg gave: its first lines (at most five), or why it could
// not be read.
struct ReadResult {
    bool ok = false;
    QString reason;
    QStringList lines;
};
// Longest line read; a longer one makes the file unreadable rather than huge.
constexpr qint64 kMaxLineBytes = 4 * 1024 * 1024;
// Reads at most the five lines that count, from a regular file only: a FIFO, a
// device or a link to one is refused without reading it.
ReadResult readFile(const QString& path);

// The lines of the file's bytes, decoded as local 8-bit text. Lines end at LF,
// with or without a CR before it; a last line without a line end still counts,
// and an empty file has no lines.
QStringList parseLines(const QByteArray& bytes);

// The five lines, each ending in CR LF, encoded as local 8-bit text.
QByteArray serialise(int blankLine, const QString& saveFolder, const QString& url,
                     const QString& vendor, const QString& version);

// The check-box state a first line stands for: "0", "1" or "2" (grayed) once
// blanks are trimmed; anything else is 0.
int blankLineState(const QString& line);

// The blank-line setting a check box's state stores: "1" when ticked, else "0".
QString blankLineSetting(int boxValue);

} // namespace tess::ConfigFile
