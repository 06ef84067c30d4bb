// convert: WAV to QCELP through the converter, the window's way.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "engine/AudioPaths.h"
#include "engine/Conversion.h"

#include <QFileInfo>
#include <QJsonObject>

namespace tess::cli {

namespace {

// How to make a file the converter takes from any sound file ffmpeg reads.
QString remedy(const QString& wav) {
    const QString name = QFileInfo(wav).fileName();
    const QString stem = QFileInfo(wav).completeBaseName();
    const QString copy = stem + QStringLiteral("-8k.wav");
    auto quoted = [](const QString& n) {
        return n.contains(QLatin1Char(' ')) || n.contains(QLatin1Char('\''))
                   ? QLatin1Char('"') + n + QLatin1Char('"')
                   : n;
    };
    return QStringLiteral("make an 8000 Hz mono 16-bit copy, e.g. ffmpeg -i ") + quoted(name) +
           QStringLiteral(" -ar 8000 -ac 1 -c:a pcm_s16le ") + quoted(copy) +
           QStringLiteral(", and convert that");
}

} // namespace

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
        Conversion::Result r;
        QString reason;
        // Every reason the converter would refuse the file for, at once, and the way out.
        const QStringList unfit = Conversion::inputProblems(wav);
        if (!unfit.isEmpty()) {
            r.stage = Conversion::Stage::Output;
            reason = QStringLiteral("cannot convert it: ") + unfit.join(QStringLiteral("; ")) +
                     QStringLiteral(". Fix: ") + remedy(wav);
        } else {
            Conversion::Hooks hooks;
            hooks.keepConverterErrors = true;
            if (parser.isSet(verbose))
                hooks.log = [&](const QString& line) { printError(wav, line); };
            r = Conversion::run(wav, qcp, hooks);
            if (r.stage == Conversion::Stage::Output) {
                // pvconv's own reason, without its name and the file's, which we give.
                QString said = r.converterSaid.section(QLatin1Char('\n'), 0, 0);
                const QString prefix = QStringLiteral("pvconv: ") + wav + QStringLiteral(": ");
                if (said.startsWith(prefix))
                    said = said.mid(prefix.size());
                reason = QStringLiteral("pvconv could not convert it") +
                         (said.isEmpty() ? QString() : QStringLiteral(": ") + said) +
                         QStringLiteral(". Fix: ") + remedy(wav);
            } else {
                // The window's message may span lines; one line here.
                reason = QString(r.message).replace(QLatin1Char('\n'), QLatin1Char(' '));
            }
        }
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
