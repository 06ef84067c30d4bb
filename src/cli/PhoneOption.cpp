#include "cli/PhoneOption.h"

#include "cli/CliCommon.h"

namespace tess::cli {

QCommandLineOption phoneOption() {
    return QCommandLineOption(
        QStringLiteral("phone"),
        QStringLiteral("Judge for the phone ID ('tessavane-cli phones' lists them; "
                       "default: the default profile, the strictest common case)."),
        QStringLiteral("ID"), QLatin1String(media::kDefaultPhoneId));
}

std::optional<media::PhoneProfile> chosenPhone(const QCommandLineParser& parser,
                                               const QCommandLineOption& option,
                                               const QString& subcommand, int* exitCode) {
    const media::PhoneList list = media::loadPhones();
    for (const QString& problem : list.problems)
        printMessage(shown(problem));
    const QString id = parser.value(option).trimmed().toLower();
    std::optional<media::PhoneProfile> phone = list.resolve(id);
    if (!phone)
        *exitCode = usageError(subcommand, QStringLiteral("'") + shown(id) +
                                               QStringLiteral("' is not a known phone "
                                                              "(tessavane-cli phones lists them)"));
    return phone;
}

std::optional<media::PhoneProfile>
parseFilesForPhone(QCommandLineParser& parser, const QCommandLineOption& option,
                   const QString& subcommand, const QStringList& arguments,
                   const QString& noneNamed, QStringList* files, int* exitCode) {
    *exitCode = kOk;
    if (!parseArguments(parser, subcommand, arguments, exitCode))
        return std::nullopt;
    *files = parser.positionalArguments();
    if (files->isEmpty()) {
        *exitCode = usageError(subcommand, noneNamed);
        return std::nullopt;
    }
    return chosenPhone(parser, option, subcommand, exitCode);
}

} // namespace tess::cli
