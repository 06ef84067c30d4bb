#include "media/Inspect.h"

#include "media/ReadHead.h"
#include "media/sniff/Sniff.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace tess::media {

namespace {

// What a name's extension or a Content-Type promises, in the formats' own names.
QString formatOfExtension(const QString& fileName) {
    const QString ext = QFileInfo(fileName).suffix().toLower();
    static const QHash<QString, QString> map{{QStringLiteral("png"), QStringLiteral("png")},
                                             {QStringLiteral("jpg"), QStringLiteral("jpeg")},
                                             {QStringLiteral("jpeg"), QStringLiteral("jpeg")},
                                             {QStringLiteral("gif"), QStringLiteral("gif")},
                                             {QStringLiteral("wbmp"), QStringLiteral("wbmp")},
                                             {QStringLiteral("bmp"), QStringLiteral("bmp")},
                                             {QStringLiteral("qcp"), QStringLiteral("qcp")},
                                             {QStringLiteral("mid"), QStringLiteral("midi")},
                                             {QStringLiteral("midi"), QStringLiteral("midi")},
                                             {QStringLiteral("cmx"), QStringLiteral("cmx")},
                                             {QStringLiteral("pmd"), QStringLiteral("pmd")},
                                             {QStringLiteral("wav"), QStringLiteral("wav")},
                                             {QStringLiteral("mp3"), QStringLiteral("mp3")},
                                             {QStringLiteral("aac"), QStringLiteral("aac")},
                                             {QStringLiteral("m4a"), QStringLiteral("aac")},
                                             {QStringLiteral("html"), QStringLiteral("html")},
                                             {QStringLiteral("htm"), QStringLiteral("html")},
                                             {QStringLiteral("xhtml"), QStringLiteral("html")},
                                             {QStringLiteral("wml"), QStringLiteral("html")}};
    return map.value(ext);
}

QStringList formatsOfType(const QString& contentType) {
    const QString t = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if (t == QLatin1String("image/png"))
        return {QStringLiteral("png")};
    if (t == QLatin1String("image/jpeg") || t == QLatin1String("image/jpg"))
        return {QStringLiteral("jpeg")};
    if (t == QLatin1String("image/gif"))
        return {QStringLiteral("gif")};
    if (t == QLatin1String("image/vnd.wap.wbmp"))
        return {QStringLiteral("wbmp")};
    if (t == QLatin1String("image/bmp") || t == QLatin1String("image/x-ms-bmp"))
        return {QStringLiteral("bmp")};
    if (t == QLatin1String("audio/vnd.qcelp") || t == QLatin1String("audio/qcelp"))
        return {QStringLiteral("qcp")};
    if (t == QLatin1String("audio/midi") || t == QLatin1String("audio/mid") ||
        t == QLatin1String("audio/x-midi"))
        return {QStringLiteral("midi")};
    if (t == QLatin1String("application/x-pmd"))
        return {QStringLiteral("cmx"), QStringLiteral("pmd")};
    if (t == QLatin1String("audio/mpeg") || t == QLatin1String("audio/mp3"))
        return {QStringLiteral("mp3")};
    if (t == QLatin1String("audio/mp4") || t == QLatin1String("audio/aac") ||
        t == QLatin1String("audio/x-m4a"))
        return {QStringLiteral("aac")};
    if (t == QLatin1String("audio/wav") || t == QLatin1String("audio/x-wav"))
        return {QStringLiteral("wav")};
    if (t == QLatin1String("text/vnd.wap.wml") || t == QLatin1String("text/html") ||
        t == QLatin1String("application/xhtml+xml") ||
        t == QLatin1String("application/vnd.wap.xhtml+xml"))
        return {QStringLiteral("html")};
    return {};
}

QString kindOf(const QString& format) {
    static const QStringList pictures{QStringLiteral("png"), QStringLiteral("jpeg"),
                                      QStringLiteral("gif"), QStringLiteral("wbmp"),
                                      QStringLiteral("bmp")};
    static const QStringList sounds{
        QStringLiteral("qcp"), QStringLiteral("midi"), QStringLiteral("cmx"), QStringLiteral("pmd"),
        QStringLiteral("wav"), QStringLiteral("mp3"),  QStringLiteral("aac")};
    if (pictures.contains(format))
        return QStringLiteral("picture");
    if (sounds.contains(format))
        return QStringLiteral("sound");
    if (format == QLatin1String("html"))
        return QStringLiteral("page");
    return QStringLiteral("other");
}

// The extension a file of this format is served by.
QString extensionOf(const QString& format) {
    if (format == QLatin1String("jpeg"))
        return QStringLiteral("jpg");
    if (format == QLatin1String("midi"))
        return QStringLiteral("mid");
    if (format == QLatin1String("aac"))
        return QStringLiteral("m4a");
    return format;
}

QString quotedArg(const QString& name) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._/+=:,@%-]+$"));
    if (plain.match(name).hasMatch())
        return name;
    QString q = name;
    q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

