// make and batch: descriptors for media files.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/Settings.h"
#include "engine/Batch.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace tess::cli {

namespace {

// Count, rate and time left on one line of a terminal; nothing on a pipe.
class Progress {
public:
    explicit Progress(qint64 total) : total_(total) {}

    // Before a result is printed on the same terminal; a redirected output leaves
    // the line standing.
    void beforeResult() {
        if (outputOnTerminal_)
            line_.clear();
    }
    void step() {
        ++done_;
        if (!line_.on())
            return;
        const double seconds = line_.elapsedMs() / 1000.0;
        const double rate = seconds > 0 ? done_ / seconds : 0;
        QString text = QStringLiteral("%1").arg(done_);
        if (total_ > 0)
            text += QStringLiteral("/%1").arg(total_);
        text += QStringLiteral(" files, %1 files/s").arg(qRound64(rate));
        if (total_ > 0 && rate > 0) {
            const qint64 left = qRound64((total_ - done_) / rate);
            text += QStringLiteral(", %1:%2 left")
                        .arg(left / 60)
                        .arg(left % 60, 2, 10, QLatin1Char('0'));
        }
        line_.show(text);
    }

private:
    StatusLine line_;
    bool outputOnTerminal_ = ::isatty(STDOUT_FILENO) == 1;
    qint64 total_;
    qint64 done_ = 0;
};

// Reads names from standard input, one per line or NUL-separated. Memory and time
// stay bounded whatever comes: no path is longer than kMaxName bytes, so a longer
// name is refused and skipped; input that never ends a name, or (with -0) holds only
// empty names, as /dev/zero does, stops the reading with a message.
class StdinList {
public:
    static constexpr qsizetype kMaxName = 4096;
    static constexpr qint64 kMaxSkip = qint64(1) << 20;
    static constexpr int kMaxEmpty = 4096;

    explicit StdinList(bool nulSeparated) : separator_(nulSeparated ? '\0' : '\n') {}
    bool next(QString* name) {
        int empty = 0;
        for (;;) {
            QByteArray bytes;
            int c;
            // One more than the bound: a CR before LF is not part of the name.
            while ((c = std::getc(stdin)) != EOF && c != separator_ && bytes.size() <= kMaxName)
                bytes += static_cast<char>(c);
            if (c == EOF && bytes.isEmpty())
                return false;
            if (c != EOF && c != separator_) {
                bytes += static_cast<char>(c);
                if (!skipName())
                    return false;
            }
            if (separator_ == '\n' && bytes.endsWith('\r'))
                bytes.chop(1);
            if (bytes.size() > kMaxName) {
                refuse(QStringLiteral("a name longer than %1 bytes is refused").arg(kMaxName));
                continue;
            }
            if (bytes.isEmpty()) {
                // Blank lines name nothing; endless empty names are no list at all.
                if (separator_ == '\0' && ++empty >= kMaxEmpty) {
                    refuse(QStringLiteral("%1 empty names in a row: this is no list of names; "
                                          "reading stopped")
                               .arg(kMaxEmpty));
                    return false;
                }
                continue;
            }
            *name = QFile::decodeName(bytes);
            return true;
        }
    }
    int refused() const { return refused_; }

private:
    // Past the rest of a name that is too long; false when no end comes in kMaxSkip.
    bool skipName() {
        int c;
        for (qint64 skipped = 0; (c = std::getc(stdin)) != EOF && c != separator_; ++skipped) {
            if (skipped >= kMaxSkip) {
                refuse(QStringLiteral("no end of a name in %1 MiB: reading stopped")
                           .arg(kMaxSkip >> 20));
                return false;
            }
        }
        return true;
    }
    void refuse(const QString& reason) {
        ++refused_;
        printError(QStringLiteral("standard input"), reason);
    }

    char separator_;
    int refused_ = 0;
};

int finish(int failed) {
    std::fflush(stdout);
    return failed > 0 ? kFailed : kOk;
}

} // namespace

