// fit: phone-ready copies of pictures, scaled and written the way the phone takes them.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/PhoneOption.h"
#include "engine/FileOps.h"
#include "media/Fit.h"
#include "media/Phones.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonObject>

namespace tess::cli {

namespace {

QString modeName(media::FitMode m) {
    switch (m) {
    case media::FitMode::Fit:
        return QStringLiteral("fit");
    case media::FitMode::Fill:
        return QStringLiteral("fill");
    case media::FitMode::Pad:
        return QStringLiteral("pad");
    }
    return {};
}

// The source's name with the format's extension, beside it or in folder.
QString targetFor(const QString& source, const QString& folder, const QString& extension) {
    const QFileInfo info(source);
    const QString name = info.completeBaseName() + extension;
    return folder.isEmpty() ? info.dir().filePath(name) : QDir(folder).filePath(name);
}

} // namespace

int fitMain(const QStringList& arguments) {
    const QString name = QStringLiteral("fit");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes a phone-ready copy of each picture (JPEG, PNG, GIF, WebP, TIFF or HEIF); the\n"
        "source is never changed. The picture is turned upright by its EXIF orientation,\n"
        "scaled with Lanczos to the phone's wallpaper area, its transparency flattened onto\n"
        "the background and its colour made sRGB, then written as an 8-bit palette PNG (no\n"
        "interlacing, no metadata), a baseline 4:2:0 JPEG (no EXIF) or a 1-bit WBMP. When the\n"
        "file would be larger than the phone takes, the palette or the JPEG quality is lowered\n"
        "step by step; when even the smallest is too large, the file fails with both sizes.\n"
        "Modes: fit keeps the whole picture inside the area, fill crops it to fill the area,\n"
        "pad fits it and pads it to the full screen where the phone shows the area.\n"
        "The copy takes the source's name with the new extension (beside it, or in --out-dir)\n"
        "or -o; a copy that would replace its own source fails. Prints each written path.\n"
        "Names after -- are files even when they begin with '-'."));
    const QCommandLineOption phone = phoneOption();
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("png, jpeg or wbmp (default: png, or the first the phone takes)."),
        QStringLiteral("FORMAT"));
    const QCommandLineOption mode(
        QStringLiteral("mode"),
        QStringLiteral("fit, fill or pad (default: pad, which the phone shows "
                       "whole and centred)."),
        QStringLiteral("MODE"), QStringLiteral("pad"));
    const QCommandLineOption background(
        QStringLiteral("background"),
        QStringLiteral("Colour under transparency and around a padded picture: #rrggbb, #rgb "
                       "or a name such as white or black (default: white)."),
        QStringLiteral("COLOUR"), QStringLiteral("white"));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the copy to OUT (one picture only)."),
                                    QStringLiteral("OUT"));
    const QCommandLineOption outDir(QStringLiteral("out-dir"),
                                    QStringLiteral("Write the copies into the folder DIR."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per picture."));
    for (const QCommandLineOption* o :
         {&phone, &format, &mode, &background, &output, &outDir, &json})
        parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("Pictures to fit."),
                                 QStringLiteral("IMAGE..."));
    int exitCode = kOk;
    if (!parseArguments(parser, name, arguments, &exitCode))
        return exitCode;
    const QStringList inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        return usageError(name, QStringLiteral("no picture named"));
    if (parser.isSet(output) && parser.isSet(outDir))
        return usageError(name, QStringLiteral("-o and --out-dir exclude each other"));
    if (parser.isSet(output) && inputs.size() > 1)
        return usageError(name, QStringLiteral("-o takes one picture"));
    if (parser.isSet(output) && parser.value(output).isEmpty())
        return usageError(name, QStringLiteral("-o needs a file name"));
    const QString folder = parser.value(outDir);
    if (parser.isSet(outDir) && !FileOps::folderExists(folder))
        return usageError(name, QStringLiteral("--out-dir: '") + shown(folder) +
                                    QStringLiteral("' is not a folder"));

    const std::optional<media::PhoneProfile> profile = chosenPhone(parser, phone, name, &exitCode);
    if (!profile)
        return exitCode;
    media::FitOptions options;
    if (parser.isSet(format)) {
        options.format = parser.value(format).trimmed().toLower();
        if (options.format == QLatin1String("jpg"))
            options.format = QStringLiteral("jpeg");
        if (media::fitExtension(options.format).isEmpty())
            return usageError(name, QStringLiteral("--format takes png, jpeg or wbmp"));
    } else if (!profile->pictureFormats.isEmpty() && !profile->takesPicture(options.format)) {
        for (const QString& f : profile->pictureFormats)
            if (!media::fitExtension(f).isEmpty()) {
                options.format = f;
                break;
            }
    }
    const std::optional<media::FitMode> m = media::parseFitMode(parser.value(mode).trimmed());
    if (!m)
        return usageError(name, QStringLiteral("--mode takes fit, fill or pad"));
    options.mode = *m;
    const std::optional<uint> colour = media::parseColour(parser.value(background));
    if (!colour)
        return usageError(name, QStringLiteral("--background: '") +
                                    shown(parser.value(background)) +
                                    QStringLiteral("' is not a colour (#rrggbb, #rgb or a name)"));
    options.background = *colour;

    StatusLine status;
    int failed = 0;
    QHash<QString, QString> written; // target -> the source it was made from in this run
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        const QString& source = inputs[i];
        if (status.on() && inputs.size() > 1)
            status.show(QStringLiteral("fitting %1 of %2: %3")
                            .arg(i + 1)
                            .arg(inputs.size())
                            .arg(shown(QFileInfo(source).fileName())));
        const QString target = parser.isSet(output)
                                   ? parser.value(output)
                                   : targetFor(source, folder, media::fitExtension(options.format));
        const QString key = QFileInfo(target).absoluteFilePath();
        media::FitResult r;
        if (written.contains(key))
            r.reason = QStringLiteral("its copy ") + shown(target) +
                       QStringLiteral(" was already written from ") + shown(written.value(key));
        else
            r = media::fitPicture(source, target, *profile, options);
        status.clear();
        if (r.ok) {
            written.insert(key, source);
        } else {
            ++failed;
            printError(source, r.reason);
        }
        if (parser.isSet(json)) {
            QJsonObject o{{QStringLiteral("source"), source},
                          {QStringLiteral("ok"), r.ok},
                          {QStringLiteral("phone"), profile->id},
                          {QStringLiteral("format"), options.format},
                          {QStringLiteral("mode"), modeName(options.mode)}};
            if (r.ok) {
                o.insert(QStringLiteral("output"), target);
                o.insert(QStringLiteral("width"), r.size.width());
                o.insert(QStringLiteral("height"), r.size.height());
                o.insert(QStringLiteral("bytes"), r.bytes);
                if (r.quality > 0 || options.format != QLatin1String("wbmp"))
                    o.insert(QStringLiteral("quality"), r.quality);
                if (r.colours > 0)
                    o.insert(QStringLiteral("colours"), r.colours);
            } else {
                o.insert(QStringLiteral("error"), r.reason);
            }
            printJson(o);
        } else if (r.ok) {
            printLine(shown(target));
        }
    }
    std::fflush(stdout);
    return failed > 0 ? kFailed : kOk;
}

} // namespace tess::cli
