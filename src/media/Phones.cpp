#include "media/Phones.h"

#include "media/ReadHead.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace tess::media {

namespace {

const QStringList& knownPictures() {
    static const QStringList k{QStringLiteral("png"), QStringLiteral("jpeg"),
                               QStringLiteral("wbmp"), QStringLiteral("gif")};
    return k;
}

const QStringList& knownSounds() {
    static const QStringList k{QStringLiteral("qcp"), QStringLiteral("midi"),
                               QStringLiteral("cmx"), QStringLiteral("pmd"),
                               QStringLiteral("mp3"), QStringLiteral("aac")};
    return k;
}

const QStringList& knownKeys() {
    static const QStringList k{QStringLiteral("id"),
                               QStringLiteral("maker"),
                               QStringLiteral("model"),
                               QStringLiteral("screen"),
                               QStringLiteral("wallpaper"),
                               QStringLiteral("wallpaperTop"),
                               QStringLiteral("wallpaperLeft"),
                               QStringLiteral("callerId"),
                               QStringLiteral("pictures"),
                               QStringLiteral("sounds"),
                               QStringLiteral("midiFormats"),
                               QStringLiteral("maxRingerBytes"),
                               QStringLiteral("maxPictureBytes"),
                               QStringLiteral("markup"),
                               QStringLiteral("maxPageBytes"),
                               QStringLiteral("colourBits"),
                               QStringLiteral("sources"),
                               QStringLiteral("generic")};
    return k;
}

int lineAt(const QByteArray& text, qint64 offset) {
    offset = qBound<qint64>(0, offset, text.size());
    return 1 + int(std::count(text.constBegin(), text.constBegin() + offset, '\n'));
}

// Where each element of the top-level "phones" array (or of a top-level array) begins,
// so a fault in an entry names its line. The text has already parsed as JSON.
QList<qint64> entryOffsets(const QByteArray& text) {
    QList<qint64> offsets;
    int depth = 0;
    int listDepth = -1; // the depth inside the list of phones, once it opened
    bool inString = false;
    bool escaped = false;
    bool expect = false; // the next value begins an element
    QByteArray lastString;
    QByteArray keyAtRoot; // the key whose value is being read at depth 1
    qint64 stringStart = 0;
    for (qint64 i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"') {
                inString = false;
                lastString = text.mid(stringStart, i - stringStart);
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        if (expect && c != ']') {
            offsets.append(i);
            expect = false;
        }
        switch (c) {
        case '"':
            inString = true;
            stringStart = i + 1;
            break;
        case ':':
            if (depth == 1)
                keyAtRoot = lastString;
            break;
        case ',':
            if (depth == listDepth)
                expect = true;
            break;
        case '[':
            ++depth;
            if (listDepth < 0 && (depth == 1 || (depth == 2 && keyAtRoot == "phones"))) {
                listDepth = depth;
                expect = true;
            }
            break;
        case '{':
            ++depth;
            break;
        case '}':
        case ']':
            --depth;
            break;
        default:
            break;
        }
    }
    return offsets;
}

bool parseSize(const QJsonValue& v, QSize* out) {
    static const QRegularExpression re(QStringLiteral("^([0-9]{1,4})x([0-9]{1,4})$"));
    const QRegularExpressionMatch m = re.match(v.toString());
    if (!v.isString() || !m.hasMatch())
        return false;
    const int w = m.captured(1).toInt();
    const int h = m.captured(2).toInt();
    if (w < 1 || h < 1 || w > 4096 || h > 4096)
        return false;
    *out = QSize(w, h);
    return true;
}

bool parseCount(const QJsonValue& v, qint64 low, qint64 high, qint64* out) {
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (d != double(qint64(d)) || d < double(low) || d > double(high))
        return false;
    *out = qint64(d);
    return true;
}

bool parseFormats(const QJsonValue& v, const QStringList& known, QStringList* out, QString* bad) {
    if (!v.isArray())
        return false;
    QStringList list;
    for (const QJsonValue& e : v.toArray()) {
        const QString s = e.toString();
        if (!e.isString() || !known.contains(s)) {
            *bad = e.isString() ? s : QStringLiteral("a value that is not text");
            return false;
        }
        if (!list.contains(s))
            list.append(s);
    }
    *out = list;
    return true;
}

// One entry, or the reason it cannot be taken.
QString parseEntry(const QJsonValue& value, PhoneProfile* p) {
    if (!value.isObject())
        return QStringLiteral("a phone must be an object {…}");
    const QJsonObject o = value.toObject();
    static const QRegularExpression idRule(QStringLiteral("^[a-z0-9][a-z0-9._-]{0,63}$"));
    const QJsonValue id = o.value(QLatin1String("id"));
    if (!id.isString() || !idRule.match(id.toString()).hasMatch())
        return QStringLiteral("\"id\" must be lowercase letters, digits, '-', '.' or '_' "
                              "(at most 64)");
    p->id = id.toString();
    const QString who = QStringLiteral("phone \"%1\": ").arg(p->id);
    for (auto it = o.begin(); it != o.end(); ++it)
        if (!knownKeys().contains(it.key()))
            return who + QStringLiteral("unknown field \"%1\"").arg(it.key().left(40));
    for (const char* key : {"maker", "model", "markup"}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isUndefined() && (!v.isString() || v.toString().size() > 80))
            return who + QStringLiteral("\"%1\" must be text of at most 80 characters")
                             .arg(QLatin1String(key));
    }
    p->maker = o.value(QLatin1String("maker")).toString();
    p->model = o.value(QLatin1String("model")).toString();
    if (p->model.isEmpty())
        p->model = p->id;
    struct SizeField {
        const char* key;
        QSize* out;
    } sizes[] = {{"screen", &p->screen}, {"wallpaper", &p->wallpaper}, {"callerId", &p->callerId}};
    for (const SizeField& f : sizes) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        if (!v.isUndefined() && !parseSize(v, f.out))
            return who + QStringLiteral("\"%1\" must be WIDTHxHEIGHT, e.g. \"128x160\"")
                             .arg(QLatin1String(f.key));
    }
    struct CountField {
        const char* key;
        qint64 low, high;
        qint64 value = 0;
    } counts[] = {{"wallpaperTop", 0, 4096},        {"wallpaperLeft", 0, 4096},
                  {"maxRingerBytes", 1, 100000000}, {"maxPictureBytes", 1, 100000000},
                  {"maxPageBytes", 1, 100000000},   {"colourBits", 1, 32}};
    for (CountField& f : counts) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        if (!v.isUndefined() && !parseCount(v, f.low, f.high, &f.value))
            return who + QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                             .arg(QLatin1String(f.key))
                             .arg(f.low)
                             .arg(f.high);
    }
    p->wallpaperTop = int(counts[0].value);
    p->wallpaperLeft = int(counts[1].value);
    p->maxRingerBytes = counts[2].value;
    p->maxPictureBytes = counts[3].value;
    p->maxPageBytes = counts[4].value;
    p->colourBits = int(counts[5].value);
    if (p->screen.isValid() && p->wallpaper.isValid() &&
        (p->wallpaperLeft + p->wallpaper.width() > p->screen.width() ||
         p->wallpaperTop + p->wallpaper.height() > p->screen.height()))
        return who + QStringLiteral("the wallpaper area does not fit on the screen");
    QString bad;
    const QJsonValue pictures = o.value(QLatin1String("pictures"));
    if (!pictures.isUndefined() &&
        !parseFormats(pictures, knownPictures(), &p->pictureFormats, &bad))
        return who + QStringLiteral("\"pictures\" must be a list of %1%2")
                         .arg(knownPictures().join(QLatin1String(", ")),
                              bad.isEmpty() ? QString()
                                            : QStringLiteral(", not \"%1\"").arg(bad.left(40)));
    const QJsonValue sounds = o.value(QLatin1String("sounds"));
    if (!sounds.isUndefined() && !parseFormats(sounds, knownSounds(), &p->soundFormats, &bad))
        return who + QStringLiteral("\"sounds\" must be a list of %1%2")
                         .arg(knownSounds().join(QLatin1String(", ")),
                              bad.isEmpty() ? QString()
                                            : QStringLiteral(", not \"%1\"").arg(bad.left(40)));
    const QJsonValue midi = o.value(QLatin1String("midiFormats"));
    if (!midi.isUndefined()) {
        const QJsonArray list = midi.toArray();
        if (!midi.isArray() || list.isEmpty() || list.size() > 3)
            return who + QStringLiteral("\"midiFormats\" must be a list of 0, 1 or 2");
        for (const QJsonValue& v : list) {
            if (!v.isDouble() || (v.toDouble() != 0 && v.toDouble() != 1 && v.toDouble() != 2))
                return who + QStringLiteral("\"midiFormats\" must be a list of 0, 1 or 2");
            if (!p->midiFormats.contains(v.toInt()))
                p->midiFormats.append(v.toInt());
        }
    }
    p->markup = o.value(QLatin1String("markup")).toString();
    if (!p->markup.isEmpty() && p->markup != QLatin1String("wml") &&
        p->markup != QLatin1String("xhtml"))
        return who + QStringLiteral("\"markup\" must be \"wml\" or \"xhtml\"");
    const QJsonValue sources = o.value(QLatin1String("sources"));
    if (sources.isString()) {
        p->sources = sources.toString();
    } else if (sources.isObject()) {
        QStringList lines;
        const QJsonObject so = sources.toObject();
        for (auto it = so.begin(); it != so.end(); ++it) {
            if (!it.value().isString())
                return who + QStringLiteral("each of \"sources\" must be text");
            lines.append(it.key() + QStringLiteral(": ") + it.value().toString());
        }
        p->sources = lines.join(QLatin1Char('\n'));
    } else if (!sources.isUndefined()) {
        return who + QStringLiteral("\"sources\" must be text or an object of texts");
    }
    const QJsonValue generic = o.value(QLatin1String("generic"));
    if (!generic.isUndefined() && !generic.isBool())
        return who + QStringLiteral("\"generic\" must be true or false");
    p->generic = generic.toBool();
    return {};
}

