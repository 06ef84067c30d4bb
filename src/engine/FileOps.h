#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>

namespace tess {

// What a failed file operation says to the user.
struct FileResult {
    FileResult() = default;
    FileResult(bool ok_, QString reason_) : ok(ok_), reason(std::move(reason_)) {}
    bool ok = true;
    QString reason; // set when !ok, e.g. "No such file or directory"
    QString notice; // set when ok but the user should hear of something: a link replaced
    explicit operator bool() const { return ok; }
};

namespace FileOps {

bool fileExists(const QString& path);
bool folderExists(const QString& path);
// The size in bytes of the regular file at path; none when there is no such file.
std::optional<qint64> fileSize(const QString& path);

// Replaces (or creates) the file at path with bytes: written to a temporary file
// beside it and renamed over it only when complete, so a failure leaves any old
// file untouched and no half file behind. A link is written through only while it
// and what it leads to are the user's own; any other link is replaced by the new
// file (what it led to is untouched) and notice says so. Every step is taken
// relative to the open folder, so no part of the path can be swapped meanwhile. An
// existing file keeps its mode, and its owner and group where the process may set
// them; a read-only file is not forced. When its folder allows no new file (or no rename
// over it) but the file itself is writable, it is written in place.
FileResult replaceFile(const QString& path, const QByteArray& bytes);

// Whether copyFile may read its source through a symbolic link.
enum class SourceLink { Follow, Refuse };

// Copies the regular file src to dst, replacing dst, in bounded chunks: memory
// does not grow with the size. Same safety as replaceFile.
FileResult copyFile(const QString& src, const QString& dst,
                    SourceLink sourceLink = SourceLink::Follow);

// Copies the regular file src to a new file dst (mode 0600) that must not exist
// yet: nothing in dst's place, not even a link, is ever followed or replaced.
// A failed copy leaves no dst behind.
FileResult copyToNewFile(const QString& src, const QString& dst);

FileResult deleteFile(const QString& path);

#ifndef _WIN32
// copyToNewFile into the entry name of the open folder dir.
FileResult copyToNewFileAt(const QString& src, int dir, const QByteArray& name);
// copyFile from the regular file name in the open folder dir, never through a link.
FileResult copyFileFromAt(int dir, const QByteArray& name, const QString& dst);
#endif

} // namespace FileOps
} // namespace tess
