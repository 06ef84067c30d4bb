// publish: a folder of songs and pictures in, a web folder a phone downloads from out.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/PhoneOption.h"
#include "engine/AudioPaths.h"
#include "engine/ConfigFile.h"
#include "engine/PathRules.h"
#include "engine/TextRules.h"
#include "media/Publish.h"
#include "net/Checker.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QUrl>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>

namespace tess::cli {

namespace {

std::atomic_bool interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted.store(true);
}

QString kindWord(const media::PlanItem& i) {
    return i.how == QLatin1String("convert") || i.how == QLatin1String("format0")
               ? QStringLiteral("converted")
           : i.how == QLatin1String("fit") ? QStringLiteral("fitted")
                                           : QStringLiteral("copied");
}

// Progress on a terminal: count, the current file and the time left.
class TerminalProgress : public media::PublishProgress {
public:
    TerminalProgress(int total, bool json) : total_(total), json_(json) {}
    void started(int, const media::PlanItem& item) override {
        current_ = item.source;
        show();
    }
    void finished(int, const media::PlanItem& item, const media::ItemResult& r) override {
        ++done_;
        line_.clear();
        if (!r.ok)
            printError(item.source, r.reason);
        if (json_) {
            QJsonObject o{{QStringLiteral("source"), item.source},
                          {QStringLiteral("ok"), r.ok},
                          {QStringLiteral("how"), item.how},
                          {QStringLiteral("media"), item.mediaFile},
                          {QStringLiteral("descriptor"), item.descriptorFile},
                          {QStringLiteral("bytes"), double(r.bytes)},
                          {QStringLiteral("findings"), QJsonArray::fromStringList(item.findings)}};
            if (!r.ok)
                o.insert(QStringLiteral("error"), r.reason);
            printJson(o);
        } else if (r.ok) {
            printLine(QStringLiteral("%1 %2 <- %3")
                          .arg(kindWord(item), item.mediaFile, shown(item.source)));
        }
        std::fflush(stdout);
        show(done_ == total_);
    }

private:
    void show(bool force = false) {
        const qint64 ms = line_.elapsedMs();
        QString left;
        if (done_ > 0 && done_ < total_) {
            const qint64 rest = ms * (total_ - done_) / done_ / 1000;
            left = QStringLiteral(", %1:%2 left")
                       .arg(rest / 60)
                       .arg(rest % 60, 2, 10, QLatin1Char('0'));
        }
        line_.show(QStringLiteral("%1/%2%3  %4").arg(done_).arg(total_).arg(left, shown(current_)),
                   force);
    }
    StatusLine line_;
    int total_;
    int done_ = 0;
    bool json_;
    QString current_;
};

// Fetches every descriptor as a phone does; the number that would not download.
int checkSite(const QString& webDir, const QUrl& base, bool json) {
    QString error;
    const QList<QUrl> urls = net::servedDescriptorUrls(webDir, base, &error);
    if (!error.isEmpty()) {
        printError(webDir, error);
        return 1;
    }
    int failed = 0;
    net::Checker checker;
    QEventLoop loop;
    QObject::connect(&checker, &net::Checker::resultReady,
                     [&](int, const net::CheckResult& result) {
                         if (!result.downloads())
                             ++failed;
                         if (json)
                             printJson(net::toJson(result));
                         else if (!result.downloads())
                             printLine(shown(net::summaryLine(result)));
                     });
    QObject::connect(&checker, &net::Checker::finished, &loop, &QEventLoop::quit);
    checker.start(urls);
    if (!urls.isEmpty())
        loop.exec();
    if (!json)
        printLine(QStringLiteral("check: %1 of %2 descriptors would download.")
                      .arg(urls.size() - failed)
                      .arg(urls.size()));
    return failed;
}

} // namespace

