#pragma once

#include <QChar>
#include <QDir>
#include <QString>
#include <optional>

namespace tess {

// The text after the last separator of a path; a path without a separator is a
// file in the current folder and is its own name. Never none; kept optional for
// the callers that refuse an empty name.
std::optional<QString> fileNameOfPath(const QString& path, QChar separator = QDir::separator());

// The Content-Name of a file name: its last four characters dropped, whatever they
// are ("photo.jpeg" gives "photo."). None when the name is shorter than four.
std::optional<QString> contentNameOf(const QString& fileName);

// The auto URL base of a URL: unchanged when it ends in "/", else with "/" appended.
QString autoUrlBaseOf(const QString& url);

// A file name as one path segment of a URL: its UTF-8 bytes with every byte other
// than letters, digits, "-", ".", "_" and "~" written as %XX (upper-case hex), so
// "My Ring #1.qcp" gives "My%20Ring%20%231.qcp". Plain names come back unchanged.
// Every URL made from a file name goes through here.
QString urlPathSegment(const QString& fileName);

// Auto URL ReNaming's Content-URL: the base followed by the file name as a URL
// path segment.
QString autoUrlFor(const QString& base, const QString& fileName);

} // namespace tess
