#include "platform/FileList.h"

#include <QKeyEvent>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace tess {

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem*) { Q_EMIT fileDoubleClicked(); });
    setPattern(QString());
}

void FileList::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
        Q_EMIT fileDoubleClicked();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void FileList::setPattern(const QString& pattern) {
    m_match = NamePattern(pattern);
    if (!m_path.isEmpty())
        fill(m_path);
}

bool FileList::matches(const QString& fileName) const {
    return m_match.matches(fileName);
}

bool FileList::setPath(const QString& folder) {
    const QString target = QDir::toNativeSeparators(
        QDir::cleanPath(QDir::current().absoluteFilePath(QDir::fromNativeSeparators(folder))));
    if (!fill(target))
        return false;
    const bool changed = target != m_path;
    m_path = target;
    if (changed)
        Q_EMIT pathChanged(m_path);
    return true;
}

void FileList::refresh() {
    if (!m_path.isEmpty())
        fill(m_path);
}

bool FileList::fill(const QString& folder) {
    const QString dirPath = QDir::fromNativeSeparators(folder);
    const QFileInfo info(dirPath);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;

    QStringList names;
    QDirIterator it(dirPath, QDir::Files | QDir::Hidden);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (matches(name))
            names.append(name);
    }
    sortPickerOrder(names);

    setUpdatesEnabled(false);
    clear();
    // One insertion for the whole folder keeps big folders quick.
    addItems(names);
    setUpdatesEnabled(true);
    return true;
}

QString FileList::fileName(int i) const {
    const QListWidgetItem* it = item(i);
    return it ? it->text() : QString();
}

int FileList::selectedIndex() const {
    const QList<QListWidgetItem*> chosen = selectedItems();
    return chosen.isEmpty() ? -1 : row(chosen.first());
}

QString FileList::selectedFileName() const {
    return fileName(selectedIndex());
}

} // namespace tess
