#pragma once

// Real tools over download pages: Kannel's WML compiler, xmllint with an offline
// catalog, and reading a page's links.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace tess::test {

inline constexpr char kWmlCompiler[] = "/usr/lib/kannel/test/wml_tester";
inline constexpr char kXmllint[] = "/usr/bin/xmllint";
// XHTML Basic 1.0, the W3C subset XHTML Mobile Profile 1.0 extends (Debian w3c-sgml-lib).
inline constexpr char kXhtmlBasicDtd[] =
    "/usr/share/xml/w3c-sgml-lib/schema/dtd/REC-xhtml-basic-20001219/xhtml-basic10.dtd";
inline constexpr char kW3cCatalog[] = "/usr/share/xml/w3c-sgml-lib/schema/dtd/catalog.xml";

inline void putFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write a test file");
}

inline QByteArray slurpFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct ToolRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program by its path, bounded in time; a hung one counts as failed.
inline ToolRun runTool(const QString& program, const QStringList& args,
                       const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                       int timeoutMs = 30000) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    ToolRun r;
    if (!p.waitForStarted(10000))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// The deck as Kannel's gateway compiles it; empty when it does not compile.
inline QByteArray compiledByKannel(const QString& path) {
    const ToolRun r = runTool(QLatin1String(kWmlCompiler), {QStringLiteral("-b"), path});
    return r.status == 0 ? r.out : QByteArray();
}

// Validates XHTML pages by their doctype, the XHTML-MP 1.0 public and system ids
// mapped to the XHTML Basic 1.0 DTD so that nothing is fetched. Empty when all pass,
// else xmllint's complaints.
inline QString xhtmlValidity(const QStringList& paths) {
    QTemporaryDir dir;
    const QString catalog = dir.filePath(QStringLiteral("catalog.xml"));
    QFile f(catalog);
    if (!f.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write the catalog");
    const QString dtd = QStringLiteral("file://") + QLatin1String(kXhtmlBasicDtd);
    f.write(
        (QStringLiteral("<?xml version=\"1.0\"?>\n"
                        "<catalog xmlns=\"urn:oasis:names:tc:entity:xmlns:xml:catalog\">\n"
                        "<public publicId=\"-//WAPFORUM//DTD XHTML Mobile 1.0//EN\" uri=\"%1\"/>\n"
                        "<system systemId=\"http://www.wapforum.org/DTD/xhtml-mobile10.dtd\" "
                        "uri=\"%1\"/>\n"
                        "<nextCatalog catalog=\"file://%2\"/>\n"
                        "</catalog>\n")
             .arg(dtd, QLatin1String(kW3cCatalog)))
            .toUtf8());
    f.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XML_CATALOG_FILES"), catalog);
    const ToolRun r = runTool(QLatin1String(kXmllint),
                              QStringList{QStringLiteral("--noout"), QStringLiteral("--nonet"),
                                          QStringLiteral("--valid")} +
                                  paths,
                              env);
    return r.status == 0 && r.err.isEmpty()
               ? QString()
               : QString::fromUtf8(r.err) + QStringLiteral(" rc=") + QString::number(r.status);
}

// Whether xmllint parses every file as XML (no DTD loaded).
inline QString xmlWellFormed(const QStringList& paths) {
    const ToolRun r =
        runTool(QLatin1String(kXmllint),
                QStringList{QStringLiteral("--noout"), QStringLiteral("--nonet")} + paths);
    return r.status == 0 && r.err.isEmpty() ? QString() : QString::fromUtf8(r.err);
}

struct PageLink {
    QString href;
    QString text;
};

// The links of a page (WML or XHTML), in order, parsed as XML.
inline QList<PageLink> linksOf(const QByteArray& page) {
    QList<PageLink> links;
    QXmlStreamReader xml(page);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"a") {
            PageLink l;
            l.href = xml.attributes().value(QStringLiteral("href")).toString();
            l.text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            links.append(l);
        }
    }
    return links;
}

} // namespace tess::test
