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

// The types of a phone's browser pages: WML, compiled WML and XHTML Mobile.
const std::vector<ServedType>& pageTypes() {
    static const std::vector<ServedType> types{
        {"text/vnd.wap.wml", {QStringLiteral("wml")}},
        {"application/vnd.wap.wmlc", {QStringLiteral("wmlc")}},
        {"application/vnd.wap.xhtml+xml", {QStringLiteral("xhtml")}},
    };
    return types;
}

namespace {

QString padded(const QString& text, int width) {
    return text.leftJustified(width, QLatin1Char(' '));
}

std::vector<ServedType> allTypes() {
    std::vector<ServedType> all = servedTypes();
    const auto& pages = pageTypes();
    all.insert(all.end(), pages.begin(), pages.end());
    return all;
}

QString apacheLines() {
    QString text = QStringLiteral(
        "# Tessavane: the types a phone expects. Paste into the server configuration or a\n"
        "# <Directory> block, or save as .htaccess in the web folder (needs AllowOverride "
        "FileInfo Indexes).\n"
        "# AddType adds to the server's types: .html, .css and the rest stay as they are.\n");
    for (const ServedType& t : allTypes()) {
        text += QStringLiteral("AddType ") + QLatin1String(t.mime);
        for (const QString& e : t.extensions)
            text += QStringLiteral(" .") + e;
        text += QLatin1Char('\n');
    }
    text += QStringLiteral(
        "# The folder's address opens index.wml in browsers that read WML but not XHTML,\n"
        "# index.xhtml in the rest (Apache 2.4).\n"
        "DirectoryIndex index.xhtml index.wml index.html\n"
        "<If \"%{HTTP_ACCEPT} =~ m#text/vnd\\.wap\\.wml# && ! %{HTTP_ACCEPT} =~ m#xhtml#\">\n"
        "    DirectoryIndex index.wml index.xhtml index.html\n"
        "</If>\n");
    return text;
}

QString nginxLines() {
    QString text = QStringLiteral(
        "# Tessavane: the types a phone expects. Include inside the location of the media\n"
        "# folder (or a server block), e.g.  location /wap/ { include tessavane.conf; }\n"
        "# Each extension gets a location of its own, so only these files change type:\n"
        "# .html, .css and the rest keep the server's types.\n");
    for (const ServedType& t : allTypes()) {
        const QString pattern =
            t.extensions.size() == 1
                ? t.extensions.first()
                : QLatin1Char('(') + t.extensions.join(QLatin1Char('|')) + QLatin1Char(')');
        text += padded(QStringLiteral("location ~* \\.") + pattern + QStringLiteral("$"), 26) +
                QStringLiteral("{ types { } default_type ") + QLatin1String(t.mime) +
                QStringLiteral("; }\n");
    }
    text += QStringLiteral(
        "# The folder's address opens index.wml in browsers that read WML but not XHTML,\n"
        "# index.xhtml in the rest (a map on the Accept header would need the http block).\n"
        "set $tessavane_index index.xhtml;\n"
        "if ($http_accept ~* \"text/vnd\\.wap\\.wml\") { set $tessavane_index index.wml; }\n"
        "if ($http_accept ~* \"xhtml\") { set $tessavane_index index.xhtml; }\n"
        "index $tessavane_index index.html;\n");
    return text;
}

QString lighttpdLines() {
    QString pattern;
    for (const ServedType& t : allTypes())
        for (const QString& e : t.extensions)
            pattern += (pattern.isEmpty() ? QString() : QStringLiteral("|")) + e;
    QString text = QStringLiteral(
        "# Tessavane: the types a phone expects. Add to lighttpd.conf; inside the condition\n"
        "# these types replace the inherited ones for these extensions only: .html, .css\n"
        "# and the rest keep the server's types.\n"
        "$HTTP[\"url\"] =~ \"(?i)\\.(");
    text += pattern + QStringLiteral(")$\" {\n    mimetype.assign = (\n");
    QStringList entries;
    for (const ServedType& t : allTypes())
        for (const QString& e : t.extensions)
            entries.append(QStringLiteral("        ") +
                           padded(QLatin1Char('"') + QLatin1Char('.') + e + QLatin1Char('"'), 7) +
                           QStringLiteral(" => \"") + QLatin1String(t.mime) + QLatin1Char('"'));
    text += entries.join(QStringLiteral(",\n")) + QStringLiteral("\n    )\n}\n");
    // The folder's address is no file name: its index page takes its type from here.
    text += QStringLiteral(
        "# A folder's address opens index.wml in browsers that read WML but not XHTML,\n"
        "# index.xhtml in the rest. Put these lines after the server's index-file.names.\n"
        "index-file.names += ( \"index.xhtml\" )\n"
        "$HTTP[\"url\"] =~ \"/$\" {\n"
        "    mimetype.assign = (\n");
    QStringList index;
    for (const ServedType& t : pageTypes())
        for (const QString& e : t.extensions)
            index.append(QStringLiteral("        ") +
                         padded(QLatin1Char('"') + QLatin1Char('.') + e + QLatin1Char('"'), 7) +
                         QStringLiteral(" => \"") + QLatin1String(t.mime) + QLatin1Char('"'));
    for (const char* e : {".html", ".htm"})
        index.append(QStringLiteral("        ") +
                     padded(QLatin1Char('"') + QLatin1String(e) + QLatin1Char('"'), 7) +
                     QStringLiteral(" => \"text/html\""));
    text += index.join(QStringLiteral(",\n")) +
            QStringLiteral("\n    )\n"
                           "    $REQUEST_HEADER[\"Accept\"] =~ \"text/vnd\\.wap\\.wml\" {\n"
                           "        $REQUEST_HEADER[\"Accept\"] !~ \"xhtml\" {\n"
                           "            index-file.names = ( \"index.wml\", \"index.xhtml\", "
                           "\"index.html\" )\n"
                           "        }\n"
                           "    }\n"
                           "}\n");
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
    // A types { } block in a location would drop the server's other types there.
    const QString nginx = QStringLiteral("\"location ~* \\.") + extension +
                          QStringLiteral("$ { types { } default_type ") + mime +
                          QStringLiteral("; }\" to the folder's location");
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
