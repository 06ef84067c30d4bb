// server-config: the lines that make a web server hand out the seven types right.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "engine/ServerConfig.h"

#include <cstdio>

namespace tess::cli {

int serverConfigMain(const QStringList& arguments) {
    const QString name = QStringLiteral("server-config");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Prints the lines that serve descriptors as text/x-pcs-gcd, each media type as the\n"
        "phone expects it and the phone browser's pages (.wml, .wmlc, .xhtml), leaving the\n"
        "types of every other file (.html, .css, ...) as they were; the folder's address\n"
        "then opens index.wml in browsers that read WML but not XHTML, index.xhtml in the\n"
        "rest. apache: lines for the configuration or .htaccess; nginx: lines to include in\n"
        "the media folder's location block; lighttpd: lines for lighttpd.conf."));
    parser.addPositionalArgument(QStringLiteral("SERVER"),
                                 QStringLiteral("apache, nginx or lighttpd."));
    int exitCode = kOk;
    if (!parseArguments(parser, name, arguments, &exitCode))
        return exitCode;
    const QStringList args = parser.positionalArguments();
    if (args.size() != 1)
        return usageError(name, QStringLiteral("name one server: ") +
                                    webServerNames().join(QStringLiteral(", ")));
    const std::optional<WebServer> server = webServerNamed(args[0]);
    if (!server)
        return usageError(name, QStringLiteral("'") + shown(args[0]) +
                                    QStringLiteral("' is not one of ") +
                                    webServerNames().join(QStringLiteral(", ")));
    const QByteArray text = serverConfig(*server).toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    return kOk;
}

} // namespace tess::cli
