#include "platform/DriveList.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>

#include <algorithm>

namespace tess {

namespace {

bool holds(const QString& root, const QString& path) {
    const QString r = QDir::fromNativeSeparators(root);
    const QString p = QDir::fromNativeSeparators(path);
    if (r.endsWith(QLatin1Char('/')))
        return p.startsWith(r);
    // "/home" must not claim "/homework".
    return p == r || p.startsWith(r + QLatin1Char('/'));
}

} // namespace

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_silent && index >= 0)
            Q_EMIT driveChanged(itemText(index));
    });
    refresh();
}

QStringList DriveList::mountedRoots() {
    QStringList roots;
    const auto volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo& v : volumes) {
        if (!v.isValid() || !v.isReady())
            continue;
        // Containers bind-mount single files (/etc/hosts); only folders are drives.
        if (!QFileInfo(v.rootPath()).isDir())
            continue;
        const QString root = QDir::toNativeSeparators(v.rootPath());
        if (!roots.contains(root))
            roots.append(root);
    }
    const QString top = QDir::toNativeSeparators(QDir::rootPath());
    roots.removeAll(top);
    std::sort(roots.begin(), roots.end());
    roots.prepend(top);
    return roots;
}

void DriveList::refresh() {
    const QString previous = drive();
    const QSignalBlocker blocker(this);
    clear();
    addItems(mountedRoots());
    QString pick = previous;
    if (pick.isEmpty() || findText(pick, Qt::MatchExactly) < 0)
        pick = rootFor(QDir::currentPath());
    const int index = findText(pick, Qt::MatchExactly);
    setCurrentIndex(index >= 0 ? index : 0);
}

QString DriveList::drive() const {
    return currentText();
}

QStringList DriveList::drives() const {
    QStringList list;
    for (int i = 0; i < count(); ++i)
        list.append(itemText(i));
    return list;
}

bool DriveList::setDrive(const QString& root) {
    const int index = findText(QDir::toNativeSeparators(root), Qt::MatchExactly);
    if (index < 0)
        return false;
    setCurrentIndex(index);
    return true;
}

void DriveList::setDriveSilently(const QString& root) {
    m_silent = true;
    setDrive(root);
    m_silent = false;
}

QString DriveList::rootFor(const QString& path) const {
    QString best;
    for (int i = 0; i < count(); ++i) {
        const QString root = itemText(i);
        if (holds(root, path) && root.size() > best.size())
            best = root;
    }
    return best;
}

} // namespace tess
