#include "media/Pages.h"

#include "engine/DescriptorReader.h"
#include "engine/FileOps.h"
#include "engine/PathRules.h"
#include "media/Markup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <algorithm>

namespace tess::media {

const char kPagesMark[] = "Made by Tessavane from the .gcd files in this folder; remade each run.";

namespace {

// Where no figure is known: the default profile's (UP.Browser 4 reads decks of about
// 1,400 compiled bytes).
constexpr qint64 kFallbackPageBytes = 1400;
// More descriptors than this in one folder is not a phone site.
constexpr int kMaxDescriptors = 10000;
// The link text on a screen 128 pixels wide: a longer name is cut.
constexpr int kMaxShownName = 60;
// A page this command made holds its mark near the top.
constexpr qint64 kMarkReadLimit = 4096;

const QString kWmlHead = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                        "<!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD WML 1.1//EN\" "
                                        "\"http://www.wapforum.org/DTD/wml_1.1.xml\">\n");
const QString kXhtmlHead =
    QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<!DOCTYPE html PUBLIC \"-//WAPFORUM//DTD XHTML Mobile 1.0//EN\" "
                   "\"http://www.wapforum.org/DTD/xhtml-mobile10.dtd\">\n");

qint64 defaultPageBytes() {
    const PhoneList list = loadPhones();
    const PhoneProfile* d = list.find(QLatin1String(kDefaultPhoneId));
    return d && d->maxPageBytes > 0 ? d->maxPageBytes : kFallbackPageBytes;
}

QString pageName(int number, Dialect dialect) {
    return (number == 1 ? QStringLiteral("index") : QString::number(number)) +
           (dialect == Dialect::Wml ? QStringLiteral(".wml") : QStringLiteral(".xhtml"));
}

QString shownName(const PageItem& item) {
    QString name = item.name.simplified();
    if (name.isEmpty())
        name = item.fileName;
    if (name.size() > kMaxShownName)
        name = name.left(kMaxShownName - 1) + QChar(0x2026);
    return name;
}

QString kbText(qint64 bytes) {
    return QString::number(std::max<qint64>(1, (bytes + 1023) / 1024)) + QStringLiteral(" KB");
}

QString pageTitle(const QString& title, int number) {
    return number == 1 ? title
                       : title + QStringLiteral(" (") + QString::number(number) + QLatin1Char(')');
}

using Node = MarkupNode;

Node link(const QString& href, const QString& text) {
    return Node::element(QStringLiteral("a"), {{QStringLiteral("href"), href}},
                         {Node::textNode(text)});
}

Node br() {
    return Node::element(QStringLiteral("br"));
}

// The items, one a line: the name as the link to its descriptor, then kind and size.
QList<Node> itemLines(const QList<PageItem>& items, qsizetype from, qsizetype count) {
    QList<Node> out;
    for (qsizetype i = from; i < from + count; ++i) {
        const PageItem& item = items[i];
        out << link(urlPathSegment(item.fileName), shownName(item))
            << Node::textNode(QStringLiteral(", ") + item.kind + QLatin1Char(' ') +
                              kbText(item.bytes));
        if (i + 1 < from + count)
            out << br();
    }
    return out;
}

QList<Node> navLinks(int number, bool hasNext, Dialect dialect) {
    QList<Node> out;
    if (hasNext)
        out << link(pageName(number + 1, dialect), QStringLiteral("Next"));
    if (number > 1) {
        if (!out.isEmpty())
            out << br();
        out << link(pageName(number - 1, dialect), QStringLiteral("Previous"));
    }
    return out;
}

QByteArray comment() {
    return QByteArrayLiteral("<!-- ") + kPagesMark + QByteArrayLiteral(" -->\n");
}

