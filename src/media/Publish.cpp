#include "media/Publish.h"

#include "engine/AppInfo.h"
#include "engine/ContentTypes.h"
#include "engine/Descriptor.h"
#include "engine/FileOps.h"
#include "engine/ServerConfig.h"
#include "engine/TextRules.h"
#include "media/MidiFormat0.h"
#include "media/Pages.h"
#include "media/ReadHead.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tess::media {

namespace {

// Bumped when outputs made from the same source and options would differ.
constexpr int kStepsVersion = 1;
// A manifest of 10,000 items is about 4 MB; anything far beyond that is no manifest of ours.
constexpr qint64 kMaxManifestBytes = 64 * 1024 * 1024;
// Camera JPEGs carry up to 64 KiB of EXIF before the frame header.
constexpr qint64 kHeadBytes = 256 * 1024;
constexpr int kMaxDepth = 64;
constexpr char kServerMark[] = "# Tessavane publish:";

quint16 be16(const QByteArray& b, int i) {
    return quint16((uchar(b[i]) << 8) | uchar(b[i + 1]));
}
quint32 be32(const QByteArray& b, int i) {
    return (quint32(uchar(b[i])) << 24) | (quint32(uchar(b[i + 1])) << 16) |
           (quint32(uchar(b[i + 2])) << 8) | quint32(uchar(b[i + 3]));
}
quint16 le16(const QByteArray& b, int i) {
    return quint16(uchar(b[i]) | (uchar(b[i + 1]) << 8));
}

void sniffJpeg(const QByteArray& b, Sniffed* s) {
    int i = 2;
    while (i + 4 <= b.size()) {
        if (uchar(b[i]) != 0xFF)
            return;
        const uchar marker = uchar(b[i + 1]);
        if (marker == 0xFF) { // fill byte
            ++i;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            i += 2;
            continue;
        }
        const int length = be16(b, i + 2);
        if (length < 2)
            return;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (i + 9 > b.size())
                return;
            s->progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
            s->pixels = QSize(be16(b, i + 7), be16(b, i + 5));
            return;
        }
        if (marker == 0xDA || marker == 0xD9)
            return;
        i += 2 + length;
    }
}

void sniffPng(const QByteArray& b, Sniffed* s) {
    if (b.size() < 33 || b.mid(12, 4) != "IHDR")
        return;
    s->pixels = QSize(int(be32(b, 16) & 0x7fffffff), int(be32(b, 20) & 0x7fffffff));
    const int colourType = uchar(b[25]);
    s->alpha = colourType == 4 || colourType == 6;
    s->interlaced = uchar(b[28]) != 0;
    // A tRNS chunk before the image data makes some colour transparent.
    qint64 i = 8;
    while (i + 8 <= b.size()) {
        const quint32 length = be32(b, int(i));
        const QByteArray type = b.mid(int(i + 4), 4);
        if (type == "tRNS")
            s->alpha = true;
        if (type == "IDAT" || type == "IEND")
            break;
        i += 12 + qint64(length);
    }
}

bool isDigitsOnly(const QString& s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.isDigit(); });
}

QString hexHash(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f)) {
        *error = f.errorString();
        return {};
    }
    return QString::fromLatin1(hash.result().toHex());
}

// One name the walk met. The walk keeps bytes and numbers only; the names are made
// text (and the reasons to skip written) only when the plan needs them.
struct Entry {
    QByteArray raw; // path relative to SRC, '/' separated, as the file system has it
    qint64 size = 0;
    // Nanoseconds: what the quick check compares. ctime moves with every change to the
    // file, a chmod included, which mtime does not see.
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    int error = 0;        // errno of a name that could not be looked at or opened
    unsigned type = 0;    // S_IFMT bits
    bool tooDeep = false; // a folder below kMaxDepth
    QString rel;          // raw as text, once made
    qint64 mtimeMs = 0;
    QString skip; // why it is not looked at, once made
};

