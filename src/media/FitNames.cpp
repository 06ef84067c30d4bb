// The names and colours fit takes on the command line and in the window.
#include "media/Fit.h"

#include <QHash>

namespace tess::media {

QString fitExtension(const QString& format) {
    if (format == QLatin1String("png"))
        return QStringLiteral(".png");
    if (format == QLatin1String("jpeg"))
        return QStringLiteral(".jpg");
    if (format == QLatin1String("wbmp"))
        return QStringLiteral(".wbmp");
    return {};
}

std::optional<FitMode> parseFitMode(const QString& text) {
    if (text == QLatin1String("fit"))
        return FitMode::Fit;
    if (text == QLatin1String("fill"))
        return FitMode::Fill;
    if (text == QLatin1String("pad"))
        return FitMode::Pad;
    return std::nullopt;
}

std::optional<uint> parseColour(const QString& text) {
    static const QHash<QString, uint> names{
        {QStringLiteral("white"), 0xffffff},   {QStringLiteral("black"), 0x000000},
        {QStringLiteral("grey"), 0x808080},    {QStringLiteral("gray"), 0x808080},
        {QStringLiteral("silver"), 0xc0c0c0},  {QStringLiteral("red"), 0xff0000},
        {QStringLiteral("maroon"), 0x800000},  {QStringLiteral("green"), 0x008000},
        {QStringLiteral("lime"), 0x00ff00},    {QStringLiteral("blue"), 0x0000ff},
        {QStringLiteral("navy"), 0x000080},    {QStringLiteral("yellow"), 0xffff00},
        {QStringLiteral("olive"), 0x808000},   {QStringLiteral("aqua"), 0x00ffff},
        {QStringLiteral("cyan"), 0x00ffff},    {QStringLiteral("teal"), 0x008080},
        {QStringLiteral("fuchsia"), 0xff00ff}, {QStringLiteral("magenta"), 0xff00ff},
        {QStringLiteral("purple"), 0x800080},  {QStringLiteral("orange"), 0xffa500}};
    const QString t = text.trimmed().toLower();
    if (const auto it = names.constFind(t); it != names.constEnd())
        return *it;
    QString hex = t.startsWith(QLatin1Char('#')) ? t.mid(1) : t;
    if (hex.size() != 3 && hex.size() != 6)
        return std::nullopt;
    for (const QChar c : hex)
        if (!c.isDigit() && (c < QLatin1Char('a') || c > QLatin1Char('f')))
            return std::nullopt;
    if (hex.size() == 3)
        hex = QString(hex[0]) + hex[0] + hex[1] + hex[1] + hex[2] + hex[2];
    return hex.toUInt(nullptr, 16);
}

} // namespace tess::media
