#include "net/Checker.h"

#include "engine/AppInfo.h"
#include "engine/ContentTypes.h"
#include "engine/ServerConfig.h"
#include "net/Fetch.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <algorithm>
#include <limits>

namespace tess::net {

QByteArray userAgent() {
    return QByteArrayLiteral("Tessavane-check/") + AppInfo::versionText().toLatin1() +
           QByteArrayLiteral(" (GCD descriptor download check)");
}

namespace {

bool isHttp(const QUrl& url) {
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// The type part of a Content-Type header, lower case, without parameters.
QString mimeOf(const QString& header) {
    return header.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
}

QString statusText(const FetchInfo& f) {
    QString text = QStringLiteral("HTTP ") + QString::number(f.status);
    if (!f.reasonPhrase.isEmpty())
        text += QLatin1Char(' ') + f.reasonPhrase;
    return text;
}

QString folderOf(const QUrl& url) {
    return url.adjusted(QUrl::RemoveFilename | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
}

// The extension a fix should name for a media URL: its own, else the type's first.
QString extensionFor(const QUrl& url, const QString& mime) {
    const QString suffix = QFileInfo(url.fileName()).suffix();
    if (!suffix.isEmpty())
        return suffix;
    for (const ServedType& t : servedTypes())
        if (QLatin1String(t.mime) == mime)
            return t.extensions.first();
    return QStringLiteral("ext");
}

// " is served as X, not " or " is served without a Content-Type, not as ".
QString servedAs(const QString& contentType) {
    if (contentType.isEmpty())
        return QStringLiteral(" is served without a Content-Type, not as ");
    return QStringLiteral(" is served as ") + contentType + QStringLiteral(", not ");
}

QString plural(qint64 n, const char* one) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(one) +
           (n == 1 ? QString() : QStringLiteral("s"));
}

} // namespace

// One descriptor's check: the descriptor, then its media, one request at a time.
// A QObject so that a queued finish dies with a cancelled job.
class Job : public QObject {
public:
    Job(QNetworkAccessManager* manager, const CheckOptions& options, int index, const QUrl& url,
        std::function<void(Job*)> done)
        : index(index), manager_(manager), options_(options), done_(std::move(done)) {
        result.url = url;
    }

    void start() {
        if (!isHttp(result.url)) {
            problem(QStringLiteral("\"") + result.url.toString() +
                        QStringLiteral("\" is not an http URL."),
                    QStringLiteral("give the descriptor's full address, e.g. "
                                   "http://your.host/tones/song.gcd"));
            finishLater();
            return;
        }
        if (result.url.scheme() == QLatin1String("https"))
            warning(QStringLiteral("The descriptor's URL uses https; old handsets do not speak "
                                   "today's TLS."),
                    QStringLiteral("serve the descriptors over plain http as well"));
        fetch_ =
            std::make_unique<Fetch>(manager_, options_, result.url, options_.descriptorLimit + 1,
                                    true, [this] { descriptorDone(); });
        fetch_->start();
    }

    int index;
    CheckResult result;

private:
    void problem(const QString& reason, const QString& fix) {
        result.problems.append({reason, fix});
    }
    void warning(const QString& reason, const QString& fix) {
        result.warnings.append({reason, fix});
    }

    void finishLater() {
        QMetaObject::invokeMethod(
            this, [this] { done_(this); }, Qt::QueuedConnection);
    }
    void finish() { done_(this); }

    // Problems of a fetch that brought no usable answer; false when there are none.
    bool failed(const Fetch& f, const QString& what) {
        switch (f.end) {
        case Fetch::End::TooManyRedirects:
            problem(what + QStringLiteral(" redirects more than ") +
                        QString::number(options_.maxRedirects) +
                        QStringLiteral(" times (stopped at ") + f.info.finalUrl.toString() +
                        QStringLiteral(")."),
                    QStringLiteral("point the URL at the file itself, or cut the redirects to ") +
                        QString::number(options_.maxRedirects) + QStringLiteral(" or fewer"));
            return true;
        case Fetch::End::BadRedirect:
            problem(what + QStringLiteral(": ") + f.info.error + QLatin1Char('.'),
                    QStringLiteral("redirect to an http:// address, or not at all"));
            return true;
        case Fetch::End::TimedOut:
            problem(what + QStringLiteral(" got ") + f.info.error + QStringLiteral(" from ") +
                        f.info.finalUrl.host() + QLatin1Char('.'),
                    QStringLiteral("check that the server is running and reachable from the "
                                   "internet on port ") +
                        QString::number(f.info.finalUrl.port(
                            f.info.finalUrl.scheme() == QLatin1String("https") ? 443 : 80)));
            return true;
        case Fetch::End::NetworkError:
            problem(what + QStringLiteral(" cannot be fetched: ") + f.info.error + QLatin1Char('.'),
                    QStringLiteral("check the host name and port, and that the server is "
                                   "running"));
            return true;
        case Fetch::End::Answered:
            break;
        }
        return false;
    }