// Walks the folder open at dirFd (taken over and closed), never through a link: each
// folder below is opened relative to its parent with O_NOFOLLOW. skipDir (a path below
// SRC, relative) is left out. Names are sorted in each folder, so the order is stable.
void walk(int dirFd, const QByteArray& rel, const QByteArray& skipDir, int depth,
          std::vector<Entry>* out) {
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    std::vector<QByteArray> names;
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0)
            names.emplace_back(d->d_name);
    }
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names) {
        Entry e;
        e.raw = rel.isEmpty() ? name : rel + '/' + name;
        struct stat st {};
        if (::fstatat(::dirfd(dir), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            e.error = errno;
            out->push_back(std::move(e));
            continue;
        }
        e.type = st.st_mode & S_IFMT;
        if (S_ISDIR(st.st_mode)) {
            if (e.raw == skipDir)
                continue;
            if (depth >= kMaxDepth) {
                e.tooDeep = true;
                out->push_back(std::move(e));
                continue;
            }
            const int child = ::openat(::dirfd(dir), name.constData(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0) {
                e.error = errno;
                out->push_back(std::move(e));
                continue;
            }
            walk(child, e.raw, skipDir, depth + 1, out);
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            e.size = qint64(st.st_size);
            e.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            e.ctimeNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
            e.mtimeMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        }
        out->push_back(std::move(e));
    }
    ::closedir(dir);
}

// Text and reasons for what the walk found.
void describe(Entry* e) {
    e->rel = QFile::decodeName(e->raw);
    // A name in bytes that are no UTF-8 would not lead back to its file.
    if (QFile::encodeName(e->rel) != e->raw)
        e->skip = QStringLiteral("the file name is not valid UTF-8");
    else if (e->error)
        e->skip = QString::fromLocal8Bit(std::strerror(e->error));
    else if (e->tooDeep)
        e->skip = QStringLiteral("folders nested too deep");
    else if (e->type == S_IFLNK)
        e->skip = QStringLiteral("a link: links are not followed");
    else if (e->type != S_IFREG)
        e->skip = QStringLiteral("not a regular file");
}

// The names of what is in a folder besides folders, without looking at each file;
// sorted, the manifest's own name left out.
std::vector<QByteArray> rawNamesIn(const QString& folder) {
    std::vector<QByteArray> names;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent* d = ::readdir(dir))
        if (d->d_type != DT_DIR && std::strcmp(d->d_name, kManifestName) != 0)
            names.emplace_back(d->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

QSet<QString> namesIn(const std::vector<QByteArray>& raw) {
    QSet<QString> names;
    names.reserve(qsizetype(raw.size()));
    for (const QByteArray& n : raw)
        names.insert(QFile::decodeName(n));
    return names;
}

// Everything a plan is made from besides the manifest: this program, the options, and
// every source's name, size and times, and what lies in WEBDIR.
QByteArray sourceStateOf(const QString& optionsDigest, const std::vector<Entry>& entries) {
    QByteArray all = AppInfo::versionText().toUtf8() + '\0' + optionsDigest.toLatin1() + '\0';
    all.reserve(all.size() + qsizetype(entries.size()) * 64);
    for (const Entry& e : entries) {
        all += e.raw;
        all += '\0';
        const qint64 numbers[] = {e.size, e.mtimeNs, e.ctimeNs, e.error, qint64(e.type), e.tooDeep};
        all.append(reinterpret_cast<const char*>(numbers), sizeof numbers);
    }
    return QCryptographicHash::hash(all, QCryptographicHash::Blake2b_256);
}

// Whether WEBDIR's list of names is as the last run left it: renaming the manifest in
// was the last change to the folder, and it set the folder's times and the manifest's
// change time to the same instant. Any name added, removed or renamed since moves the
// folder's times past it. Where a file system keeps other times, this never holds and
// every run reads the whole manifest.
bool lastChangeWasManifest(const QString& webDir) {
    struct stat folder {};
    struct stat manifest {};
    if (::lstat(QFile::encodeName(webDir).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode) ||
        ::lstat(
            QFile::encodeName(webDir + QLatin1Char('/') + QLatin1String(kManifestName)).constData(),
            &manifest) != 0 ||
        !S_ISREG(manifest.st_mode))
        return false;
    auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return same(folder.st_mtim, folder.st_ctim) && same(folder.st_mtim, manifest.st_ctim);
}

// The manifest begins with {"state":…,"summary":…, written so by writeManifest: read
// from its first bytes alone, an unchanged site needs no parse of its items.
constexpr char kItemsKey[] = ",\"items\":";
constexpr qint64 kMaxHeadBytes = 1024 * 1024;

QJsonObject manifestHead(const QString& path) {
    // 64 KB hold the head unless many files were skipped; only then is more read.
    Head head = readHead(path, 64 * 1024);
    if (head.ok && !head.bytes.contains(kItemsKey) && head.bytes.size() == 64 * 1024)
        head = readHead(path, kMaxHeadBytes);
    if (!head.ok)
        return {};
    const int end = head.bytes.indexOf(kItemsKey);
    if (end < 0 || !head.bytes.startsWith("{\"state\":"))
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(head.bytes.left(end) + '}');
    return doc.object();
}

// head's keys go first, then the rest of body's.
QByteArray manifestBytes(const QJsonObject& head, QJsonObject body) {
    for (auto it = head.begin(); it != head.end(); ++it)
        body.remove(it.key());
    QByteArray first = QJsonDocument(head).toJson(QJsonDocument::Compact);
    const QByteArray rest = QJsonDocument(body).toJson(QJsonDocument::Compact);
    first.chop(1);
    return first + ',' + rest.mid(1);
}

QString extensionFor(const QString& outFormat) {
    if (outFormat == QLatin1String("jpeg"))
        return QStringLiteral("jpg");
    if (outFormat == QLatin1String("midi"))
        return QStringLiteral("mid");
    return outFormat;
}

// How a sniffed file is published for phone: kind, how and output format.
void decide(const Sniffed& s, qint64 size, const PhoneProfile& phone, PlanItem* item) {
    item->format = s.format;
    if (s.kind == QLatin1String("picture")) {
        item->kind = QStringLiteral("picture");
        QStringList why;
        if (!phone.takesPicture(s.format))
            why << QStringLiteral("the phone does not show ") + s.format;
        if (s.pixels.isEmpty())
            why << QStringLiteral("its size in pixels is unknown");
        else if (s.pixels.width() > phone.screen.width() ||
                 s.pixels.height() > phone.screen.height())
            why << QStringLiteral("%1x%2 is larger than the screen (%3x%4)")
                       .arg(s.pixels.width())
                       .arg(s.pixels.height())
                       .arg(phone.screen.width())
                       .arg(phone.screen.height());
        if (phone.maxPictureBytes > 0 && size > phone.maxPictureBytes)
            why << QStringLiteral("%1 bytes is more than the phone takes (%2)")
                       .arg(size)
                       .arg(phone.maxPictureBytes);
        if (s.progressive)
            why << QStringLiteral("a progressive JPEG, which the phone cannot show");
        if (s.alpha)
            why << QStringLiteral("transparency, which the phone shows black");
        if (s.interlaced)
            why << QStringLiteral("an interlaced PNG");
        if (why.isEmpty()) {
            item->how = QStringLiteral("copy");
            item->outFormat = s.format;
        } else {
            item->how = QStringLiteral("fit");
            const bool jpeg = s.format == QLatin1String("jpeg") && phone.takesPicture(s.format);
            item->outFormat =
                jpeg ? QStringLiteral("jpeg")
                : phone.takesPicture(QStringLiteral("png")) || phone.pictureFormats.isEmpty()
                    ? QStringLiteral("png")
                    : phone.pictureFormats.constFirst();
            item->findings << QStringLiteral("fitted: ") + why.join(QStringLiteral("; "));
        }
        return;
    }
    if (s.format == QLatin1String("qcp") || s.format == QLatin1String("cmx") ||
        s.format == QLatin1String("midi")) {
        item->kind =
            s.format == QLatin1String("midi") ? QStringLiteral("midi") : QStringLiteral("copy");
        item->how = QStringLiteral("copy");
        item->outFormat = s.format;
        if (!phone.takesSound(s.format))
            item->findings << QStringLiteral("may: the phone's profile does not list ") + s.format +
                                  QStringLiteral(" sounds");
        if (s.midiFormat >= 0 && !phone.midiFormats.isEmpty() &&
            !phone.midiFormats.contains(s.midiFormat)) {
            if (s.midiFormat == 1) {
                item->how = QStringLiteral("format0");
                item->findings << QStringLiteral("converted: format 1 MIDI merged into one "
                                                 "track (format 0), which the phone plays");
            } else {
                item->findings << QStringLiteral("may: a format %1 MIDI file; the phone plays "
                                                 "format %2")
                                      .arg(s.midiFormat)
                                      .arg(phone.midiFormats.constFirst());
            }
        }
        return;
    }
    if (s.kind == QLatin1String("sound")) {
        item->kind = QStringLiteral("ringtone");
        item->how = QStringLiteral("convert");
        item->outFormat = QStringLiteral("qcp");
        return;
    }
    item->kind = QStringLiteral("skip");
    item->reason = s.format == QLatin1String("unknown")
                       ? QStringLiteral("not a picture or a sound this program reads")
                       : QStringLiteral("a %1 file, which is not published").arg(s.format);
}

QJsonObject phoneJson(const PhoneProfile& p) {
    auto size = [](QSize s) -> QString {
        return QString::number(s.width()) + QLatin1Char('x') + QString::number(s.height());
    };
    return QJsonObject{{QStringLiteral("id"), p.id},
                       {QStringLiteral("screen"), size(p.screen)},
                       {QStringLiteral("wallpaper"), size(p.wallpaper)},
                       {QStringLiteral("pictures"), QJsonArray::fromStringList(p.pictureFormats)},
                       {QStringLiteral("sounds"), QJsonArray::fromStringList(p.soundFormats)},
                       {QStringLiteral("maxRinger"), double(p.maxRingerBytes)},
                       {QStringLiteral("maxPicture"), double(p.maxPictureBytes)},
                       {QStringLiteral("markup"), p.markup},
                       {QStringLiteral("maxPage"), double(p.maxPageBytes)}};
}

QJsonArray midiFormatsJson(const PhoneProfile& p) {
    QJsonArray a;
    for (const int f : p.midiFormats)
        a.append(f);
    return a;
}

QJsonObject optionsJson(const PublishOptions& o) {
    return QJsonObject{{QStringLiteral("baseUrl"), o.baseUrl},
                       {QStringLiteral("vendor"), o.vendor},
                       {QStringLiteral("version"), o.version},
                       {QStringLiteral("blankLine"), o.blankLine},
                       {QStringLiteral("title"), o.title},
                       {QStringLiteral("steps"), kStepsVersion},
                       {QStringLiteral("midiFormats"), midiFormatsJson(o.phone)},
                       {QStringLiteral("profile"), phoneJson(o.phone)}};
}

// The digest an item's outputs are made under. The MIDI formats the phone plays
// matter to MIDI items alone: a profile that learns them remakes no picture or sound.
QString digestOf(const QJsonObject& o, bool midi = false) {
    QJsonObject itemOptions = o;
    itemOptions.remove(QStringLiteral("title")); // pages only
    if (!midi)
        itemOptions.remove(QStringLiteral("midiFormats"));
    return QString::fromLatin1(
        QCryptographicHash::hash(QJsonDocument(itemOptions).toJson(QJsonDocument::Compact),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(16));
}

bool readManifest(const QString& path, QJsonObject* out, QString* reason) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? true
                               : (*reason = QString::fromLocal8Bit(std::strerror(errno)), false);
    if (!S_ISREG(st.st_mode)) {
        *reason = QStringLiteral("not a regular file");
        return false;
    }
    const Head head = readHead(path, kMaxManifestBytes + 1);
    if (!head.ok) {
        *reason = head.reason;
        return false;
    }
    if (head.bytes.size() > kMaxManifestBytes) {
        *reason = QStringLiteral("larger than any manifest publish writes");
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(head.bytes, &error);
    if (!doc.isObject() ||
        doc.object().value(QStringLiteral("tool")).toString() != QLatin1String("tessavane")) {
        *reason = QStringLiteral("not a publish manifest (") +
                  (error.error ? error.errorString() : QStringLiteral("no tool mark")) +
                  QStringLiteral("); move it away to publish afresh");
        return false;
    }
    *out = doc.object();
    return true;
}

// File names an old manifest entry says publish made; names that could lead out of
// WEBDIR are not taken from it.
QStringList outputsOf(const QJsonObject& entry) {
    QStringList files;
    for (const QJsonValue& v : entry.value(QStringLiteral("outputs")).toArray()) {
        const QString f = v.toObject().value(QStringLiteral("file")).toString();
        if (isWebFileName(f))
            files << f;
    }
    return files;
}

struct FileStamp {
    bool exists = false;
    qint64 size = 0;
    qint64 mtimeMs = 0;
};
FileStamp stampOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return {true, qint64(st.st_size),
            qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000};
}

// Whether the output file is still as publish left it.
bool unchangedOutput(const QString& webDir, const QJsonObject& output) {
    const FileStamp s =
        stampOf(webDir + QLatin1Char('/') + output.value(QStringLiteral("file")).toString());
    return s.exists && s.size == qint64(output.value(QStringLiteral("size")).toDouble()) &&
           s.mtimeMs == qint64(output.value(QStringLiteral("mtime")).toDouble());
}

QString cleanPath(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

FileResult writeIfChanged(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::ReadOnly) && f.size() == bytes.size() && f.readAll() == bytes)
        return {};
    f.close();
    return FileOps::replaceFile(path, bytes);
}

// The engine's server lines (media, descriptor and page types; the entry page by
// Accept) under our mark, so a later run knows the file as its own.
QByteArray serverFile(WebServer server) {
    return (QLatin1String(kServerMark) +
            QStringLiteral(" written with the site; rewritten by each run.\n") +
            serverConfig(server))
        .toUtf8();
}

bool isOurServerFile(const QString& path) {
    const Head head = readHead(path, 64);
    return !head.ok || head.bytes.startsWith(kServerMark);
}

} // namespace

