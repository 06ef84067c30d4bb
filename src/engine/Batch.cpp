#include "engine/Batch.h"

#include <QDir>
#include <QDirIterator>
#include <algorithm>

namespace tess {

NamePattern::NamePattern(const QString& pattern) : text_(pattern) {
    QStringList parts;
    const QStringList pieces = pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& piece : pieces) {
        const QString wildcard = piece.trimmed();
        if (!wildcard.isEmpty())
            parts.append(QStringLiteral("(?:") +
                         QRegularExpression::wildcardToRegularExpression(wildcard) +
                         QLatin1Char(')'));
    }
    parts.removeDuplicates();
    if (!parts.isEmpty())
        match_ = QRegularExpression(parts.join(QLatin1Char('|')),
                                    QRegularExpression::CaseInsensitiveOption);
}

bool NamePattern::matches(const QString& fileName) const {
    if (match_.pattern().isEmpty())
        return true;
    return match_.match(fileName).hasMatch();
}

bool pickerOrder(const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

namespace {

void collectInto(const QString& folder, const NamePattern& pattern, bool recursive,
                 QStringList& out) {
    QStringList names;
    QStringList folders;
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
    std::sort(names.begin(), names.end(), pickerOrder);
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const QString& name : names)
        out.append(prefix + name);
    std::sort(folders.begin(), folders.end(), pickerOrder);
    for (const QString& sub : folders)
        collectInto(prefix + sub, pattern, recursive, out);
}

} // namespace

QStringList collectFiles(const QString& folder, const NamePattern& pattern, bool recursive) {
    QStringList out;
    collectInto(folder, pattern, recursive, out);
    return out;
}

int runBatch(const QStringList& entries, const MakeSettings& settings,
             const std::function<void(const BatchEntry&)>& done) {
    qsizetype at = 0;
    return runBatch(
        [&](QString* media) {
            if (at >= entries.size())
                return false;
            *media = entries[at++];
            return true;
        },
        settings, done);
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

} // namespace tess