    void descriptorDone() {
        const Fetch& f = *fetch_;
        result.descriptor = f.info;
        const QString what = QStringLiteral("The descriptor");
        if (failed(f, what))
            return finish();
        if (f.info.status != 200) {
            const QString fix = f.info.status == 404
                                    ? QStringLiteral("copy the .gcd into the folder served at ") +
                                          folderOf(f.info.finalUrl) +
                                          QStringLiteral(", or correct the URL")
                                    : QStringLiteral("make the server answer 200 OK for the "
                                                     "descriptor (check its permissions and "
                                                     "access rules)");
            problem(what + QStringLiteral(" answers ") + statusText(f.info) +
                        QStringLiteral(", not 200 OK."),
                    fix);
            return finish();
        }
        const QString mime = mimeOf(f.info.contentType);
        if (mime != QLatin1String(kDescriptorMime)) {
            problem(what + servedAs(f.info.contentType) + QLatin1String(kDescriptorMime) +
                        QLatin1Char('.'),
                    typeFix(QStringLiteral("gcd"), QLatin1String(kDescriptorMime),
                            webServerFromHeader(f.info.server)));
        } else if (f.info.contentType.trimmed().toLower() != mime) {
            warning(what + QStringLiteral(" is served as ") + f.info.contentType +
                        QStringLiteral("; old handsets may not expect anything after the type."),
                    QStringLiteral("serve it as plain ") + QLatin1String(kDescriptorMime) +
                        QStringLiteral(" (for nginx: leave text/x-pcs-gcd out of charset_types)"));
        }
        if (f.info.capped) {
            problem(what + QStringLiteral(" is larger than ") +
                        plural(options_.descriptorLimit, "byte") +
                        QStringLiteral(" (reading stopped); a descriptor is six short lines."),
                    QStringLiteral("point the URL at the .gcd file Tessavane wrote"));
            return finish();
        }
        result.report = readDescriptor(fetch_->body);
        result.readDescriptor = true;
        // An error page answering 200 is common; one sentence says more than eleven.
        if (!fetch_->body.isEmpty() && !fetch_->body.toLower().contains("content-")) {
            const QString start = QString::fromUtf8(fetch_->body.left(40)).simplified();
            problem(what + QStringLiteral(" holds no Content- line at all; it begins \"") + start +
                        QStringLiteral("\"."),
                    QStringLiteral("point the URL at the .gcd file Tessavane wrote (a server's "
                                   "error page may answer 200 OK)"));
            return finish();
        }
        for (const QString& p : result.report.problems)
            problem(QStringLiteral("Descriptor: ") + p,
                    QStringLiteral("make the descriptor again with Tessavane (tessavane-cli "
                                   "show tells what is wrong with a local copy)"));

        const QString contentUrl = result.report.fields.url;
        if (contentUrl.isEmpty())
            return finish();
        // A phone sends Content-URL as it stands: a space or a quote breaks its request,
        // though the check itself (like a browser) could escape it.
        QString unsafe;
        for (const QChar c : contentUrl)
            if ((c.unicode() <= 0x20 || c.unicode() == 0x7f ||
                 QStringLiteral("\"<>\\^`{|}").contains(c)) &&
                !unsafe.contains(c))
                unsafe += c;
        if (!unsafe.isEmpty())
            problem(QStringLiteral("Content-URL \"") + contentUrl +
                        QStringLiteral("\" holds characters a phone cannot send in a request (") +
                        (unsafe.contains(QLatin1Char(' '))
                             ? QStringLiteral("a space")
                             : QStringLiteral("\"") + unsafe + QLatin1Char('"')) +
                        QStringLiteral(")."),
                    QStringLiteral("give the media file a name without them (or write each as "
                                   "%XX in Content-URL, a space as %20) and make the descriptor "
                                   "again"));
        const QUrl media(contentUrl, QUrl::TolerantMode);
        if (!media.isValid() || media.isRelative() || media.host().isEmpty() ||
            (media.scheme() != QLatin1String("http") && media.scheme() != QLatin1String("https"))) {
            problem(QStringLiteral("Content-URL \"") + contentUrl +
                        QStringLiteral("\" is not an absolute http:// URL."),
                    QStringLiteral("write the media file's full address, e.g. "
                                   "http://your.host/tones/song.mid (the A button sets it "
                                   "for every file)"));
            return finish();
        }
        if (media.scheme() == QLatin1String("https"))
            warning(QStringLiteral("Content-URL uses https; old handsets do not speak today's "
                                   "TLS."),
                    QStringLiteral("serve the media over plain http and point Content-URL "
                                   "there"));
        // Never more than Content-Size + 1 bytes: enough to tell a longer file.
        qint64 cap = 0;
        if (isDecimalSize(result.report.fields.size)) {
            bool ok = false;
            const qint64 size = result.report.fields.size.toLongLong(&ok);
            if (ok && size < std::numeric_limits<qint64>::max())
                cap = size + 1;
        }
        fetch_ = std::make_unique<Fetch>(manager_, options_, media, cap, bool(options_.judgeMedia),
                                         [this] { mediaDone(); });
        fetch_->keepAtMost = options_.mediaHeadBytes;
        fetch_->start();
    }