QString beside(const QString& folder, const QString& name) {
    return QDir::cleanPath(folder + QLatin1Char('/') + name);
}

} // namespace

const PhoneProfile* PhoneList::find(const QString& id) const {
    for (const PhoneProfile& p : phones)
        if (p.id == id)
            return &p;
    return nullptr;
}

PhoneProfile builtInDefault() {
    PhoneProfile p;
    p.id = QLatin1String(kDefaultPhoneId);
    p.model = QStringLiteral("Default (strictest common case)");
    p.screen = QSize(128, 160);
    p.wallpaper = QSize(128, 160);
    p.pictureFormats = {QStringLiteral("png")};
    p.soundFormats = {QStringLiteral("qcp"), QStringLiteral("midi")};
    p.midiFormats = {0};
    p.maxRingerBytes = 64 * 1024;
    p.maxPictureBytes = 64 * 1024;
    p.markup = QStringLiteral("wml");
    p.maxPageBytes = 1400;
    p.colourBits = 8;
    p.sources = QStringLiteral("all: built in, the strictest common case");
    p.generic = true;
    return p;
}

PhoneProfile filledFrom(const PhoneProfile& phone, const PhoneProfile& fallback) {
    PhoneProfile p = phone;
    if (!p.screen.isValid())
        p.screen = fallback.screen;
    if (!p.wallpaper.isValid()) {
        p.wallpaper = p.screen;
        p.wallpaperTop = 0;
        p.wallpaperLeft = 0;
    }
    if (p.pictureFormats.isEmpty())
        p.pictureFormats = fallback.pictureFormats;
    if (p.soundFormats.isEmpty())
        p.soundFormats = fallback.soundFormats;
    if (p.midiFormats.isEmpty())
        p.midiFormats = fallback.midiFormats;
    if (p.maxRingerBytes <= 0)
        p.maxRingerBytes = fallback.maxRingerBytes;
    if (p.maxPictureBytes <= 0)
        p.maxPictureBytes = fallback.maxPictureBytes;
    if (p.markup.isEmpty())
        p.markup = fallback.markup;
    if (p.maxPageBytes <= 0)
        p.maxPageBytes = fallback.maxPageBytes;
    if (p.colourBits <= 0)
        p.colourBits = fallback.colourBits;
    return p;
}

