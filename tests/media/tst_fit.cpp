// Pictures fitted for phones: inputs made by ImageMagick in the test, outputs read back by
// our own small parsers (PNG chunks, JPEG markers, WBMP bits) and by ImageMagick's decoder.
#include "CliSupport.h"
#include "media/Fit.h"
#include "media/Inspect.h"
#include "media/Wbmp.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <sys/stat.h>

using namespace tess::media;
using tess::test::put;
using tess::test::slurp;

namespace {

const QString kConvert = QStringLiteral("/usr/bin/convert-im6.q16");
const QString kIdentify = QStringLiteral("/usr/bin/identify-im6.q16");

QByteArray tool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

PhoneProfile profile(const QString& id, QSize screen, QSize wallpaper, int top, qint64 cap) {
    PhoneProfile p;
    p.id = id;
    p.maker = QStringLiteral("Test");
    p.model = id;
    p.screen = screen;
    p.wallpaper = wallpaper;
    p.wallpaperTop = top;
    p.pictureFormats = {QStringLiteral("png"), QStringLiteral("jpeg"), QStringLiteral("wbmp")};
    p.maxPictureBytes = cap;
    return p;
}

PhoneProfile a500() {
    return profile("samsung-sph-a500", {128, 160}, {128, 112}, 0, 64 * 1024);
}
PhoneProfile scp5300() {
    return profile("sanyo-scp-5300", {132, 176}, {132, 129}, 16, 64 * 1024);
}
PhoneProfile mm7400() {
    return profile("sanyo-mm-7400", {176, 220}, {176, 200}, 20, 256 * 1024);
}

struct Png {
    bool ok = false;
    QStringList chunks;
    int width = 0, height = 0, depth = 0, colourType = -1, interlace = -1, palette = 0;
};

Png readPng(const QByteArray& b) {
    Png png;
    if (!b.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return png;
    for (qsizetype at = 8; at + 12 <= b.size();) {
        const quint32 n = qFromBigEndian<quint32>(b.constData() + at);
        const QByteArray type = b.mid(at + 4, 4);
        png.chunks << QString::fromLatin1(type);
        const char* d = b.constData() + at + 8;
        if (type == "IHDR") {
            png.width = int(qFromBigEndian<quint32>(d));
            png.height = int(qFromBigEndian<quint32>(d + 4));
            png.depth = uchar(d[8]);
            png.colourType = uchar(d[9]);
            png.interlace = uchar(d[12]);
        } else if (type == "PLTE") {
            png.palette = int(n / 3);
        }
        at += 12 + qsizetype(n);
        png.ok = type == "IEND" && at == b.size();
    }
    return png;
}

struct Jpeg {
    bool ok = false;
    QList<int> markers; // every marker before the scan
    int width = 0, height = 0;
    QList<int> sampling; // per component, 0xHV
};

Jpeg readJpeg(const QByteArray& b) {
    Jpeg j;
    if (!b.startsWith("\xff\xd8"))
        return j;
    for (qsizetype at = 2; at + 4 <= b.size();) {
        if (uchar(b[at]) != 0xff)
            return j;
        const int m = uchar(b[at + 1]);
        const int n = qFromBigEndian<quint16>(b.constData() + at + 2);
        j.markers << m;
        const char* d = b.constData() + at + 4;
        if (m >= 0xc0 && m <= 0xcf && m != 0xc4 && m != 0xc8 && m != 0xcc) {
            j.height = qFromBigEndian<quint16>(d + 1);
            j.width = qFromBigEndian<quint16>(d + 3);
            for (int c = 0; c < uchar(d[5]); ++c)
                j.sampling << uchar(d[6 + c * 3 + 1]);
        }
        if (m == 0xda) {
            j.ok = b.endsWith("\xff\xd9");
            return j;
        }
        at += 2 + n;
    }
    return j;
}

int multibyte(const QByteArray& b, qsizetype* at) {
    int v = 0;
    for (;;) {
        const uchar c = uchar(b.at((*at)++));
        v = (v << 7) | (c & 0x7f);
        if (!(c & 0x80))
            return v;
    }
}

struct Wbmp {
    bool ok = false;
    int width = 0, height = 0;
    QList<QList<bool>> white; // [y][x]
};

Wbmp readWbmp(const QByteArray& b) {
    Wbmp w;
    if (b.size() < 4 || b[0] != '\0' || b[1] != '\0')
        return w;
    qsizetype at = 2;
    w.width = multibyte(b, &at);
    w.height = multibyte(b, &at);
    const int row = (w.width + 7) / 8;
    if (b.size() != at + qsizetype(row) * w.height)
        return w;
    for (int y = 0; y < w.height; ++y) {
        QList<bool> line;
        for (int x = 0; x < w.width; ++x)
            line << bool(uchar(b[at + y * row + x / 8]) & (0x80 >> (x % 8)));
        w.white << line;
    }
    w.ok = true;
    return w;
}

// The decoded pixels, as ImageMagick reads the file: 3 bytes a pixel.
struct Pixels {
    int width = 0, height = 0;
    QByteArray rgb;
    uint at(int x, int y) const { // 0xRRGGBB
        const char* p = rgb.constData() + (qsizetype(y) * width + x) * 3;
        return uint(uchar(p[0])) << 16 | uint(uchar(p[1])) << 8 | uchar(p[2]);
    }
};

Pixels decode(const QString& path, QSize size) {
    Pixels px{size.width(), size.height(), tool(kConvert, {path, "-depth", "8", "rgb:-"})};
    if (px.rgb.size() != qsizetype(size.width()) * size.height() * 3)
        qFatal("decoded size differs");
    return px;
}

constexpr uint kRed = 0xff0000, kBlue = 0x0000ff, kBlack = 0;

bool near(uint a, uint b, int tolerance) {
    for (const int shift : {16, 8, 0})
        if (qAbs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > tolerance)
            return false;
    return true;
}

QByteArray hashOf(const QString& path) {
    return QCryptographicHash::hash(slurp(path), QCryptographicHash::Sha256);
}

} // namespace

class TestFit : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString in(const QString& name) const { return dir_.filePath(name); }
    QString out(const QString& name) const { return dir_.filePath(QStringLiteral("out/") + name); }

