#include "net/Fetch.h"

#include "engine/MediaSniff.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>
#include <algorithm>

namespace tess::net {

namespace {
// What is read from the socket at a time; the socket buffers no more.
constexpr qint64 kReadBuffer = 64 * 1024;
// The status line and headers of one request, interim answers included.
constexpr qint64 kHeaderLimit = 16 * 1024;
// Interim (1xx) answers taken before the final one.
constexpr int kInterimLimit = 8;
// A chunk-size line is a hex number and perhaps a short extension.
constexpr qint64 kChunkLineLimit = 1024;

QString seconds(int ms) {
    return QString::number(ms / 1000.0) + QStringLiteral(" s");
}

// Reason phrases and header values are octets; most servers send ASCII, some
// UTF-8, old ones Latin-1. Decoded here once.
QString decodeText(const QByteArray& bytes) {
    const QString utf8 = QString::fromUtf8(bytes);
    if (utf8.toUtf8() == bytes)
        return utf8;
    return QString::fromLatin1(bytes);
}

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

QString privateKind(const QHostAddress& a) {
    bool v4 = false;
    const quint32 ip = a.toIPv4Address(&v4); // IPv4-mapped IPv6 too
    if (v4) {
        const auto in = [ip](quint32 net, int bits) {
            return (ip >> (32 - bits)) == (net >> (32 - bits));
        };
        if (in(0x7f000000, 8) || in(0, 8))
            return QStringLiteral("loopback");
        if (in(0xa9fe0000, 16))
            return QStringLiteral("link-local");
        if (in(0x0a000000, 8) || in(0xac100000, 12) || in(0xc0a80000, 16) || in(0x64400000, 10))
            return QStringLiteral("private");
        return {};
    }
    if (a.protocol() != QAbstractSocket::IPv6Protocol)
        return {};
    if (a.isLoopback() || a == QHostAddress(QHostAddress::AnyIPv6))
        return QStringLiteral("loopback");
    const Q_IPV6ADDR v6 = a.toIPv6Address();
    if (v6[0] == 0xfe && (v6[1] & 0xc0) == 0x80)
        return QStringLiteral("link-local");
    if ((v6[0] & 0xfe) == 0xfc || (v6[0] == 0xfe && (v6[1] & 0xc0) == 0xc0))
        return QStringLiteral("private");
    return {};
}

void HostQueue::enter(Fetch* fetch, const QString& key) {
    Host& host = hosts_[key];
    fetch->hostKey_ = key;
    if (host.busy < perHost_) {
        ++host.busy;
        fetch->holding_ = true;
        fetch->send();
        return;
    }
    fetch->waiting_ = true;
    host.waiting.push_back(fetch);
}

void HostQueue::leave(Fetch* fetch) {
    const auto it = hosts_.find(fetch->hostKey_);
    if (it == hosts_.end())
        return;
    Host& host = it->second;
    if (fetch->waiting_) {
        fetch->waiting_ = false;
        host.waiting.erase(std::remove(host.waiting.begin(), host.waiting.end(), fetch),
                           host.waiting.end());
    } else if (fetch->holding_) {
        fetch->holding_ = false;
        --host.busy;
        if (!host.waiting.empty()) {
            Fetch* next = host.waiting.front();
            host.waiting.pop_front();
            next->waiting_ = false;
            next->holding_ = true;
            ++host.busy;
            // From the event loop: this may run inside another fetch's clean-up.
            QMetaObject::invokeMethod(
                next, [next] { next->send(); }, Qt::QueuedConnection);
        }
    }
    if (host.busy == 0 && host.waiting.empty())
        hosts_.erase(it);
}

Fetch::Fetch(HostQueue* hosts, const CheckOptions& options, const QUrl& url, qint64 cap,
             bool keepBody, bool publicSeen, std::function<void()> done)
    : hosts_(hosts), options_(options), cap_(cap), keepBody_(keepBody), publicSeen_(publicSeen),
      done_(std::move(done)) {
    info.url = url;
    idle_.setSingleShot(true);
    idle_.setInterval(options_.timeoutMs);
    deadline_.setSingleShot(true);
    deadline_.setInterval(options_.deadlineMs);
    connect(&idle_, &QTimer::timeout, this, [this] { onTimedOut(false); });
    connect(&deadline_, &QTimer::timeout, this, [this] { onTimedOut(true); });
}

Fetch::~Fetch() {
    stop();
}

void Fetch::start() {
    info.fetched = true;
    hop(info.url);
}

void Fetch::stop() {
    over_ = true;
    idle_.stop();
    deadline_.stop();
    drop();
}

void Fetch::drop() {
    hosts_->leave(this);
    if (!socket_)
        return;
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void Fetch::hop(const QUrl& url) {
    info.finalUrl = url;
    info.status = 0;
    info.reasonPhrase.clear();
    info.contentType.clear();
    info.server.clear();
    info.contentLength = -1;
    info.bytes = 0;
    info.capped = false;
    body.clear();
    head.clear();
    in_.clear();
    idle_.stop();
    headers_.clear();
    state_ = State::Status;
    headerBytes_ = 0;
    interim_ = 0;
    pendingStatus_ = 0;
    left_ = -1;

    // An address written in the URL is judged before anything is sent to it.
    const QHostAddress literal(url.host());
    if (!literal.isNull() && !reachable(literal))
        return;
    const bool tls = url.scheme() == QLatin1String("https");
    hosts_->enter(this, url.host().toLower() + QLatin1Char(':') +
                            QString::number(url.port(tls ? 443 : 80)));
}

void Fetch::send() {
    if (over_)
        return;
    // The fetch's clocks run from its first request on the wire.
    if (!deadline_.isActive())
        deadline_.start();
    const QUrl& url = info.finalUrl;
    const bool tls = url.scheme() == QLatin1String("https");
    QTcpSocket* socket = nullptr;
    if (tls) {
        if (!QSslSocket::supportsSsl()) {
            info.error = QStringLiteral("TLS is not available on this machine");
            complete(End::NetworkError);
            return;
        }
        auto* ssl = new QSslSocket(this);
        connect(ssl, &QSslSocket::encrypted, this, &Fetch::writeRequest);
        socket = ssl;
    } else {
        socket = new QTcpSocket(this);
    }
    connect(socket, &QTcpSocket::connected, this, &Fetch::onConnected);
    socket_ = socket;
    socket->setReadBufferSize(kReadBuffer);
    // No proxy: the check asks the server itself, as the phone's carrier would.
    socket->setProxy(QNetworkProxy::NoProxy);
    connect(socket, &QTcpSocket::readyRead, this, &Fetch::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &Fetch::onClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError)
            onClosed();
        else if (socket_) {
            info.error = socket_->errorString();
            drop();
            complete(End::NetworkError);
        }
    });
    const quint16 port = quint16(url.port(tls ? 443 : 80));
    if (tls)
        static_cast<QSslSocket*>(socket)->connectToHostEncrypted(url.host(), port);
    else
        socket->connectToHost(url.host(), port);
    idle_.start();
}

void Fetch::onConnected() {
    // The address a name led to is judged before the request goes out.
    if (!socket_ || over_ || !reachable(socket_->peerAddress()))
        return;
    idle_.start();
    if (info.finalUrl.scheme() != QLatin1String("https"))
        writeRequest();
}

void Fetch::writeRequest() {
    if (!socket_ || over_)
        return;
    const QUrl& url = info.finalUrl;
    const bool tls = url.scheme() == QLatin1String("https");
    QByteArray target =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!target.startsWith('/'))
        target.prepend('/');
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() != -1 && url.port() != (tls ? 443 : 80))
        host += ':' + QByteArray::number(url.port());
    QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + host +
                         "\r\nUser-Agent: " + userAgent() +
                         // Lengths are compared as sent: no compression.
                         "\r\nAccept: */*\r\nAccept-Encoding: identity\r\nConnection: close\r\n";
    if (!url.userName().isEmpty())
        request +=
            "Authorization: Basic " +
            (url.userName(QUrl::FullyDecoded) + QLatin1Char(':') + url.password(QUrl::FullyDecoded))
                .toUtf8()
                .toBase64() +
            "\r\n";
    request += "\r\n";
    socket_->write(request);
    idle_.start();
}

