#pragma once

#include "media/Phones.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <optional>

namespace tess::media {

enum class FitMode {
    Fit,  // the whole picture inside the wallpaper area
    Fill, // cropped (centred) to fill the wallpaper area exactly
    Pad   // fitted in the wallpaper area, padded to the full screen at the area's offset
};

struct FitOptions {
    QString format = QStringLiteral("png"); // "png", "jpeg" or "wbmp"
    FitMode mode = FitMode::Fit;
    uint background = 0xffffff; // 0xRRGGBB: under transparent parts and around a padded picture
};

struct FitResult {
    bool ok = false;
    QString reason; // set when !ok: one line naming what is wrong, with the sizes
    QSize size;     // of the written picture
    qint64 bytes = 0;
    int quality = 0; // JPEG quality, or the palette quantiser's quality (0-100) of PNG
    int colours = 0; // colours in the PNG palette
};

// The source picture oriented, scaled and laid out for the phone, before quantising: sRGB,
// 3 bytes a pixel, rows packed. Every format's writer starts from it.
struct ScaledPicture {
    bool ok = false;
    QString reason;
    QSize size;
    QByteArray rgb;
};

// Reads any JPEG, PNG, GIF, WebP, TIFF or HEIF picture (by its bytes, not its name) and
// lays it out for the phone's wallpaper area. Memory stays bounded whatever the source's size.
ScaledPicture scalePicture(const QString& source, const PhoneProfile& phone,
                           const FitOptions& options);

// Writes target (temporary file + rename) as the phone takes it: an 8-bit palette PNG with
// no interlacing and no metadata, a baseline 4:2:0 JPEG with no EXIF, or a type 0 WBMP;
// under the phone's picture cap, lowering the palette's quality or the JPEG quality step by
// step. The source is never written, even when target names it.
FitResult fitPicture(const QString& source, const QString& target, const PhoneProfile& phone,
                     const FitOptions& options);

// Starts libvips once per process, from any thread; fitPicture calls it. False when it
// cannot start (then every fit fails saying so).
bool mediaInit();

// Threads libvips uses inside one picture (default: one per core). Publish, which fits
// several pictures at once, sets one, so that --jobs N means N threads in all; 0 goes
// back to the default.
void setPictureThreads(int threads);

// "png", "jpeg", "wbmp" -> ".png", ".jpg", ".wbmp"; empty for anything else.
QString fitExtension(const QString& format);

// "#rgb", "#rrggbb" (the '#' may be left out) or a basic colour name (white, black, grey,
// red, ...) as 0xRRGGBB; nothing when it is none of these.
std::optional<uint> parseColour(const QString& text);

// "fit", "fill", "pad"
std::optional<FitMode> parseFitMode(const QString& text);

} // namespace tess::media