    // Checks one written picture against what every phone takes; returns its pixel size.
    QSize checkWritten(const QString& path, const QString& format, const FitResult& r,
                       const PhoneProfile& phone) {
        const QByteArray b = slurp(path);
        [&] {
            QVERIFY2(r.ok, qPrintable(r.reason));
            QCOMPARE(r.bytes, b.size());
            QVERIFY(b.size() <= phone.maxPictureBytes);
            // The phone-profile inspection finds nothing to say, but that a picture fitted
            // whole is smaller than the area when its shape differs.
            const Inspection seen = inspectFile(path, phone);
            QCOMPARE(seen.format, format);
            const bool smaller = r.size.width() < phone.wallpaper.width() ||
                                 r.size.height() < phone.wallpaper.height();
            for (const Finding& f : seen.findings)
                if (!(smaller && f.code == "smaller-than-screen" && f.severity == Severity::Hint))
                    QFAIL(qPrintable(path + ": " + f.code + ": " + f.what));
            if (format == "png") {
                const Png png = readPng(b);
                QVERIFY(png.ok);
                QCOMPARE(png.chunks.first(), "IHDR");
                for (const QString& c : png.chunks)
                    QVERIFY2(c == "IHDR" || c == "PLTE" || c == "IDAT" || c == "IEND",
                             qPrintable(c));
                QCOMPARE(png.depth, 8);
                QCOMPARE(png.colourType, 3);
                QCOMPARE(png.interlace, 0);
                QVERIFY(png.palette >= 1 && png.palette <= 256);
                QCOMPARE(png.palette, r.colours);
                QCOMPARE(QSize(png.width, png.height), r.size);
            } else if (format == "jpeg") {
                const Jpeg j = readJpeg(b);
                QVERIFY(j.ok);
                QVERIFY2(j.markers.contains(0xc0), "baseline frame");
                for (const int m : j.markers)
                    QVERIFY2(m == 0xe0 || m == 0xdb || m == 0xc0 || m == 0xc4 || m == 0xdd ||
                                 m == 0xda,
                             qPrintable(QString::number(m, 16)));
                QCOMPARE(j.sampling, (QList<int>{0x22, 0x11, 0x11}));
                QCOMPARE(QSize(j.width, j.height), r.size);
            } else {
                const Wbmp w = readWbmp(b);
                QVERIFY(w.ok);
                QCOMPARE(QSize(w.width, w.height), r.size);
            }
        }();
        return r.size;
    }

