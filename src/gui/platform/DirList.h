#pragma once

#include <QListWidget>
#include <QString>

namespace tess {

// Classic folder list: the open folder's ancestors from the root down, the open
// folder itself (current), then its subfolders one step deeper. Activating an
// entry opens it. Folders whose names start with a dot are not listed.
class DirList : public QListWidget {
    Q_OBJECT
public:
    // Item data: the entry's full path (native separators) and its indent level.
    static constexpr int PathRole = Qt::UserRole;
    static constexpr int DepthRole = Qt::UserRole + 1;

    explicit DirList(QWidget* parent = nullptr);

    // The open folder: native separators, no trailing separator except for the root.
    QString path() const;
    // Opens a folder. An unreadable one is reported to the user, the open folder
    // stays, and the answer is false.
    bool setPath(const QString& folder);
    // Lists the open folder again (subfolders may have come or gone).
    void refresh();
    // The row of the open folder.
    int openRow() const { return m_openRow; }

    // Absolute, cleaned, native form of a folder name.
    static QString normalized(const QString& folder);
    // Empty when the folder can be listed, otherwise why not (for the message).
    static QString whyUnreadable(const QString& folder);

Q_SIGNALS:
    void pathChanged(const QString& path);

protected:
    // Enter opens the current entry, as a double-click does (never a single click).
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fill();

    QString m_path;
    int m_openRow = -1;
};

} // namespace tess
