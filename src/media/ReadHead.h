#pragma once

#include <QByteArray>
#include <QString>

namespace tess::media {

// The first bytes of a file, read without waiting: a FIFO, a device or a folder is
// refused at once (opened non-blocking, then checked to be a regular file), and no
// more than maxBytes are ever read, whatever the file's size.
struct Head {
    bool ok = false;
    QString reason;   // why it could not be read, e.g. "it is not a regular file"
    QByteArray bytes; // at most maxBytes
    qint64 size = 0;  // the whole file's size
};

Head readHead(const QString& path, qint64 maxBytes);

} // namespace tess::media