QString webStemOf(const QString& sourceFileName) {
    QString base = sourceFileName;
    const int dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        base.truncate(dot);
    // Accented letters lose their accents; what is left outside ASCII goes.
    const QString decomposed = base.normalized(QString::NormalizationForm_KD);
    QString stem;
    bool dash = false;
    for (const QChar c : decomposed) {
        const ushort u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')) {
            if (dash && !stem.isEmpty())
                stem += QLatin1Char('-');
            dash = false;
            stem += c;
        } else if (u >= 'A' && u <= 'Z') {
            if (dash && !stem.isEmpty())
                stem += QLatin1Char('-');
            dash = false;
            stem += QChar(u + 32);
        } else if (c.category() == QChar::Mark_NonSpacing) {
            continue;
        } else {
            dash = true;
        }
        if (stem.size() >= kMaxWebStem)
            break;
    }
    while (stem.endsWith(QLatin1Char('-')))
        stem.chop(1);
    // "index" and plain numbers are the pages' names.
    if (stem.isEmpty())
        stem = QStringLiteral("item");
    else if (stem == QLatin1String("index") || isDigitsOnly(stem))
        stem = QStringLiteral("item-") + stem.left(kMaxWebStem - 5);
    return stem;
}

bool isWebFileName(const QString& name) {
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot < 1 || name.size() > kMaxWebFileName || name.size() - dot - 1 < 2 ||
        name.size() - dot - 1 > 4)
        return false;
    for (int i = 0; i < name.size(); ++i) {
        const ushort u = name[i].unicode();
        const bool letter = u >= 'a' && u <= 'z';
        const bool digit = u >= '0' && u <= '9';
        if (i < dot ? !(letter || digit || (u == '-' && i > 0 && i < dot - 1)) : i > dot && !letter)
            return false;
    }
    return true;
}

