// phones: the phone profiles every media command judges by.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "media/Phones.h"

#include <QJsonArray>
#include <cstdio>

namespace tess::cli {

namespace {

QString sizeText(const QSize& s) {
    return s.isValid() ? QStringLiteral("%1x%2").arg(s.width()).arg(s.height()) : QString();
}

QString bytesText(qint64 n) {
    if (n <= 0)
        return QStringLiteral("-");
    if (n % 1024 == 0)
        return QStringLiteral("%1K").arg(n / 1024);
    return QString::number(n);
}

QJsonObject phoneJson(const media::PhoneProfile& p) {
    QJsonObject o{{QStringLiteral("id"), p.id},
                  {QStringLiteral("maker"), p.maker},
                  {QStringLiteral("model"), p.model},
                  {QStringLiteral("name"), p.name()},
                  {QStringLiteral("screen"), sizeText(p.screen)},
                  {QStringLiteral("wallpaper"), sizeText(p.wallpaper)},
                  {QStringLiteral("wallpaperTop"), p.wallpaperTop},
                  {QStringLiteral("wallpaperLeft"), p.wallpaperLeft},
                  {QStringLiteral("callerId"), sizeText(p.callerId)},
                  {QStringLiteral("pictures"), QJsonArray::fromStringList(p.pictureFormats)},
                  {QStringLiteral("sounds"), QJsonArray::fromStringList(p.soundFormats)},
                  {QStringLiteral("maxRingerBytes"), p.maxRingerBytes},
                  {QStringLiteral("maxPictureBytes"), p.maxPictureBytes},
                  {QStringLiteral("markup"), p.markup},
                  {QStringLiteral("maxPageBytes"), p.maxPageBytes},
                  {QStringLiteral("colourBits"), p.colourBits},
                  {QStringLiteral("generic"), p.generic},
                  {QStringLiteral("user"), p.user},
                  {QStringLiteral("file"), p.file},
                  {QStringLiteral("sources"), p.sources}};
    QJsonArray midi;
    for (const int f : p.midiFormats)
        midi.append(f);
    o.insert(QStringLiteral("midiFormats"), midi);
    return o;
}

QString orDash(const QString& s) {
    return s.isEmpty() ? QStringLiteral("-") : s;
}

void printRow(const media::PhoneProfile& p) {
    QString screen = orDash(sizeText(p.screen));
    if (p.wallpaper.isValid() && p.wallpaper != p.screen)
        screen += QStringLiteral(" (") + sizeText(p.wallpaper) + QLatin1Char(')');
    printLine(QStringLiteral("%1 %2 %3 %4 %5 ringer %6 picture %7 %8 %9")
                  .arg(shown(p.id), -20)
                  .arg(shown(p.name()), -32)
                  .arg(screen, -19)
                  .arg(orDash(p.pictureFormats.join(QLatin1Char(','))), -13)
                  .arg(orDash(p.soundFormats.join(QLatin1Char(','))), -19)
                  .arg(bytesText(p.maxRingerBytes), -5)
                  .arg(bytesText(p.maxPictureBytes), -5)
                  .arg(orDash(p.markup), -5)
                  .arg(bytesText(p.maxPageBytes)));
}

void printDetail(const media::PhoneProfile& p) {
    printLine(shown(p.id) + QStringLiteral(": ") + shown(p.name()));
    const auto line = [](const char* label, const QString& value) {
        printLine(QStringLiteral("  %1 %2").arg(QLatin1String(label), -16).arg(orDash(value)));
    };
    line("screen:", sizeText(p.screen));
    QString wallpaper = sizeText(p.wallpaper);
    if (!wallpaper.isEmpty())
        wallpaper += QStringLiteral(" at %1,%2").arg(p.wallpaperLeft).arg(p.wallpaperTop);
    line("wallpaper:", wallpaper);
    line("caller ID:", sizeText(p.callerId));
    line("pictures:", p.pictureFormats.join(QStringLiteral(", ")));
    line("sounds:", p.soundFormats.join(QStringLiteral(", ")));
    QStringList midi;
    for (const int f : p.midiFormats)
        midi << QString::number(f);
    line("MIDI formats:", midi.join(QStringLiteral(", ")));
    line("largest ringer:", p.maxRingerBytes > 0 ? QString::number(p.maxRingerBytes) : QString());
    line("largest picture:",
         p.maxPictureBytes > 0 ? QString::number(p.maxPictureBytes) : QString());
    line("colour bits:", p.colourBits > 0 ? QString::number(p.colourBits) : QString());
    line("markup:", p.markup);
    line("largest page:", p.maxPageBytes > 0 ? QString::number(p.maxPageBytes) : QString());
    line("from:", shown(p.file.isEmpty() ? QStringLiteral("built in") : p.file));
    for (const QString& s : p.sources.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        printLine(QStringLiteral("  source: ") + shown(s));
}

} // namespace

int phonesMain(const QStringList& arguments) {
    const QString name = QStringLiteral("phones");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists the phone profiles media is judged by: id, name, screen (and the\n"
                       "wallpaper's visible area), picture and sound formats, the largest ringer\n"
                       "and picture in bytes, markup and the largest page. '-' means not known:\n"
                       "the default profile's figure applies. With IDs, each profile in full with\n"
                       "the source of its figures.\n"
                       "Shipped profiles are read from share/tessavane/phones.json; the user's\n"
                       "own in ~/.config/tessavane/phones.json add to or replace them.\n"
                       "Exit status 1 when a phones.json has faults or an ID is not known."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per profile."));
    parser.addOption(json);
    parser.addPositionalArgument(QStringLiteral("ID"), QStringLiteral("Profiles to show in full."),
                                 QStringLiteral("[ID...]"));
    int exitCode = kOk;
    if (!parseArguments(parser, name, arguments, &exitCode))
        return exitCode;
    const media::PhoneList list = media::loadPhones();
    for (const QString& problem : list.problems)
        printMessage(shown(problem));
    int failed = list.problems.isEmpty() ? 0 : 1;
    const QStringList ids = parser.positionalArguments();
    QList<const media::PhoneProfile*> chosen;
    if (ids.isEmpty()) {
        for (const media::PhoneProfile& p : list.phones)
            chosen.append(&p);
    }
    for (const QString& id : ids) {
        const media::PhoneProfile* p = list.find(id);
        if (p) {
            chosen.append(p);
        } else {
            printError(id, QStringLiteral("no such phone profile"));
            ++failed;
        }
    }
    for (const media::PhoneProfile* p : chosen) {
        if (parser.isSet(json))
            printJson(phoneJson(*p));
        else if (!ids.isEmpty())
            printDetail(*p);
        else
            printRow(*p);
    }
    std::fflush(stdout);
    return failed > 0 ? kFailed : kOk;
}

} // namespace tess::cli
