// check: fetch descriptors and their media the way a phone does.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/InspectText.h"
#include "cli/PhoneOption.h"
#include "net/Checker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QUrl>
#include <cstdio>
#include <map>

namespace tess::cli {

namespace {

// A whole number in [low, high] from an option's text; false when it is none.
bool numberIn(const QString& text, int low, int high, int* value) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < low || n > high)
        return false;
    *value = n;
    return true;
}

} // namespace

int checkMain(const QStringList& arguments) {
    const QString name = QStringLiteral("check");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Fetches each descriptor URL the way a phone does and says whether the content\n"
        "would download: the descriptor's status and type (text/x-pcs-gcd), its lines,\n"
        "then the media at Content-URL: status, type against Content-Type, length\n"
        "against Content-Size. Each problem comes with its fix. With --save-folder and\n"
        "--served-at, checks every .gcd of a local folder as served under that URL.\n"
        "The media's own bytes, as fetched, are inspected for the phone (--phone) as\n"
        "'tessavane-cli inspect' does, and what it finds is shown with its fix; the exit\n"
        "status says whether the content downloads ('inspect' fails on media)."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per descriptor."));
    const QCommandLineOption folder(QStringLiteral("save-folder"),
                                    QStringLiteral("Check every .gcd file of this folder."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption servedAt(QStringLiteral("served-at"),
                                      QStringLiteral("The URL the folder is served at."),
                                      QStringLiteral("URL"));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("Seconds to wait for a connection, an answer or more data (default "
                       "10)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption parallel(
        QStringLiteral("parallel"),
        QStringLiteral("Descriptors checked at once, 1 to 16 (default 4)."), QStringLiteral("N"));
    const QCommandLineOption phone = phoneOption();
    for (const QCommandLineOption* o : {&json, &folder, &servedAt, &timeout, &parallel, &phone})
        parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("URL"),
                                 QStringLiteral("Descriptor URLs (http://host/folder/song.gcd)."),
                                 QStringLiteral("[URL...]"));
    int exitCode = kOk;
    if (!parseArguments(parser, name, arguments, &exitCode))
        return exitCode;

    const std::optional<media::PhoneProfile> profile = chosenPhone(parser, phone, name, &exitCode);
    if (!profile)
        return exitCode;
    net::CheckOptions options;
    options.mediaHeadBytes = media::kInspectHeadBytes;
    options.judgeMedia = [p = *profile](const QByteArray& head, qint64 size,
                                        const QString& fileName, const QString& type) {
        return judgeForCheck(p, head, size, fileName, type);
    };
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || !(seconds >= 0.05 && seconds <= 600))
            return usageError(name, QStringLiteral("--timeout takes seconds from 0.05 to 600"));
        options.timeoutMs = int(seconds * 1000);
        options.deadlineMs = std::max(options.deadlineMs, options.timeoutMs);
    }
    if (parser.isSet(parallel) && !numberIn(parser.value(parallel), 1, 16, &options.maxParallel))
        return usageError(name, QStringLiteral("--parallel takes a number from 1 to 16"));

    QList<QUrl> urls;
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(folder) || parser.isSet(servedAt)) {
        if (!parser.isSet(folder) || !parser.isSet(servedAt))
            return usageError(name, QStringLiteral("--save-folder and --served-at go together"));
        if (!positional.isEmpty())
            return usageError(name, QStringLiteral("name URLs or a folder, not both"));
        const QUrl base(parser.value(servedAt), QUrl::TolerantMode);
        if (base.scheme() != QLatin1String("http") && base.scheme() != QLatin1String("https"))
            return usageError(name, QStringLiteral("--served-at takes an http:// URL"));
        QString error;
        QList<net::SkippedFile> skipped;
        urls = net::servedDescriptorUrls(parser.value(folder), base, &error, &skipped);
        if (!error.isEmpty()) {
            printError(parser.value(folder), error);
            return kFailed;
        }
        for (const net::SkippedFile& s : skipped)
            printError(QDir(parser.value(folder)).filePath(s.name), s.reason);
        if (urls.isEmpty()) {
            printError(parser.value(folder), QStringLiteral("no .gcd files"));
            return kFailed;
        }
    } else {
        if (positional.isEmpty())
            return usageError(name, QStringLiteral("no descriptor URL named"));
        for (const QString& text : positional)
            urls.append(QUrl(text, QUrl::TolerantMode));
    }

    const bool asJson = parser.isSet(json);
    int failed = 0;
    int printed = 0;
    // Results come as they finish; they are printed in the order asked. The checker
    // runs no further ahead than its window, which bounds what waits here.
    std::map<int, net::CheckResult> waiting;
    net::Checker checker(options);
    StatusLine progress;
    QEventLoop loop;
    QObject::connect(&checker, &net::Checker::progress, [&](int done, int total) {
        progress.show(QStringLiteral("%1/%2 descriptors checked").arg(done).arg(total),
                      done == total);
    });
    QObject::connect(
        &checker, &net::Checker::resultReady, [&](int index, const net::CheckResult& result) {
            waiting.emplace(index, result);
            for (auto it = waiting.find(printed); it != waiting.end(); it = waiting.find(printed)) {
                progress.clear();
                const net::CheckResult& r = it->second;
                if (!r.downloads())
                    ++failed;
                if (asJson) {
                    printJson(net::toJson(r));
                } else {
                    for (const QString& line : net::describe(r))
                        printLine(shown(line));
                }
                std::fflush(stdout);
                waiting.erase(it);
                ++printed;
            }
        });
    QObject::connect(&checker, &net::Checker::finished, &loop, &QEventLoop::quit);
    checker.start(urls);
    loop.exec();
    progress.clear();
    if (!asJson)
        printLine(
            QString::number(urls.size() - failed) + QStringLiteral(" of ") +
            QString::number(urls.size()) +
            (urls.size() == 1 ? QStringLiteral(" descriptor") : QStringLiteral(" descriptors")) +
            QStringLiteral(" would download."));
    std::fflush(stdout);
    return failed > 0 ? kFailed : kOk;
}

} // namespace tess::cli