    FitResult fit(const QString& source, const QString& target, const PhoneProfile& phone,
                  const QString& format, FitMode mode, uint background = 0xffffff) {
        FitOptions o;
        o.format = format;
        o.mode = mode;
        o.background = background;
        return fitPicture(source, target, phone, o);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QDir(dir_.path()).mkpath("out");
        // A camera-size photo: red top quarter over blue, so orientation shows.
        tool(kConvert, {"-size", "4000x3000", "xc:blue", "-fill", "red", "-draw",
                        "rectangle 0,0 3999,749", "-quality", "92", in("camera.jpg")});
        tool(kConvert, {"-size", "1600x1200", "gradient:yellow-navy", "-interlace", "Plane",
                        "-quality", "85", in("progressive.jpg")});
        // Transparent but for an opaque green middle.
        tool(kConvert, {"-size", "400x300", "xc:none", "-fill", "#00ff00", "-draw",
                        "rectangle 100,75 299,224", in("alpha.png")});
        tool(kConvert,
             {"-size", "640x480", "gradient:red-blue", "-depth", "16", "PNG48:" + in("deep.png")});
        // Upright 300 wide, 400 high with a red top band; stored turned a quarter to the left
        // with EXIF orientation 6 (turn right to show), as a camera held upright writes it.
        tool(kConvert, {"-size", "300x400", "xc:blue", "-fill", "red", "-draw",
                        "rectangle 0,0 299,99", "-rotate", "-90", in("stored.jpg")});
        const QByteArray exif("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0"
                              "\0\0\0\0",
                              32);
        QByteArray app1("\xff\xe1", 2);
        app1.append(char(0)).append(char(exif.size() + 2)).append(exif);
        put(in("rotated.jpg"), slurp(in("stored.jpg")).insert(2, app1));
        QCOMPARE(tool(kIdentify, {"-format", "%[orientation] %wx%h", in("rotated.jpg")}),
                 "RightTop 400x300");
        QCOMPARE(tool(kIdentify, {"-format", "%[interlace] %[depth]", in("progressive.jpg")}),
                 "JPEG 8");
        QCOMPARE(tool(kIdentify, {"-format", "%[depth]", in("deep.png")}), "16");
    }

    // Every input, three phones, every format and mode: sizes, encodings, caps.
    void everyPhoneFormatAndMode() {
        const QStringList inputs{"camera.jpg", "progressive.jpg", "alpha.png", "deep.png",
                                 "rotated.jpg"};
        const QHash<QString, double> aspect{{"camera.jpg", 4.0 / 3},
                                            {"progressive.jpg", 4.0 / 3},
                                            {"alpha.png", 4.0 / 3},
                                            {"deep.png", 4.0 / 3},
                                            {"rotated.jpg", 3.0 / 4}};
        for (const PhoneProfile& phone : {a500(), scp5300(), mm7400()}) {
            for (const QString& format : QStringList{"png", "jpeg", "wbmp"}) {
                for (const FitMode mode : {FitMode::Fit, FitMode::Fill, FitMode::Pad}) {
                    // Every input for one phone; the others take the camera photo and the
                    // turned one.
                    for (const QString& name : inputs) {
                        if (phone.id != "sanyo-scp-5300" && name != "camera.jpg" &&
                            name != "rotated.jpg")
                            continue;
                        const QByteArray before = hashOf(in(name));
                        const QString target = out(QStringLiteral("%1-%2-%3%4")
                                                       .arg(name.section('.', 0, 0), phone.id)
                                                       .arg(int(mode))
                                                       .arg(fitExtension(format)));
                        const FitResult r = fit(in(name), target, phone, format, mode);
                        const QString what = target + ": " + r.reason;
                        const QSize s = checkWritten(target, format, r, phone);
                        if (QTest::currentTestFailed())
                            QFAIL(qPrintable(what));
                        QCOMPARE(hashOf(in(name)), before);
                        const QSize area = phone.wallpaper;
                        if (mode == FitMode::Fill) {
                            QCOMPARE(s, area);
                        } else if (mode == FitMode::Pad) {
                            QCOMPARE(s, phone.screen);
                        } else {
                            QVERIFY2(s.width() <= area.width() && s.height() <= area.height(),
                                     qPrintable(what));
                            QVERIFY2(s.width() == area.width() || s.height() == area.height(),
                                     qPrintable(what));
                            QVERIFY2(qAbs(double(s.width()) / s.height() - aspect[name]) < 0.03,
                                     qPrintable(what));
                        }
                    }
                }
            }
        }
    }

