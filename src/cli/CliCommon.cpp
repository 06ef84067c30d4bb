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

namespace {

// C0 and C1 controls, DEL, and the marks that turn text around or split lines
// where a terminal (or a reader) does not expect it.
bool unsafe(char16_t u) {
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x061c || u == 0x200e || u == 0x200f ||
           (u >= 0x2028 && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString shown(const QString& name) {
    if (std::none_of(name.begin(), name.end(), [](QChar c) { return unsafe(c.unicode()); }))
        return name;
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (!unsafe(u)) {
            out += c;
        } else if (u == u'\n') {
            out += QLatin1String("\\n");
        } else if (u == u'\r') {
            out += QLatin1String("\\r");
        } else if (u == u'\t') {
            out += QLatin1String("\\t");
        } else if (u <= 0xff) {
            out += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        } else {
            out += QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0'));
        }
    }
    return out;
}

bool holdsUnsafe(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return unsafe(c.unicode()); });
}

void printError(const QString& file, const QString& reason) {
    std::fflush(stdout);
    write(stderr, QLatin1String(kProgram) + QLatin1String(": ") + shown(file) +
                      QLatin1String(": ") + shown(reason) + QLatin1Char('\n'));
}

void printMessage(const QString& message) {
    std::fflush(stdout);
    write(stderr,
          QLatin1String(kProgram) + QLatin1String(": ") + shown(message) + QLatin1Char('\n'));
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
    write(stdout, shown(line) + QLatin1Char('\n'));
}

void printJson(const QJsonObject& object) {
    QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Compact);
    // JSON escapes C0 controls itself; the rest are written as \uXXXX too, which
    // every reader takes back the same. They can stand only inside strings.
    if (holdsUnsafe(QString::fromUtf8(bytes))) {
        const QString text = QString::fromUtf8(bytes);
        QString out;
        out.reserve(text.size());
        for (const QChar c : text)
            out += unsafe(c.unicode())
                       ? QStringLiteral("\\u%1").arg(int(c.unicode()), 4, 16, QLatin1Char('0'))
                       : QString(c);
        bytes = out.toUtf8();
    }
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
