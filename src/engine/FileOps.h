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
// file untouched and no half file behind.
FileResult replaceFile(const QString& path, const QByteArray& bytes);

// Copies src to dst, replacing dst. Same safety as replaceFile.
FileResult copyFile(const QString& src, const QString& dst);
FileResult deleteFile(const QString& path);

} // namespace FileOps
} // namespace tess
