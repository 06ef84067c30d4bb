#pragma once

#include "engine/FileOps.h"

#include <QByteArray>
#include <QChar>
#include <QDir>
#include <QString>

namespace tess {

// The six values of one GCD content descriptor, written verbatim.
struct DescriptorFields {
    QString type;
    QString name;
    QString version;
    QString vendor;
    QString url;
    QString size;
};

// The descriptor's bytes: an optional empty first line, then the six Content-
// lines, each ending in CR LF, in UTF-8 (Qt's local 8-bit encoding on Linux).
QByteArray descriptorBytes(const DescriptorFields& fields, bool blankFirstLine);

// The first field whose value holds CR, LF or NUL, as its line's name
// ("Content-URL"); empty when every value keeps to its line.
QString fieldBreakingLine(const DescriptorFields& fields);

// Why a descriptor with these fields may not be written at path: a value or the
// path holding CR, LF or NUL. Empty when it may.
QString descriptorProblem(const QString& path, const DescriptorFields& fields);

// Writes the descriptor at path through FileOps::replaceFile. A value holding CR,
// LF or NUL would forge or break lines: nothing is written then.
FileResult writeDescriptor(const QString& path, const DescriptorFields& fields,
                           bool blankFirstLine);

// save folder + separator + name + ".gcd", joined as plain text (nothing trimmed).
QString descriptorPath(const QString& saveFolder, const QString& name,
                       QChar separator = QDir::separator());

// The status log's separator line around "GCD File Created at: ".
QString logSeparatorLine();

} // namespace tess
