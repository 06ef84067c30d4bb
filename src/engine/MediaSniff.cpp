#include "engine/MediaSniff.h"

namespace tess {

namespace {

bool startsWith(const QByteArray& head, const char* mark, int at = 0) {
    return head.mid(at).startsWith(mark);
}

} // namespace

QString sniffFormat(const QByteArray& head) {
    auto byte = [&](int i) { return i < head.size() ? static_cast<unsigned char>(head[i]) : 0u; };
    if (startsWith(head, "\x89PNG\r\n\x1a\n"))
        return QStringLiteral("png");
    if (byte(0) == 0xff && byte(1) == 0xd8 && byte(2) == 0xff)
        return QStringLiteral("jpeg");
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a"))
        return QStringLiteral("gif");
    if (startsWith(head, "MThd"))
        return QStringLiteral("midi");
    if (startsWith(head, "RIFF") && head.size() >= 12) {
        if (startsWith(head, "QLCM", 8))
            return QStringLiteral("qcp");
        if (startsWith(head, "WAVE", 8))
            return QStringLiteral("wav");
        if (startsWith(head, "RMID", 8))
            return QStringLiteral("midi");
        return {};
    }
    if (startsWith(head, "ID3"))
        return QStringLiteral("mp3");
    // Frame sync: eleven set bits. MPEG audio has a layer; ADTS (AAC) has none.
    if (byte(0) == 0xff && (byte(1) & 0xe0) == 0xe0 && head.size() >= 4) {
        if ((byte(1) & 0xf6) == 0xf0)
            return QStringLiteral("aac");
        if ((byte(1) & 0x06) != 0 && (byte(1) & 0x18) != 0x08)
            return QStringLiteral("mp3");
    }
    // "BM" and a header size a Windows bitmap has (12, 40, 52, 56, 108 or 124).
    if (startsWith(head, "BM") && head.size() >= 18) {
        const unsigned info = byte(14) | byte(15) << 8 | byte(16) << 16 | unsigned(byte(17)) << 24;
        if (info == 12 || info == 40 || info == 52 || info == 56 || info == 108 || info == 124)
            return QStringLiteral("bmp");
    }
    // A web page: an error page or a site's front page in place of the file.
    QByteArray text = head;
    if (text.startsWith("\xef\xbb\xbf"))
        text.remove(0, 3);
    text = text.trimmed().toLower();
    for (const char* mark : {"<!doctype html", "<html", "<head", "<body", "<?xml"})
        if (text.startsWith(mark))
            return QStringLiteral("html");
    return {};
}

QString formatOfContentType(const QString& mime) {
    if (mime == QLatin1String("audio/midi"))
        return QStringLiteral("midi");
    if (mime == QLatin1String("audio/vnd.qcelp"))
        return QStringLiteral("qcp");
    if (mime == QLatin1String("image/png"))
        return QStringLiteral("png");
    if (mime == QLatin1String("image/jpeg"))
        return QStringLiteral("jpeg");
    // WBMP has no mark, but it is none of the marked formats either.
    if (mime == QLatin1String("image/vnd.wap.wbmp"))
        return QStringLiteral("wbmp");
    return {};
}

QString formatDescription(const QString& format) {
    static const struct {
        const char* code;
        const char* text;
    } names[] = {{"png", "a PNG picture"},     {"jpeg", "a JPEG picture"},
                 {"gif", "a GIF picture"},     {"bmp", "a Windows BMP picture"},
                 {"wbmp", "a WBMP picture"},   {"qcp", "a QCELP recording"},
                 {"midi", "a MIDI file"},      {"wav", "a WAV recording"},
                 {"mp3", "an MP3 recording"},  {"aac", "an AAC recording"},
                 {"html", "a web page (HTML)"}};
    for (const auto& n : names)
        if (format == QLatin1String(n.code))
            return QLatin1String(n.text);
    return format;
}

} // namespace tess
