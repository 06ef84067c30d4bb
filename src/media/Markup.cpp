#include "media/Markup.h"

#include <cstring>

namespace tess::media {

MarkupNode MarkupNode::element(const QString& tag, QList<QPair<QString, QString>> attributes,
                               QList<MarkupNode> children) {
    MarkupNode n;
    n.tag = tag;
    n.attributes = std::move(attributes);
    n.children = std::move(children);
    return n;
}

MarkupNode MarkupNode::textNode(const QString& text) {
    MarkupNode n;
    n.text = text;
    return n;
}

namespace {

// Characters an XML 1.0 document may hold.
bool xmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Text as it is meant, with what XML cannot hold replaced: the bytes that go into
// the compiled deck.
QString cleaned(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (char32_t c : text.toUcs4())
        if (xmlChar(c))
            out += QString::fromUcs4(&c, 1);
        else
            out += QChar(0xFFFD);
    return out;
}

bool blockTag(const QString& tag) {
    static const char* const kBlocks[] = {"wml", "card", "html", "head", "body", "p", "title"};
    for (const char* b : kBlocks)
        if (tag == QLatin1String(b))
            return true;
    return false;
}

// Line breaks go only between elements, never into a text: a gateway would keep them.
void writeXml(const MarkupNode& node, Dialect dialect, QString* out) {
    if (node.tag.isEmpty()) {
        *out += escapedXml(node.text, dialect);
        return;
    }
    *out += QLatin1Char('<') + node.tag;
    for (const auto& [name, value] : node.attributes)
        *out += QLatin1Char(' ') + name + QStringLiteral("=\"") + escapedXml(value, dialect) +
                QLatin1Char('"');
    if (node.children.isEmpty()) {
        *out += QStringLiteral("/>");
        return;
    }
    *out += QLatin1Char('>');
    const auto isElement = [&](qsizetype i) {
        return i >= node.children.size() || !node.children[i].tag.isEmpty();
    };
    if (blockTag(node.tag) && isElement(0))
        *out += QLatin1Char('\n');
    for (qsizetype i = 0; i < node.children.size(); ++i) {
        const MarkupNode& child = node.children[i];
        writeXml(child, dialect, out);
        if ((blockTag(child.tag) || child.tag == QLatin1String("br")) && isElement(i + 1))
            *out += QLatin1Char('\n');
    }
    *out += QStringLiteral("</") + node.tag + QLatin1Char('>');
}

// WBXML global tokens.
constexpr char kEnd = 0x01;
constexpr char kStrI = 0x03;

// WML 1.1 tag tokens, code page 0.
int wmlTag(const QString& tag) {
    static const struct {
        const char* name;
        int token;
    } kTags[] = {{"a", 0x1C},       {"p", 0x20},        {"postfield", 0x21}, {"anchor", 0x22},
                 {"access", 0x23},  {"b", 0x24},        {"big", 0x25},       {"br", 0x26},
                 {"card", 0x27},    {"do", 0x28},       {"em", 0x29},        {"fieldset", 0x2A},
                 {"go", 0x2B},      {"head", 0x2C},     {"i", 0x2D},         {"img", 0x2E},
                 {"input", 0x2F},   {"meta", 0x30},     {"noop", 0x31},      {"prev", 0x32},
                 {"onevent", 0x33}, {"optgroup", 0x34}, {"option", 0x35},    {"refresh", 0x36},
                 {"select", 0x37},  {"small", 0x38},    {"strong", 0x39},    {"template", 0x3B},
                 {"timer", 0x3C},   {"u", 0x3D},        {"setvar", 0x3E},    {"wml", 0x3F}};
    for (const auto& t : kTags)
        if (tag == QLatin1String(t.name))
            return t.token;
    return -1;
}

// WML 1.1 attribute start tokens, code page 0: a token stands for the name and,
// for some, the start of the value.
struct AttributeStart {
    const char* name;
    const char* prefix;
    int token;
};
const AttributeStart kAttributes[] = {
    {"alt", "", 0x0C},        {"href", "https://", 0x4C}, {"href", "http://", 0x4B},
    {"href", "", 0x4A},       {"id", "", 0x55},           {"src", "https://", 0x59},
    {"src", "http://", 0x58}, {"src", "", 0x32},          {"title", "", 0x36},
    {"name", "", 0x21},       {"mode", "wrap", 0x1E},     {"mode", "nowrap", 0x1D},
};

void putString(const QString& text, QByteArray* out) {
    out->append(kStrI);
    out->append(cleaned(text).toUtf8());
    out->append('\0');
}

bool encode(const MarkupNode& node, QByteArray* out) {
    if (node.tag.isEmpty()) {
        if (!node.text.trimmed().isEmpty())
            putString(node.text, out);
        return true;
    }
    const int tag = wmlTag(node.tag);
    if (tag < 0)
        return false;
    bool ok = true;
    out->append(
        char(tag | (node.attributes.isEmpty() ? 0 : 0x80) | (node.children.isEmpty() ? 0 : 0x40)));
    for (const auto& [name, value] : node.attributes) {
        const AttributeStart* start = nullptr;
        for (const AttributeStart& a : kAttributes)
            if (name == QLatin1String(a.name) && value.startsWith(QLatin1String(a.prefix))) {
                start = &a;
                break;
            }
        if (!start) {
            ok = false;
            continue;
        }
        out->append(char(start->token));
        const QString rest = value.mid(qsizetype(std::strlen(start->prefix)));
        // A value wholly given by its start token (mode="wrap") has no string.
        if (!rest.isEmpty() || !*start->prefix)
            putString(rest, out);
    }
    if (!node.attributes.isEmpty())
        out->append(kEnd);
    if (!node.children.isEmpty()) {
        for (const MarkupNode& child : node.children)
            ok = encode(child, out) && ok;
        out->append(kEnd);
    }
    return ok;
}

} // namespace

QString escapedXml(const QString& text, Dialect dialect) {
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : cleaned(text)) {
        switch (c.unicode()) {
        case '&':
            out += QStringLiteral("&amp;");
            break;
        case '<':
            out += QStringLiteral("&lt;");
            break;
        case '>':
            out += QStringLiteral("&gt;");
            break;
        case '"':
            out += QStringLiteral("&quot;");
            break;
        case '$':
            out += dialect == Dialect::Wml ? QStringLiteral("$$") : QStringLiteral("$");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray xmlOf(const MarkupNode& node, Dialect dialect) {
    QString out;
    writeXml(node, dialect, &out);
    return out.toUtf8();
}

QByteArray wbxmlOf(const MarkupNode& node, bool* ok) {
    // WBXML 1.3, public id 4 (WML 1.1), charset 106 (UTF-8), empty string table.
    QByteArray out("\x03\x04\x6a\x00", 4);
    const bool known = encode(node, &out);
    if (ok)
        *ok = known;
    return out;
}

} // namespace tess::media
