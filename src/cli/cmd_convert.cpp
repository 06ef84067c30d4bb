// convert: any sound FFmpeg decodes to a QCELP ringtone, through pvconv.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "engine/AudioPaths.h"
#include "engine/Conversion.h"
#include "media/Inspect.h"
#include "media/Phones.h"
#include "media/Sound.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>

namespace tess::cli {

namespace {

// A sound output this process could reach: an ALSA playback device, or a
// PulseAudio or PipeWire server of this user.
bool haveSoundDevice() {
    if (!QDir(QStringLiteral("/dev/snd"))
             .entryList({QStringLiteral("pcmC*p")}, QDir::System)
             .isEmpty())
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && (QFileInfo::exists(runtime + QStringLiteral("/pulse/native")) ||
                                  QFileInfo::exists(runtime + QStringLiteral("/pipewire-0")));
}

// The command links no Qt Gui, so no Qt Multimedia: it plays through ffplay, which
// decodes the QCP file with FFmpeg's QCELP decoder, as the window does. Bounded by the
// sound's length. Empty, or why it could not play.
QString play(const QString& qcp, double seconds) {
    if (!haveSoundDevice())
        return QStringLiteral("cannot play: no sound device here");
    const QString ffplay = QStringLiteral("/usr/bin/ffplay");
    if (!QFileInfo(ffplay).isExecutable())
        return QStringLiteral("cannot play: %1 is not installed (the WAV to QCP window's Play "
                              "button plays it)")
            .arg(ffplay);
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(ffplay,
            {QStringLiteral("-nodisp"), QStringLiteral("-autoexit"), QStringLiteral("-loglevel"),
             QStringLiteral("error"), QStringLiteral("--"), qcp});
    if (!p.waitForStarted(5000))
        return QStringLiteral("cannot play: %1").arg(p.errorString());
    if (!p.waitForFinished(static_cast<int>(seconds * 1000) + 5000)) {
        p.kill();
        p.waitForFinished(2000);
        return QStringLiteral("cannot play: the player did not finish");
    }
    return p.exitCode() == 0 ? QString() : QStringLiteral("cannot play: the player failed");
}

// What a WAV file's header says is wrong when the decoder could not read it. Rate,
// channels and sample size are no reasons any more (the sound is mixed and resampled),
// unless there are none at all.
QString headerReasons(const QString& path) {
    if (!path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive))
        return {};
    QStringList kept;
    for (const QString& p : Conversion::inputProblems(path)) {
        const bool converts = p.endsWith(QLatin1String(" Hz, not 8000 Hz")) ||
                              p.endsWith(QLatin1String(", not 1 (mono)")) ||
                              p.endsWith(QLatin1String(", not 8 or 16")) ||
                              p.startsWith(QLatin1String("floating-point"));
        if (!converts || p.startsWith(QLatin1String("0 ")))
            kept.append(p);
    }
    return kept.isEmpty() ? QString() : QStringLiteral(": ") + kept.join(QStringLiteral("; "));
}

bool secondsValue(const QString& text, double* out) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || v < 0 || v > 86400)
        return false;
    *out = v;
    return true;
}

} // namespace