    // EXIF orientation applied: the red band comes out on top, the picture upright.
    void rotatedComesOutUpright() {
        for (const QString& format : QStringList{"png", "jpeg"}) {
            const QString target = out("upright" + fitExtension(format));
            const FitResult r = fit(in("rotated.jpg"), target, a500(), format, FitMode::Fit);
            QVERIFY2(r.ok, qPrintable(r.reason));
            QCOMPARE(r.size, QSize(84, 112));
            const Pixels px = decode(target, r.size);
            QVERIFY(near(px.at(42, 5), kRed, 40));
            QVERIFY(near(px.at(5, 20), kRed, 40));
            QVERIFY(near(px.at(42, 100), kBlue, 40));
            QVERIFY(near(px.at(80, 60), kBlue, 40));
        }
        // The big photo: the band on top too, across the whole width.
        const FitResult r = fit(in("camera.jpg"), out("camera.png"), a500(), "png", FitMode::Fit);
        QCOMPARE(r.size, QSize(128, 96));
        const Pixels px = decode(out("camera.png"), r.size);
        QVERIFY(near(px.at(2, 10), kRed, 40) && near(px.at(125, 10), kRed, 40));
        QVERIFY(near(px.at(64, 90), kBlue, 40));
    }

    // Padded to the screen: the fitted picture centred in the wallpaper area, at its offset.
    void padOffsetsExact() {
        tool(kConvert, {"-size", "800x600", "xc:red", in("wide.png")});
        tool(kConvert, {"-size", "300x600", "xc:red", in("tall.png")});
        for (const QString& name : QStringList{"wide.png", "tall.png"}) {
            const QString target = out("pad-" + name);
            const FitResult r = fit(in(name), target, scp5300(), "png", FitMode::Pad, 0x000000);
            QVERIFY2(r.ok, qPrintable(r.reason));
            QCOMPARE(r.size, QSize(132, 176));
            const Pixels px = decode(target, r.size);
            int top = -1, bottom = -1, left = -1, right = -1;
            for (int y = 0; y < 176; ++y)
                for (int x = 0; x < 132; ++x) {
                    const uint c = px.at(x, y);
                    if (c == kRed) {
                        top = top < 0 ? y : top;
                        bottom = y;
                        left = left < 0 ? x : qMin(left, x);
                        right = qMax(right, x);
                    } else {
                        QCOMPARE(c, kBlack);
                    }
                }
            const int w = right - left + 1, h = bottom - top + 1;
            if (name == "wide.png") {
                QCOMPARE(w, 132);
                QCOMPARE(h, 99);
            } else {
                QCOMPARE(h, 129);
                QVERIFY(qAbs(w - 64) <= 1);
            }
            QCOMPARE(left, (132 - w) / 2);
            QCOMPARE(top, 16 + (129 - h) / 2);
        }
    }