int makeMain(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes one GCD descriptor per media file into the save folder, the same\n"
                       "bytes the main window writes. Prints each descriptor's path."));
    DescriptorOptions options;
    options.addTo(parser);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Media files."),
                                 QStringLiteral("FILE..."));
    int exitCode = kOk;
    if (!parseArguments(parser, QStringLiteral("make"), arguments, &exitCode))
        return exitCode;
    if (parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("make"), QStringLiteral("no media file named"));
    MakeSettings settings;
    if (!options.resolve(parser, QStringLiteral("make"), &settings, &exitCode))
        return exitCode;
    const bool json = options.json(parser);
    const int failed =
        runBatchPipelined(parser.positionalArguments(), settings,
                          [&](const BatchEntry& e) { report(e.media, e.made, json); });
    return finish(failed);
}

int batchMain(const QStringList& arguments) {
    const QString name = QStringLiteral("batch");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes descriptors for many media files: those named, those in a folder (--from),\n"
        "or, when neither is given, the names read from standard input, one per line\n"
        "(NUL-separated with -0, as find -print0 writes them). A failing file is reported\n"
        "and the others are still written."));
    DescriptorOptions options;
    options.addTo(parser);
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("Take the files in DIR that match the pattern."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption pattern(
        QStringLiteral("pattern"),
        QStringLiteral("Wildcards separated by \";\", without regard to case "
                       "(default: every known media extension)."),
        QStringLiteral("PATTERN"));
    const QCommandLineOption recursive(
        QStringList{QStringLiteral("r"), QStringLiteral("recursive")},
        QStringLiteral("With --from, also the subfolders."));
    const QCommandLineOption nul(QStringList{QStringLiteral("0"), QStringLiteral("null")},
                                 QStringLiteral("Names on standard input end in NUL."));
    for (const QCommandLineOption* o : {&from, &pattern, &recursive, &nul})
        parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Media files."),
                                 QStringLiteral("[FILE...]"));
    int exitCode = kOk;
    if (!parseArguments(parser, name, arguments, &exitCode))
        return exitCode;
    if ((parser.isSet(pattern) || parser.isSet(recursive)) && !parser.isSet(from))
        return usageError(name, QStringLiteral("--pattern and --recursive need --from DIR"));
    QStringList files = parser.positionalArguments();
    const bool fromStdin = files.isEmpty() && !parser.isSet(from);
    if (fromStdin && stdinIsTerminal())
        return usageError(name, QStringLiteral("no files: name them, give --from DIR, or pipe "
                                               "a list of names"));
    if (!fromStdin && parser.isSet(nul))
        return usageError(name, QStringLiteral("-0 reads names from standard input; name no "
                                               "files and no --from with it"));
    MakeSettings settings;
    if (!options.resolve(parser, name, &settings, &exitCode))
        return exitCode;

    int unreadableFolders = 0;
    if (parser.isSet(from)) {
        const QString folder = parser.value(from);
        if (!QFileInfo(folder).isDir()) {
            printError(folder, QStringLiteral("not a folder"));
            return kFailed;
        }
        const NamePattern match(parser.isSet(pattern) ? parser.value(pattern)
                                                      : QStringLiteral("*.mid;*midi;*.qcp;*.cmx;"
                                                                       "*.png;*.jpg;*jpeg;*wbmp;"
                                                                       "*.bmp"));
        files += collectFiles(folder, match, parser.isSet(recursive),
                              [&](const QString& unreadable, const QString& reason) {
                                  printError(unreadable, reason);
                                  ++unreadableFolders;
                              });
    }

    const bool json = options.json(parser);
    Progress progress(fromStdin ? 0 : files.size());
    auto done = [&](const BatchEntry& e) {
        progress.beforeResult();
        report(e.media, e.made, json);
        progress.step();
    };
    int failed = 0;
    if (fromStdin) {
        // One by one: a script that feeds names as files arrive sees each answer at once.
        StdinList list(parser.isSet(nul));
        failed = runBatch([&](QString* media) { return list.next(media); }, settings, done);
        failed += list.refused();
    } else {
        failed = runBatchPipelined(files, settings, done);
    }
    return finish(failed + unreadableFolders);
}

} // namespace tess::cli
