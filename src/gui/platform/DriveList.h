#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>

namespace tess {

// Drop-down of the mounted storage roots: "/" first, the others sorted.
// Starts on the root that holds the process's current folder.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget* parent = nullptr);

    QString drive() const;
    QStringList drives() const;
    // Selects a listed root; false (selection kept) when it is not listed.
    bool setDrive(const QString& root);
    // Selects without emitting driveChanged, to undo a change that could not be followed.
    void setDriveSilently(const QString& root);
    // The longest listed root that holds the path; empty when none does.
    QString rootFor(const QString& path) const;
    // Reads the mounted volumes again, keeping the selection when it is still there.
    void refresh();

    // The mounted, ready directory roots in list order.
    static QStringList mountedRoots();

Q_SIGNALS:
    void driveChanged(const QString& root);

private:
    bool m_silent = false;
};

} // namespace tess
