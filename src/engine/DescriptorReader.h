#pragma once

#include "engine/Descriptor.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tess {

// A descriptor is six short lines; anything bigger is not one.
inline constexpr qint64 kDescriptorReadLimit = 64 * 1024;

// Something in a Content-URL that keeps a phone from its file, and the fix.
struct UrlFinding {
    QString reason;
    QString fix;
};

// What a phone makes of a Content-URL's characters, as it sends them unchanged: a
// space or control character breaks its request, "#" cuts the URL short, "?" starts
// a query, and a final "/" names a folder. Empty when none of these is there. The
// reasons quote shownAs (the URL as it may be shown, e.g. without a password),
// which is the URL itself when empty.
QList<UrlFinding> contentUrlFindings(const QString& url, const QString& shownAs = {});

// What a descriptor holds and everything wrong with it.
struct DescriptorReport {
    DescriptorFields fields;
    bool blankFirstLine = false;
    // The file could not be read at all (missing, a folder, no permission).
    QString readError;
    // Each a short English sentence; empty when the descriptor is well formed.
    QStringList problems;
    // What is wrong with Content-URL's characters (contentUrlFindings), with fixes.
    QList<UrlFinding> urlFindings;
    // The media file beside the descriptor, when one was found, and its size.
    QString mediaPath;
    qint64 mediaSize = -1;

    bool ok() const { return readError.isEmpty() && problems.isEmpty() && urlFindings.isEmpty(); }
};

// Reads a descriptor's bytes: line count and ends, field names and order, the
// type and the size's digits.
DescriptorReport readDescriptor(const QByteArray& bytes);

// Reads a descriptor file (at most kDescriptorReadLimit bytes of it) and, when the
// media file named by Content-URL lies beside it, compares its size with Content-Size.
DescriptorReport readDescriptorFile(const QString& path);

// The file name at the end of a Content-URL, decoded; empty when there is none or
// it could step out of a folder.
QString mediaFileNameOf(const QString& url);

// Whether a Content-Size value is one or more decimal digits and nothing else.
bool isDecimalSize(const QString& size);

// The six field names in the order a descriptor holds them.
const QStringList& descriptorFieldNames();

} // namespace tess
