#pragma once

#include <QByteArray>
#include <QString>

namespace tess {

// How many first bytes of a file tell its format.
inline constexpr int kSniffBytes = 64;

// A file's format by its first bytes: "png", "jpeg", "gif", "bmp", "qcp", "midi",
// "wav", "mp3", "aac", "html", or empty when they tell nothing sure (WBMP and CMX
// have no reliable mark).
QString sniffFormat(const QByteArray& head);

// The format a descriptor's Content-Type promises; empty when the type is no
// content type or its files have no mark to tell them by.
QString formatOfContentType(const QString& mime);

// "an MP3 recording", "a Windows BMP picture", ... for a sniffFormat() code.
QString formatDescription(const QString& format);

} // namespace tess