QString uniqueStem(const QString& stem, const std::function<bool(const QString&)>& taken) {
    if (!taken(stem))
        return stem;
    for (int n = 2;; ++n) {
        const QString suffix = QLatin1Char('-') + QString::number(n);
        QString head = stem.left(kMaxWebStem - int(suffix.size()));
        while (head.endsWith(QLatin1Char('-')))
            head.chop(1);
        const QString candidate = head + suffix;
        if (!taken(candidate))
            return candidate;
    }
}

Sniffed sniffBytes(const QByteArray& b) {
    Sniffed s;
    s.format = QStringLiteral("unknown");
    s.kind = QStringLiteral("other");
    auto is = [&](const char* format, const char* kind) {
        s.format = QLatin1String(format);
        s.kind = QLatin1String(kind);
    };
    if (b.startsWith("\x89PNG\r\n\x1a\n")) {
        is("png", "picture");
        sniffPng(b, &s);
    } else if (b.startsWith("\xff\xd8\xff")) {
        is("jpeg", "picture");
        sniffJpeg(b, &s);
    } else if (b.startsWith("GIF87a") || b.startsWith("GIF89a")) {
        is("gif", "picture");
        if (b.size() >= 10)
            s.pixels = QSize(le16(b, 6), le16(b, 8));
    } else if (b.startsWith("BM") && b.size() >= 26) {
        is("bmp", "picture");
        s.pixels = QSize(int(le16(b, 18)), std::abs(int(qint16(le16(b, 22)))));
    } else if (b.size() >= 12 && b.startsWith("RIFF") && b.mid(8, 4) == "QLCM") {
        is("qcp", "sound");
    } else if (b.size() >= 12 && b.startsWith("RIFF") && b.mid(8, 4) == "WAVE") {
        is("wav", "sound");
    } else if (b.startsWith("MThd")) {
        is("midi", "sound");
        if (b.size() >= 10)
            s.midiFormat = be16(b, 8);
    } else if (b.startsWith("cmid")) {
        is("cmx", "sound");
    } else if (b.startsWith("fLaC")) {
        is("flac", "sound");
    } else if (b.startsWith("OggS")) {
        is("ogg", "sound");
    } else if (b.startsWith("ID3")) {
        is("mp3", "sound");
    } else if (b.size() >= 2 && uchar(b[0]) == 0xFF && (uchar(b[1]) & 0xE0) == 0xE0) {
        if ((uchar(b[1]) & 0x06) == 0) // layer bits 00: ADTS
            is("aac", "sound");
        else
            is("mp3", "sound");
    } else if (b.size() >= 12 && b.mid(4, 4) == "ftyp") {
        is("aac", "sound");
    } else if (b.startsWith("<?xml") || b.startsWith("<!DOCTYPE") || b.startsWith("<html")) {
        s.format = QStringLiteral("html");
    }
    return s;
}

int Plan::kept() const {
    return keptUnread + int(std::count_if(items.begin(), items.end(), [](const PlanItem& i) {
               return i.action == Action::Keep;
           }));
}

int Plan::toMake() const {
    return int(std::count_if(items.begin(), items.end(),
                             [](const PlanItem& i) { return i.action == Action::Make; }));
}

bool Plan::changes() const {
    if (unchanged)
        return false;
    if (!hadManifest || toMake() > 0 || !removeFiles.isEmpty())
        return true;
    QJsonObject opts = optionsJson(options);
    if (oldManifest.value(QStringLiteral("options")).toObject() != opts)
        return true;
    // A source touched but not changed: only its times in the manifest move.
    const qsizetype kept = std::count_if(
        items.begin(), items.end(), [](const PlanItem& i) { return i.action == Action::Keep; });
    return touched || kept != oldManifest.value(QStringLiteral("items")).toObject().size();
}

