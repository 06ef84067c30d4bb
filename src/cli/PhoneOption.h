#pragma once

#include "media/Phones.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <optional>

namespace tess::cli {

// --phone ID, as every command that judges or makes media takes it.
QCommandLineOption phoneOption();

// The profile --phone names (the default profile when it is not given), with the
// figures it lacks taken from the default. Faults in a phones.json are printed on
// standard error as warnings. An unknown id is a usage error: prints it, sets
// *exitCode to 2 and returns nothing. Nothing is remembered between runs.
std::optional<media::PhoneProfile> chosenPhone(const QCommandLineParser& parser,
                                               const QCommandLineOption& option,
                                               const QString& subcommand, int* exitCode);

// For a command over files judged for a phone: parses its arguments, refuses an
// empty list of files with noneNamed as a usage error, then resolves --phone.
// Returns nothing, with *exitCode set, whenever the caller must return.
std::optional<media::PhoneProfile>
parseFilesForPhone(QCommandLineParser& parser, const QCommandLineOption& option,
                   const QString& subcommand, const QStringList& arguments,
                   const QString& noneNamed, QStringList* files, int* exitCode);

} // namespace tess::cli
