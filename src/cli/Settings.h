#pragma once

#include "engine/Maker.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace tess::cli {

// The options that set a descriptor's values, shared by make and batch. Unset
// ones come from config.cfg, the file the windows keep their defaults in.
class DescriptorOptions {
public:
    DescriptorOptions();
    void addTo(QCommandLineParser& parser) const;
    // The settings in force, or false after printing why (exit status in *exitCode).
    bool resolve(const QCommandLineParser& parser, const QString& subcommand,
                 MakeSettings* settings, int* exitCode) const;
    bool json(const QCommandLineParser& parser) const { return parser.isSet(json_); }

private:
    QCommandLineOption saveFolder_, url_, baseUrl_, vendor_, version_, type_, blank_, noBlank_,
        config_, json_;
};

// What a finished entry prints: the descriptor's path, or a JSON object; an error
// goes to standard error either way.
void report(const QString& media, const Made& made, bool json);

} // namespace tess::cli
