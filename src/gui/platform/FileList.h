#pragma once

#include "engine/Batch.h"

#include <QListWidget>
#include <QString>

namespace tess {

// Classic file list: the regular files of one folder whose names match the
// pattern, one name per line, sorted by name. Dot files are listed like any
// other file when they match.
class FileList : public QListWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);

    // Wildcards separated by ";" ("*.mid; *.cmx"), matched without regard to case.
    // Empty means every file. Lists the folder again.
    void setPattern(const QString& pattern);
    QString pattern() const { return m_match.text(); }
    bool matches(const QString& fileName) const;

    // Lists a folder; false (list kept) when it cannot be read.
    bool setPath(const QString& folder);
    QString path() const { return m_path; }
    // Lists the open folder again.
    void refresh();

    int fileCount() const { return count(); }
    QString fileName(int i) const;
    int selectedIndex() const; // -1 when none
    QString selectedFileName() const;

Q_SIGNALS:
    // After the list was filled from a different folder.
    void pathChanged(const QString& path);
    void fileDoubleClicked();

protected:
    // Enter opens the current entry, as a double-click does (never a single click).
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool fill(const QString& folder);

    NamePattern m_match;
    QString m_path;
};

} // namespace tess
