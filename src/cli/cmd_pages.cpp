// pages: the download pages a phone's browser walks to every descriptor of a folder.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "media/Pages.h"
#include "media/Phones.h"

#include <QUrl>

namespace tess::cli {

int pagesMain(const QStringList& arguments) {
    const QString name = QStringLiteral("pages");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes download pages for every descriptor (.gcd) of a folder into that folder:\n"
        "a WML 1.1 deck (index.wml) for UP.Browser 4 phones and an XHTML Mobile Profile\n"
        "page (index.xhtml) for the later ones. Each item links its Content-Name to the\n"
        "descriptor and gives its kind and size. Pages split so that none is larger than\n"
        "the phone reads (compiled size for WML): 2.wml, 3.wml, ... with Next and\n"
        "Previous. Run it again after each batch; pages no longer needed are removed.\n"
        "A page file this command did not write is never replaced."));
    const QCommandLineOption folder(QStringLiteral("save-folder"),
                                    QStringLiteral("The folder of descriptors."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption servedAt(QStringLiteral("served-at"),
                                      QStringLiteral("The URL the folder is served at."),
                                      QStringLiteral("URL"));
    const QCommandLineOption phone(QStringLiteral("phone"),
                                   QStringLiteral("The phone whose page limit applies (default: "
                                                  "the default profile)."),
                                   QStringLiteral("ID"));
    const QCommandLineOption title(QStringLiteral("title"),
                                   QStringLiteral("The pages' title (default: Downloads)."),
                                   QStringLiteral("TEXT"));
    for (const QCommandLineOption* o : {&folder, &servedAt, &phone, &title})
        parser.addOption(*o);
    int exitCode = kOk;
    if (!parseArguments(parser, name, arguments, &exitCode))
        return exitCode;
    if (!parser.positionalArguments().isEmpty())
        return usageError(name, QStringLiteral("no arguments besides the options"));
    if (!parser.isSet(folder) || !parser.isSet(servedAt))
        return usageError(name, QStringLiteral("--save-folder and --served-at are needed"));
    const QUrl base(parser.value(servedAt), QUrl::TolerantMode);
    if ((base.scheme() != QLatin1String("http") && base.scheme() != QLatin1String("https")) ||
        base.host().isEmpty())
        return usageError(name, QStringLiteral("--served-at takes an http:// URL"));

    media::PagesOptions options;
    options.servedAt = parser.value(servedAt);
    options.title = parser.value(title);
    const media::PhoneList phones = media::loadPhones();
    for (const QString& problem : phones.problems)
        printMessage(shown(problem));
    const QString id =
        parser.isSet(phone) ? parser.value(phone).toLower() : QLatin1String(media::kDefaultPhoneId);
    const media::PhoneProfile* profile = phones.find(id);
    if (!profile)
        return usageError(name, QStringLiteral("'") + shown(parser.value(phone)) +
                                    QStringLiteral("' is not a known phone"));
    options.phone = *profile;

    const media::PagesResult result = media::writePages(parser.value(folder), options);
    for (const QString& problem : result.problems)
        printMessage(shown(problem));
    if (!result.ok) {
        printMessage(shown(result.reason));
        return kFailed;
    }
    printLine(QStringLiteral("%1 descriptors on %2 WML decks and %3 XHTML pages; phones open %4")
                  .arg(result.items)
                  .arg(result.wmlPages)
                  .arg(result.xhtmlPages)
                  .arg(result.entryUrl));
    return result.problems.isEmpty() ? kOk : kFailed;
}

} // namespace tess::cli
