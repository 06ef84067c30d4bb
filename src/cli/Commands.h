#pragma once

#include <QStringList>

namespace tess::cli {

// Each subcommand takes the arguments after its name and returns the exit status.
int makeMain(const QStringList& arguments);
int batchMain(const QStringList& arguments);
int convertMain(const QStringList& arguments);
int showMain(const QStringList& arguments);
int checkMain(const QStringList& arguments);
int serverConfigMain(const QStringList& arguments);
int phonesMain(const QStringList& arguments);
int pagesMain(const QStringList& arguments);
int publishMain(const QStringList& arguments);
int fitMain(const QStringList& arguments);
int inspectMain(const QStringList& arguments);

struct Subcommand {
    const char* name;
    const char* summary;
    int (*run)(const QStringList& arguments);
};

} // namespace tess::cli