// One deck or page and its measured size.
PageFile render(const QList<PageItem>& items, qsizetype from, qsizetype count, int number,
                bool hasNext, const QString& title, Dialect dialect) {
    PageFile page;
    page.fileName = pageName(number, dialect);
    const QString heading = pageTitle(title, number);
    const QList<Node> nav = navLinks(number, hasNext, dialect);
    if (dialect == Dialect::Wml) {
        QList<Node> body = itemLines(items, from, count);
        if (!nav.isEmpty()) {
            if (!body.isEmpty())
                body << br();
            body << nav;
        }
        QList<Node> paragraphs;
        if (!body.isEmpty())
            paragraphs << Node::element(QStringLiteral("p"), {}, body);
        const Node deck =
            Node::element(QStringLiteral("wml"), {},
                          {Node::element(QStringLiteral("card"),
                                         {{QStringLiteral("title"), heading}}, paragraphs)});
        page.bytes = kWmlHead.toUtf8() + comment() + xmlOf(deck, dialect) + '\n';
        page.measured = wbxmlOf(deck).size();
        return page;
    }
    QList<Node> body{
        Node::element(QStringLiteral("p"), {},
                      {Node::element(QStringLiteral("strong"), {}, {Node::textNode(heading)})})};
    const QList<Node> lines = itemLines(items, from, count);
    if (!lines.isEmpty())
        body << Node::element(QStringLiteral("p"), {}, lines);
    if (!nav.isEmpty())
        body << Node::element(QStringLiteral("p"), {}, nav);
    const Node html = Node::element(
        QStringLiteral("html"),
        {{QStringLiteral("xmlns"), QStringLiteral("http://www.w3.org/1999/xhtml")}},
        {Node::element(QStringLiteral("head"), {},
                       {Node::element(QStringLiteral("title"), {}, {Node::textNode(heading)})}),
         Node::element(QStringLiteral("body"), {}, body)});
    page.bytes = kXhtmlHead.toUtf8() + comment() + xmlOf(html, dialect) + '\n';
    page.measured = page.bytes.size();
    return page;
}

// Fills pages greedily; each is measured with a Next link, so dropping it from the
// last page can only make that one smaller.
QList<PageFile> paginate(const QList<PageItem>& items, const QString& title, Dialect dialect,
                         qint64 limit, QMap<QString, qint64>* tooLong) {
    QList<PageItem> fitting;
    // An item that fills a page on its own cannot go on any.
    for (const PageItem& item : items) {
        if (render({item}, 0, 1, 99999, true, title, dialect).measured <= limit)
            fitting << item;
        else if (!tooLong->contains(item.fileName))
            tooLong->insert(item.fileName, limit);
    }
    struct Span {
        qsizetype from, count;
    };
    QList<Span> spans;
    qsizetype from = 0;
    do {
        const int number = int(spans.size()) + 1;
        qsizetype count = 0;
        while (from + count < fitting.size() &&
               render(fitting, from, count + 1, number, true, title, dialect).measured <= limit)
            ++count;
        spans.append({from, count});
        from += count;
    } while (from < fitting.size());
    QList<PageFile> pages;
    for (qsizetype i = 0; i < spans.size(); ++i)
        pages << render(fitting, spans[i].from, spans[i].count, int(i) + 1, i + 1 < spans.size(),
                        title, dialect);
    return pages;
}

QString itemKind(const QString& type) {
    return type.startsWith(QLatin1String("image/")) ? QStringLiteral("picture")
                                                    : QStringLiteral("ringer");
}

// Whether the file at path is a page an earlier run wrote (its mark near the top).
bool madeByUs(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.read(kMarkReadLimit).contains(kPagesMark);
}

} // namespace

qint64 wmlPageLimit(const PhoneProfile& phone) {
    return phone.markup == QLatin1String("wml") && phone.maxPageBytes > 0 ? phone.maxPageBytes
                                                                          : defaultPageBytes();
}

qint64 xhtmlPageLimit(const PhoneProfile& phone) {
    return phone.maxPageBytes > 0 ? phone.maxPageBytes : defaultPageBytes();
}

QList<PageItem> readPageItems(const QString& folder, QStringList* problems, QString* reason) {
    QList<PageItem> items;
    QDir dir(folder);
    if (!FileOps::folderExists(folder)) {
        *reason = folder + QStringLiteral(": No such folder");
        return items;
    }
    if (!dir.isReadable()) {
        *reason = folder + QStringLiteral(": Permission denied");
        return items;
    }
    const QFileInfoList entries =
        dir.entryInfoList({QStringLiteral("*.gcd")}, QDir::Files | QDir::Hidden, QDir::Name);
    if (entries.size() > kMaxDescriptors) {
        *reason = folder + QStringLiteral(": more than ") + QString::number(kMaxDescriptors) +
                  QStringLiteral(" descriptors; split them into folders");
        return items;
    }
    for (const QFileInfo& info : entries) {
        const DescriptorReport r = readDescriptorFile(info.filePath());
        if (!r.readError.isEmpty()) {
            problems->append(info.filePath() + QStringLiteral(": ") + r.readError);
            continue;
        }
        if (!r.problems.isEmpty()) {
            problems->append(info.filePath() + QStringLiteral(": ") + r.problems.first());
            continue;
        }
        items.append(
            {r.fields.name, info.fileName(), itemKind(r.fields.type), r.fields.size.toLongLong()});
    }
    std::stable_sort(items.begin(), items.end(), [](const PageItem& a, const PageItem& b) {
        if (const int c = a.name.compare(b.name, Qt::CaseInsensitive))
            return c < 0;
        if (const int c = a.name.compare(b.name, Qt::CaseSensitive))
            return c < 0;
        return a.fileName < b.fileName;
    });
    return items;
}

