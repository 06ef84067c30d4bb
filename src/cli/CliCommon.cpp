#include "cli/CliCommon.h"

#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace tess::cli {

namespace {

void write(std::FILE* to, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
}

} // namespace

QString shown(const QString& name) {
    const bool plain = std::all_of(name.begin(), name.end(), [](QChar c) {
        return c.unicode() >= 0x20 && c.unicode() != 0x7f;
    });
    if (plain)
        return name;
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u != 0x7f) {
            out += c;
        } else if (u == u'\n') {
            out += QLatin1String("\\n");
        } else if (u == u'\r') {
            out += QLatin1String("\\r");
        } else if (u == u'\t') {
            out += QLatin1String("\\t");
        } else {
            out += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}

void printError(const QString& file, const QString& reason) {
    std::fflush(stdout);
    write(stderr, QLatin1String(kProgram) + QLatin1String(": ") + shown(file) +
                      QLatin1String(": ") + reason + QLatin1Char('\n'));
}

void printMessage(const QString& message) {
    std::fflush(stdout);
    write(stderr, QLatin1String(kProgram) + QLatin1String(": ") + message + QLatin1Char('\n'));
}

int usageError(const QString& subcommand, const QString& message) {
    printMessage(message);
    QString help = QLatin1String(kProgram);
    if (!subcommand.isEmpty())
        help += QLatin1Char(' ') + subcommand;
    help += QLatin1String(" --help");
    write(stderr, QStringLiteral("Try '") + help + QStringLiteral("'.\n"));
    return kUsage;
}

void printLine(const QString& line) {
    write(stdout, line + QLatin1Char('\n'));
}

void printJson(const QJsonObject& object) {
    QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact);
    bytes += '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

StatusLine::StatusLine() : on_(stderrIsTerminal()) {
    clock_.start();
}

void StatusLine::show(const QString& text, bool force) {
    if (!on_ || (!force && clock_.elapsed() < next_))
        return;
    next_ = clock_.elapsed() + 100;
    std::fflush(stdout);
    write(stderr, QStringLiteral("\r\033[K") + text);
    std::fflush(stderr);
    shown_ = true;
}

void StatusLine::clear() {
    if (!shown_)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

bool stdinIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

bool parseArguments(QCommandLineParser& parser, const QString& subcommand,
                    const QStringList& arguments, int* exitCode) {
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    parser.addOption(help);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    if (!parser.parse(QStringList{QLatin1String(kProgram)} + arguments)) {
        *exitCode = usageError(subcommand, parser.errorText());
        return false;
    }
    if (parser.isSet(help)) {
        // Qt names the executable alone in the usage line; name the subcommand too.
        QString text = parser.helpText();
        const QString usage = QStringLiteral("Usage: ") + QLatin1String(kProgram);
        const qsizetype at = text.indexOf(QStringLiteral("Usage: "));
        const qsizetype end = text.indexOf(QLatin1Char(' '), at + 7);
        if (at >= 0 && end > at)
            text.replace(at, end - at, usage + QLatin1Char(' ') + subcommand);
        text += QStringLiteral(
            "\nA file name without a folder is a file in the current folder. \"--\" ends the\n"
            "options: each argument after it is taken as it stands, even one that begins\n"
            "with \"-\" (tessavane-cli make -- --help.mid).\n");
        std::fputs(text.toLocal8Bit().constData(), stdout);
        *exitCode = kOk;
        return false;
    }
    return true;
}

} // namespace tess::cli