    // Transparency flattened onto the chosen background; a 16-bit source keeps its colours.
    void alphaAndDepth() {
        const FitResult r =
            fit(in("alpha.png"), out("alpha.png"), a500(), "png", FitMode::Fit, 0xff00ff);
        QVERIFY2(r.ok, qPrintable(r.reason));
        QCOMPARE(r.size, QSize(128, 96));
        Pixels px = decode(out("alpha.png"), r.size);
        QVERIFY(near(px.at(2, 2), 0xff00ffu, 2));
        QVERIFY(near(px.at(125, 93), 0xff00ffu, 2));
        QVERIFY(near(px.at(64, 48), 0x00ff00u, 2));

        const FitResult d = fit(in("deep.png"), out("deep.jpg"), a500(), "jpeg", FitMode::Fill);
        QVERIFY2(d.ok, qPrintable(d.reason));
        px = decode(out("deep.jpg"), d.size);
        QVERIFY(near(px.at(64, 1), kRed, 50));
        QVERIFY(near(px.at(64, 110), kBlue, 50));
    }

    // WBMP: black stays black, white white, mid-grey comes out as a mix of both.
    void wbmpBits() {
        tool(kConvert, {"-size", "128x300", "xc:black", "-size", "128x300", "xc:#808080", "-size",
                        "128x300", "xc:white", "+append", in("bands.png")});
        const FitResult r = fit(in("bands.png"), out("bands.wbmp"), a500(), "wbmp", FitMode::Fit);
        QVERIFY2(r.ok, qPrintable(r.reason));
        const QByteArray b = slurp(out("bands.wbmp"));
        const Wbmp w = readWbmp(b);
        QVERIFY(w.ok);
        QCOMPARE(QSize(w.width, w.height), QSize(128, 100));
        int whiteInGrey = 0, greyCount = 0;
        bool greyRowsDiffer = false;
        for (int y = 0; y < w.height; ++y) {
            for (int x = 0; x < 38; ++x)
                QVERIFY(!w.white[y][x]);
            for (int x = 90; x < 128; ++x)
                QVERIFY(w.white[y][x]);
            for (int x = 48; x < 80; ++x) {
                whiteInGrey += w.white[y][x];
                ++greyCount;
            }
            greyRowsDiffer |= y > 0 && w.white[y].mid(48, 32) != w.white[y - 1].mid(48, 32);
        }
        const double share = double(whiteInGrey) / greyCount;
        QVERIFY2(share > 0.4 && share < 0.6, qPrintable(QString::number(share)));
        QVERIFY(greyRowsDiffer);
        // Widths of 128 and more take two bytes in the header.
        QCOMPARE(wbmpMultibyte(128), QByteArray("\x81\x00", 2));
        QCOMPARE(wbmpMultibyte(100), QByteArray("\x64", 1));
        QCOMPARE(b.mid(2, 3), QByteArray("\x81\x00\x64", 3));
    }

    // Over the cap: the palette or the quality steps down until it fits; when nothing fits,
    // the message gives both sizes and any old file stays as it was.
    void underTheCap() {
        tool(kConvert, {"-size", "240x300", "plasma:fractal", "-seed", "7", "+noise", "Random",
                        in("noisy.png")});
        PhoneProfile big = profile("big", {176, 220}, {176, 220}, 0, 0);
        const FitResult free = fit(in("noisy.png"), out("free.png"), big, "png", FitMode::Fill);
        QVERIFY2(free.ok, qPrintable(free.reason));
        QCOMPARE(free.quality, 100);
        const FitResult freeJ = fit(in("noisy.png"), out("free.jpg"), big, "jpeg", FitMode::Fill);
        QCOMPARE(freeJ.quality, 90);

        big.maxPictureBytes = free.bytes * 2 / 3;
        FitResult r = fit(in("noisy.png"), out("capped.png"), big, "png", FitMode::Fill);
        checkWritten(out("capped.png"), "png", r, big);
        QVERIFY(r.quality < 100);
        QVERIFY(r.colours < free.colours);

        big.maxPictureBytes = freeJ.bytes / 2;
        r = fit(in("noisy.png"), out("capped.jpg"), big, "jpeg", FitMode::Fill);
        checkWritten(out("capped.jpg"), "jpeg", r, big);
        QVERIFY(r.quality < 90);

        big.maxPictureBytes = 300;
        for (const QString& format : QStringList{"png", "jpeg", "wbmp"}) {
            const QString target = put(out("old" + fitExtension(format)), "the user's old file");
            r = fit(in("noisy.png"), target, big, format, FitMode::Fill);
            QVERIFY(!r.ok);
            QVERIFY2(r.reason.contains("176x220") && r.reason.contains("at most 300 bytes"),
                     qPrintable(r.reason));
            const qint64 smallest = r.reason.section(" is ", 1).section(' ', 0, 0).toLongLong();
            QVERIFY2(smallest > 300, qPrintable(r.reason));
            QCOMPARE(slurp(target), "the user's old file");
        }
    }

