#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tess {

// What a failed file operation says to the user.
struct FileResult {
    bool ok = true;
    QString reason; // set when !ok, e.g. "No such file or directory"
    explicit operator bool() const { return ok; }
};

namespace FileOps {

bool fileExists(const QString& path);
bool folderExists(const QString& path);
// The size in bytes of the regular file at path; none when there is no such file.
std::optional<qint64> fileSize(const QString& path);

// Replaces (or creates) the file at path with bytes: written to a temporary file
// beside it and renamed over it only when complete, so a failure leaves any old
// file untouched and no half file behind. A link is written through; an existing
// file keeps its mode, and its owner and group where the process may set them; a
// read-only file is not forced. When its folder allows no new file (or no rename
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

} // namespace FileOps
} // namespace tess
