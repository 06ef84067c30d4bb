#pragma once

#include "net/Checker.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>

class QTcpSocket;

namespace tess::net {

class Fetch;

// Loopback, private (RFC 1918, carrier-grade NAT, unique local) or link-local:
// an address a phone out on the carrier's network cannot reach. Empty when public.
QString privateKind(const QHostAddress& address);

// Requests to one host:port wait their turn here, as a handset's browser keeps a
// few connections per server; a request's clocks start when it is sent.
class HostQueue {
public:
    explicit HostQueue(int perHost) : perHost_(perHost) {}
    HostQueue(const HostQueue&) = delete;
    HostQueue& operator=(const HostQueue&) = delete;

    // The fetch is sent now or, once a place is free, from the event loop.
    void enter(Fetch* fetch, const QString& key);
    // Frees the fetch's place (or its place in the line).
    void leave(Fetch* fetch);

private:
    struct Host {
        int busy = 0;
        std::deque<Fetch*> waiting;
    };
    int perHost_;
    std::map<QString, Host> hosts_;
};

// One GET the way a handset does it, over a connection of its own that is closed
// afterwards: plain HTTP/1.1, redirects followed by hand and counted, a cap on the
// body taken, caps on headers and interim answers, a time-out for silence and a
// deadline over the whole fetch.
class Fetch : public QObject {
public:
    enum class End {
        Answered,
        TooManyRedirects,
        BadRedirect,
        TimedOut,
        NetworkError,
        TooSlow,     // a success answer still arriving at the deadline
        Truncated,   // the connection closed before the announced body was in
        ServerFault, // an answer no phone can take (header flood, two lengths...)
        Unreachable, // led from a public address to one a phone cannot reach
    };

    // cap: body bytes taken at most; reading stops (capped) when more arrive.
    // Zero takes the headers only. publicSeen: an earlier fetch of the same
    // check went through a public address.
    Fetch(HostQueue* hosts, const CheckOptions& options, const QUrl& url, qint64 cap, bool keepBody,
          bool publicSeen, std::function<void()> done);
    ~Fetch() override;

    void start();
    // Stops without calling done.
    void stop();

    bool publicSeen() const { return publicSeen_; }

    FetchInfo info;
    QByteArray body;
    // The body's first headBytes (at least kSniffBytes), kept even when the body is not:
    // they tell its format, and more of them what a phone makes of it.
    QByteArray head;
    qint64 headBytes = 0;
    End end = End::Answered;

private:
    friend class HostQueue;
    enum class State { Status, Headers, Body, ChunkSize, ChunkData, ChunkEnd, Trailer };

    void hop(const QUrl& url);
    void send(); // called by the host queue
    void onConnected();
    void writeRequest();
    void onReadyRead();
    void onClosed();
    void parse();
    bool takeLine(QByteArray* line, qint64 limit);
    void headersDone();
    void finalAnswer();
    void take(const QByteArray& chunk);
    void onTimedOut(bool deadline);
    bool reachable(const QHostAddress& address);
    void fault(const QString& error);
    void drop();
    void complete(End end);

    HostQueue* hosts_;
    CheckOptions options_;
    qint64 cap_;
    bool keepBody_;
    bool publicSeen_;
    std::function<void()> done_;

    QTcpSocket* socket_ = nullptr;
    QString hostKey_;
    bool holding_ = false;
    bool waiting_ = false;
    QByteArray in_;
    State state_ = State::Status;
    qint64 headerBytes_ = 0;
    int interim_ = 0;
    int pendingStatus_ = 0;
    QByteArray pendingReason_;
    QList<QPair<QByteArray, QByteArray>> headers_;
    qint64 left_ = -1; // body or chunk bytes still due; -1: up to the close
    bool over_ = false;
    QTimer idle_;
    QTimer deadline_;
};

} // namespace tess::net
