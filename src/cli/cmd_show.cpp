// show: a descriptor read back, with everything wrong with it.
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "cli/InspectText.h"
#include "cli/PhoneOption.h"
#include "engine/DescriptorReader.h"
#include "net/Checker.h"

#include <QFileInfo>
#include <QJsonArray>
#include <cstdio>

namespace tess::cli {

namespace {

QJsonObject fieldsJson(const DescriptorFields& f) {
    return QJsonObject{{QStringLiteral("Content-Type"), f.type},
                       {QStringLiteral("Content-Name"), f.name},
                       {QStringLiteral("Content-Version"), f.version},
                       {QStringLiteral("Content-Vendor"), f.vendor},
                       {QStringLiteral("Content-URL"), net::shownUrl(f.url)},
                       {QStringLiteral("Content-Size"), f.size}};
}

// A value holding controls or bidi marks shows wrongly on a phone and can pass
// for another name in a listing.
void controlProblems(DescriptorReport* r) {
    const QStringList& names = descriptorFieldNames();
    const QString values[] = {r->fields.type,   r->fields.name, r->fields.version,
                              r->fields.vendor, r->fields.url,  r->fields.size};
    for (int i = 0; i < 6; ++i)
        if (holdsUnsafe(values[i]))
            r->problems.append(names[i] + QStringLiteral(" holds control or bidi characters (") +
                               shown(i == 4 ? net::shownUrl(values[i]) : values[i]) +
                               QStringLiteral("); a phone shows them wrongly and they can "
                                              "disguise the text."));
    // Anyone who fetches the descriptor reads them, and a phone sends none.
    if (net::shownUrl(r->fields.url) != r->fields.url)
        r->problems.append(QStringLiteral("Content-URL holds a user name or password; anyone who "
                                          "fetches the descriptor reads it and a phone cannot "
                                          "use it: serve the media without a login."));
}

void printReport(const QString& file, const DescriptorReport& r,
                 const std::optional<media::Inspection>& media, const media::PhoneProfile& phone) {
    printLine(shown(file));
    const QStringList& names = descriptorFieldNames();
    const QString values[] = {r.fields.type,   r.fields.name, r.fields.version,
                              r.fields.vendor, r.fields.url,  r.fields.size};
    for (int i = 0; i < 6; ++i)
        printLine(QStringLiteral("  ") + names[i] + QStringLiteral(": ") +
                  shown(i == 4 ? net::shownUrl(values[i]) : values[i]));
    if (r.blankFirstLine)
        printLine(QStringLiteral("  (empty first line)"));
    if (!r.mediaPath.isEmpty())
        printLine(QStringLiteral("  media: ") + shown(QFileInfo(r.mediaPath).fileName()) +
                  QStringLiteral(" beside it, ") + QString::number(r.mediaSize) +
                  QStringLiteral(" bytes"));
    else
        printLine(QStringLiteral("  media: not found beside it"));
    if (r.ok())
        printLine(QStringLiteral("  ok"));
    for (const QString& p : r.problems)
        printLine(QStringLiteral("  problem: ") + shown(p));
    for (const UrlFinding& u : r.urlFindings) {
        printLine(QStringLiteral("  problem: ") + shown(u.reason));
        printLine(QStringLiteral("    fix: ") + shown(u.fix));
    }
    if (!media)
        return;
    printLine(QStringLiteral("  media is: ") + media->summary());
    for (const QString& line : findingLines(*media))
        printLine(QStringLiteral("  ") + line);
    printLine(QStringLiteral("  media ") +
              (media->works() ? QStringLiteral("works on ") : QStringLiteral("will not work on ")) +
              shown(phone.name()) + QStringLiteral(" (") + phone.id + QLatin1Char(')'));
}

} // namespace

int showMain(const QStringList& arguments) {
    const QString name = QStringLiteral("show");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads descriptors back and says what is wrong with them: line count and line\n"
        "ends, field names and order, the type, the size, and the size against the media\n"
        "file beside the descriptor (the file name of Content-URL) when it is there, and\n"
        "characters in Content-URL a phone cannot send as they stand (space, #, ?, control\n"
        "characters) or a Content-URL that ends in \"/\".\n"
        "Prints the fields and \"ok\" or the problems. The media file found beside it is\n"
        "inspected for the phone (--phone) as 'tessavane-cli inspect' does; the exit\n"
        "status stays that of the descriptors ('inspect' fails on media)."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per file."));
    parser.addOption(json);
    const QCommandLineOption phone = phoneOption();
    parser.addOption(phone);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Descriptors (.gcd)."),
                                 QStringLiteral("FILE..."));
    int exitCode = kOk;
    QStringList files;
    const std::optional<media::PhoneProfile> profile = parseFilesForPhone(
        parser, phone, name, arguments, QStringLiteral("no descriptor named"), &files, &exitCode);
    if (!profile)
        return exitCode;
    int failed = 0;
    for (const QString& file : files) {
        DescriptorReport r = readDescriptorFile(file);
        if (r.readError.isEmpty())
            controlProblems(&r);
        std::optional<media::Inspection> media;
        if (!r.mediaPath.isEmpty())
            media = media::inspectFile(r.mediaPath, *profile, r.fields.type);
        if (!r.ok())
            ++failed;
        if (!r.readError.isEmpty())
            printError(file, r.readError);
        if (parser.isSet(json)) {
            QJsonObject o{{QStringLiteral("file"), file}, {QStringLiteral("ok"), r.ok()}};
            if (!r.readError.isEmpty()) {
                o.insert(QStringLiteral("error"), r.readError);
            } else {
                o.insert(QStringLiteral("fields"), fieldsJson(r.fields));
                o.insert(QStringLiteral("blankFirstLine"), r.blankFirstLine);
                QStringList problems = r.problems;
                for (const UrlFinding& u : r.urlFindings)
                    problems.append(u.reason + QStringLiteral(" Fix: ") + u.fix + QLatin1Char('.'));
                o.insert(QStringLiteral("problems"), QJsonArray::fromStringList(problems));
                if (media) {
                    QJsonObject m = inspectionJson(*media);
                    m.insert(QStringLiteral("file"), r.mediaPath);
                    m.insert(QStringLiteral("size"), r.mediaSize);
                    m.insert(QStringLiteral("phone"), profile->id);
                    o.insert(QStringLiteral("media"), m);
                }
            }
            printJson(o);
        } else if (r.readError.isEmpty()) {
            printReport(file, r, media, *profile);
        }
    }
    std::fflush(stdout);
    return failed > 0 ? kFailed : kOk;
}

} // namespace tess::cli