bool Fetch::reachable(const QHostAddress& address) {
    const QString kind = privateKind(address);
    if (kind.isEmpty()) {
        publicSeen_ = true;
        return true;
    }
    if (!publicSeen_)
        return true;
    const QString host = info.finalUrl.host();
    const QString where = QHostAddress(host).isNull()
                              ? QString(host + QStringLiteral(" is at ") + address.toString() +
                                        QStringLiteral(", a "))
                              : QString(host + QStringLiteral(" is a "));
    info.error = where + kind + QStringLiteral(" address");
    drop();
    complete(End::Unreachable);
    return false;
}

void Fetch::onReadyRead() {
    if (!socket_)
        return;
    idle_.start();
    in_ += socket_->readAll();
    parse();
}

void Fetch::fault(const QString& error) {
    info.error = error;
    drop();
    complete(End::ServerFault);
}

// One line of the answer's head, counted against its limit; false when it is
// not all in yet (or the limit is crossed, which ends the fetch).
bool Fetch::takeLine(QByteArray* line, qint64 limit) {
    const qsizetype end = in_.indexOf('\n');
    const qint64 length = end < 0 ? in_.size() : end + 1;
    if (limit == kHeaderLimit && headerBytes_ + length > kHeaderLimit) {
        fault(QStringLiteral("it sends more than ") + QString::number(kHeaderLimit / 1024) +
              QStringLiteral(" KiB of headers"));
        return false;
    }
    if (limit != kHeaderLimit && length > limit) {
        fault(QStringLiteral("its chunked body is broken (a chunk-size line is too long)"));
        return false;
    }
    if (end < 0)
        return false;
    if (limit == kHeaderLimit)
        headerBytes_ += length;
    *line = in_.left(end);
    if (line->endsWith('\r'))
        line->chop(1);
    in_.remove(0, length);
    return true;
}