QString sizeText(const QSize& s) {
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

QString kb(qint64 n) {
    return n % 1024 == 0 ? QStringLiteral("%1 KB").arg(n / 1024)
                         : QStringLiteral("%1 bytes").arg(n);
}

// Bits a pixel of the picture holds, for the phone's colour depth.
int bitsPerPixel(const sniff::Facts& f) {
    const std::string& c = f.colour;
    if (c == "palette" || c == "mono")
        return qMin(f.bitDepth, 8);
    if (c == "grey")
        return f.bitDepth;
    if (c == "grey+alpha")
        return 2 * f.bitDepth;
    if (c == "rgb" || c == "ycbcr")
        return 3 * f.bitDepth;
    if (c == "rgba" || c == "cmyk" || c == "ycck")
        return 4 * f.bitDepth;
    return f.bitDepth;
}

class Judge {
public:
    Judge(Inspection* r, const PhoneProfile& phone, const QString& fileName)
        : r_(r), phone_(phone), fileName_(fileName) {}

    void add(Severity s, const char* code, const QString& what, const QString& fix) {
        r_->findings.append(Finding{s, QLatin1String(code), what, fix});
    }
    QString fit() const { return QStringLiteral("fit it: ") + fitCommand(phone_, fileName_); }
    QString convert() const {
        return QStringLiteral("make a ringtone of it: ") + convertCommand(fileName_);
    }
    QString remake() const {
        const QString& f = r_->format;
        if (f == QLatin1String("midi") || f == QLatin1String("cmx") || f == QLatin1String("pmd"))
            return QStringLiteral("save it again from the program that made it");
        return r_->kind == QLatin1String("sound") ? convert()
               : r_->kind == QLatin1String("picture")
                   ? fit()
                   : QStringLiteral("make it again from the original");
    }
    QString phoneName() const { return phone_.name(); }

private:
    Inspection* r_;
    const PhoneProfile& phone_;
    QString fileName_;
};

void judgePicture(const sniff::Facts& f, const PhoneProfile& phone, Inspection* r, Judge& j) {
    const QString fmt = r->format;
    if (fmt == QLatin1String("bmp"))
        j.add(Severity::Refuse, "not-a-phone-picture",
              QStringLiteral("a Windows BMP: no phone shows it (WBMP is a different format)"),
              j.fit());
    else if (!phone.takesPicture(fmt))
        j.add(Severity::Refuse, "format-not-taken",
              QStringLiteral("%1 takes %2 pictures, not %3")
                  .arg(j.phoneName(), phone.pictureFormats.join(QStringLiteral(", ")), fmt),
              j.fit());
    if (r->pixels.isValid() && phone.screen.isValid()) {
        const QSize area = phone.wallpaper.isValid() ? phone.wallpaper : phone.screen;
        if (r->pixels.width() > phone.screen.width() || r->pixels.height() > phone.screen.height())
            j.add(Severity::Refuse, "too-many-pixels",
                  QStringLiteral("%1 pixels is larger than the %2 screen (%3)")
                      .arg(sizeText(r->pixels), sizeText(phone.screen), j.phoneName()),
                  j.fit());
        else if (r->pixels.width() < area.width() || r->pixels.height() < area.height())
            j.add(Severity::Hint, "smaller-than-screen",
                  QStringLiteral("%1 pixels is smaller than the %2 the phone shows: it may "
                                 "sit off-centre")
                      .arg(sizeText(r->pixels), sizeText(area)),
                  j.fit());
    }
    if (r->interlaced)
        j.add(Severity::Refuse, "interlaced",
              fmt == QLatin1String("jpeg")
                  ? QStringLiteral("a progressive JPEG: phones show only baseline JPEG")
                  : QStringLiteral("an interlaced (Adam7) PNG: phones cannot show it"),
              j.fit());
    if (fmt == QLatin1String("png") && f.bitDepth == 16)
        j.add(Severity::Refuse, "16-bit",
              QStringLiteral("16 bits a channel: phone decoders take at most 8"), j.fit());
    if (f.colour == "cmyk" || f.colour == "ycck")
        j.add(Severity::Refuse, "cmyk",
              QStringLiteral("a CMYK JPEG (print colours): phones show it wrong or not at all"),
              j.fit());
    if (f.compression == "lossless" || f.compression == "arithmetic")
        j.add(Severity::Refuse, "jpeg-coding",
              QStringLiteral("a %1 JPEG: phones decode only baseline Huffman JPEG")
                  .arg(QString::fromStdString(f.compression)),
              j.fit());
    if (fmt == QLatin1String("bmp") && !f.compression.empty() && f.compression != "none" &&
        f.compression != "bitfields")
        j.add(Severity::Hint, "bmp-compression",
              QStringLiteral("BMP compression %1").arg(QString::fromStdString(f.compression)),
              j.fit());
    if (r->orientation >= 2)
        j.add(Severity::Refuse, "exif-rotated",
              QStringLiteral("EXIF orientation %1: the phone ignores it and shows the picture "
                             "turned or mirrored")
                  .arg(r->orientation),
              j.fit());
    if (r->frames > 1)
        j.add(Severity::May, "animated",
              QStringLiteral("animated (%1 frames): the phone shows one frame at best")
                  .arg(r->frames),
              j.fit());
    const int bits = bitsPerPixel(f);
    if (phone.colourBits > 0 && bits > phone.colourBits && fmt != QLatin1String("bmp") &&
        f.colour != "cmyk" && f.colour != "ycck")
        j.add(Severity::Hint, "colour-depth",
              QStringLiteral("%1-bit colour; %2 shows %3-bit: a large or banded picture")
                  .arg(bits)
                  .arg(j.phoneName())
                  .arg(phone.colourBits),
              j.fit());
    if (phone.maxPictureBytes > 0 && r->size > phone.maxPictureBytes)
        j.add(Severity::Refuse, "too-large",
              QStringLiteral("%1 bytes is more than the %2 a picture may have on %3")
                  .arg(r->size)
                  .arg(kb(phone.maxPictureBytes), j.phoneName()),
              j.fit());
}

void judgeSound(const sniff::Facts& f, const PhoneProfile& phone, Inspection* r, Judge& j) {
    const QString fmt = r->format;
    if (fmt == QLatin1String("wav")) {
        j.add(Severity::Refuse, "not-a-ringtone",
              QStringLiteral("a WAV recording (%1, %2 Hz, %3 channel%4) is not a ringtone "
                             "format; phones take QCELP (.qcp)")
                  .arg(r->codec)
                  .arg(r->sampleRate)
                  .arg(r->channels)
                  .arg(r->channels == 1 ? QString() : QStringLiteral("s")),
              j.convert());
    } else if (!phone.takesSound(fmt)) {
        j.add(Severity::Refuse, "format-not-taken",
              QStringLiteral("%1 takes %2 sounds, not %3")
                  .arg(j.phoneName(), phone.soundFormats.join(QStringLiteral(", ")), fmt),
              j.convert());
    }
    if (fmt == QLatin1String("qcp")) {
        if (r->codec == QLatin1String("evrc") || r->codec == QLatin1String("smv"))
            j.add(Severity::May, "qcp-codec",
                  QStringLiteral("%1 voice coding, not QCELP-13K: most phones play only "
                                 "QCELP-13K ringers")
                      .arg(r->codec.toUpper()),
                  j.convert());
        else if (r->codec == QLatin1String("unknown"))
            j.add(Severity::Refuse, "qcp-codec",
                  QStringLiteral("a QCP of a codec no phone knows (its GUID is not QCELP-13K, "
                                 "EVRC or SMV)"),
                  j.convert());
        if (r->sampleRate != 0 && r->sampleRate != 8000)
            j.add(Severity::Refuse, "sample-rate",
                  QStringLiteral("%1 Hz: QCP voice coding is 8000 Hz only").arg(r->sampleRate),
                  j.convert());
    }
    if (fmt == QLatin1String("midi")) {
        if (f.midiFormat == 2)
            j.add(Severity::Refuse, "midi-format",
                  QStringLiteral("SMF format 2 (independent patterns): phones play format 0 "
                                 "or 1"),
                  QStringLiteral("save it as SMF format 0 or 1 in a MIDI editor"));
        if (f.midiDivision & 0x8000)
            j.add(Severity::May, "midi-timing",
                  QStringLiteral("SMPTE time division: phone players expect ticks a beat"),
                  QStringLiteral("save it with ticks a quarter note in a MIDI editor"));
    }
    if (r->seconds > 30)
        j.add(Severity::Hint, "long",
              QStringLiteral("%1 s long: voicemail answers after about 30 s, so the rest is "
                             "never heard")
                  .arg(r->seconds, 0, 'f', 1),
              j.convert());
    if (phone.maxRingerBytes > 0 && r->size > phone.maxRingerBytes)
        j.add(Severity::Refuse, "too-large",
              QStringLiteral("%1 bytes is more than the %2 a ringer may have on %3")
                  .arg(r->size)
                  .arg(kb(phone.maxRingerBytes), j.phoneName()),
              fmt == QLatin1String("midi") ? QStringLiteral("shorten it in a MIDI editor")
                                           : j.convert());
}

void judgePage(const sniff::Facts& f, const PhoneProfile& phone, Inspection* r, Judge& j) {
    const QString markup = QString::fromStdString(f.markup);
    if (markup != QLatin1String("wml") && phone.markup == QLatin1String("wml"))
        j.add(Severity::Refuse, "markup",
              QStringLiteral("a %1 page: %2 reads WML only").arg(markup, j.phoneName()),
              QStringLiteral("write WML pages for it"));
    if (phone.maxPageBytes > 0 && r->size > phone.maxPageBytes)
        j.add(Severity::May, "page-too-large",
              QStringLiteral("%1 bytes: %2 reads pages of up to %3 bytes")
                  .arg(r->size)
                  .arg(j.phoneName())
                  .arg(phone.maxPageBytes),
              QStringLiteral("split it into smaller pages"));
}

} // namespace