    // Hostile or odd sources fail with a reason; the source is never its own target.
    void refusals() {
        const PhoneProfile phone = a500();
        const QString text = put(in("notes.jpg"), "just some text, not a picture\n");
        FitResult r = fit(text, out("notes.png"), phone, "png", FitMode::Fit);
        QVERIFY(!r.ok && r.reason.contains("not a picture"));
        QVERIFY(!QFile::exists(out("notes.png")));

        const QByteArray whole = slurp(in("camera.jpg"));
        put(in("cut.jpg"), whole.left(whole.size() / 3));
        r = fit(in("cut.jpg"), out("cut.png"), phone, "png", FitMode::Fit);
        QVERIFY2(!r.ok && !r.reason.isEmpty(), qPrintable(r.reason));
        QVERIFY(!QFile::exists(out("cut.png")));

        put(in("drawing.svg"), "<svg xmlns='http://www.w3.org/2000/svg' width='10' "
                               "height='10'><rect width='10' height='10'/></svg>");
        r = fit(in("drawing.svg"), out("drawing.png"), phone, "png", FitMode::Fit);
        QVERIFY2(!r.ok && r.reason.contains("not a picture"), qPrintable(r.reason));

        // A progressive JPEG is decoded whole: a camera-size one is taken, a larger one is
        // refused before memory grows.
        tool(kConvert, {in("camera.jpg"), "-interlace", "Plane", in("camera-progressive.jpg")});
        r = fit(in("camera-progressive.jpg"), out("cp.png"), phone, "png", FitMode::Fit);
        QVERIFY2(r.ok, qPrintable(r.reason));
        tool(kConvert, {"-size", "6000x4500", "gradient:red-blue", "-interlace", "Plane",
                        "-quality", "60", in("huge-progressive.jpg")});
        r = fit(in("huge-progressive.jpg"), out("hp.png"), phone, "png", FitMode::Fit);
        QVERIFY2(r.reason.startsWith("a progressive JPEG of 6000x4500 must be read whole"),
                 qPrintable(r.reason));

        QVERIFY(::mkfifo(QFile::encodeName(in("pipe.jpg")).constData(), 0600) == 0);
        r = fit(in("pipe.jpg"), out("pipe.png"), phone, "png", FitMode::Fit);
        QCOMPARE(r.reason, "not a regular file");

        // The target is the source, by name, by another name and through a link.
        tool(kConvert, {"-size", "64x64", "xc:green", in("own.png")});
        const QByteArray before = hashOf(in("own.png"));
        QVERIFY(QFile::link(in("own.png"), in("own-link.png")));
        for (const QString& target :
             QStringList{in("own.png"), dir_.path() + "/out/../own.png", in("own-link.png")}) {
            r = fit(in("own.png"), target, phone, "png", FitMode::Fit);
            QCOMPARE(r.reason, "the fitted picture would replace its own source");
        }
        QCOMPARE(hashOf(in("own.png")), before);

        PhoneProfile pngOnly = phone;
        pngOnly.pictureFormats = {"png"};
        r = fit(in("own.png"), out("own.wbmp"), pngOnly, "wbmp", FitMode::Fit);
        QVERIFY2(r.reason.contains("takes no WBMP"), qPrintable(r.reason));
        PhoneProfile badPad = scp5300();
        badPad.wallpaperTop = 60;
        r = fit(in("own.png"), out("own-pad.png"), badPad, "png", FitMode::Pad);
        QVERIFY2(r.reason.contains("outside its 132x176 screen"), qPrintable(r.reason));
    }

