#pragma once

#include "media/Phones.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tess::media {

struct PagesOptions {
    QString servedAt; // the http(s) URL the folder is served at
    QString title;    // empty: "Downloads"
    PhoneProfile phone;
};

struct PagesResult {
    bool ok = false;
    QString reason;       // when !ok: "<file>: <reason>"; nothing was written then
    QStringList written;  // paths, numbered pages first, the index pages last
    QString entryUrl;     // the folder's URL; the server picks index.wml or index.xhtml
    QStringList problems; // "<file>: <reason>" for each descriptor left off the pages
    QStringList removed;  // numbered pages of an earlier run that are no longer needed
    int items = 0;        // descriptors linked
    int wmlPages = 0;
    int xhtmlPages = 0;
};

// Reads every .gcd in folder, writes index.xhtml, index.wml (+ 2.wml, 2.xhtml, …) via
// temp+rename. A page file of that name that this command did not make is never
// replaced: nothing is written then.
PagesResult writePages(const QString& folder, const PagesOptions& options);

// One descriptor as the pages show it.
struct PageItem {
    QString name;     // Content-Name
    QString fileName; // of the .gcd, in the folder
    QString kind;     // "ringer" or "picture"
    qint64 bytes = 0; // Content-Size
};

// The descriptors of folder that a phone can download, in page order (by name, then
// file name). Those that are not are left off with a problem each; *reason is set
// when the folder cannot be read at all.
QList<PageItem> readPageItems(const QString& folder, QStringList* problems, QString* reason);

struct PageFile {
    QString fileName;    // "index.wml", "2.wml", …
    QByteArray bytes;    // as written and served
    qint64 measured = 0; // compiled deck size for WML, bytes for XHTML
};

struct PageSet {
    QList<PageFile> wml;
    QList<PageFile> xhtml;
    QStringList problems; // items too long for a page, each on some pages or none
    int tooLong = 0;      // of them, left off the decks or the XHTML pages
    qint64 wmlLimit = 0;
    qint64 xhtmlLimit = 0;
};

// Splits items into decks and pages none of which exceeds its limit.
PageSet buildPages(const QList<PageItem>& items, const PagesOptions& options);

// The largest compiled deck and the largest XHTML page for phone: its page limit;
// when it gives none (or reads XHTML, for decks) the default profile's.
qint64 wmlPageLimit(const PhoneProfile& phone);
qint64 xhtmlPageLimit(const PhoneProfile& phone);

// The text every page holds so that a later run knows the page as its own.
extern const char kPagesMark[];

} // namespace tess::media