void Fetch::parse() {
    const QTcpSocket* socket = socket_;
    QByteArray line;
    while (socket_ == socket && !over_) {
        switch (state_) {
        case State::Status: {
            if (!takeLine(&line, kHeaderLimit))
                return;
            if (line.isEmpty())
                continue; // a stray empty line before the answer is tolerated
            const QList<QByteArray> parts = line.split(' ');
            bool ok = false;
            const int status = parts.size() > 1 ? parts[1].toInt(&ok) : 0;
            if (!line.startsWith("HTTP/1.") || !ok || parts[1].size() != 3 || status < 100) {
                fault(QStringLiteral("it does not answer in HTTP (the answer begins \"") +
                      QString::fromLatin1(line.left(20)).simplified() + QStringLiteral("\")"));
                return;
            }
            pendingStatus_ = status;
            const qsizetype space = line.indexOf(' ', line.indexOf(' ') + 1);
            pendingReason_ = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
            headers_.clear();
            state_ = State::Headers;
            break;
        }
        case State::Headers: {
            if (!takeLine(&line, kHeaderLimit))
                return;
            if (line.isEmpty()) {
                headersDone();
                break;
            }
            if (isSpace(line[0]) && !headers_.isEmpty()) {
                headers_.last().second += ' ' + line.trimmed(); // an old folded line
                break;
            }
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                headers_.append(
                    {line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
            break;
        }
        case State::Body: {
            if (in_.isEmpty())
                return;
            const qint64 n = left_ < 0 ? in_.size() : std::min<qint64>(left_, in_.size());
            const QByteArray chunk = in_.left(n);
            in_.remove(0, n);
            if (left_ >= 0)
                left_ -= n;
            take(chunk);
            if (!over_ && left_ == 0) {
                drop();
                complete(End::Answered);
            }
            break;
        }
        case State::ChunkSize: {
            if (!takeLine(&line, kChunkLineLimit))
                return;
            bool ok = false;
            const qsizetype semicolon = line.indexOf(';');
            const QByteArray hex = (semicolon < 0 ? line : line.left(semicolon)).trimmed();
            left_ = hex.size() <= 15 ? hex.toLongLong(&ok, 16) : -1;
            if (!ok || left_ < 0) {
                fault(QStringLiteral("its chunked body is broken (\"") +
                      QString::fromLatin1(line.left(20)).simplified() +
                      QStringLiteral("\" is no chunk size)"));
                return;
            }
            state_ = left_ == 0 ? State::Trailer : State::ChunkData;
            break;
        }
        case State::ChunkData: {
            if (in_.isEmpty())
                return;
            const qint64 n = std::min<qint64>(left_, in_.size());
            const QByteArray chunk = in_.left(n);
            in_.remove(0, n);
            left_ -= n;
            take(chunk);
            if (left_ == 0)
                state_ = State::ChunkEnd;
            break;
        }
        case State::ChunkEnd:
            if (!takeLine(&line, kChunkLineLimit))
                return;
            if (!line.isEmpty()) {
                fault(QStringLiteral("its chunked body is broken (a chunk runs past its size)"));
                return;
            }
            state_ = State::ChunkSize;
            break;
        case State::Trailer:
            if (!takeLine(&line, kHeaderLimit))
                return;
            if (line.isEmpty()) {
                drop();
                complete(End::Answered);
                return;
            }
            break;
        }
    }
}

void Fetch::headersDone() {
    if (pendingStatus_ < 200) {
        // Interim answers are never final; a switch of protocol was never asked for.
        if (pendingStatus_ == 101) {
            fault(QStringLiteral("it switches protocols (101), which a plain GET never asks "
                                 "for"));
            return;
        }
        if (++interim_ > kInterimLimit) {
            fault(QStringLiteral("it sends more than ") + QString::number(kInterimLimit) +
                  QStringLiteral(" interim (1xx) answers"));
            return;
        }
        state_ = State::Status;
        return;
    }
    finalAnswer();
}

void Fetch::finalAnswer() {
    info.status = pendingStatus_;
    info.reasonPhrase = decodeText(pendingReason_);
    QList<QByteArray> lengths;
    QByteArray location;
    bool chunked = false;
    for (const auto& [name, value] : std::as_const(headers_)) {
        if (name == "content-type" && info.contentType.isEmpty())
            info.contentType = QString::fromLatin1(value);
        else if (name == "server" && info.server.isEmpty())
            info.server = QString::fromLatin1(value);
        else if (name == "location" && location.isEmpty())
            location = value;
        else if (name == "transfer-encoding")
            chunked = value.toLower().trimmed().endsWith("chunked");
        else if (name == "content-length")
            for (const QByteArray& v : value.split(','))
                lengths.append(v.trimmed());
    }
    if (!lengths.isEmpty() && !chunked) {
        bool ok = false;
        const qint64 length = lengths[0].toLongLong(&ok);
        info.contentLength = ok && length >= 0 ? length : -1;
        for (const QByteArray& other : std::as_const(lengths))
            if (ok && other != lengths[0]) {
                // A phone cannot tell which is right; neither can the check.
                fault(QStringLiteral("it sends two different Content-Length headers (") +
                      QString::fromLatin1(lengths[0]) + QStringLiteral(" and ") +
                      QString::fromLatin1(other).left(20) + QLatin1Char(')'));
                return;
            }
    }

    if (info.status >= 300 && info.status < 400 && !location.isEmpty()) {
        const QUrl target = info.finalUrl.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
        drop();
        if (info.redirects >= options_.maxRedirects) {
            complete(End::TooManyRedirects);
            return;
        }
        const QString scheme = target.scheme();
        if (!target.isValid() || target.host().isEmpty() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
            info.error = QStringLiteral("redirect to ") + shownUrl(target) +
                         QStringLiteral(", which is no http URL");
            complete(End::BadRedirect);
            return;
        }
        if (info.finalUrl.scheme() == QLatin1String("http") && scheme == QLatin1String("https"))
            info.toHttps = true;
        ++info.redirects;
        hop(target);
        return;
    }
    // Only a success answer's body matters; a declared length beyond the cap
    // needs no reading to be known.
    const bool success = info.status >= 200 && info.status < 300;
    if (!success || info.status == 204) {
        drop();
        complete(End::Answered);
        return;
    }
    if (cap_ == 0 || info.contentLength > cap_ - 1) {
        info.capped = cap_ > 0;
        drop();
        complete(End::Answered);
        return;
    }
    if (chunked) {
        state_ = State::ChunkSize;
        return;
    }
    left_ = info.contentLength;
    state_ = State::Body;
    if (left_ == 0) {
        drop();
        complete(End::Answered);
    }
}

void Fetch::take(const QByteArray& chunk) {
    const qint64 room = cap_ - info.bytes;
    const qint64 n = std::min<qint64>(room, chunk.size());
    info.bytes += n;
    if (keepBody_)
        body += chunk.left(n);
    const qint64 keep = std::max<qint64>(kSniffBytes, headBytes);
    if (head.size() < keep)
        head += chunk.left(std::min<qint64>(n, keep - head.size()));
    if (info.bytes >= cap_) {
        info.capped = true;
        drop();
        complete(End::Answered);
    }
}

void Fetch::onClosed() {
    if (!socket_ || over_)
        return;
    in_ += socket_->readAll();
    parse();
    if (!socket_ || over_)
        return;
    drop();
    if (info.status == 0) {
        info.error = QStringLiteral("the server closed the connection without an answer");
        complete(End::NetworkError);
    } else if (state_ == State::Body && left_ < 0) {
        complete(End::Answered); // the body ends with the connection
    } else if (state_ == State::Body) {
        info.error = QStringLiteral("the connection closed after ") + QString::number(info.bytes) +
                     QStringLiteral(" of the ") + QString::number(info.contentLength) +
                     QStringLiteral(" bytes announced");
        complete(End::Truncated);
    } else {
        info.error = QStringLiteral("the connection closed after ") + QString::number(info.bytes) +
                     QStringLiteral(" bytes, before the chunked body's end");
        complete(End::Truncated);
    }
}

void Fetch::onTimedOut(bool deadline) {
    if (over_)
        return;
    drop();
    const int ms = deadline ? options_.deadlineMs : options_.timeoutMs;
    // Once a success answer has begun, the server is there but too slow.
    if (info.status >= 200 && info.status < 300) {
        info.error = (deadline ? QStringLiteral("only ") + QString::number(info.bytes) +
                                     QStringLiteral(" bytes arrived within ")
                               : QStringLiteral("it stopped sending for ")) +
                     seconds(ms);
        complete(End::TooSlow);
        return;
    }
    info.status = 0;
    info.error = QStringLiteral("no answer within ") + seconds(ms);
    complete(End::TimedOut);
}

void Fetch::complete(End end) {
    if (over_)
        return;
    over_ = true;
    idle_.stop();
    deadline_.stop();
    this->end = end;
    // Later, from the event loop: the owner may delete this fetch, and a socket's
    // handler may still be on the stack.
    QMetaObject::invokeMethod(
        this, [this] { done_(); }, Qt::QueuedConnection);
}

} // namespace tess::net
