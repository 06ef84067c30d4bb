#pragma once

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

// The user's own folder for our settings: $XDG_CONFIG_HOME/tessavane, by default
// ~/.config/tessavane. Shared by every program of ours, whatever its file name.
QString configFolder();

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
