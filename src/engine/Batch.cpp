#include "engine/Batch.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace tess {

NamePattern::NamePattern(const QString& pattern) : text_(pattern) {
    QStringList parts;
    QStringList tails;
    bool plainTails = true;
    const QStringList pieces = pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& piece : pieces) {
        const QString wildcard = piece.trimmed();
        if (wildcard.isEmpty())
            continue;
        const QString tail = wildcard.mid(1);
        if (wildcard.startsWith(QLatin1Char('*')) && !tail.contains(QLatin1Char('*')) &&
            !tail.contains(QLatin1Char('?')) && !tail.contains(QLatin1Char('[')))
            tails.append(tail);
        else
            plainTails = false;
        if (!wildcard.isEmpty())
            parts.append(QStringLiteral("(?:") +
                         QRegularExpression::wildcardToRegularExpression(wildcard) +
                         QLatin1Char(')'));
    }
    parts.removeDuplicates();
    if (!parts.isEmpty())
        match_ = QRegularExpression(parts.join(QLatin1Char('|')),
                                    QRegularExpression::CaseInsensitiveOption);
    if (plainTails && !tails.isEmpty()) {
        tails.removeDuplicates();
        tails_ = tails;
    }
}

bool NamePattern::matches(const QString& fileName) const {
    if (tails_) {
        for (const QString& tail : *tails_)
            if (fileName.endsWith(tail, Qt::CaseInsensitive))
                return true;
        return false;
    }
    if (match_.pattern().isEmpty())
        return true;
    return match_.match(fileName).hasMatch();
}

bool pickerOrder(const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

void sortPickerOrder(QStringList& names) {
    std::vector<std::pair<QString, qsizetype>> keyed;
    keyed.reserve(static_cast<size_t>(names.size()));
    for (qsizetype i = 0; i < names.size(); ++i)
        keyed.emplace_back(names[i].toCaseFolded(), i);
    std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        const int c = QString::compare(a.first, b.first, Qt::CaseSensitive);
        return c != 0 ? c < 0 : names[a.second] < names[b.second];
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (const auto& k : keyed)
        sorted.append(std::move(names[k.second]));
    names = std::move(sorted);
}

namespace {

#ifndef _WIN32
// One pass of readdir: the entry types come with the names, so a folder of
// 100,000 files costs no stat per file. Links are looked through only to tell
// whether they lead to a regular file; links to folders are never walked.
bool listPosix(const QString& folder, const NamePattern& pattern, bool recursive,
               QStringList& names, QStringList& folders) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (dir == nullptr)
        return false;
    const int fd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        const char* raw = e->d_name;
        if (raw[0] == '.' && (raw[1] == '\0' || (raw[1] == '.' && raw[2] == '\0')))
            continue;
        unsigned char type = e->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN) {
            if (::fstatat(fd, raw, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(st.st_mode)   ? DT_DIR
                   : S_ISLNK(st.st_mode) ? DT_LNK
                   : S_ISREG(st.st_mode) ? DT_REG
                                         : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            if (recursive)
                folders.append(QFile::decodeName(raw));
            continue;
        }
        if (type == DT_LNK)
            type = ::fstatat(fd, raw, &st, 0) == 0 && S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        if (type != DT_REG)
            continue;
        const QString name = QFile::decodeName(raw);
        if (pattern.matches(name))
            names.append(name);
    }
    ::closedir(dir);
    return true;
}
#endif

void collectInto(const QString& folder, const NamePattern& pattern, bool recursive,
                 QStringList& out,
                 const std::function<void(const QString&, const QString&)>& unreadable) {
    QStringList names;
    QStringList folders;
#ifndef _WIN32
    if (!listPosix(folder, pattern, recursive, names, folders)) {
        if (unreadable)
            unreadable(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
#else
    QDirIterator it(folder,
                    QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir()) {
            if (recursive && !info.isSymLink())
                folders.append(it.fileName());
        } else if (info.isFile() && pattern.matches(it.fileName())) {
            names.append(it.fileName());
        }
    }
#endif
    sortPickerOrder(names);
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const QString& name : names)
        out.append(prefix + name);
    sortPickerOrder(folders);
    for (const QString& sub : folders)
        collectInto(prefix + sub, pattern, recursive, out, unreadable);
}

} // namespace

QStringList collectFiles(const QString& folder, const NamePattern& pattern, bool recursive,
                         const std::function<void(const QString&, const QString&)>& unreadable) {
    QStringList out;
    collectInto(folder, pattern, recursive, out, unreadable);
    return out;
}

namespace {

// Hands out a list's entries one at a time, as runBatch's next() does.
std::function<bool(QString*)> feed(const QStringList& entries) {
    return [&entries, at = qsizetype(0)](QString* media) mutable {
        if (at >= entries.size())
            return false;
        *media = entries[at++];
        return true;
    };
}

} // namespace

int runBatch(const QStringList& entries, const MakeSettings& settings,
             const std::function<void(const BatchEntry&)>& done) {
    return runBatch(feed(entries), settings, done);
}

int runBatchPipelined(const QStringList& entries, const MakeSettings& settings,
                      const std::function<void(const BatchEntry&)>& done) {
    return runBatchPipelined(feed(entries), settings, done);
}

int runBatch(const std::function<bool(QString*)>& next, const MakeSettings& settings,
             const std::function<void(const BatchEntry&)>& done) {
    int failed = 0;
    QString media;
    while (next(&media)) {
        BatchEntry entry{media, makeDescriptor(media, settings)};
        if (!entry.made.ok)
            ++failed;
        if (done)
            done(entry);
    }
    return failed;
}

int runBatchPipelined(const std::function<bool(QString*)>& next, const MakeSettings& settings,
                      const std::function<void(const BatchEntry&)>& done) {
    if (QThread::idealThreadCount() < 2)
        return runBatch(next, settings, done);

    // Entries cross in chunks, so the threads meet once per chunk, not per file;
    // a bounded queue keeps memory flat however long the list.
    using Chunk = std::vector<BatchEntry>;
    constexpr size_t kChunk = 512;
    constexpr size_t kDepth = 4;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Chunk> queue;
    bool finished = false;
    int failed = 0;

    std::thread writer([&] {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return !queue.empty() || finished; });
                if (queue.empty())
                    return;
                chunk = std::move(queue.front());
                queue.pop_front();
            }
            changed.notify_all();
            for (BatchEntry& entry : chunk) {
                finishDescriptor(entry.made);
                if (!entry.made.ok)
                    ++failed;
                if (done)
                    done(entry);
            }
        }
    });

    auto hand = [&](Chunk&& chunk) {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return queue.size() < kDepth; });
        queue.push_back(std::move(chunk));
        hold.unlock();
        changed.notify_all();
    };
    Chunk chunk;
    chunk.reserve(kChunk);
    QString media;
    while (next(&media)) {
        chunk.push_back(BatchEntry{media, prepareDescriptor(media, settings)});
        if (chunk.size() == kChunk) {
            hand(std::move(chunk));
            chunk = Chunk();
            chunk.reserve(kChunk);
        }
    }
    if (!chunk.empty())
        hand(std::move(chunk));
    {
        const std::lock_guard<std::mutex> hold(lock);
        finished = true;
    }
    changed.notify_all();
    writer.join();
    return failed;
}

} // namespace tess
