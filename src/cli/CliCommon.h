#pragma once

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace tess::cli {

inline constexpr char kProgram[] = "tessavane-cli";

// Exit statuses, as Unix tools use them.
enum Exit { kOk = 0, kFailed = 1, kUsage = 2 };

// A file name as it may be shown on one line: control characters (C0, C1, DEL),
// line separators and bidi marks written as C escapes ("\n", "\x1b", "\u202e"),
// so a hostile name cannot forge output lines nor turn them around.
QString shown(const QString& name);
// Whether shown() changes the text.
bool holdsUnsafe(const QString& text);

// "tessavane-cli: <file>: <reason>" on standard error.
void printError(const QString& file, const QString& reason);
// "tessavane-cli: <message>" on standard error.
void printMessage(const QString& message);

// A usage error: the message and a hint at --help on standard error; returns 2.
int usageError(const QString& subcommand, const QString& message);

// One line on standard output.
void printLine(const QString& line);
// One compact JSON object, one line, on standard output.
void printJson(const QJsonObject& object);

bool stderrIsTerminal();

// One line of progress on a terminal's standard error, redrawn at most ten times
// a second; nothing at all when standard error is not a terminal.
class StatusLine {
public:
    StatusLine();
    ~StatusLine() { clear(); }
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    bool on() const { return on_; }
    // Shows text unless the last showing was under 100 ms ago (force: show anyway).
    void show(const QString& text, bool force = false);
    // Wipes the line; call it before a result goes to standard output, which may
    // be the same terminal.
    void clear();
    qint64 elapsedMs() const { return clock_.elapsed(); }

private:
    bool on_;
    bool shown_ = false;
    qint64 next_ = 0;
    QElapsedTimer clock_;
};
bool stdinIsTerminal();

// Parses a subcommand's arguments (those after its name). Prints the help and
// sets *exitCode to 0 for --help, prints a usage error and sets 2 for a bad
// option; returns false whenever the caller must return *exitCode.
bool parseArguments(QCommandLineParser& parser, const QString& subcommand,
                    const QStringList& arguments, int* exitCode);

} // namespace tess::cli
