#include "cli/Settings.h"

#include "cli/CliCommon.h"
#include "engine/ConfigFile.h"
#include "engine/ContentTypes.h"
#include "engine/PathRules.h"
#include "engine/TextRules.h"

#include <QFileInfo>
#include <QJsonObject>

namespace tess::cli {

namespace {

QCommandLineOption valued(const char* name, const char* help, const char* value) {
    return QCommandLineOption(QLatin1String(name), QLatin1String(help), QLatin1String(value));
}

// The MIME type an option names: one of the six types, or a file extension of one.
std::optional<QString> typeNamed(const QString& value) {
    for (const ContentType& t : contentTypes())
        if (value == QLatin1String(t.mime))
            return QLatin1String(t.mime);
    const int row = contentTypeForPath(QLatin1Char('.') + value);
    if (row >= 0)
        return QLatin1String(contentTypes()[row].mime);
    return std::nullopt;
}

QString knownTypes() {
    QStringList mimes;
    for (const ContentType& t : contentTypes())
        mimes.append(QLatin1String(t.mime));
    return mimes.join(QStringLiteral(", "));
}

} // namespace

DescriptorOptions::DescriptorOptions()
    : saveFolder_(valued("save-folder", "Write descriptors into DIR.", "DIR")),
      url_(valued("url", "Content-URL of every descriptor (Auto URL ReNaming off).", "URL")),
      baseUrl_(valued("base-url",
                      "Auto URL ReNaming: Content-URL is BASE, \"/\" and the file name.", "BASE")),
      vendor_(valued("vendor", "Content-Vendor.", "TEXT")),
      version_(valued("version", "Content-Version.", "TEXT")),
      type_(valued("type",
                   "Content-Type of every file, a MIME type (audio/midi) or extension (mid); "
                   "by default chosen from each file's extension.",
                   "TYPE")),
      blank_(QStringLiteral("blank-line"), QStringLiteral("Make the first line blank.")),
      noBlank_(QStringLiteral("no-blank-line"), QStringLiteral("No blank first line.")),
      config_(valued("config", "Take defaults from FILE instead of the config.cfg the windows use.",
                     "FILE")),
      json_(QStringLiteral("json"), QStringLiteral("Print one JSON object per file.")) {}

void DescriptorOptions::addTo(QCommandLineParser& parser) const {
    for (const QCommandLineOption* o : {&saveFolder_, &url_, &baseUrl_, &vendor_, &version_, &type_,
                                        &blank_, &noBlank_, &config_, &json_})
        parser.addOption(*o);
}

bool DescriptorOptions::resolve(const QCommandLineParser& parser, const QString& subcommand,
                                MakeSettings* settings, int* exitCode) const {
    auto usage = [&](const QString& message) {
        *exitCode = usageError(subcommand, message);
        return false;
    };
    if (parser.isSet(url_) && parser.isSet(baseUrl_))
        return usage(QStringLiteral("--url and --base-url exclude each other"));
    if (parser.isSet(blank_) && parser.isSet(noBlank_))
        return usage(QStringLiteral("--blank-line and --no-blank-line exclude each other"));
    for (const QCommandLineOption* o :
         {&saveFolder_, &url_, &baseUrl_, &vendor_, &version_, &type_, &config_}) {
        const QStringList values = parser.values(*o);
        if (values.size() > 1)
            return usage(QStringLiteral("--") + o->names().constFirst() +
                         QStringLiteral(" is given more than once"));
        if (!values.isEmpty() && TextRules::breaksLine(values.constFirst()))
            return usage(QStringLiteral("the value of --") + o->names().constFirst() +
                         QStringLiteral(" holds a line break or NUL"));
    }

    // Defaults as the main window holds them after loading config.cfg: Auto URL
    // ReNaming on, with the default URL as its base.
    MakeSettings s;
    const bool explicitConfig = parser.isSet(config_);
    const QString configPath = explicitConfig ? parser.value(config_) : ConfigFile::defaultPath();
    if (explicitConfig || QFileInfo::exists(configPath)) {
        const ConfigFile::ReadResult read = ConfigFile::readFile(configPath);
        if (!read.ok) {
            printError(configPath, read.reason);
            *exitCode = kFailed;
            return false;
        }
        if (read.lines.size() < ConfigFile::kLineCount) {
            printError(configPath, QStringLiteral("the file seems to be corrupt (fewer than five "
                                                  "lines); set the defaults in the options "
                                                  "window or give them as options"));
            *exitCode = kFailed;
            return false;
        }
        s.blankLine = ConfigFile::blankLineState(read.lines[0]) == 1;
        s.saveFolder = read.lines[1];
        s.autoUrlBase = autoUrlBaseOf(read.lines[2]);
        s.vendor = read.lines[3];
        s.version = read.lines[4];
    }

    if (parser.isSet(saveFolder_))
        s.saveFolder = parser.value(saveFolder_);
    if (parser.isSet(url_)) {
        s.url = parser.value(url_);
        s.autoUrlBase.reset();
    }
    if (parser.isSet(baseUrl_))
        s.autoUrlBase = autoUrlBaseOf(parser.value(baseUrl_));
    if (parser.isSet(vendor_))
        s.vendor = parser.value(vendor_);
    if (parser.isSet(version_))
        s.version = parser.value(version_);
    if (parser.isSet(blank_))
        s.blankLine = true;
    if (parser.isSet(noBlank_))
        s.blankLine = false;
    if (parser.isSet(type_)) {
        const std::optional<QString> mime = typeNamed(parser.value(type_));
        if (!mime)
            return usage(QStringLiteral("--type: '") + shown(parser.value(type_)) +
                         QStringLiteral("' is not one of ") + knownTypes());
        s.typeOverride = *mime;
    }

    if (s.saveFolder.isEmpty())
        return usage(QStringLiteral("no save folder: give --save-folder DIR or set a default "
                                    "in the options window"));
    // "dir/" and "dir" name the same folder; the descriptor path gets one "/".
    while (s.saveFolder.size() > 1 && s.saveFolder.endsWith(QLatin1Char('/')))
        s.saveFolder.chop(1);
    if (!QFileInfo(s.saveFolder).isDir()) {
        printError(s.saveFolder, QStringLiteral("the save folder does not exist"));
        *exitCode = kFailed;
        return false;
    }
    if (s.saveFolder == QLatin1String("/"))
        s.saveFolder.clear(); // "" + "/" + name
    *settings = s;
    return true;
}

void report(const QString& media, const Made& made, bool json) {
    if (!made.ok)
        printError(media, made.reason);
    if (!made.notice.isEmpty())
        printError(made.path, made.notice);
    if (json) {
        QJsonObject o{{QStringLiteral("media"), media}, {QStringLiteral("ok"), made.ok}};
        if (!made.path.isEmpty())
            o.insert(QStringLiteral("descriptor"), made.path);
        if (made.ok) {
            const DescriptorFields& f = made.fields;
            o.insert(QStringLiteral("fields"),
                     QJsonObject{{QStringLiteral("Content-Type"), f.type},
                                 {QStringLiteral("Content-Name"), f.name},
                                 {QStringLiteral("Content-Version"), f.version},
                                 {QStringLiteral("Content-Vendor"), f.vendor},
                                 {QStringLiteral("Content-URL"), f.url},
                                 {QStringLiteral("Content-Size"), f.size.toLongLong()}});
            if (!made.notice.isEmpty())
                o.insert(QStringLiteral("notice"), made.notice);
        } else {
            o.insert(QStringLiteral("error"), made.reason);
        }
        printJson(o);
    } else if (made.ok) {
        printLine(shown(made.path));
    }
}

} // namespace tess::cli
