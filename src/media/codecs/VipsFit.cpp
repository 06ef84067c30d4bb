#include "media/codecs/Codecs.h"

#include "engine/FileOps.h"
#include "media/Wbmp.h"

#include <QFileInfo>
#include <QHash>
#include <QtEndian>
#include <cmath>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips8>

namespace tess::media::codec {

namespace {

using vips::VError;
using vips::VImage;
using vips::VSource;

// A 20,000 x 20,000 scan still fits; a header claiming more is refused before any pixel is
// read, since decoding it would take minutes even though memory stays bounded.
constexpr double kMaxSourcePixels = 1.0e9;
constexpr int kMaxSide = 200000;
// No phone screen comes near this; a user's profile with more is a typing error.
constexpr int kMaxScreenSide = 4096;
// Formats that cannot be read line by line (progressive JPEG, interlaced PNG, GIF, WebP, HEIF)
// are decoded whole. A progressive camera photo of 12 megapixels (about 80 MB, 110 MB at the
// peak) is what people have and is taken; beyond this the program would grow past 150 MB.
constexpr double kWholeDecodeBytes = 128e6;
// libimagequant's effort (1-10). At phone size 5 is within 0.1 dB of 7 and 10 in half the
// time of 7; at 3 and below its refining passes stop and 2 dB are lost.
constexpr int kQuantiseEffort = 5;

// Loaders for the formats users' pictures come in; nothing that runs an outside program or
// parses documents.
const char* const kLoaders[] = {"jpegload_source", "pngload_source",  "gifload_source",
                                "webpload_source", "tiffload_source", "heifload_source"};

void quietLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

QString vipsReason(const VError& e) {
    // libvips prefixes each line with the class that failed; the first line says the most.
    QString text = QString::fromUtf8(e.what()).trimmed();
    vips_error_clear();
    text = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    const int colon = text.indexOf(QLatin1String(": "));
    if (colon > 0 && colon < 40 && !text.left(colon).contains(QLatin1Char(' ')))
        text = text.mid(colon + 2);
    return text.isEmpty() ? QStringLiteral("unreadable picture") : text;
}

QString sizeText(int w, int h) {
    return QStringLiteral("%1x%2").arg(w).arg(h);
}

// An open file descriptor that is closed on every way out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The file's bytes as a libvips source: a regular file only (a FIFO or device would block
// or never end), opened once so a name swapped meanwhile cannot change what is read.
std::optional<VSource> openSource(const QString& path, Fd* fd, QString* reason) {
    const QByteArray name = QFile::encodeName(path);
    fd->fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd->fd < 0) {
        *reason = QString::fromLocal8Bit(strerror(errno));
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *reason = QStringLiteral("not a regular file");
        return std::nullopt;
    }
    if (st.st_size == 0) {
        *reason = QStringLiteral("empty file");
        return std::nullopt;
    }
    ::fcntl(fd->fd, F_SETFL, ::fcntl(fd->fd, F_GETFL) & ~O_NONBLOCK);
    try {
        return VSource::new_from_descriptor(fd->fd);
    } catch (const VError& e) {
        *reason = vipsReason(e);
    }
    return std::nullopt;
}

// Whether a JPEG or PNG file ends as a whole one does: its end-of-image marker or IEND chunk
// within its last 64 bytes (cameras may pad after it). Other formats are taken as they are.
bool endsWhole(int fd, const QByteArray& loaderNick) {
    const bool jpeg = loaderNick == "jpegload_source";
    if (!jpeg && loaderNick != "pngload_source")
        return true;
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    char tail[64];
    const off_t from = st.st_size > off_t(sizeof tail) ? st.st_size - off_t(sizeof tail) : 0;
    const ssize_t got = ::pread(fd, tail, size_t(st.st_size - from), from);
    if (got <= 0)
        return false;
    const QByteArray bytes(tail, qsizetype(got));
    return jpeg ? bytes.contains("\xff\xd9") : bytes.contains("IEND");
}

QString formatName(const QByteArray& loaderNick) {
    const QByteArray f = loaderNick.left(loaderNick.indexOf("load"));
    return f == "webp" ? QStringLiteral("WebP") : QString::fromLatin1(f).toUpper();
}

bool allowedLoader(const char* typeName) {
    if (!typeName)
        return false;
    const char* nick = vips_nickname_find(g_type_from_name(typeName));
    if (!nick)
        return false;
    for (const char* l : kLoaders)
        if (qstrcmp(nick, l) == 0)
            return true;
    return false;
}

std::vector<double> rgbOf(uint colour, double scale = 1.0) {
    return {((colour >> 16) & 0xff) * scale, ((colour >> 8) & 0xff) * scale,
            (colour & 0xff) * scale};
}

// The image as 8-bit sRGB with any alpha flattened onto background: 3 bands, uchar.
VImage toFlatSrgb(VImage img, uint background) {
    // A camera's or editor's own colour profile (Adobe RGB, CMYK, grey) turned into sRGB.
    if (img.get_typeof(VIPS_META_ICC_NAME) != 0) {
        try {
            img = img.icc_transform("srgb", VImage::option()
                                                ->set("embedded", true)
                                                ->set("intent", VIPS_INTENT_RELATIVE)
                                                ->set("depth", 8));
        } catch (const VError&) {
            vips_error_clear(); // a damaged profile: the pixels are read as they are
        }
    }
    const bool alpha = img.has_alpha();
    VImage colour = img;
    VImage mask;
    if (alpha) {
        colour = img.extract_band(0, VImage::option()->set("n", img.bands() - 1));
        mask = img.extract_band(img.bands() - 1);
        // Alpha's full scale follows the pixels' format: 255, 65535 or 1.0.
        const VipsBandFormat f = img.format();
        const double full = f == VIPS_FORMAT_USHORT                               ? 65535.0
                            : (f == VIPS_FORMAT_FLOAT || f == VIPS_FORMAT_DOUBLE) ? 1.0
                                                                                  : 255.0;
        mask = (mask * (255.0 / full)).cast(VIPS_FORMAT_UCHAR);
    }
    VipsInterpretation kind = vips_image_guess_interpretation(colour.get_image());
    if (kind == VIPS_INTERPRETATION_MULTIBAND) {
        // Unnamed bands: grey from one, colour from the first three.
        if (colour.bands() >= 3)
            colour = colour.extract_band(0, VImage::option()->set("n", 3));
        else
            colour = colour.extract_band(0);
        kind = colour.bands() == 3 ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_B_W;
        colour = colour.copy(VImage::option()->set("interpretation", kind));
    }
    if (kind != VIPS_INTERPRETATION_sRGB || colour.format() != VIPS_FORMAT_UCHAR)
        colour = colour.colourspace(VIPS_INTERPRETATION_sRGB);
    if (colour.bands() > 3)
        colour = colour.extract_band(0, VImage::option()->set("n", 3));
    colour = colour.cast(VIPS_FORMAT_UCHAR);
    if (alpha)
        colour = colour.bandjoin(mask)
                     .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
                     .flatten(VImage::option()->set("background", rgbOf(background)))
                     .cast(VIPS_FORMAT_UCHAR);
    return colour;
}

// PNG with only the chunks a phone needs: IHDR, PLTE, tRNS, IDAT, IEND. libvips writes
// pHYs even when told to strip, and older decoders choke on chunks they do not know.
QByteArray criticalChunksOnly(const QByteArray& png) {
    static const QByteArray magic("\x89PNG\r\n\x1a\n", 8);
    if (!png.startsWith(magic))
        return {};
    QByteArray out = magic;
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        if (length > quint32(png.size() - at - 12))
            return {};
        const QByteArray type = png.mid(at + 4, 4);
        if (type == "IHDR" || type == "PLTE" || type == "tRNS" || type == "IDAT" || type == "IEND")
            out.append(png.constData() + at, qsizetype(length) + 12);
        at += qsizetype(length) + 12;
        if (type == "IEND")
            return out;
    }
    return {};
}