QString severityName(Severity s) {
    switch (s) {
    case Severity::Refuse:
        return QStringLiteral("refuse");
    case Severity::May:
        return QStringLiteral("may");
    case Severity::Hint:
        return QStringLiteral("hint");
    }
    return {};
}

QString Inspection::summary() const {
    const Inspection& r = *this;
    QStringList parts{r.format == QLatin1String("unknown")
                          ? QStringLiteral("not a known media format")
                          : r.format + QLatin1Char(' ') + r.kind};
    if (r.pixels.isValid())
        parts << QStringLiteral("%1x%2").arg(r.pixels.width()).arg(r.pixels.height());
    if (r.bitDepth > 0 && r.kind == QLatin1String("picture"))
        parts << QStringLiteral("%1-bit %2").arg(r.bitDepth).arg(r.colour).trimmed();
    if (r.interlaced)
        parts << (r.format == QLatin1String("jpeg") ? QStringLiteral("progressive")
                                                    : QStringLiteral("interlaced"));
    if (r.frames > 1)
        parts << QStringLiteral("%1 frames").arg(r.frames);
    if (r.orientation > 1)
        parts << QStringLiteral("EXIF orientation %1").arg(r.orientation);
    if (!r.codec.isEmpty())
        parts << r.codec;
    if (r.sampleRate > 0)
        parts << QStringLiteral("%1 Hz").arg(r.sampleRate);
    if (r.channels > 0 && r.kind == QLatin1String("sound"))
        parts << QStringLiteral("%1 ch").arg(r.channels);
    if (r.midiFormat >= 0)
        parts << QStringLiteral("SMF %1, %2 track%3")
                     .arg(r.midiFormat)
                     .arg(r.midiTracks)
                     .arg(r.midiTracks == 1 ? QString() : QStringLiteral("s"));
    if (r.seconds > 0)
        parts << QStringLiteral("%1 s").arg(r.seconds, 0, 'f', 1);
    parts << QStringLiteral("%1 bytes").arg(r.size);
    return parts.join(QStringLiteral(", "));
}

