#include "net/Fetch.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <algorithm>

namespace tess::net {

namespace {
// What Qt keeps buffered of a reply before it stops reading the socket.
constexpr qint64 kReadBuffer = 16 * 1024;
} // namespace

Fetch::Fetch(QNetworkAccessManager* manager, const CheckOptions& options, const QUrl& url,
             qint64 cap, bool keepBody, std::function<void()> done)
    : manager_(manager), options_(options), cap_(cap), keepBody_(keepBody), done_(std::move(done)) {
    info.url = url;
    idle_.setSingleShot(true);
    idle_.setInterval(options_.timeoutMs);
    deadline_.setSingleShot(true);
    deadline_.setInterval(options_.deadlineMs);
    connect(&idle_, &QTimer::timeout, this, [this] { onTimedOut(options_.timeoutMs); });
    connect(&deadline_, &QTimer::timeout, this, [this] { onTimedOut(options_.deadlineMs); });
}

Fetch::~Fetch() {
    stop();
}

void Fetch::start() {
    info.fetched = true;
    deadline_.start();
    request(info.url);
}

void Fetch::stop() {
    over_ = true;
    idle_.stop();
    deadline_.stop();
    drop();
}

void Fetch::drop() {
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void Fetch::request(const QUrl& url) {
    info.finalUrl = url;
    info.status = 0;
    info.reasonPhrase.clear();
    info.contentType.clear();
    info.server.clear();
    info.contentLength = -1;
    info.bytes = 0;
    info.capped = false;
    body.clear();
    discarded_ = 0;
    headersSeen_ = false;

    QNetworkRequest req(url);
    req.setRawHeader("User-Agent", userAgent());
    req.setRawHeader("Accept", "*/*");
    // Lengths are compared as sent: no compression, which Qt would undo unseen.
    req.setRawHeader("Accept-Encoding", "identity");
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                     QNetworkRequest::ManualRedirectPolicy);
    req.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    req.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    QNetworkReply* reply = manager_->get(req);
    // Qt stops reading the socket when its buffer is full: no more than the cap
    // is pulled in ahead of us (zero would mean no limit).
    reply->setReadBufferSize(cap_ > 0 ? std::min(cap_, kReadBuffer) : kReadBuffer);
    reply_ = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &Fetch::onHeaders);
    connect(reply, &QNetworkReply::readyRead, this, &Fetch::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Fetch::onFinished);
    idle_.start();
}

void Fetch::onHeaders() {
    if (!reply_ || headersSeen_)
        return;
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    headersSeen_ = true;
    idle_.start();
    info.status = status.toInt();
    info.reasonPhrase = QString::fromLatin1(
        reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
    info.contentType = QString::fromLatin1(reply_->rawHeader("Content-Type"));
    info.server = QString::fromLatin1(reply_->rawHeader("Server"));
    if (reply_->hasRawHeader("Content-Length")) {
        bool ok = false;
        const qint64 length = reply_->rawHeader("Content-Length").trimmed().toLongLong(&ok);
        info.contentLength = ok ? length : -1;
    }

    if (info.status >= 300 && info.status < 400 && reply_->hasRawHeader("Location")) {
        const QUrl target = info.finalUrl.resolved(
            QUrl::fromEncoded(reply_->rawHeader("Location").trimmed(), QUrl::TolerantMode));
        drop();
        if (info.redirects >= options_.maxRedirects) {
            complete(End::TooManyRedirects);
            return;
        }
        const QString scheme = target.scheme();
        if (!target.isValid() || target.host().isEmpty() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            info.error = QStringLiteral("redirect to ") + target.toString() +
                         QStringLiteral(", which is no http URL");
            complete(End::BadRedirect);
            return;
        }
        ++info.redirects;
        request(target);
        return;
    }
    // A declared length beyond the cap needs no reading to be known. An error page
    // is read to its end (and dropped): aborting it would make Qt report two errors.
    if (!success())
        return;
    if (cap_ == 0 || info.contentLength > cap_ - 1) {
        info.capped = cap_ > 0;
        drop();
        complete(End::Answered);
    }
}

bool Fetch::success() const {
    return info.status >= 200 && info.status < 300;
}

void Fetch::onReadyRead() {
    const QNetworkReply* reply = reply_;
    if (!reply)
        return;
    onHeaders();
    if (reply_ != reply)
        return;
    idle_.start();
    if (headersSeen_ && !success()) {
        discarded_ += reply_->skip(reply_->bytesAvailable());
        if (discarded_ > options_.descriptorLimit) {
            drop();
            complete(End::Answered);
        }
        return;
    }
    while (reply_->bytesAvailable() > 0) {
        const qint64 room = cap_ - info.bytes;
        const QByteArray chunk = reply_->read(std::min<qint64>(room, kReadBuffer));
        info.bytes += chunk.size();
        if (keepBody_ && body.size() < keepAtMost)
            body += chunk.left(qsizetype(std::min<qint64>(chunk.size(), keepAtMost - body.size())));
        if (info.bytes >= cap_) {
            info.capped = true;
            drop();
            complete(End::Answered);
            return;
        }
    }
}

void Fetch::onFinished() {
    const QNetworkReply* reply = reply_;
    if (!reply)
        return;
    onHeaders();
    if (reply_ != reply)
        return;
    onReadyRead();
    if (reply_ != reply)
        return;
    const QNetworkReply::NetworkError error = reply_->error();
    const QString text = reply_->errorString();
    drop();
    // Error statuses (404 ...) come with an answer; only a missing answer is an error.
    if (info.status == 0) {
        info.error = error == QNetworkReply::RemoteHostClosedError
                         ? QStringLiteral("the server closed the connection without an answer")
                         : text;
        complete(End::NetworkError);
        return;
    }
    complete(End::Answered);
}

void Fetch::onTimedOut(int ms) {
    if (over_)
        return;
    drop();
    info.error =
        QStringLiteral("no answer within ") + QString::number(ms / 1000.0) + QStringLiteral(" s");
    complete(End::TimedOut);
}

void Fetch::complete(End end) {
    if (over_)
        return;
    over_ = true;
    idle_.stop();
    deadline_.stop();
    this->end = end;
    // Later, from the event loop: the owner may delete this fetch, and a reply's
    // handler may still be on the stack.
    QMetaObject::invokeMethod(
        this, [this] { done_(); }, Qt::QueuedConnection);
}

} // namespace tess::net