int paletteColours(const QByteArray& png) {
    const int at = int(png.indexOf("PLTE"));
    return at >= 4 ? int(qFromBigEndian<quint32>(png.constData() + at - 4) / 3) : 0;
}

QByteArray bufferOf(const VImage& img, const char* suffix, vips::VOption* options) {
    void* data = nullptr;
    size_t length = 0;
    img.write_to_buffer(suffix, &data, &length, options);
    QByteArray bytes(static_cast<const char*>(data), qsizetype(length));
    g_free(data);
    return bytes;
}

bool sameFile(const QString& a, const QString& b) {
    struct stat sa {
    }, sb{};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

QString kb(qint64 bytes) {
    return QStringLiteral("%1 bytes").arg(bytes);
}

} // namespace

bool mediaInit() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        ok = VIPS_INIT("tessavane") == 0;
        if (!ok)
            return;
        // One picture at a time, each read once: a cache would only hold memory.
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        // Loaders that hand the bytes to outside libraries (ImageMagick, PDF, SVG) stay off.
        vips_block_untrusted_set(TRUE);
        // Warnings on damaged files reach the user through our own messages.
        g_log_set_handler("VIPS", GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                          quietLog, nullptr);
    });
    return ok;
}

ScaledPicture scalePicture(const QString& source, const PhoneProfile& phone,
                           const FitOptions& options) {
    ScaledPicture out;
    if (!mediaInit()) {
        out.reason = QStringLiteral("the picture library (libvips) could not start");
        return out;
    }
    const QSize screen = phone.screen;
    const QSize area = phone.wallpaper.isValid() ? phone.wallpaper : screen;
    if (!screen.isValid() || !area.isValid() || screen.width() > kMaxScreenSide ||
        screen.height() > kMaxScreenSide) {
        out.reason =
            QStringLiteral("the phone profile '%1' gives no usable screen size").arg(phone.id);
        return out;
    }
    if (options.mode == FitMode::Pad && (phone.wallpaperLeft < 0 || phone.wallpaperTop < 0 ||
                                         phone.wallpaperLeft + area.width() > screen.width() ||
                                         phone.wallpaperTop + area.height() > screen.height())) {
        out.reason = QStringLiteral("the phone profile '%1' puts its %2 wallpaper area at %3,%4, "
                                    "outside its %5 screen")
                         .arg(phone.id, sizeText(area.width(), area.height()))
                         .arg(phone.wallpaperLeft)
                         .arg(phone.wallpaperTop)
                         .arg(sizeText(screen.width(), screen.height()));
        return out;
    }

    Fd fd;
    QString reason;
    std::optional<VSource> head = openSource(source, &fd, &reason);
    if (!head) {
        out.reason = reason;
        return out;
    }
    try {
        const char* loader = vips_foreign_find_load_source(head->get_source());
        vips_error_clear();
        if (!allowedLoader(loader)) {
            out.reason = QStringLiteral("not a picture this program reads (JPEG, PNG, GIF, WebP, "
                                        "TIFF or HEIF)");
            return out;
        }
        const QByteArray nick = vips_nickname_find(g_type_from_name(loader));
        const bool jpeg = nick == "jpegload_source";
        int w = 0, h = 0, orientation = 1, bandBytes = 1;
        bool interlaced = false;
        {
            const VImage header = VImage::new_from_source(
                *head, "", VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
            w = header.width();
            h = header.height();
            if (header.get_typeof(VIPS_META_ORIENTATION) != 0)
                orientation = header.get_int(VIPS_META_ORIENTATION);
            if (header.get_typeof("interlaced") != 0)
                interlaced = header.get_int("interlaced") != 0;
            bandBytes = int(vips_format_sizeof(header.format())) * header.bands();
        }
        head.reset();
        if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || double(w) * h > kMaxSourcePixels) {
            out.reason = QStringLiteral("%1 pixels is too large a picture (at most %2 megapixels)")
                             .arg(sizeText(w, h))
                             .arg(int(kMaxSourcePixels / 1e6));
            return out;
        }
        // Most formats stream line by line; these are decoded whole first. Bytes a pixel
        // as measured (peak resident size less the program's own) with libvips 8.14.
        double perPixel = 0;
        if (jpeg && interlaced)
            perPixel = 6.5; // libjpeg keeps every scan's coefficients, more than once
        else if (interlaced)
            perPixel = 1.4 * qMax(bandBytes, 3);
        else if (nick == "gifload_source")
            perPixel = 6.5;
        else if (nick == "webpload_source" || nick == "heifload_source")
            perPixel = 9;
        const double wholeBytes = double(w) * h * perPixel;
        if (wholeBytes > kWholeDecodeBytes) {
            out.reason =
                QStringLiteral("%1 %2 of %3 must be read whole, %4 MB, more than the %5 MB "
                               "this program allows itself; save it as a plain (baseline, "
                               "non-interlaced) JPEG or PNG first")
                    .arg(interlaced ? (jpeg ? QStringLiteral("a progressive")
                                            : QStringLiteral("an interlaced"))
                                    : QStringLiteral("a"),
                         formatName(nick), sizeText(w, h))
                    .arg(qRound64(wholeBytes / 1e6))
                    .arg(qRound64(kWholeDecodeBytes / 1e6));
            return out;
        }

        // Sizes in the stored frame: EXIF orientations 5 to 8 turn the picture a quarter.
        const bool turned = orientation >= 5 && orientation <= 8;
        const QSize box = turned ? area.transposed() : area;
        // fill: the middle of the source in the area's shape, cropped before any scaling so a
        // panorama never grows wide in memory; fit and pad: all of it.
        double cropW = w, cropH = h;
        if (options.mode == FitMode::Fill) {
            cropW = qMin(double(w), double(h) * box.width() / box.height());
            cropH = qMin(double(h), double(w) * box.height() / box.width());
        }
        const double scale = qMin(box.width() / cropW, box.height() / cropH);
        const int tw = qBound(1, int(std::lround(cropW * scale)), box.width());
        const int th = qBound(1, int(std::lround(cropH * scale)), box.height());

        // JPEG shrinks in its decoder by 2 or 4, never 8: its 1/8 keeps only each block's
        // average, which aliases visibly (0.5 dB worse than Lanczos from 1/4, measured).
        int shrink = 1;
        while (jpeg && shrink < 4 && cropW / (shrink * 2) >= tw * 2.0 &&
               cropH / (shrink * 2) >= th * 2.0)
            shrink *= 2;

        // The pixels from the start of the same open file: the header read moved it on.
        if (::lseek(fd.fd, 0, SEEK_SET) != 0)
            throw VError("cannot read the file from its start");
        const VSource pixels = VSource::new_from_descriptor(fd.fd);
        vips::VOption* load = VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL);
        if (jpeg)
            load->set("shrink", shrink);
        VImage img = VImage::new_from_source(pixels, "[fail_on=truncated]", load);
        // Colour and transparency first: flattening onto a plain background and then scaling
        // equals scaling premultiplied pixels and flattening after, as scaling is linear.
        if (options.mode == FitMode::Fill) {
            const int cw = qBound(1, int(std::lround(cropW * img.width() / w)), img.width());
            const int ch = qBound(1, int(std::lround(cropH * img.height() / h)), img.height());
            img = img.extract_area((img.width() - cw) / 2, (img.height() - ch) / 2, cw, ch);
        }
        img = toFlatSrgb(img, options.background);
        // A very wide source is first averaged across in whole boxes, so each line is narrow
        // before libvips gathers lines: memory then grows with the result, not the source. It
        // leaves 8x for libvips' own resize (box shrink to within 2x, then Lanczos 3), which
        // measures 1.2 dB better than boxing down to 2x by hand.
        const int across = int(img.width() / (tw * 8.0));
        if (across > 1)
            img = img.shrinkh(across);
        img = img.resize(double(tw) / img.width(), VImage::option()
                                                       ->set("vscale", double(th) / img.height())
                                                       ->set("kernel", VIPS_KERNEL_LANCZOS3));
        if (orientation != 1)
            img = img.copy(VImage::option()->set("orientation", orientation)).autorot();
        if (options.mode == FitMode::Fill)
            img = img.gravity(VIPS_COMPASS_DIRECTION_CENTRE, area.width(), area.height(),
                              VImage::option()
                                  ->set("extend", VIPS_EXTEND_BACKGROUND)
                                  ->set("background", rgbOf(options.background)));
        if (options.mode == FitMode::Pad) {
            // Centred in the wallpaper area, the area where the phone shows it on the screen.
            const int x = phone.wallpaperLeft + (area.width() - img.width()) / 2;
            const int y = phone.wallpaperTop + (area.height() - img.height()) / 2;
            img = img.embed(x, y, screen.width(), screen.height(),
                            VImage::option()
                                ->set("extend", VIPS_EXTEND_BACKGROUND)
                                ->set("background", rgbOf(options.background)));
        }
        // A box shrink's line cache can swallow the decoder's failure (a truncated JPEG then
        // comes out grey at the bottom), and libvips' error log is shared by every thread, so
        // the file's own end says whether it is whole.
        if (!endsWhole(fd.fd, nick)) {
            out.reason = QStringLiteral("the picture is cut short");
            return out;
        }
        size_t length = 0;
        void* data = vips_image_write_to_memory(img.get_image(), &length);
        if (!data)
            throw VError();
        out.rgb = QByteArray(static_cast<const char*>(data), qsizetype(length));
        g_free(data);
        out.size = QSize(img.width(), img.height());
        if (out.rgb.size() != qsizetype(out.size.width()) * out.size.height() * 3) {
            out.reason = QStringLiteral("the picture library gave an unexpected layout");
            return out;
        }
        out.ok = true;
    } catch (const VError& e) {
        out.reason = vipsReason(e);
    }
    return out;
}

