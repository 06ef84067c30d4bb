#pragma once

#include "net/Checker.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <limits>

class QNetworkAccessManager;
class QNetworkReply;

namespace tess::net {

// One GET the way a handset does it: plain request, redirects followed by hand
// and counted, a cap on the body taken, a time-out for silence and a deadline.
class Fetch : public QObject {
public:
    enum class End { Answered, TooManyRedirects, BadRedirect, TimedOut, NetworkError };

    // cap: body bytes taken at most; reading stops (capped) when more arrive.
    // Zero takes the headers only.
    Fetch(QNetworkAccessManager* manager, const CheckOptions& options, const QUrl& url, qint64 cap,
          bool keepBody, std::function<void()> done);
    ~Fetch() override;

    void start();
    // Stops without calling done.
    void stop();

    FetchInfo info;
    QByteArray body;
    // With keepBody: the most of the body kept (the rest is still read and counted).
    qint64 keepAtMost = std::numeric_limits<qint64>::max();
    End end = End::Answered;

private:
    void request(const QUrl& url);
    void onHeaders();
    void onReadyRead();
    void onFinished();
    void onTimedOut(int ms);
    void drop();
    void complete(End end);

    QNetworkAccessManager* manager_;
    CheckOptions options_;
    qint64 cap_;
    bool keepBody_;
    std::function<void()> done_;
    QPointer<QNetworkReply> reply_;
    bool success() const;

    bool headersSeen_ = false;
    qint64 discarded_ = 0;
    bool over_ = false;
    QTimer idle_;
    QTimer deadline_;
};

} // namespace tess::net