bool Inspection::works() const {
    for (const Finding& f : findings)
        if (f.severity == Severity::Refuse)
            return false;
    return true;
}

QString fitCommand(const PhoneProfile& phone, const QString& fileName) {
    return QStringLiteral("tessavane-cli fit --phone ") + phone.id + QLatin1Char(' ') +
           quotedArg(fileName);
}

QString convertCommand(const QString& fileName) {
    return QStringLiteral("tessavane-cli convert ") + quotedArg(fileName);
}

Inspection inspectBytes(const QByteArray& head, qint64 totalSize, const QString& fileName,
                        const PhoneProfile& phone, const QString& contentType) {
    Inspection r;
    r.size = qMax<qint64>(totalSize, head.size());
    const QByteArray bytes = head.left(int(qMin<qint64>(head.size(), kInspectHeadBytes)));
    const std::string ext = QFileInfo(fileName).suffix().toLower().toStdString();
    const sniff::Facts f =
        sniff::sniff(sniff::Bytes{reinterpret_cast<const unsigned char*>(bytes.constData()),
                                  size_t(bytes.size())},
                     uint64_t(r.size), ext);
    r.format = QString::fromStdString(f.format);
    r.kind = kindOf(r.format);
    if (f.width > 0 && f.height > 0)
        r.pixels = QSize(int(qMin<uint32_t>(f.width, 0x7fffffff)),
                         int(qMin<uint32_t>(f.height, 0x7fffffff)));
    r.bitDepth = f.bitDepth;
    r.interlaced = f.interlaced;
    r.seconds = f.seconds;
    r.codec = QString::fromStdString(f.format == "html" ? f.markup : f.codec);
    r.colour = QString::fromStdString(f.colour);
    r.frames = f.frames;
    r.orientation = f.orientation;
    r.sampleRate = int(qMin<uint32_t>(f.sampleRate, 0x7fffffff));
    r.channels = f.channels;
    r.midiFormat = f.midiFormat;
    r.midiTracks = f.midiTracks;

    Judge j(&r, phone, fileName);
    if (r.size == 0) {
        j.add(Severity::Refuse, "empty", QStringLiteral("the file is empty"), QString());
        return r;
    }
    if (r.format == QLatin1String("unknown")) {
        j.add(Severity::Refuse, "unknown-format",
              QStringLiteral("its bytes are no picture, sound or page a phone knows"),
              QStringLiteral("make a picture of it (%1) or a ringtone (%2)")
                  .arg(fitCommand(phone, fileName), convertCommand(fileName)));
        return r;
    }
    const QString named = formatOfExtension(fileName);
    if (!named.isEmpty() && named != r.format &&
        !(named == QLatin1String("cmx") && r.format == QLatin1String("pmd")))
        j.add(Severity::Refuse, "extension-mismatch",
              QStringLiteral("its name says %1 but its bytes are %2: the server and the "
                             "descriptor type it by the name")
                  .arg(named, r.format),
              r.kind == QLatin1String("picture") || r.kind == QLatin1String("sound")
                  ? j.remake()
                  : QStringLiteral("rename it to .%1").arg(extensionOf(r.format)));
    const QStringList typed = formatsOfType(contentType);
    if (!contentType.isEmpty() && !typed.contains(r.format))
        j.add(Severity::Refuse, "type-mismatch",
              QStringLiteral("the descriptor's Content-Type is %1 but the bytes are %2")
                  .arg(contentType.left(80), r.format),
              QStringLiteral("name it .%1 and make its descriptor again: tessavane-cli make %2")
                  .arg(extensionOf(r.format), quotedArg(QFileInfo(fileName).completeBaseName() +
                                                        QLatin1Char('.') + extensionOf(r.format))));
    if (!f.fault.empty()) {
        j.add(Severity::Refuse, "broken",
              QStringLiteral("a broken %1: %2").arg(r.format, QString::fromStdString(f.fault)),
              j.remake());
    } else if (f.past && r.kind == QLatin1String("picture") && !r.pixels.isValid()) {
        j.add(Severity::May, "size-unknown",
              QStringLiteral("its size is not in the first %1 KB, so it was not checked")
                  .arg(kInspectHeadBytes / 1024),
              j.fit());
    }
    if (r.kind == QLatin1String("picture"))
        judgePicture(f, phone, &r, j);
    else if (r.kind == QLatin1String("sound"))
        judgeSound(f, phone, &r, j);
    else if (r.kind == QLatin1String("page"))
        judgePage(f, phone, &r, j);
    // The worst first; each kind in the order it was found.
    std::stable_sort(r.findings.begin(), r.findings.end(), [](const Finding& a, const Finding& b) {
        return int(a.severity) < int(b.severity);
    });
    return r;
}

Inspection inspectFile(const QString& path, const PhoneProfile& phone, const QString& contentType) {
    const Head head = readHead(path, kInspectHeadBytes);
    if (!head.ok) {
        Inspection r;
        r.format = QStringLiteral("unknown");
        r.kind = QStringLiteral("other");
        r.error = head.reason;
        r.findings.append(Finding{Severity::Refuse, QStringLiteral("unreadable"),
                                  QStringLiteral("it cannot be read: ") + head.reason, QString()});
        return r;
    }
    return inspectBytes(head.bytes, head.size, path, phone, contentType);
}

} // namespace tess::media