FitResult fitPicture(const QString& source, const QString& target, const PhoneProfile& phone,
                     const FitOptions& options) {
    FitResult result;
    const QString ext = fitExtension(options.format);
    if (ext.isEmpty()) {
        result.reason = QStringLiteral("'%1' is not a picture format this program writes "
                                       "(png, jpeg or wbmp)")
                            .arg(options.format);
        return result;
    }
    if (!phone.pictureFormats.isEmpty() && !phone.takesPicture(options.format)) {
        result.reason = QStringLiteral("the %1 takes no %2 pictures (it takes %3)")
                            .arg(phone.name(), options.format.toUpper(),
                                 phone.pictureFormats.join(QStringLiteral(", ")));
        return result;
    }
    if (QFileInfo(source).absoluteFilePath() == QFileInfo(target).absoluteFilePath() ||
        sameFile(source, target)) {
        result.reason = QStringLiteral("the fitted picture would replace its own source");
        return result;
    }
    const ScaledPicture scaled = codec::scalePicture(source, phone, options);
    if (!scaled.ok) {
        result.reason = scaled.reason;
        return result;
    }
    const qint64 cap = phone.maxPictureBytes;
    const auto fits = [cap](const QByteArray& b) { return cap <= 0 || b.size() <= cap; };
    QByteArray bytes;
    qint64 smallest = -1;
    try {
        if (options.format == QLatin1String("wbmp")) {
            bytes = wbmpFromRgb(scaled.rgb, scaled.size.width(), scaled.size.height());
            smallest = bytes.size();
        } else {
            VImage img =
                VImage::new_from_memory(const_cast<char*>(scaled.rgb.constData()),
                                        size_t(scaled.rgb.size()), scaled.size.width(),
                                        scaled.size.height(), 3, VIPS_FORMAT_UCHAR)
                    .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
            if (options.format == QLatin1String("png")) {
                const auto encode = [&](int q, double dither) {
                    const QByteArray png =
                        criticalChunksOnly(bufferOf(img, ".png",
                                                    VImage::option()
                                                        ->set("palette", true)
                                                        ->set("Q", q)
                                                        ->set("dither", dither)
                                                        ->set("bitdepth", 8)
                                                        ->set("effort", kQuantiseEffort)
                                                        ->set("compression", 9)
                                                        ->set("interlace", false)
                                                        ->set("strip", true)));
                    if (png.isEmpty())
                        throw VError("the PNG writer gave a damaged file");
                    if (smallest < 0 || png.size() < smallest)
                        smallest = png.size();
                    if (fits(png) && (bytes.isEmpty() || q > result.quality)) {
                        bytes = png;
                        result.quality = q;
                        result.colours = paletteColours(png);
                    }
                    return fits(png);
                };
                // Lower quantiser quality means fewer colours and fewer bytes (nearly always):
                // halving the range finds the best quality that fits in a few tries.
                // The fewest colours, undithered, is the smallest there is: when even that is
                // too large, nothing will fit.
                if (!encode(100, 1.0) && encode(0, 0.0)) {
                    int low = 0, high = 99;
                    while (low <= high) {
                        const int q = (low + high) / 2;
                        if (encode(q, 1.0))
                            low = q + 1;
                        else
                            high = q - 1;
                    }
                }
            } else {
                for (int q = 90; q >= 5 && bytes.isEmpty(); q -= (q > 50 ? 10 : 5)) {
                    const QByteArray jpeg =
                        bufferOf(img, ".jpg",
                                 VImage::option()
                                     ->set("Q", q)
                                     ->set("interlace", false)
                                     ->set("optimize_coding", true)
                                     ->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON)
                                     ->set("strip", true));
                    if (smallest < 0 || jpeg.size() < smallest)
                        smallest = jpeg.size();
                    if (fits(jpeg)) {
                        bytes = jpeg;
                        result.quality = q;
                    }
                }
            }
        }
    } catch (const VError& e) {
        result.reason = vipsReason(e);
        return result;
    }
    if (bytes.isEmpty() || !fits(bytes)) {
        result.reason =
            QStringLiteral("even the smallest %1 of %2 is %3; the %4 takes at most %5")
                .arg(options.format.toUpper(), sizeText(scaled.size.width(), scaled.size.height()),
                     kb(smallest), phone.name(), kb(cap));
        return result;
    }
    const FileResult written = FileOps::replaceFile(target, bytes);
    if (!written) {
        result.reason = written.reason;
        return result;
    }
    result.ok = true;
    result.size = scaled.size;
    result.bytes = bytes.size();
    return result;
}

} // namespace tess::media::codec
