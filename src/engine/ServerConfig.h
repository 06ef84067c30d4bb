#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tess {

// The MIME type a phone expects for a descriptor.
inline constexpr char kDescriptorMime[] = "text/x-pcs-gcd";

enum class WebServer { Apache, Nginx, Lighttpd };

// "apache", "nginx" or "lighttpd"; nothing for any other name.
std::optional<WebServer> webServerNamed(const QString& name);
QStringList webServerNames();

// One MIME type and the file name extensions (without dot) served as it.
struct ServedType {
    const char* mime;
    QStringList extensions;
};

// The descriptor's type first, then the six content types.
const std::vector<ServedType>& servedTypes();

// The types of the pages a phone's browser reads: .wml, .wmlc and .xhtml.
const std::vector<ServedType>& pageTypes();

// The lines that make the server hand out the seven types and the page types
// right, leaving every other type as it was, and open index.wml for browsers that
// read WML but not XHTML, index.xhtml for the rest. Each line ends in "\n". Apache:
// lines that also work as .htaccess; nginx: lines for a location (or server) block,
// to be saved as an include file; lighttpd: lines for lighttpd.conf.
QString serverConfig(WebServer server);

// The server a "Server:" response header names, when it is one of the three.
std::optional<WebServer> webServerFromHeader(const QString& header);

// A one-line fix: how to serve files of that extension as that type, on the server
// given, or on each of the three when it is not known.
QString typeFix(const QString& extension, const QString& mime,
                std::optional<WebServer> server = std::nullopt);

} // namespace tess