    void mediaDone() {
        const Fetch& f = *fetch_;
        result.media = f.info;
        const QString what = QStringLiteral("The media file");
        if (failed(f, what))
            return finish();
        if (f.info.status != 200) {
            const QString fix =
                f.info.status == 404
                    ? QStringLiteral("upload ") + f.info.url.fileName() +
                          QStringLiteral(" to the folder served at ") + folderOf(f.info.url) +
                          QStringLiteral(", or correct Content-URL")
                    : QStringLiteral("make the server answer 200 OK for the media file");
            problem(what + QStringLiteral(" at Content-URL answers ") + statusText(f.info) +
                        QStringLiteral(", not 200 OK."),
                    fix);
            return finish();
        }
        const QString& type = result.report.fields.type;
        if (options_.judgeMedia) {
            // The whole file's size: what was read, or what the server says is left.
            const qint64 whole = f.info.capped && f.info.contentLength > f.info.bytes
                                     ? f.info.contentLength
                                     : f.info.bytes;
            result.mediaVerdict =
                options_.judgeMedia(f.body, whole, f.info.finalUrl.fileName(), type);
            result.judgedMedia = true;
        }
        bool knownType = false;
        for (const ContentType& t : contentTypes())
            knownType = knownType || type == QLatin1String(t.mime);
        const QString mime = mimeOf(f.info.contentType);
        if (knownType && mime != type)
            problem(what + servedAs(f.info.contentType) + type +
                        QStringLiteral(" (the descriptor's Content-Type)."),
                    typeFix(extensionFor(f.info.finalUrl, type), type,
                            webServerFromHeader(f.info.server)));

        bool ok = false;
        const qint64 size = result.report.fields.size.toLongLong(&ok);
        if (!ok || !isDecimalSize(result.report.fields.size))
            return finish();
        const QString fix = QStringLiteral("make the descriptor again from the file on the "
                                           "server, or upload the file the descriptor was made "
                                           "from");
        if (f.info.capped) {
            problem(what + QStringLiteral(" is longer than Content-Size (") + plural(size, "byte") +
                        QStringLiteral(")") +
                        (f.info.contentLength >= 0 ? QStringLiteral(": the server announces ") +
                                                         plural(f.info.contentLength, "byte")
                                                   : QString()) +
                        QLatin1Char('.'),
                    fix);
        } else if (f.info.bytes != size) {
            problem(what + QStringLiteral(" is ") + plural(f.info.bytes, "byte") +
                        QStringLiteral(" long, but Content-Size says ") + QString::number(size) +
                        QLatin1Char('.'),
                    fix);
        }
        finish();
    }

