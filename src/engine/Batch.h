#pragma once

#include "engine/Maker.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace tess {

// The batch picker's file pattern: wildcards separated by ";", blanks around each
// ignored, matched against a file name without regard to case. An empty pattern
// matches every name.
class NamePattern {
public:
    explicit NamePattern(const QString& pattern = QString());
    bool matches(const QString& fileName) const;
    QString text() const { return text_; }

private:
    QString text_;
    QRegularExpression match_;
    // Set when every wildcard is "*" and a plain tail ("*.mid"): a folder of
    // 100,000 names is then matched by comparing tails, not by a regex.
    std::optional<QStringList> tails_;
};

// Regular files (dot files too) in folder that match pattern, sorted by name the
// way the picker lists them, as folder + "/" + name; with recursive, the files of
// its subfolders follow each folder's own, subfolders in name order. Symbolic links
// to folders are not followed, so a loop cannot trap the walk.
// A folder that cannot be read is told to unreadable (path and reason) and skipped.
QStringList
collectFiles(const QString& folder, const NamePattern& pattern, bool recursive,
             const std::function<void(const QString&, const QString&)>& unreadable = {});

// The picker's order of file names: without regard to case, then by code point.
bool pickerOrder(const QString& a, const QString& b);
// Sorts names into the picker's order; quicker than std::sort with pickerOrder,
// since each name is folded once rather than at every comparison.
void sortPickerOrder(QStringList& names);

// The outcome of one batch entry.
struct BatchEntry {
    QString media;
    Made made;
};

// Makes one descriptor per entry, in order; a failing entry does not stop the
// others. done is told of each entry as it ends. Returns how many failed.
int runBatch(const QStringList& entries, const MakeSettings& settings,
             const std::function<void(const BatchEntry&)>& done);
// The same over entries that next() hands out one at a time (false: no more), so
// that a list of any length streams through.
int runBatch(const std::function<bool(QString*)>& next, const MakeSettings& settings,
             const std::function<void(const BatchEntry&)>& done);

// The same outcome, with the writing on a second thread while the next entries
// are planned: on two cores the string work hides behind the file system's. done
// is called on that thread, in entry order. With one core it is runBatch.
int runBatchPipelined(const std::function<bool(QString*)>& next, const MakeSettings& settings,
                      const std::function<void(const BatchEntry&)>& done);
int runBatchPipelined(const QStringList& entries, const MakeSettings& settings,
                      const std::function<void(const BatchEntry&)>& done);

} // namespace tess