std::optional<PhoneProfile> PhoneList::resolve(const QString& id) const {
    const PhoneProfile* p = find(id);
    if (!p)
        return std::nullopt;
    const PhoneProfile* d = find(QLatin1String(kDefaultPhoneId));
    const PhoneProfile fallback = filledFrom(d ? *d : builtInDefault(), builtInDefault());
    return filledFrom(*p, fallback);
}

QString shippedPhonesPath() {
    const QString name = QStringLiteral("phones.json");
    QStringList candidates;
    // Beside the install the program runs from, wherever that was moved.
    if (QCoreApplication::instance())
        candidates << beside(QCoreApplication::applicationDirPath(),
                             QStringLiteral(TESS_BIN_TO_DATA "/") + name);
    // A build: the source tree's copy, so an edit shows without installing.
    candidates << beside(QStringLiteral(TESS_SOURCE_RESOURCES), name)
               << beside(QStringLiteral(TESS_DATADIR), name);
    for (const QString& c : candidates)
        if (QFileInfo(c).isFile())
            return c;
    return {};
}

QString userPhonesPath() {
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    QString base = QFile::decodeName(xdg);
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/tessavane/phones.json");
}

void readPhonesFile(const QString& path, PhoneList* list, bool userFile) {
    const Head head = readHead(path, kMaxPhonesFileBytes + 1);
    if (!head.ok) {
        list->problems.append(path + QStringLiteral(":1: ") + head.reason);
        return;
    }
    if (head.size > kMaxPhonesFileBytes) {
        list->problems.append(
            path + QStringLiteral(":1: it is larger than %1 bytes").arg(kMaxPhonesFileBytes));
        return;
    }
    const QByteArray& text = head.bytes;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        list->problems.append(QStringLiteral("%1:%2: %3")
                                  .arg(path)
                                  .arg(lineAt(text, error.offset))
                                  .arg(error.errorString()));
        return;
    }
    QJsonArray entries;
    if (doc.isArray()) {
        entries = doc.array();
    } else if (doc.object().value(QLatin1String("phones")).isArray()) {
        entries = doc.object().value(QLatin1String("phones")).toArray();
    } else {
        list->problems.append(
            path + QStringLiteral(":1: expected {\"phones\": [ … ]} or a list of phones"));
        return;
    }
    const QList<qint64> offsets = entryOffsets(text);
    QStringList seen;
    for (int i = 0; i < entries.size(); ++i) {
        const int line = lineAt(text, i < offsets.size() ? offsets[i] : 0);
        PhoneProfile p;
        const QString reason = parseEntry(entries[i], &p);
        if (!reason.isEmpty()) {
            list->problems.append(QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(reason));
            continue;
        }
        if (seen.contains(p.id))
            list->problems.append(QStringLiteral("%1:%2: phone \"%3\" appears twice; the later "
                                                 "one is taken")
                                      .arg(path)
                                      .arg(line)
                                      .arg(p.id));
        seen.append(p.id);
        p.user = userFile;
        p.file = path;
        bool replaced = false;
        for (PhoneProfile& old : list->phones)
            if (old.id == p.id) {
                old = p;
                replaced = true;
            }
        if (!replaced)
            list->phones.append(p);
    }
}

PhoneList loadPhones() {
    PhoneList list;
    const QString shipped = shippedPhonesPath();
    if (shipped.isEmpty())
        list.problems.append(QStringLiteral("phones.json: the shipped phone profiles were not "
                                            "found; only the default profile is known"));
    else
        readPhonesFile(shipped, &list, false);
    if (!list.find(QLatin1String(kDefaultPhoneId)))
        list.phones.append(builtInDefault());
    const QString user = userPhonesPath();
    if (QFileInfo::exists(user) || QFileInfo(user).isSymLink())
        readPhonesFile(user, &list, true);
    return list;
}

} // namespace tess::media
