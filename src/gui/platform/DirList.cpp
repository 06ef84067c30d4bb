#include "platform/DirList.h"

#include "platform/MessageBox.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStyle>

#include <algorithm>

namespace tess {

namespace {

constexpr int IndentBlanks = 2;

bool byName(const QString& a, const QString& b) {
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

QListWidgetItem* makeItem(const QIcon& icon, const QString& name, const QString& path, int depth) {
    auto* item = new QListWidgetItem(icon, QString(depth * IndentBlanks, QLatin1Char(' ')) + name);
    item->setData(DirList::PathRole, QDir::toNativeSeparators(path));
    item->setData(DirList::DepthRole, depth);
    return item;
}

} // namespace

DirList::DirList(QWidget* parent) : QListWidget(parent) {
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        // Copy first: opening the folder deletes the item.
        const QString target = item->data(PathRole).toString();
        setPath(target);
    });
    m_path = normalized(QDir::currentPath());
    fill();
}

void DirList::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
        Q_EMIT itemDoubleClicked(currentItem());
        return;
    }
    QListWidget::keyPressEvent(event);
}

QString DirList::path() const {
    return m_path;
}

QString DirList::normalized(const QString& folder) {
    const QString clean = QDir::cleanPath(QDir::current().absoluteFilePath(
        QDir::fromNativeSeparators(folder.isEmpty() ? QStringLiteral(".") : folder)));
    return QDir::toNativeSeparators(clean);
}

QString DirList::whyUnreadable(const QString& folder) {
    const QFileInfo info(QDir::fromNativeSeparators(folder));
    if (!info.exists())
        return QStringLiteral("it does not exist");
    if (!info.isDir())
        return QStringLiteral("it is not a folder");
    // Listing needs read permission, entering needs execute.
    if (!info.isReadable() || !info.isExecutable())
        return QStringLiteral("access is denied");
    return {};
}

bool DirList::setPath(const QString& folder) {
    const QString target = normalized(folder);
    const QString why = whyUnreadable(target);
    if (!why.isEmpty()) {
        MessageBox::show(QStringLiteral("Cannot open the folder \"") + target +
                             QStringLiteral("\": ") + why + QLatin1Char('.'),
                         this);
        return false;
    }
    const bool changed = target != m_path;
    m_path = target;
    fill();
    if (changed)
        Q_EMIT pathChanged(m_path);
    return true;
}

void DirList::refresh() {
    fill();
}

void DirList::fill() {
    setUpdatesEnabled(false);
    clear();

    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

    // Ancestors, collected upwards and shown root first.
    QStringList chain;
    QDir dir(QDir::fromNativeSeparators(m_path));
    chain.prepend(dir.absolutePath());
    while (!dir.isRoot() && dir.cdUp())
        chain.prepend(dir.absolutePath());

    int depth = 0;
    for (const QString& p : chain) {
        const QString name =
            QDir(p).isRoot() ? QDir::toNativeSeparators(p) : QFileInfo(p).fileName();
        addItem(makeItem(openIcon, name, p, depth));
        ++depth;
    }
    m_openRow = count() - 1;

    QStringList names;
    QDirIterator it(QDir::fromNativeSeparators(m_path), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        names.append(it.fileName());
    }
    std::sort(names.begin(), names.end(), byName);
    const QString base = QDir::fromNativeSeparators(m_path);
    const QString prefix = base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
    for (const QString& name : std::as_const(names))
        addItem(makeItem(closedIcon, name, prefix + name, depth));

    setCurrentRow(m_openRow);
    scrollToItem(item(m_openRow));
    setUpdatesEnabled(true);
}

} // namespace tess