Plan planPublish(const PublishOptions& options, const MediaSteps& steps) {
    Plan plan;
    plan.options = options;
    PublishOptions& o = plan.options;
    if (!o.baseUrl.endsWith(QLatin1Char('/')))
        o.baseUrl += QLatin1Char('/');
    const QFileInfo src(o.source);
    if (!src.isDir()) {
        plan.problem = o.source + QStringLiteral(": not a folder");
        return plan;
    }
    o.source = cleanPath(o.source);
    o.webDir = cleanPath(o.webDir);
    if (o.webDir == o.source) {
        plan.problem = o.webDir + QStringLiteral(": the web folder cannot be the source folder");
        return plan;
    }
    if (o.source.startsWith(o.webDir + QLatin1Char('/'))) {
        plan.problem = o.source + QStringLiteral(": the source folder lies inside the web folder");
        return plan;
    }
    if (QFileInfo::exists(o.webDir) && !QFileInfo(o.webDir).isDir()) {
        plan.problem = o.webDir + QStringLiteral(": not a folder");
        return plan;
    }
    const QJsonObject opts = optionsJson(o);
    plan.optionsDigest = digestOf(opts);
    plan.midiDigest = digestOf(opts, true);

    std::vector<Entry> entries;
    const int top =
        ::open(QFile::encodeName(o.source).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) {
        plan.problem =
            o.source + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return plan;
    }
    // WEBDIR is left out when it lies inside SRC.
    const QString inside = o.webDir.startsWith(o.source + QLatin1Char('/'))
                               ? o.webDir.mid(o.source.size() + 1)
                               : QString();
    walk(top, QByteArray(), QFile::encodeName(inside), 0, &entries);

    const QString manifestPath = o.webDir + QLatin1Char('/') + QLatin1String(kManifestName);
    plan.sourceState = sourceStateOf(plan.optionsDigest + plan.midiDigest, entries).toHex();
    const QByteArray& state = plan.sourceState;
    if (o.quickWhenUnchanged && lastChangeWasManifest(o.webDir)) {
        const QJsonObject head = manifestHead(manifestPath);
        const QJsonObject summary = head.value(QStringLiteral("summary")).toObject();
        if (head.value(QStringLiteral("state")).toString().toLatin1() == state &&
            summary.contains(QStringLiteral("kept"))) {
            plan.unchanged = true;
            plan.hadManifest = true;
            plan.oldState = state;
            plan.keptUnread = summary.value(QStringLiteral("kept")).toInt();
            for (const QJsonValue& v : summary.value(QStringLiteral("skipped")).toArray()) {
                PlanItem item;
                item.source = v.toArray().at(0).toString();
                item.reason = v.toArray().at(1).toString();
                item.kind = QStringLiteral("skip");
                plan.items.append(item);
            }
            return plan;
        }
    }

    // The walk's own order is stable (names sorted in each folder); the plan's is by path.
    for (Entry& e : entries)
        describe(&e);
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.rel < b.rel; });
    QString reason;
    if (!readManifest(manifestPath, &plan.oldManifest, &reason)) {
        plan.problem = manifestPath + QStringLiteral(": ") + reason;
        return plan;
    }
    plan.hadManifest = !plan.oldManifest.isEmpty();
    plan.oldState = plan.oldManifest.value(QStringLiteral("state")).toString().toLatin1();
    const QJsonObject oldItems = plan.oldManifest.value(QStringLiteral("items")).toObject();

    // What lies in WEBDIR, and which of it is ours.
    const QSet<QString> present = namesIn(rawNamesIn(o.webDir));
    // Made only when a new name is looked for: an unchanged site never needs it.
    std::optional<QSet<QString>> ours;
    auto foreign = [&](const QString& file) {
        if (!present.contains(file))
            return false;
        if (!ours) {
            ours.emplace();
            for (auto it = oldItems.begin(); it != oldItems.end(); ++it)
                for (const QString& f : outputsOf(it.value().toObject()))
                    ours->insert(f);
        }
        return !ours->contains(file);
    };

    QSet<QString> stems; // taken in this run
    QList<int> unnamed;
    for (const Entry& e : entries) {
        PlanItem item;
        item.source = e.rel;
        item.size = e.size;
        item.mtimeMs = e.mtimeMs;
        QString base = e.rel.section(QLatin1Char('/'), -1);
        const int dot = base.lastIndexOf(QLatin1Char('.'));
        item.name = TextRules::singleLine(dot > 0 ? base.left(dot) : base).trimmed();
        if (item.name.isEmpty())
            item.name = webStemOf(base);
        if (!e.skip.isEmpty()) {
            item.kind = QStringLiteral("skip");
            item.reason = e.skip;
            plan.items.append(item);
            continue;
        }
        const QJsonObject old = oldItems.value(e.rel).toObject();
        const QStringList oldOutputs = outputsOf(old);
        const bool oldUsable =
            !old.isEmpty() && oldOutputs.size() == 2 &&
            old.value(QStringLiteral("options")).toString() ==
                (old.value(QStringLiteral("kind")).toString() == QLatin1String("midi")
                     ? plan.midiDigest
                     : plan.optionsDigest);
        auto takeOld = [&] {
            item.format = old.value(QStringLiteral("format")).toString();
            item.kind = old.value(QStringLiteral("kind")).toString();
            item.how = old.value(QStringLiteral("how")).toString();
            item.outFormat = old.value(QStringLiteral("outFormat")).toString();
            item.stem = old.value(QStringLiteral("stem")).toString();
            item.hash = old.value(QStringLiteral("sha256")).toString();
            for (const QJsonValue& f : old.value(QStringLiteral("findings")).toArray())
                item.findings << f.toString();
            item.mediaFile = oldOutputs.value(0);
            item.descriptorFile = oldOutputs.value(1);
        };
        const bool outputsThere =
            std::all_of(oldOutputs.begin(), oldOutputs.end(),
                        [&](const QString& f) { return present.contains(f); });
        if (oldUsable && outputsThere &&
            qint64(old.value(QStringLiteral("size")).toDouble()) == e.size &&
            qint64(old.value(QStringLiteral("mtime")).toDouble()) == e.mtimeMs) {
            takeOld();
            item.action = Action::Keep;
            stems.insert(item.stem);
            plan.items.append(item);
            continue;
        }
        const QString path = o.source + QLatin1Char('/') + e.rel;
        const Head head = readHead(path, kHeadBytes);
        if (!head.ok) {
            item.kind = QStringLiteral("skip");
            item.reason = head.reason;
            plan.items.append(item);
            continue;
        }
        // Only a source whose outputs could stand is hashed here; new ones are hashed
        // by the worker that converts them, on its own thread.
        QString error;
        if (oldUsable && outputsThere)
            item.hash = hexHash(path, &error);
        if (oldUsable && outputsThere && item.hash.isEmpty()) {
            item.kind = QStringLiteral("skip");
            item.reason = error;
            plan.items.append(item);
            continue;
        }
        if (oldUsable && outputsThere &&
            old.value(QStringLiteral("sha256")).toString() == item.hash) {
            // Touched, not changed: the outputs stand.
            plan.touched = true;
            const QString hash = item.hash;
            takeOld();
            item.hash = hash;
            item.action = Action::Keep;
            stems.insert(item.stem);
            plan.items.append(item);
            continue;
        }
        Sniffed s = sniffBytes(head.bytes);
        if (s.kind == QLatin1String("other") && s.format == QLatin1String("unknown") &&
            steps.looksLikeSound && steps.looksLikeSound(path)) {
            s.format = QStringLiteral("sound");
            s.kind = QStringLiteral("sound");
        }
        decide(s, e.size, o.phone, &item);
        if (item.kind == QLatin1String("skip")) {
            plan.items.append(item);
            continue;
        }
        // What is copied goes as it is: the phone's view of it decides.
        if (steps.inspect && item.how == QLatin1String("copy")) {
            const QStringList found = steps.inspect(path, o.phone);
            item.findings << found;
            const QStringList refused =
                found.filter(QRegularExpression(QStringLiteral("^refuse: ")));
            if (!refused.isEmpty()) {
                item.kind = QStringLiteral("skip");
                item.reason = refused.join(QStringLiteral("; "));
                plan.items.append(item);
                continue;
            }
        }
        item.action = Action::Make;
        item.reason = old.isEmpty()   ? QStringLiteral("new")
                      : !oldUsable    ? QStringLiteral("options changed")
                      : !outputsThere ? QStringLiteral("an output went missing")
                                      : QStringLiteral("changed");
        // A source keeps its name from run to run.
        const QString oldStem = old.value(QStringLiteral("stem")).toString();
        const QString ext = extensionFor(item.outFormat);
        if (!oldStem.isEmpty() && isWebFileName(oldStem + QStringLiteral(".gcd")) &&
            !stems.contains(oldStem) && !foreign(oldStem + QLatin1Char('.') + ext)) {
            item.stem = oldStem;
            stems.insert(oldStem);
        } else {
            unnamed.append(int(plan.items.size()));
        }
        plan.items.append(item);
    }
    // New sources get names in the order of their paths, after every kept name.
    for (const PlanItem& i : plan.items)
        if (i.action != Action::Skip && !i.stem.isEmpty())
            stems.insert(i.stem);
    for (const int index : unnamed) {
        PlanItem& item = plan.items[index];
        const QString ext = extensionFor(item.outFormat);
        const QString wanted = webStemOf(item.source.section(QLatin1Char('/'), -1));
        auto userFile = [&](const QString& stem) {
            return foreign(stem + QLatin1Char('.') + ext) || foreign(stem + QStringLiteral(".gcd"));
        };
        item.stem = uniqueStem(
            wanted, [&](const QString& stem) { return stems.contains(stem) || userFile(stem); });
        if (userFile(wanted))
            plan.clashes << o.webDir + QLatin1Char('/') + wanted + QStringLiteral(".*: ") +
                                QStringLiteral("a file publish did not make has this name; ") +
                                item.source + QStringLiteral(" is published as ") + item.stem;
        stems.insert(item.stem);
    }
    QSet<QString> wantedFiles;
    for (PlanItem& item : plan.items) {
        if (item.action != Action::Make)
            continue;
        item.mediaFile = item.stem + QLatin1Char('.') + extensionFor(item.outFormat);
        item.descriptorFile = item.stem + QStringLiteral(".gcd");
    }
    for (const PlanItem& item : plan.items)
        if (item.action != Action::Skip)
            wantedFiles << item.mediaFile << item.descriptorFile;
    // Outputs no source wants any more go, unless someone changed them since.
    for (auto it = oldItems.begin(); it != oldItems.end(); ++it) {
        for (const QJsonValue& v :
             it.value().toObject().value(QStringLiteral("outputs")).toArray()) {
            const QJsonObject out = v.toObject();
            const QString file = out.value(QStringLiteral("file")).toString();
            if (!isWebFileName(file) || wantedFiles.contains(file) || !present.contains(file))
                continue;
            if (unchangedOutput(o.webDir, out))
                plan.removeFiles << file;
            else
                plan.leftAlone << o.webDir + QLatin1Char('/') + file +
                                      QStringLiteral(": changed since publish wrote it; left "
                                                     "alone");
        }
    }
    plan.removeFiles.sort();
    plan.removeFiles.removeDuplicates();
    return plan;
}

