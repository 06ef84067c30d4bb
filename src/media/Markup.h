#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace tess::media {

// One element or text of a page, kept as a tree so that the same page can be
// written as XML text and measured as the gateway compiles it.
struct MarkupNode {
    QString tag; // empty for text
    QList<QPair<QString, QString>> attributes;
    QList<MarkupNode> children;
    QString text;

    static MarkupNode element(const QString& tag, QList<QPair<QString, QString>> attributes = {},
                              QList<MarkupNode> children = {});
    static MarkupNode textNode(const QString& text);
};

enum class Dialect { Wml, Xhtml };

// Text as XML content or attribute value: &, <, >, " as entities; in WML a $ doubled
// (else it starts a variable). Characters XML cannot hold become U+FFFD.
QString escapedXml(const QString& text, Dialect dialect);

// The element and everything in it as XML text, a line break after block elements.
QByteArray xmlOf(const MarkupNode& node, Dialect dialect);

// The WML 1.1 deck rooted at node compiled to WBXML 1.3 (UTF-8, no string table),
// as a WAP gateway sends it to the phone. A gateway that shares repeated strings
// through a string table sends no more than this. Elements or attributes outside
// the WML 1.1 token tables are not known: *ok is set false then.
QByteArray wbxmlOf(const MarkupNode& node, bool* ok = nullptr);

} // namespace tess::media
