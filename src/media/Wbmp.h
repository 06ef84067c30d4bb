#pragma once

#include <QByteArray>

namespace tess::media {

// A type 0 WBMP (WAP's wireless bitmap: no compression, 1 bit a pixel, 1 = white) of a
// packed 8-bit sRGB picture, 3 bytes a pixel. The grey levels are error-diffused
// (Floyd-Steinberg, serpentine), so mid-tones stay mid-tones in black and white.
QByteArray wbmpFromRgb(const QByteArray& rgb, int width, int height);

// The multibyte integer of the WAP formats: 7 bits a byte, most significant first,
// the top bit set on every byte but the last.
QByteArray wbmpMultibyte(quint32 value);

} // namespace tess::media