QStringList describePlan(const Plan& plan) {
    QStringList lines;
    for (const PlanItem& i : plan.items) {
        if (i.action == Action::Make)
            lines << QStringLiteral("make %1 <- %2 (%3, %4)")
                         .arg(i.mediaFile, i.source, i.how, i.reason);
        else if (i.action == Action::Skip)
            lines << QStringLiteral("skip %1: %2").arg(i.source, i.reason);
    }
    for (const QString& f : plan.removeFiles)
        lines << QStringLiteral("remove ") + f;
    for (const QString& c : plan.clashes)
        lines << QStringLiteral("clash ") + c;
    for (const QString& c : plan.leftAlone)
        lines << QStringLiteral("keep ") + c;
    return lines;
}

void clearWorkFolder(const QString& webDir) {
    const QString work = webDir + QLatin1Char('/') + QLatin1String(kWorkFolderName);
    struct stat st {};
    if (::lstat(QFile::encodeName(work).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    QDir dir(work);
    for (const QString& n : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (isWebFileName(n) || n.startsWith(QLatin1Char('.')))
            dir.remove(n);
    QDir(webDir).rmdir(QLatin1String(kWorkFolderName));
}

RunResult runPublish(const Plan& plan, const MediaSteps& steps, PublishProgress* progress,
                     const std::atomic_bool* cancel) {
    RunResult run;
    run.results.resize(plan.items.size());
    for (int i = 0; i < plan.items.size(); ++i)
        run.results[i].ok = plan.items[i].action != Action::Make;
    QList<int> work;
    for (int i = 0; i < plan.items.size(); ++i)
        if (plan.items[i].action == Action::Make)
            work.append(i);
    // The longest first, so that no thread is left with a long item at the end while
    // the others wait: conversions before fittings before copies, larger sources first.
    auto cost = [&](int i) {
        const PlanItem& item = plan.items[i];
        const int rank = item.how == QLatin1String("convert") ? 0
                         : item.how == QLatin1String("fit")   ? 1
                                                              : 2;
        return std::make_pair(rank, -item.size);
    };
    std::stable_sort(work.begin(), work.end(), [&](int a, int b) { return cost(a) < cost(b); });
    if (work.isEmpty() || !plan.problem.isEmpty())
        return run;
    const QString webDir = plan.options.webDir;
    const QString workDir = webDir + QLatin1Char('/') + QLatin1String(kWorkFolderName);
    clearWorkFolder(webDir);
    if (!QDir().mkpath(webDir) || !QDir(webDir).mkdir(QLatin1String(kWorkFolderName))) {
        run.problem = workDir + QStringLiteral(": could not make the work folder");
        return run;
    }
    std::atomic<int> next{0};
    std::mutex lock;
    auto one = [&](int index) {
        const PlanItem& item = plan.items[index];
        const QString source = plan.options.source + QLatin1Char('/') + item.source;
        const QString target = workDir + QLatin1Char('/') + item.mediaFile;
        QString hash = item.hash;
        if (hash.isEmpty()) {
            QString error;
            hash = hexHash(source, &error);
            if (hash.isEmpty())
                return ItemResult{false, error, 0, {}};
        }
        StepResult step;
        if (item.how == QLatin1String("copy")) {
            const FileResult copied =
                FileOps::copyFile(source, target, FileOps::SourceLink::Refuse);
            step = {copied.ok, copied.reason};
        } else if (item.how == QLatin1String("format0")) {
            const Head head = readHead(source, kMaxMidiBytes + 1);
            const MidiResult midi = head.ok ? midiToFormat0(head.bytes) : MidiResult{};
            if (!head.ok) {
                step = {false, head.reason};
            } else if (!midi.ok) {
                step = {false, midi.reason};
            } else {
                const FileResult put = FileOps::replaceFile(target, midi.bytes);
                step = {put.ok, put.reason};
            }
        } else if (item.how == QLatin1String("fit")) {
            step = steps.fitPicture
                       ? steps.fitPicture(source, target, plan.options.phone, item.outFormat)
                       : StepResult{false, QStringLiteral("this build cannot fit pictures")};
        } else {
            step = steps.ringtone
                       ? steps.ringtone(source, target, cancel)
                       : StepResult{false, QStringLiteral("this build cannot convert sounds")};
        }
        ItemResult r{step.ok, step.reason, 0, hash};
        if (r.ok) {
            const FileStamp s = stampOf(target);
            if (!s.exists) {
                r = {false, QStringLiteral("the step wrote no file"), 0, hash};
            } else {
                r.bytes = s.size;
                const bool ringer = item.outFormat == QLatin1String("qcp") ||
                                    item.kind == QLatin1String("midi") ||
                                    item.kind == QLatin1String("copy");
                const qint64 cap =
                    ringer ? plan.options.phone.maxRingerBytes : plan.options.phone.maxPictureBytes;
                if (cap > 0 && s.size > cap)
                    r = {false,
                         QStringLiteral("%1 bytes, more than the phone takes (%2)")
                             .arg(s.size)
                             .arg(cap),
                         s.size, hash};
            }
        }
        return r;
    };
    auto worker = [&] {
        for (;;) {
            if (cancel && cancel->load())
                return;
            const int w = next.fetch_add(1);
            if (w >= work.size())
                return;
            const int index = work[w];
            if (progress) {
                std::lock_guard<std::mutex> guard(lock);
                progress->started(index, plan.items[index]);
            }
            ItemResult r = one(index);
            if (cancel && cancel->load() && !r.ok)
                r.reason = QStringLiteral("cancelled");
            std::lock_guard<std::mutex> guard(lock);
            run.results[index] = r;
            if (progress)
                progress->finished(index, plan.items[index], r);
        }
    };
    int jobs = plan.options.jobs > 0 ? plan.options.jobs
                                     : int(std::max(1u, std::thread::hardware_concurrency()));
    jobs = std::min(jobs, int(work.size()));
    // Items run side by side, each on one thread: --jobs N is N threads in all.
    if (steps.threadsPerStep)
        steps.threadsPerStep(1);
    std::vector<std::thread> threads;
    for (int t = 1; t < jobs; ++t)
        threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads)
        t.join();
    if (steps.threadsPerStep)
        steps.threadsPerStep(0);
    run.cancelled = cancel && cancel->load();
    for (int index : work)
        if (!run.results[index].ok)
            ++run.failed;
    return run;
}

namespace {

// The manifest, last. After a clean run it begins with the state of SRC and WEBDIR as
// this run leaves them and what the command line reports of an unchanged site, so
// that the next run can see that nothing changed from the first bytes alone.
void saveManifest(const Plan& plan, const QJsonObject& items, bool clean, bool always,
                  WriteResult* w) {
    const PublishOptions& o = plan.options;
    QJsonArray skipped;
    for (const PlanItem& i : plan.items)
        if (i.action == Action::Skip)
            skipped.append(QJsonArray{i.source, i.reason});
    const QJsonObject head{
        {QStringLiteral("state"), clean ? QString::fromLatin1(plan.sourceState) : QString()},
        {QStringLiteral("summary"), QJsonObject{{QStringLiteral("kept"), int(items.size())},
                                                {QStringLiteral("skipped"), skipped}}}};
    const QJsonObject body{{QStringLiteral("tool"), QStringLiteral("tessavane")},
                           {QStringLiteral("manifest"), 1},
                           {QStringLiteral("options"), optionsJson(o)},
                           {QStringLiteral("items"), items}};
    const QString manifestPath = o.webDir + QLatin1Char('/') + QLatin1String(kManifestName);
    // Put in by rename even when the bytes are the same when asked: its rename is what
    // marks the folder as the run left it.
    const QByteArray bytes = manifestBytes(head, body);
    const FileResult saved =
        always ? FileOps::replaceFile(manifestPath, bytes) : writeIfChanged(manifestPath, bytes);
    if (!saved)
        w->problems << manifestPath + QStringLiteral(": ") + saved.reason;
}

} // namespace

WriteResult writePublish(Plan& plan, RunResult& run) {
    WriteResult w;
    const PublishOptions& o = plan.options;
    w.entryUrl = o.baseUrl;
    if (!plan.problem.isEmpty() || !run.problem.isEmpty()) {
        w.problems << (plan.problem.isEmpty() ? run.problem : plan.problem);
        return w;
    }
    if (run.cancelled) {
        clearWorkFolder(o.webDir);
        w.problems << o.webDir + QStringLiteral(": cancelled; the previous site stands");
        return w;
    }
    if (!plan.changes() && run.failed == 0) {
        // Nothing to do; but WEBDIR was changed by hand since (a file of the user's put
        // there) or the manifest lacks the state: put in again, it marks the folder, so
        // that the next run is quick.
        if (!plan.unchanged && plan.hadManifest && o.quickWhenUnchanged &&
            (plan.oldState != plan.sourceState || !lastChangeWasManifest(o.webDir)))
            saveManifest(plan, plan.oldManifest.value(QStringLiteral("items")).toObject(), true,
                         true, &w);
        w.ok = w.problems.isEmpty();
        return w;
    }
    if (!QDir().mkpath(o.webDir)) {
        w.problems << o.webDir + QStringLiteral(": could not make the folder");
        return w;
    }
    const QString workDir = o.webDir + QLatin1Char('/') + QLatin1String(kWorkFolderName);
    const QJsonObject oldItems = plan.oldManifest.value(QStringLiteral("items")).toObject();
    QJsonObject items;
    auto outputJson = [&](const QString& file) {
        const FileStamp s = stampOf(o.webDir + QLatin1Char('/') + file);
        return QJsonObject{{QStringLiteral("file"), file},
                           {QStringLiteral("size"), double(s.size)},
                           {QStringLiteral("mtime"), double(s.mtimeMs)}};
    };
    QSet<QString> stale; // old outputs of remade items under another name
    for (int i = 0; i < plan.items.size(); ++i) {
        PlanItem& item = plan.items[i];
        if (item.action == Action::Skip)
            continue;
        QJsonObject entry{
            {QStringLiteral("size"), double(item.size)},
            {QStringLiteral("mtime"), double(item.mtimeMs)},
            {QStringLiteral("sha256"), item.hash.isEmpty() ? run.results[i].hash : item.hash},
            {QStringLiteral("options"),
             item.kind == QLatin1String("midi") ? plan.midiDigest : plan.optionsDigest},
            {QStringLiteral("profile"), o.phone.id},
            {QStringLiteral("format"), item.format},
            {QStringLiteral("kind"), item.kind},
            {QStringLiteral("how"), item.how},
            {QStringLiteral("outFormat"), item.outFormat},
            {QStringLiteral("stem"), item.stem},
        };
        if (!item.findings.isEmpty())
            entry.insert(QStringLiteral("findings"), QJsonArray::fromStringList(item.findings));
        if (item.action == Action::Keep) {
            QJsonObject old = oldItems.value(item.source).toObject();
            entry.insert(QStringLiteral("outputs"), old.value(QStringLiteral("outputs")));
            items.insert(item.source, entry);
            continue;
        }
        const ItemResult& r = run.results[i];
        if (!r.ok) {
            // The previous outputs, if any, stay and stay ours.
            if (oldItems.contains(item.source))
                items.insert(item.source, oldItems.value(item.source));
            continue;
        }
        const int row = contentTypeForPath(item.mediaFile);
        const DescriptorFields fields{row >= 0 ? QLatin1String(contentTypes()[row].mime)
                                               : QString(),
                                      item.name,
                                      o.version,
                                      o.vendor,
                                      o.baseUrl + item.mediaFile,
                                      QString::number(r.bytes)};
        // The descriptor is made beside the media in the work folder, so that the two go
        // in by two renames back to back: no file is written between them.
        const QString gcd = o.webDir + QLatin1Char('/') + item.descriptorFile;
        const QString gcdWork = workDir + QLatin1Char('/') + item.descriptorFile;
        const FileResult made = writeDescriptor(gcdWork, fields, o.blankLine);
        if (!made) {
            run.results[i] = {false, made.reason, r.bytes, r.hash};
            w.problems << gcd + QStringLiteral(": ") + made.reason;
            if (oldItems.contains(item.source))
                items.insert(item.source, oldItems.value(item.source));
            continue;
        }
        const QString media = o.webDir + QLatin1Char('/') + item.mediaFile;
        if (std::rename(QFile::encodeName(workDir + QLatin1Char('/') + item.mediaFile).constData(),
                        QFile::encodeName(media).constData()) != 0) {
            run.results[i] = {false, QString::fromLocal8Bit(std::strerror(errno)), 0, r.hash};
            w.problems << media + QStringLiteral(": ") + run.results[i].reason;
            if (oldItems.contains(item.source))
                items.insert(item.source, oldItems.value(item.source));
            continue;
        }
        if (std::rename(QFile::encodeName(gcdWork).constData(),
                        QFile::encodeName(gcd).constData()) != 0) {
            run.results[i] = {false, QString::fromLocal8Bit(std::strerror(errno)), r.bytes, r.hash};
            w.problems << gcd + QStringLiteral(": ") + run.results[i].reason;
        }
        ++w.written;
        entry.insert(QStringLiteral("outputs"),
                     QJsonArray{outputJson(item.mediaFile), outputJson(item.descriptorFile)});
        items.insert(item.source, entry);
        for (const QString& f : outputsOf(oldItems.value(item.source).toObject()))
            if (f != item.mediaFile && f != item.descriptorFile)
                stale.insert(f);
    }
    // Descriptors of what went away first, so the new pages do not list them.
    QStringList removals = plan.removeFiles;
    for (const QString& f : stale)
        if (!removals.contains(f))
            removals << f;
    std::sort(removals.begin(), removals.end(), [](const QString& a, const QString& b) {
        return a.endsWith(QLatin1String(".gcd")) > b.endsWith(QLatin1String(".gcd"));
    });
    for (const QString& f : removals) {
        const FileResult removed = FileOps::deleteFile(o.webDir + QLatin1Char('/') + f);
        if (removed)
            ++w.removed;
        else
            w.problems << o.webDir + QLatin1Char('/') + f + QStringLiteral(": ") + removed.reason;
    }
    QDir(o.webDir).rmdir(QLatin1String(kWorkFolderName));
    clearWorkFolder(o.webDir);

    // Pages only when the list of items or the site's options moved: a touched source
    // changes the manifest alone.
    const bool optionsMoved =
        plan.oldManifest.value(QStringLiteral("options")).toObject() != optionsJson(o);
    if (w.written > 0 || !removals.isEmpty() || optionsMoved || !plan.hadManifest) {
        PagesOptions pages;
        pages.servedAt = o.baseUrl;
        pages.title = o.title;
        pages.phone = o.phone;
        const PagesResult written = writePages(o.webDir, pages);
        if (!written.ok)
            w.problems << written.reason;
        else if (!written.entryUrl.isEmpty())
            w.entryUrl = written.entryUrl;
    }

    const std::pair<const char*, WebServer> server[] = {{kHtaccessName, WebServer::Apache},
                                                        {kNginxIncludeName, WebServer::Nginx}};
    for (const auto& [name, kind] : server) {
        const QString path = o.webDir + QLatin1Char('/') + QLatin1String(name);
        if (!isOurServerFile(path)) {
            w.problems << path + QStringLiteral(": not written by publish; left alone (the lines: "
                                                "tessavane-cli server-config)");
            continue;
        }
        const FileResult r = writeIfChanged(path, serverFile(kind));
        if (!r)
            w.problems << path + QStringLiteral(": ") + r.reason;
    }

    const bool clean = w.problems.isEmpty() && run.failed == 0;
    saveManifest(plan, items, clean, false, &w);
    w.ok = w.problems.isEmpty();
    return w;
}

} // namespace tess::media
