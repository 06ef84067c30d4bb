// convert: WAV to QCELP through the converter, the window's way.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "engine/AudioPaths.h"
#include "engine/Conversion.h"

#include <QJsonObject>

namespace tess::cli {

int convertMain(const QStringList& arguments) {
    const QString name = QStringLiteral("convert");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts 8000 Hz mono PCM WAV recordings (8 or 16 bit) to QCELP-13K (.qcp) with the\n"
        "converter pvconv beside this program, exactly as the conversion window runs it: in\n"
        "a fresh private temporary folder, the result written beside the WAV file (its last\n"
        "three characters replaced by \"qcp\") or to -o. Prints each QCP file's path."));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the QCP file to OUT (one input only)."),
                                    QStringLiteral("OUT"));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Tell each stage on standard error."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per file."));
    for (const QCommandLineOption* o : {&output, &verbose, &json})
        parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("IN"), QStringLiteral("WAV files."),
                                 QStringLiteral("IN.wav..."));
    int exitCode = kOk;
    if (!parseArguments(parser, name, arguments, &exitCode))
        return exitCode;
    const QStringList inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        return usageError(name, QStringLiteral("no WAV file named"));
    if (parser.isSet(output) && inputs.size() > 1)
        return usageError(name, QStringLiteral("-o takes one input file"));

    int failed = 0;
    for (const QString& wav : inputs) {
        const QString qcp =
            parser.isSet(output) ? parser.value(output) : AudioPaths::qcpPathFor(wav);
        Conversion::Hooks hooks;
        if (parser.isSet(verbose))
            hooks.log = [&](const QString& line) { printError(wav, line); };
        const Conversion::Result r = Conversion::run(wav, qcp, hooks);
        // The window's message may span lines; one line here.
        const QString reason = QString(r.message).replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (!r.ok()) {
            ++failed;
            printError(wav, reason);
        }
        if (!r.notice.isEmpty())
            printError(qcp, r.notice);
        if (parser.isSet(json)) {
            QJsonObject o{{QStringLiteral("wav"), wav}, {QStringLiteral("ok"), r.ok()}};
            if (r.ok() || r.stage == Conversion::Stage::CleanUp)
                o.insert(QStringLiteral("qcp"), qcp);
            if (!r.ok())
                o.insert(QStringLiteral("error"), reason);
            if (!r.notice.isEmpty())
                o.insert(QStringLiteral("notice"), r.notice);
            printJson(o);
        } else if (r.ok() || r.stage == Conversion::Stage::CleanUp) {
            printLine(shown(qcp));
        }
    }
    return failed > 0 ? kFailed : kOk;
}

} // namespace tess::cli
