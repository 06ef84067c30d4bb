#include "engine/ServerConfig.h"

#include "engine/ContentTypes.h"

namespace tess {

std::optional<WebServer> webServerNamed(const QString& name) {
    if (name == QLatin1String("apache"))
        return WebServer::Apache;
    if (name == QLatin1String("nginx"))
        return WebServer::Nginx;
    if (name == QLatin1String("lighttpd"))
        return WebServer::Lighttpd;
    return std::nullopt;
}

QStringList webServerNames() {
    return {QStringLiteral("apache"), QStringLiteral("nginx"), QStringLiteral("lighttpd")};
}

const std::vector<ServedType>& servedTypes() {
    // The content rows in the order of the type table; .bmp is left out on purpose:
    // a Windows bitmap is no WBMP, and a server should not claim it is.
    static const std::vector<ServedType> types = [] {
        const auto& t = contentTypes();
        return std::vector<ServedType>{
            {kDescriptorMime, {QStringLiteral("gcd")}},
            {t[0].mime, {QStringLiteral("mid"), QStringLiteral("midi")}},
            {t[1].mime, {QStringLiteral("qcp")}},
            {t[2].mime, {QStringLiteral("cmx")}},
            {t[3].mime, {QStringLiteral("png")}},
            {t[4].mime, {QStringLiteral("jpg"), QStringLiteral("jpeg")}},
            {t[5].mime, {QStringLiteral("wbmp")}},
        };
    }();
    return types;
}

namespace {

QString padded(const QString& text, int width) {
    return text.leftJustified(width, QLatin1Char(' '));
}

QString apacheLines() {
    QString text = QStringLiteral(
        "# Tessavane: the types a phone expects. Paste into the server configuration or a\n"
        "# <Directory> block, or save as .htaccess in the web folder (needs AllowOverride "
        "FileInfo).\n");
    for (const ServedType& t : servedTypes()) {
        text += QStringLiteral("AddType ") + QLatin1String(t.mime);
        for (const QString& e : t.extensions)
            text += QStringLiteral(" .") + e;
        text += QLatin1Char('\n');
    }
    return text;
}

QString nginxLines() {
    QString text = QStringLiteral(
        "# Tessavane: the types a phone expects. Include in an http, server or location block.\n"
        "# In a server or location block these types replace the inherited ones: give the\n"
        "# media folder a location of its own, or put it in http after \"include mime.types;\".\n"
        "types {\n");
    for (const ServedType& t : servedTypes())
        text += QStringLiteral("    ") + padded(QLatin1String(t.mime), 20) +
                t.extensions.join(QLatin1Char(' ')) + QStringLiteral(";\n");
    text += QStringLiteral("}\n");
    return text;
}

QString lighttpdLines() {
    QString pattern;
    for (const ServedType& t : servedTypes())
        for (const QString& e : t.extensions)
            pattern += (pattern.isEmpty() ? QString() : QStringLiteral("|")) + e;
    QString text = QStringLiteral(
        "# Tessavane: the types a phone expects. Add to lighttpd.conf; inside the condition\n"
        "# these types replace the inherited ones for the seven extensions only.\n"
        "$HTTP[\"url\"] =~ \"\\.(");
    text += pattern + QStringLiteral(")$\" {\n    mimetype.assign = (\n");
    QStringList entries;
    for (const ServedType& t : servedTypes())
        for (const QString& e : t.extensions)
            entries.append(QStringLiteral("        ") +
                           padded(QLatin1Char('"') + QLatin1Char('.') + e + QLatin1Char('"'), 7) +
                           QStringLiteral(" => \"") + QLatin1String(t.mime) + QLatin1Char('"'));
    text += entries.join(QStringLiteral(",\n")) + QStringLiteral("\n    )\n}\n");
    return text;
}

} // namespace

QString serverConfig(WebServer server) {
    switch (server) {
    case WebServer::Apache:
        return apacheLines();
    case WebServer::Nginx:
        return nginxLines();
    case WebServer::Lighttpd:
        return lighttpdLines();
    }
    return {};
}

std::optional<WebServer> webServerFromHeader(const QString& header) {
    const QString h = header.trimmed().toLower();
    if (h.startsWith(QLatin1String("apache")))
        return WebServer::Apache;
    if (h.startsWith(QLatin1String("nginx")))
        return WebServer::Nginx;
    if (h.startsWith(QLatin1String("lighttpd")))
        return WebServer::Lighttpd;
    return std::nullopt;
}

QString typeFix(const QString& extension, const QString& mime, std::optional<WebServer> server) {
    const QString head = QStringLiteral("serve .") + extension + QStringLiteral(" as ") + mime;
    const QString apache =
        QStringLiteral("\"AddType ") + mime + QStringLiteral(" .") + extension + QLatin1Char('"');
    const QString nginx = QLatin1Char('"') + mime + QLatin1Char(' ') + extension +
                          QStringLiteral(";\" to a types { } block");
    const QString lighttpd = QStringLiteral("\".") + extension + QStringLiteral("\" => \"") + mime +
                             QStringLiteral("\" to mimetype.assign");
    if (!server)
        return head + QStringLiteral(": Apache ") + apache + QStringLiteral(", nginx ") + nginx +
               QStringLiteral(", lighttpd ") + lighttpd +
               QStringLiteral(" (all lines: tessavane-cli server-config)");
    switch (*server) {
    case WebServer::Apache:
        return head + QStringLiteral(": add ") + apache +
               QStringLiteral(" (Apache; all lines: tessavane-cli server-config apache)");
    case WebServer::Nginx:
        return head + QStringLiteral(": add ") + nginx +
               QStringLiteral(" (nginx; all lines: tessavane-cli server-config nginx)");
    case WebServer::Lighttpd:
        return head + QStringLiteral(": add ") + lighttpd +
               QStringLiteral(" (lighttpd; all lines: tessavane-cli server-config lighttpd)");
    }
    return head;
}

} // namespace tess