    void colours() {
        QCOMPARE(parseColour("#FFF"), 0xffffffu);
        QCOMPARE(parseColour("#1a2B3c"), 0x1a2b3cu);
        QCOMPARE(parseColour("1a2b3c"), 0x1a2b3cu);
        QCOMPARE(parseColour(" Black "), 0u);
        QCOMPARE(parseColour("navy"), 0x000080u);
        for (const char* bad : {"", "#", "#12", "#12345g", "#1234567", "blurple", "0x123456"})
            QVERIFY2(!parseColour(bad), bad);
    }

    // The command: names, -o, --out-dir, usage errors, the source kept.
    void command() {
        QTemporaryDir home;
        const QString work = dir_.filePath("cli");
        QDir().mkpath(work + "/dest");
        QFile::copy(in("camera.jpg"), work + "/photo.jpg");
        QFile::copy(in("alpha.png"), work + "/logo.png");
        QFile::copy(in("alpha.png"), work + "/photo.gif"); // a PNG by its bytes
        using tess::test::runCli;

        auto run = runCli({"fit", work + "/photo.jpg"}, home.path());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, work + "/photo.png\n");
        QCOMPARE(run.err, "");
        QVERIFY(readPng(slurp(work + "/photo.png")).ok);

        // A PNG would be its own copy; a second source with the same copy fails too.
        run = runCli({"fit", "--out-dir", work + "/dest", work + "/photo.jpg", work + "/logo.png",
                      work + "/photo.gif"},
                     home.path());
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, work + "/dest/photo.png\n" + work + "/dest/logo.png\n");
        QCOMPARE(run.err, "tessavane-cli: " + work + "/photo.gif: its copy " + work +
                              "/dest/photo.png was already written from " + work + "/photo.jpg\n");
        run = runCli({"fit", work + "/logo.png"}, home.path());
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, "tessavane-cli: " + work +
                              "/logo.png: the fitted picture would replace its own source\n");

        run = runCli({"fit", "--json", "--mode", "fill", "--background", "#000", "-o",
                      work + "/dest/x.png", "--", work + "/logo.png"},
                     home.path());
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains("\"width\":128") && run.out.contains("\"height\":160") &&
                     run.out.contains("\"mode\":\"fill\""),
                 qPrintable(run.out));

        // The shipped profiles: padded to the screen by default, and nothing to inspect.
        for (const QString& id : QStringList{"sanyo-scp-5300", "samsung-sph-a500", "default"}) {
            const std::optional<PhoneProfile> phone = loadPhones().resolve(id);
            QVERIFY(phone);
            const QString target = work + "/dest/" + id + ".png";
            // No display at all, as on a server.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                env.remove(name);
            run = runCli({"fit", "--phone", id, "-o", target, work + "/photo.jpg"}, home.path(), {},
                         env);
            QCOMPARE(run.status, 0);
            const Inspection seen = inspectFile(target, *phone);
            QCOMPARE(seen.pixels, phone->screen);
            QVERIFY2(seen.findings.isEmpty(), qPrintable(seen.findings.value(0).what));
        }

        for (const QStringList& bad : {QStringList{"fit"},
                                       {"fit", "-o", "x.png", "a.jpg", "b.jpg"},
                                       {"fit", "--mode", "stretch", "a.jpg"},
                                       {"fit", "--background", "#12", "a.jpg"},
                                       {"fit", "--format", "gif", "a.jpg"},
                                       {"fit", "--phone", "nokia-3310", "a.jpg"},
                                       {"fit", "--out-dir", work + "/none", "a.jpg"}}) {
            run = runCli(bad, home.path());
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.startsWith("tessavane-cli: ") &&
                         run.err.endsWith("Try 'tessavane-cli fit --help'.\n"),
                     qPrintable(run.err));
        }
        run = runCli({"fit", "--help"}, home.path());
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.contains("--out-dir") && run.out.contains("after --"));
    }
};

QTEST_GUILESS_MAIN(TestFit)
#include "tst_fit.moc"
