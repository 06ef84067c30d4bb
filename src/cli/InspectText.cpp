#include "cli/InspectText.h"

#include "cli/CliCommon.h"

#include <QJsonArray>

namespace tess::cli {

net::MediaVerdict judgeForCheck(const media::PhoneProfile& phone, const QByteArray& head,
                                qint64 size, const QString& fileName, const QString& type) {
    const media::Inspection r = media::inspectBytes(head, size, fileName, phone, type);
    net::MediaVerdict v;
    v.summary = r.summary();
    for (const media::Finding& f : r.findings)
        v.findings.append({media::severityName(f.severity), f.what, f.fix});
    return v;
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