int publishMain(const QStringList& arguments) {
    const QString name = QStringLiteral("publish");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Publishes a folder of sounds and pictures as a site a phone downloads from.\n"
        "Each file of SRC (and its subfolders; links are not followed) is taken by its\n"
        "content: sounds become QCELP ringtones, pictures are fitted to the phone,\n"
        "format 1 MIDI is merged into format 0 where the phone plays only that, MIDI,\n"
        "QCP, CMX and fitting pictures are copied; anything else is listed as skipped.\n"
        "Into WEBDIR go the media under web names (a-z, 0-9, '-', at most 32 characters,\n"
        "kept from run to run), a descriptor for each, WML and XHTML pages, .htaccess and\n"
        "tessavane-nginx.conf (server lines), and the manifest .tessavane-publish.json.\n"
        "A second run redoes only what changed (an unchanged site is seen from the\n"
        "manifest's first bytes); files publish did not make are never touched. Ends\n"
        "with the URL to type on the phone. Put '--' before a SRC that starts with '-'.\n"
        "Exit status: 0 all published, 1 some item failed (the rest published), 2 usage."));
    auto valued = [](const char* n, const char* help, const char* value) {
        return QCommandLineOption(QLatin1String(n), QLatin1String(help), QLatin1String(value));
    };
    const QCommandLineOption to =
        valued("to", "The web folder to write (made when missing).", "WEBDIR");
    const QCommandLineOption baseUrl = valued(
        "base-url", "The URL WEBDIR is served at (default: the default URL of config.cfg).", "URL");
    const QCommandLineOption phone = phoneOption();
    const QCommandLineOption jobs =
        valued("jobs", "Conversions at once (default: one per core).", "N");
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("Print what would change; write nothing."));
    const QCommandLineOption check(QStringLiteral("check"),
                                   QStringLiteral("Fetch every descriptor from the base URL at "
                                                  "the end; exit 1 when one would not download."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per item and a summary."));
    const QCommandLineOption vendor =
        valued("vendor", "Content-Vendor (default: config.cfg).", "TEXT");
    const QCommandLineOption version =
        valued("version", "Content-Version (default: config.cfg).", "TEXT");
    const QCommandLineOption blank(QStringLiteral("blank-line"),
                                   QStringLiteral("Descriptors start with a blank line."));
    const QCommandLineOption noBlank(QStringLiteral("no-blank-line"),
                                     QStringLiteral("No blank first line."));
    const QCommandLineOption title =
        valued("title", "The pages' title (default: Downloads).", "TEXT");
    const QCommandLineOption config =
        valued("config", "Take defaults from FILE instead of the windows' config.cfg.", "FILE");
    for (const QCommandLineOption* o : {&to, &baseUrl, &phone, &jobs, &dryRun, &check, &json,
                                        &vendor, &version, &blank, &noBlank, &title, &config})
        parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("SRC"), QStringLiteral("The folder to publish."));
    int exitCode = kOk;
    if (!parseArguments(parser, name, arguments, &exitCode))
        return exitCode;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usageError(name, QStringLiteral("name one source folder"));
    if (!parser.isSet(to))
        return usageError(name, QStringLiteral("--to WEBDIR is needed"));
    if (parser.isSet(blank) && parser.isSet(noBlank))
        return usageError(name,
                          QStringLiteral("--blank-line and --no-blank-line exclude each other"));
    for (const QCommandLineOption* o : {&to, &baseUrl, &vendor, &version, &title, &config, &jobs})
        if (parser.values(*o).size() > 1 ||
            (parser.isSet(*o) && TextRules::breaksLine(parser.value(*o))))
            return usageError(name, QStringLiteral("--") + o->names().constFirst() +
                                        QStringLiteral(" is given more than once or holds a "
                                                       "line break"));

    media::PublishOptions options;
    options.source = positional.constFirst();
    options.webDir = parser.value(to);
    // Defaults as the other commands take them from config.cfg.
    const bool explicitConfig = parser.isSet(config);
    const QString configPath = explicitConfig ? parser.value(config) : ConfigFile::defaultPath();
    if (explicitConfig || QFileInfo::exists(configPath)) {
        const ConfigFile::ReadResult read = ConfigFile::readFile(configPath);
        if (!read.ok || read.lines.size() < ConfigFile::kLineCount) {
            printError(configPath, read.ok ? QStringLiteral("the file seems to be corrupt (fewer "
                                                            "than five lines)")
                                           : read.reason);
            return kFailed;
        }
        options.blankLine = ConfigFile::blankLineState(read.lines[0]) == 1;
        options.baseUrl = read.lines[2].trimmed();
        options.vendor = read.lines[3];
        options.version = read.lines[4];
    }
    if (parser.isSet(baseUrl))
        options.baseUrl = parser.value(baseUrl);
    if (parser.isSet(vendor))
        options.vendor = parser.value(vendor);
    if (parser.isSet(version))
        options.version = parser.value(version);
    if (parser.isSet(blank))
        options.blankLine = true;
    if (parser.isSet(noBlank))
        options.blankLine = false;
    options.title = parser.value(title);
    const QUrl base(options.baseUrl, QUrl::StrictMode);
    if (!base.isValid() || base.host().isEmpty() ||
        (base.scheme() != QLatin1String("http") && base.scheme() != QLatin1String("https")) ||
        base.hasQuery() || base.hasFragment())
        return usageError(name, QStringLiteral("--base-url takes an http:// URL of a folder "
                                               "(none set in config.cfg either)"));
    options.baseUrl = autoUrlBaseOf(options.baseUrl);
    if (parser.isSet(jobs)) {
        bool ok = false;
        options.jobs = parser.value(jobs).toInt(&ok);
        if (!ok || options.jobs < 1 || options.jobs > 64)
            return usageError(name, QStringLiteral("--jobs takes a number from 1 to 64"));
    }
    const std::optional<media::PhoneProfile> profile = chosenPhone(parser, phone, name, &exitCode);
    if (!profile)
        return exitCode;
    options.phone = *profile;
    // No rows of unchanged items are printed: an unchanged site is seen from its manifest's
    // first bytes.
    options.quickWhenUnchanged = true;
    const bool asJson = parser.isSet(json);

    const media::MediaSteps steps = media::defaultMediaSteps(AudioPaths::converterPath());
    media::Plan plan = media::planPublish(options, steps);
    if (!plan.problem.isEmpty()) {
        printMessage(shown(plan.problem));
        return kFailed;
    }
    for (const QString& c : plan.clashes)
        printMessage(shown(c));
    for (const QString& c : plan.leftAlone)
        printMessage(shown(c));
    int skipped = 0;
    for (const media::PlanItem& i : plan.items) {
        if (i.action != media::Action::Skip)
            continue;
        ++skipped;
        if (asJson)
            printJson(
                {{QStringLiteral("source"), i.source}, {QStringLiteral("skipped"), i.reason}});
        else
            printLine(QStringLiteral("skipped %1: %2").arg(shown(i.source), i.reason));
    }
    if (parser.isSet(dryRun)) {
        for (const QString& line : media::describePlan(plan))
            if (!line.startsWith(QLatin1String("skip ")))
                printLine(shown(line));
        if (!plan.changes())
            printLine(QStringLiteral("nothing to change"));
        return kOk;
    }

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    TerminalProgress progress(plan.toMake(), asJson);
    media::RunResult run = media::runPublish(plan, steps, &progress, &interrupted);
    media::WriteResult written = media::writePublish(plan, run);
    for (const QString& p : written.problems)
        printMessage(shown(p));
    if (run.cancelled)
        return kFailed;
    const int made = plan.toMake() - run.failed;
    const int kept = plan.kept();
    int failedChecks = 0;
    if (parser.isSet(check) && written.ok)
        failedChecks = checkSite(plan.options.webDir, QUrl(plan.options.baseUrl), asJson);
    if (asJson) {
        printJson({{QStringLiteral("made"), made},
                   {QStringLiteral("kept"), kept},
                   {QStringLiteral("removed"), written.removed},
                   {QStringLiteral("skipped"), skipped},
                   {QStringLiteral("failed"), run.failed},
                   {QStringLiteral("ok"), written.ok && run.failed == 0 && failedChecks == 0},
                   {QStringLiteral("entryUrl"), written.entryUrl}});
    } else {
        printLine(QStringLiteral("%1 made, %2 kept, %3 removed, %4 skipped, %5 failed")
                      .arg(made)
                      .arg(kept)
                      .arg(written.removed)
                      .arg(skipped)
                      .arg(run.failed));
        printLine(written.entryUrl);
    }
    std::fflush(stdout);
    return written.ok && run.failed == 0 && failedChecks == 0 ? kOk : kFailed;
}

} // namespace tess::cli
