#include "cli/InspectText.h"

#include "cli/CliCommon.h"

#include <QJsonArray>

namespace tess::cli {

QString inspectionSummary(const media::Inspection& r) {
    QStringList parts{r.format + QLatin1Char(' ') + r.kind};
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
        parts << QStringLiteral("SMF %1, %2 tracks").arg(r.midiFormat).arg(r.midiTracks);
    if (r.seconds > 0)
        parts << QStringLiteral("%1 s").arg(r.seconds, 0, 'f', 1);
    parts << QStringLiteral("%1 bytes").arg(r.size);
    return parts.join(QStringLiteral(", "));
}

QStringList findingLines(const media::Inspection& r) {
    QStringList lines;
    for (const media::Finding& f : r.findings) {
        lines << media::severityName(f.severity) + QStringLiteral(": ") + shown(f.what);
        if (!f.fix.isEmpty())
            lines << QStringLiteral("  fix: ") + shown(f.fix);
    }
    return lines;
}

QJsonObject inspectionJson(const media::Inspection& r) {
    QJsonArray findings;
    for (const media::Finding& f : r.findings)
        findings.append(QJsonObject{{QStringLiteral("severity"), media::severityName(f.severity)},
                                    {QStringLiteral("code"), f.code},
                                    {QStringLiteral("what"), f.what},
                                    {QStringLiteral("fix"), f.fix}});
    QJsonObject o{{QStringLiteral("format"), r.format},
                  {QStringLiteral("kind"), r.kind},
                  {QStringLiteral("size"), r.size},
                  {QStringLiteral("works"), r.works()},
                  {QStringLiteral("findings"), findings}};
    if (r.pixels.isValid()) {
        o.insert(QStringLiteral("width"), r.pixels.width());
        o.insert(QStringLiteral("height"), r.pixels.height());
    }
    if (r.bitDepth > 0)
        o.insert(QStringLiteral("bitDepth"), r.bitDepth);
    if (!r.colour.isEmpty())
        o.insert(QStringLiteral("colour"), r.colour);
    if (r.kind == QLatin1String("picture"))
        o.insert(QStringLiteral("interlaced"), r.interlaced);
    if (r.frames > 0)
        o.insert(QStringLiteral("frames"), r.frames);
    if (r.orientation > 0)
        o.insert(QStringLiteral("orientation"), r.orientation);
    if (!r.codec.isEmpty())
        o.insert(QStringLiteral("codec"), r.codec);
    if (r.seconds > 0)
        o.insert(QStringLiteral("seconds"), r.seconds);
    if (r.sampleRate > 0)
        o.insert(QStringLiteral("sampleRate"), r.sampleRate);
    if (r.channels > 0)
        o.insert(QStringLiteral("channels"), r.channels);
    if (r.midiFormat >= 0) {
        o.insert(QStringLiteral("midiFormat"), r.midiFormat);
        o.insert(QStringLiteral("midiTracks"), r.midiTracks);
    }
    if (!r.error.isEmpty())
        o.insert(QStringLiteral("error"), r.error);
    return o;
}

} // namespace tess::cli