PageSet buildPages(const QList<PageItem>& items, const PagesOptions& options) {
    PageSet set;
    QString title = options.title.simplified();
    if (title.isEmpty())
        title = QStringLiteral("Downloads");
    // It stands on every page: a long one would crowd out the items.
    if (title.size() > kMaxShownName)
        title = title.left(kMaxShownName - 1) + QChar(0x2026);
    set.wmlLimit = wmlPageLimit(options.phone);
    set.xhtmlLimit = xhtmlPageLimit(options.phone);
    QMap<QString, qint64> tooLong;
    set.wml = paginate(items, title, Dialect::Wml, set.wmlLimit, &tooLong);
    set.xhtml = paginate(items, title, Dialect::Xhtml, set.xhtmlLimit, &tooLong);
    for (auto it = tooLong.cbegin(); it != tooLong.cend(); ++it)
        set.problems << it.key() + QStringLiteral(": its name is too long for a page of ") +
                            QString::number(it.value()) + QStringLiteral(" bytes");
    set.tooLong = int(tooLong.size());
    return set;
}

PagesResult writePages(const QString& folder, const PagesOptions& options) {
    PagesResult result;
    const QUrl served(options.servedAt);
    if (!served.isValid() || served.host().isEmpty() ||
        (served.scheme() != QLatin1String("http") && served.scheme() != QLatin1String("https"))) {
        result.reason = options.servedAt + QStringLiteral(": not an http:// or https:// URL");
        return result;
    }
    QString reason;
    const QList<PageItem> items = readPageItems(folder, &result.problems, &reason);
    if (!reason.isEmpty()) {
        result.reason = reason;
        return result;
    }
    const PageSet set = buildPages(items, options);
    result.problems << set.problems;

    // Never replace a page the user made: check them all before writing any.
    const QDir dir(folder);
    QList<PageFile> pages;
    for (const QList<PageFile>* list : {&set.wml, &set.xhtml})
        pages << *list;
    // Numbered pages first, so an index never links to a page not there yet.
    std::stable_partition(pages.begin(), pages.end(), [](const PageFile& p) {
        return !p.fileName.startsWith(QLatin1String("index."));
    });
    QSet<QString> names;
    for (const PageFile& page : pages) {
        const QString path = dir.filePath(page.fileName);
        names.insert(page.fileName);
        const QFileInfo info(path);
        if (info.exists() && (!info.isFile() || !madeByUs(path))) {
            result.reason =
                path + QStringLiteral(": not a page Tessavane made; move it away and run again");
            return result;
        }
    }
    for (const PageFile& page : pages) {
        const QString path = QDir(folder).filePath(page.fileName);
        const FileResult written = FileOps::replaceFile(path, page.bytes);
        if (!written) {
            result.reason = path + QStringLiteral(": ") + written.reason;
            return result;
        }
        result.written << path;
    }
    // Numbered pages an earlier, longer run made.
    static const QRegularExpression numbered(QStringLiteral("^[1-9][0-9]{0,5}\\.(wml|xhtml)$"));
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files)) {
        if (names.contains(info.fileName()) || !numbered.match(info.fileName()).hasMatch() ||
            !madeByUs(info.filePath()))
            continue;
        if (FileOps::deleteFile(info.filePath()))
            result.removed << info.filePath();
    }
    result.items = int(items.size()) - set.tooLong;
    result.wmlPages = int(set.wml.size());
    result.xhtmlPages = int(set.xhtml.size());
    QString url = options.servedAt;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    result.entryUrl = url;
    result.ok = true;
    return result;
}

} // namespace tess::media
