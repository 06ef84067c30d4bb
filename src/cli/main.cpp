// tessavane-cli: GCD descriptors without a screen, on the engine alone.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "engine/AppInfo.h"
#include "engine/Teardown.h"

#include <QCoreApplication>
#include <cstdio>

using namespace tess::cli;

namespace {

const Subcommand kSubcommands[] = {
    {"make", "write one descriptor per media file", makeMain},
    {"batch", "write descriptors for many files: named, from a folder, or from standard input",
     batchMain},
    {"convert", "convert WAV recordings to QCELP (.qcp) with pvconv", convertMain},
    {"show", "read a descriptor back and say what is wrong with it", showMain},
    {"check", "fetch descriptors from the web server as a phone does; say what to fix", checkMain},
    {"pages", "write WML and XHTML download pages for the descriptors of a folder", pagesMain},
    {"server-config", "print the web server lines that serve the seven types right",
     serverConfigMain},
    {"fit", "make phone-ready copies of pictures (size, colours, format, byte cap)", fitMain},
    {"publish", "publish a folder of sounds and pictures as a site a phone downloads from",
     publishMain},
    {"inspect", "say what media files really are and what a phone will make of them", inspectMain},
    {"phones", "list the phone profiles media is judged by", phonesMain},
};

void printHelp() {
    QString text = QStringLiteral("Usage: tessavane-cli <command> [options] [arguments]\n"
                                  "Writes GCD content descriptors for Sprint PCS Vision phones.\n"
                                  "\n"
                                  "Commands:\n");
    for (const Subcommand& s : kSubcommands)
        text += QStringLiteral("  %1  %2\n")
                    .arg(QLatin1String(s.name), -14)
                    .arg(QLatin1String(s.summary));
    text += QStringLiteral("\n"
                           "Options:\n"
                           "  -h, --help     show this help and exit\n"
                           "  -V, --version  show the version and exit\n"
                           "\n"
                           "'tessavane-cli <command> --help' tells more of each command.\n"
                           "Exit status: 0 when all went well, 1 when some file failed,\n"
                           "2 for a usage error.\n");
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // A signal removes every temporary file and ends the converter before we go.
    tess::Teardown::installSignalHandlers();
    QCoreApplication::setApplicationName(QLatin1String(kProgram));
    QCoreApplication::setApplicationVersion(tess::AppInfo::versionText());
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty())
        return usageError(QString(), QStringLiteral("a command is needed"));
    const QString first = args.takeFirst();
    if (first == QLatin1String("-h") || first == QLatin1String("--help") ||
        first == QLatin1String("help")) {
        printHelp();
        return kOk;
    }
    if (first == QLatin1String("-V") || first == QLatin1String("--version")) {
        std::printf("tessavane-cli %s\n", tess::AppInfo::versionText().toLocal8Bit().constData());
        return kOk;
    }
    for (const Subcommand& s : kSubcommands)
        if (first == QLatin1String(s.name))
            return s.run(args);
    return usageError(QString(),
                      QStringLiteral("'") + shown(first) + QStringLiteral("' is not a command"));
}