    QNetworkAccessManager* manager_;
    CheckOptions options_;
    std::function<void(Job*)> done_;
    std::unique_ptr<Fetch> fetch_;
};

Checker::Checker(const CheckOptions& options, QObject* parent)
    : QObject(parent), options_(options), manager_(new QNetworkAccessManager(this)) {
    options_.maxParallel = std::max(1, options_.maxParallel);
    options_.maxRedirects = std::max(0, options_.maxRedirects);
    // No proxy: the check asks the server itself, as the phone's carrier would.
    manager_->setProxy(QNetworkProxy::NoProxy);
}

Checker::~Checker() {
    active_.clear();
}

void Checker::start(const QList<QUrl>& urls) {
    if (running_)
        cancel();
    urls_ = urls;
    next_ = 0;
    done_ = 0;
    cancelled_ = false;
    running_ = true;
    Q_EMIT progress(0, int(urls_.size()));
    if (urls_.isEmpty()) {
        running_ = false;
        QMetaObject::invokeMethod(this, &Checker::finished, Qt::QueuedConnection);
        return;
    }
    pump();
}

void Checker::cancel() {
    if (!running_)
        return;
    active_.clear();
    running_ = false;
    cancelled_ = true;
    Q_EMIT finished();
}

void Checker::pump() {
    while (running_ && int(active_.size()) < options_.maxParallel && next_ < urls_.size()) {
        const int index = next_++;
        active_.push_back(std::make_unique<Job>(manager_, options_, index, urls_[index],
                                                [this](Job* job) { jobDone(job); }));
        active_.back()->start();
    }
}

void Checker::jobDone(Job* job) {
    auto it = std::find_if(active_.begin(), active_.end(),
                           [job](const std::unique_ptr<Job>& j) { return j.get() == job; });
    if (it == active_.end())
        return;
    // Kept alive until its result is out: a handler may start another check.
    std::unique_ptr<Job> owned = std::move(*it);
    active_.erase(it);
    ++done_;
    const bool last = done_ == urls_.size();
    Q_EMIT resultReady(owned->index, owned->result);
    if (!running_)
        return;
    Q_EMIT progress(done_, int(urls_.size()));
    if (!running_)
        return;
    if (last) {
        running_ = false;
        Q_EMIT finished();
        return;
    }
    pump();
}

QList<QUrl> servedDescriptorUrls(const QString& folder, const QUrl& servedAt, QString* error) {
    if (!isHttp(servedAt)) {
        *error =
            QStringLiteral("\"") + servedAt.toString() + QStringLiteral("\" is not an http:// URL");
        return {};
    }
    const QFileInfo info(folder);
    if (!info.isDir()) {
        *error = QStringLiteral("No such folder");
        return {};
    }
    QDir dir(folder);
    if (!dir.isReadable()) {
        *error = QStringLiteral("Permission denied");
        return {};
    }
    QUrl base = servedAt;
    if (!base.path().endsWith(QLatin1Char('/')))
        base.setPath(base.path() + QLatin1Char('/'));
    QList<QUrl> urls;
    const QStringList names =
        dir.entryList({QStringLiteral("*.gcd")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& name : names) {
        QUrl url = base;
        url.setPath(base.path() + name, QUrl::DecodedMode);
        urls.append(url);
    }
    return urls;
}

QJsonObject toJson(const CheckResult& r) {
    auto fetchJson = [](const FetchInfo& f) {
        QJsonObject o{{QStringLiteral("url"), f.url.toString()},
                      {QStringLiteral("status"), f.status},
                      {QStringLiteral("contentType"), f.contentType},
                      {QStringLiteral("bytes"), f.bytes},
                      {QStringLiteral("redirects"), f.redirects}};
        if (f.finalUrl != f.url)
            o.insert(QStringLiteral("finalUrl"), f.finalUrl.toString());
        if (f.contentLength >= 0)
            o.insert(QStringLiteral("contentLength"), f.contentLength);
        if (!f.server.isEmpty())
            o.insert(QStringLiteral("server"), f.server);
        if (f.capped)
            o.insert(QStringLiteral("capped"), true);
        if (!f.error.isEmpty())
            o.insert(QStringLiteral("error"), f.error);
        return o;
    };
    auto findings = [](const QList<Finding>& list) {
        QJsonArray a;
        for (const Finding& f : list)
            a.append(
                QJsonObject{{QStringLiteral("reason"), f.reason}, {QStringLiteral("fix"), f.fix}});
        return a;
    };
    QJsonObject o{{QStringLiteral("url"), r.url.toString()},
                  {QStringLiteral("downloads"), r.downloads()},
                  {QStringLiteral("problems"), findings(r.problems)},
                  {QStringLiteral("warnings"), findings(r.warnings)}};
    if (r.descriptor.fetched) {
        QJsonObject d = fetchJson(r.descriptor);
        if (r.readDescriptor) {
            const DescriptorFields& f = r.report.fields;
            d.insert(QStringLiteral("fields"),
                     QJsonObject{{QStringLiteral("Content-Type"), f.type},
                                 {QStringLiteral("Content-Name"), f.name},
                                 {QStringLiteral("Content-Version"), f.version},
                                 {QStringLiteral("Content-Vendor"), f.vendor},
                                 {QStringLiteral("Content-URL"), f.url},
                                 {QStringLiteral("Content-Size"), f.size}});
        }
        o.insert(QStringLiteral("descriptor"), d);
    }
    if (r.media.fetched)
        o.insert(QStringLiteral("media"), fetchJson(r.media));
    if (r.judgedMedia) {
        QJsonArray list;
        for (const MediaFinding& f : r.mediaVerdict.findings)
            list.append(QJsonObject{{QStringLiteral("severity"), f.severity},
                                    {QStringLiteral("reason"), f.reason},
                                    {QStringLiteral("fix"), f.fix}});
        o.insert(QStringLiteral("plays"), r.plays());
        o.insert(QStringLiteral("mediaIs"), r.mediaVerdict.summary);
        o.insert(QStringLiteral("mediaFindings"), list);
    }
    return o;
}

QStringList describe(const CheckResult& r) {
    QStringList lines;
    lines.append(r.url.toString() +
                 (!r.downloads() ? QStringLiteral(": will not download")
                  : r.plays()    ? QStringLiteral(": ok")
                                 : QStringLiteral(": downloads, but the phone will not take it")));
    auto fetchLine = [](const char* what, const FetchInfo& f) -> QString {
        QString line = QStringLiteral("  ") + QLatin1String(what) + QStringLiteral(": ");
        if (f.status == 0)
            return line + (f.error.isEmpty() ? QStringLiteral("no answer") : f.error);
        line += statusText(f) + QStringLiteral(", ") +
                (f.contentType.isEmpty() ? QStringLiteral("no Content-Type") : f.contentType);
        if (f.status >= 200 && f.status < 300)
            line += QStringLiteral(", ") + (f.capped ? QStringLiteral("more than ") +
                                                           plural(f.bytes ? f.bytes - 1 : 0, "byte")
                                                     : plural(f.bytes, "byte"));
        if (f.redirects > 0)
            line += QStringLiteral(", after ") + plural(f.redirects, "redirect");
        return line;
    };
    if (r.descriptor.fetched)
        lines.append(fetchLine("descriptor", r.descriptor));
    if (r.media.fetched)
        lines.append(fetchLine("media", r.media) + QStringLiteral(" (") + r.media.url.toString() +
                     QLatin1Char(')'));
    // Problems of one kind share a fix: it is said once, after the last of them.
    for (int i = 0; i < r.problems.size(); ++i) {
        lines.append(QStringLiteral("  problem: ") + r.problems[i].reason);
        if (i + 1 == r.problems.size() || r.problems[i + 1].fix != r.problems[i].fix)
            lines.append(QStringLiteral("    fix: ") + r.problems[i].fix);
    }
    for (const Finding& f : r.warnings) {
        lines.append(QStringLiteral("  warning: ") + f.reason);
        lines.append(QStringLiteral("    fix: ") + f.fix);
    }
    if (r.judgedMedia) {
        lines.append(QStringLiteral("  media is: ") + r.mediaVerdict.summary);
        for (const MediaFinding& f : r.mediaVerdict.findings) {
            lines.append(QStringLiteral("  ") + f.severity + QStringLiteral(": ") + f.reason);
            if (!f.fix.isEmpty())
                lines.append(QStringLiteral("    fix: ") + f.fix);
        }
    }
    return lines;
}

QString summaryLine(const CheckResult& r) {
    // The descriptors of one check share their folder: the name tells them apart.
    const QString name = r.url.fileName().isEmpty() ? r.url.toString() : r.url.fileName();
    if (r.downloads() && !r.plays()) {
        for (const MediaFinding& f : r.mediaVerdict.findings)
            if (f.severity == QLatin1String("refuse"))
                return name + QStringLiteral(": downloads, but the phone will not take it: ") +
                       f.reason + QStringLiteral(". Fix: ") + f.fix;
    }
    if (r.downloads())
        return QStringLiteral("ok: ") + name +
               (r.warnings.isEmpty()
                    ? QString()
                    : QStringLiteral(" (warning: ") + r.warnings[0].reason + QLatin1Char(')'));
    QString line = name + QStringLiteral(": ") + r.problems[0].reason + QStringLiteral(" Fix: ") +
                   r.problems[0].fix;
    if (r.problems.size() > 1)
        line += QStringLiteral(" (+") + QString::number(r.problems.size() - 1) +
                QStringLiteral(" more)");
    return line;
}

} // namespace tess::net
