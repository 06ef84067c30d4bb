// inspect: what a media file really is, and what a given phone will make of it.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/InspectText.h"
#include "cli/PhoneOption.h"

#include <cstdio>

namespace tess::cli {

int inspectMain(const QStringList& arguments) {
    const QString name = QStringLiteral("inspect");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads each file's own headers (never the whole file) and says what it is by its\n"
        "bytes: format against its name, pixel size, colour depth, interlacing, CMYK,\n"
        "animation and EXIF rotation of pictures; codec, rate and length of QCP; the\n"
        "tracks of MIDI; and its size against the phone's limits. Each finding has a\n"
        "severity (refuse: the phone refuses or misshows it; may: it may; hint) and a\n"
        "fix naming the command that makes it right.\n"
        "Exit status 0 when every file will work on the phone, 1 when one will not or\n"
        "cannot be read, 2 for a usage error. Use -- before file names that begin with -."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per file."));
    const QCommandLineOption phone = phoneOption();
    const QCommandLineOption type(QStringLiteral("type"),
                                  QStringLiteral("Check the bytes against this Content-Type too."),
                                  QStringLiteral("TYPE"));
    parser.addOption(phone);
    parser.addOption(json);
    parser.addOption(type);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Media files."),
                                 QStringLiteral("FILE..."));
    int exitCode = kOk;
    QStringList files;
    const std::optional<media::PhoneProfile> profile = parseFilesForPhone(
        parser, phone, name, arguments, QStringLiteral("no file named"), &files, &exitCode);
    if (!profile)
        return exitCode;
    int failed = 0;
    for (const QString& file : files) {
        const media::Inspection r = media::inspectFile(file, *profile, parser.value(type));
        if (!r.works())
            ++failed;
        if (!r.error.isEmpty())
            printError(file, r.error);
        if (parser.isSet(json)) {
            QJsonObject o = inspectionJson(r);
            o.insert(QStringLiteral("file"), file);
            o.insert(QStringLiteral("phone"), profile->id);
            printJson(o);
            continue;
        }
        if (!r.error.isEmpty())
            continue;
        printLine(shown(file) + QStringLiteral(": ") + r.summary());
        for (const QString& line : findingLines(r))
            printLine(QStringLiteral("  ") + line);
        printLine(QStringLiteral("  ") +
                  (r.works() ? QStringLiteral("works on ") : QStringLiteral("will not work on ")) +
                  shown(profile->name()) + QStringLiteral(" (") + profile->id + QLatin1Char(')'));
    }
    std::fflush(stdout);
    return failed > 0 ? kFailed : kOk;
}

} // namespace tess::cli