int convertMain(const QStringList& arguments) {
    const QString name = QStringLiteral("convert");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts sound files (anything FFmpeg decodes: WAV of any kind, MP3, AAC/M4A, Ogg\n"
        "Vorbis, Opus, FLAC, AIFF) to QCELP-13K (.qcp) ringtones with the converter pvconv\n"
        "beside this program: decoded, mixed to 8000 Hz mono, its loudness set for a phone's\n"
        "speaker, cut to --max-seconds with a short fade, and streamed into pvconv in a\n"
        "fresh private temporary folder. The result goes beside the input (its last three\n"
        "characters replaced by \"qcp\") or to -o. Prints each QCP file's path; warns when\n"
        "it is larger than the phone's ringer limit."));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the QCP file to OUT (one input only)."),
                                    QStringLiteral("OUT"));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Tell each stage on standard error."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per file."));
    const QCommandLineOption normalize(
        QStringLiteral("normalize"),
        QStringLiteral("Set the loudness to -16 LUFS (EBU R128), true peaks under -1 dBTP "
                       "(the default)."));
    const QCommandLineOption noNormalize(QStringLiteral("no-normalize"),
                                         QStringLiteral("Keep the source's level."));
    const QCommandLineOption start(QStringLiteral("start"),
                                   QStringLiteral("Start SECONDS into the source (default 0)."),
                                   QStringLiteral("SECONDS"));
    const QCommandLineOption maxSeconds(
        QStringLiteral("max-seconds"),
        QStringLiteral("Keep at most SECONDS, fading out over the last half second (default 30; "
                       "0 keeps it all)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption phone(QStringLiteral("phone"),
                                   QStringLiteral("Check the size against this phone profile's "
                                                  "ringer limit (default \"default\")."),
                                   QStringLiteral("ID"));
    const QCommandLineOption playOpt(
        QStringLiteral("play"),
        QStringLiteral("Play each result, decoded as a phone decodes it (needs a sound device "
                       "and ffplay)."));
    for (const QCommandLineOption* o : {&output, &verbose, &json, &normalize, &noNormalize, &start,
                                        &maxSeconds, &phone, &playOpt})
        parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("IN"),
                                 QStringLiteral("Sound files (after -- names may start with -)."),
                                 QStringLiteral("IN..."));
    int exitCode = kOk;
    if (!parseArguments(parser, name, arguments, &exitCode))
        return exitCode;
    const QStringList inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        return usageError(name, QStringLiteral("no sound file named"));
    if (parser.isSet(output) && inputs.size() > 1)
        return usageError(name, QStringLiteral("-o takes one input file"));
    if (parser.isSet(normalize) && parser.isSet(noNormalize))
        return usageError(name,
                          QStringLiteral("--normalize and --no-normalize exclude each other"));
    media::SoundOptions options;
    options.normalize = !parser.isSet(noNormalize);
    if (parser.isSet(start) && !secondsValue(parser.value(start), &options.startSeconds))
        return usageError(name, QStringLiteral("--start needs a number of seconds"));
    if (parser.isSet(maxSeconds) && !secondsValue(parser.value(maxSeconds), &options.maxSeconds))
        return usageError(name, QStringLiteral("--max-seconds needs a number of seconds"));
    const media::PhoneList phones = media::loadPhones();
    const QString phoneId =
        parser.isSet(phone) ? parser.value(phone) : QString::fromLatin1(media::kDefaultPhoneId);
    const media::PhoneProfile* profile = phones.find(phoneId);
    if (!profile)
        return usageError(name, QStringLiteral("no phone profile \"%1\"").arg(phoneId));

    int failed = 0;
    for (const QString& in : inputs) {
        const QString qcp =
            parser.isSet(output) ? parser.value(output) : AudioPaths::qcpPathFor(in);
        const media::SoundResult r =
            media::makeRingtone(in, qcp, options, AudioPaths::converterPath());
        QString note;
        QJsonArray findings;
        if (r.ok) {
            note = media::ringerSizeProblem(r.bytes, r.seconds, *profile);
            if (!note.isEmpty())
                printError(qcp, note);
            // What else the phone would make of it; the size is told above, with the fix.
            const media::Inspection seen = media::inspectFile(qcp, *profile);
            for (const media::Finding& f : seen.findings) {
                findings.append(f.code);
                if (f.severity == media::Severity::Refuse && f.code != QLatin1String("too-large"))
                    printError(qcp, f.what + QStringLiteral(" (") + f.fix + QLatin1Char(')'));
            }
            if (parser.isSet(verbose))
                printError(in, QStringLiteral("%1 s, %2 bytes%3")
                                   .arg(r.seconds, 0, 'f', 2)
                                   .arg(r.bytes)
                                   .arg(options.normalize ? QStringLiteral(", %1 LUFS, gain %2 dB")
                                                                .arg(r.loudness, 0, 'f', 1)
                                                                .arg(r.gainDb, 0, 'f', 1)
                                                          : QString()));
        } else {
            ++failed;
            printError(in, r.reason + headerReasons(in));
        }
        if (!r.notice.isEmpty())
            printError(qcp, r.notice);
        if (parser.isSet(json)) {
            QJsonObject o{{QStringLiteral("input"), in}, {QStringLiteral("ok"), r.ok}};
            if (r.ok) {
                o.insert(QStringLiteral("qcp"), qcp);
                o.insert(QStringLiteral("seconds"), r.seconds);
                o.insert(QStringLiteral("bytes"), r.bytes);
                o.insert(QStringLiteral("fits"), note.isEmpty());
                o.insert(QStringLiteral("findings"), findings);
                if (!note.isEmpty())
                    o.insert(QStringLiteral("warning"), note);
            } else {
                o.insert(QStringLiteral("error"), r.reason);
            }
            if (!r.notice.isEmpty())
                o.insert(QStringLiteral("notice"), r.notice);
            printJson(o);
        } else if (r.ok) {
            printLine(shown(qcp));
        }
        if (r.ok && parser.isSet(playOpt)) {
            if (const QString why = play(qcp, r.seconds); !why.isEmpty()) {
                printError(qcp, why);
                ++failed;
            }
        }
    }
    return failed > 0 ? kFailed : kOk;
}

} // namespace tess::cli
