#pragma once

#include "engine/DescriptorReader.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <vector>

#include <deque>

namespace tess::net {

class HostQueue;

// What a phone will make of the media, judged from its first bytes as fetched.
struct MediaFinding {
    QString severity; // "refuse", "may" or "hint"
    QString reason;
    QString fix;
};
struct MediaVerdict {
    QString summary; // "png picture, 128x160, 8-bit palette, 2048 bytes"
    QList<MediaFinding> findings;
};
// head: the first bytes (at most mediaHeadBytes); size: the whole file's; the file name
// of the media URL; the descriptor's Content-Type (empty: the check itself compares it).
using MediaJudge = std::function<MediaVerdict(const QByteArray& head, qint64 size,
                                              const QString& fileName, const QString& type)>;

struct CheckOptions {
    // Longest wait for the connection, for the answer and between two reads.
    int timeoutMs = 10000;
    // Longest a single fetch (with its redirects) may take.
    int deadlineMs = 60000;
    int maxRedirects = 5;
    // Descriptors checked at once; each has one request under way at a time.
    int maxParallel = 4;
    // A descriptor is six short lines: read no more than this of one.
    qint64 descriptorLimit = 8 * 1024;
    // Requests to one host:port under way at once; the rest wait, unclocked.
    int perHost = 6;
    // How far checks may run ahead of the first unfinished one, so that whoever
    // shows results in the order asked holds no more than this many.
    int window = 256;
    // Judges the media from the bytes the check fetches anyway; unset, it is not judged.
    MediaJudge judgeMedia;
    // The most of the media kept for judging.
    qint64 mediaHeadBytes = 256 * 1024;
};

// A URL as it may be shown or saved: without a user name or password.
QString shownUrl(const QUrl& url);
// The same for a URL as written (a descriptor's Content-URL).
QString shownUrl(const QString& text);

// "Tessavane-check/1.1.0 (GCD descriptor download check)".
QByteArray userAgent();

// A problem (or warning) and the one line that fixes it.
struct Finding {
    QString reason;
    QString fix;
};

// One GET as the checker saw it.
struct FetchInfo {
    QUrl url;
    QUrl finalUrl; // after redirects
    int redirects = 0;
    int status = 0; // 0: no HTTP answer
    QString reasonPhrase;
    QString contentType;       // the header as sent
    QString server;            // the Server header, which names the fix
    qint64 contentLength = -1; // the header; -1 when absent
    qint64 bytes = 0;          // body bytes taken
    bool capped = false;       // stopped reading at the cap
    QString error;             // why there was no usable answer
    bool fetched = false;
    bool toHttps = false; // a redirect led from http to https
};

struct CheckResult {
    QUrl url;
    FetchInfo descriptor;
    DescriptorReport report;
    bool readDescriptor = false;
    FetchInfo media;
    QString mediaFormat; // the media's format by its first bytes (sniffFormat); may be empty
    bool judgedMedia = false;
    MediaVerdict mediaVerdict; // when judgedMedia
    QList<Finding> problems;
    QList<Finding> warnings;

    // Whether a phone would download the content.
    bool downloads() const { return problems.isEmpty(); }
    // Whether the phone would take the media once downloaded (no "refuse" finding).
    bool plays() const {
        for (const MediaFinding& f : mediaVerdict.findings)
            if (f.severity == QLatin1String("refuse"))
                return false;
        return true;
    }
};

QJsonObject toJson(const CheckResult& result);
// Lines for a terminal: a headline, then indented details, problems and fixes.
QStringList describe(const CheckResult& result);
// One line: "ok: song.gcd" or "song.gcd: reason Fix: ..." (the URL when it has no
// file name).
QString summaryLine(const CheckResult& result);

// A .gcd file left out of a folder's check, and why.
struct SkippedFile {
    QString name; // bytes that are not UTF-8 written as \xNN
    QString reason;
};

// The URL of every .gcd file in a folder (sorted by name) as served under servedAt.
// Empty with *error set when the folder cannot be listed or the URL is no http URL.
// Hidden names and names that are not UTF-8 are left out (and listed in *skipped).
QList<QUrl> servedDescriptorUrls(const QString& folder, const QUrl& servedAt, QString* error,
                                 QList<SkippedFile>* skipped = nullptr);

class Job;

// Checks descriptor URLs the way a phone fetches them: the descriptor, then the
// media at its Content-URL. Asynchronous; at most maxParallel at a time.
class Checker : public QObject {
    Q_OBJECT
public:
    explicit Checker(const CheckOptions& options = {}, QObject* parent = nullptr);
    ~Checker() override;

    // Starts checking; any check under way is cancelled first.
    void start(const QList<QUrl>& urls);
    // Stops every request at once; finished() follows, no further result.
    void cancel();
    bool running() const { return running_; }
    bool cancelled() const { return cancelled_; }

Q_SIGNALS:
    void resultReady(int index, const tess::net::CheckResult& result);
    void progress(int done, int total);
    void finished();

private:
    void pump();
    void jobDone(Job* job);

    CheckOptions options_;
    std::unique_ptr<HostQueue> hosts_;
    QList<QUrl> urls_;
    std::vector<std::unique_ptr<Job>> active_;
    // Whether each check from low_ to next_ is done; low_ is the first that is not.
    std::deque<bool> finished_;
    int low_ = 0;
    int next_ = 0;
    int done_ = 0;
    bool running_ = false;
    bool cancelled_ = false;
};

} // namespace tess::net
