#pragma once

#include <QChar>
#include <QDir>
#include <QString>
#include <optional>

namespace tess {

// The text after the last separator of a path; none when the path has no separator.
std::optional<QString> fileNameOfPath(const QString& path, QChar separator = QDir::separator());

// The Content-Name of a file name: its last four characters dropped, whatever they
// are ("photo.jpeg" gives "photo."). None when the name is shorter than four.
std::optional<QString> contentNameOf(const QString& fileName);

// The auto URL base of a URL: unchanged when it ends in "/", else with "/" appended.
QString autoUrlBaseOf(const QString& url);

// Auto URL ReNaming's Content-URL: the base followed by the file name.
QString autoUrlFor(const QString& base, const QString& fileName);

} // namespace tess
