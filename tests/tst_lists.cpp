#include "platform/DirList.h"
#include "platform/DriveList.h"
#include "platform/FileList.h"
#include "platform/MessageBox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace tess;

namespace {

void touch(const QString& path) {
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
}

QStringList names(const FileList& list) {
    QStringList out;
    for (int i = 0; i < list.fileCount(); ++i)
        out.append(list.fileName(i));
    return out;
}

// A real double click: the view acts only when the second press hits the item pressed first.
void doubleClick(QAbstractItemView& view, const QListWidgetItem* item) {
    const QPoint at = view.visualRect(item->listWidget()->indexFromItem(item)).center();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, at);
}

int blanks(const QListWidgetItem* item) {
    const QString text = item->text();
    return int(text.size() - QStringView(text).trimmed().size());
}

QStringList paths(const DirList& list, int from, int to) {
    QStringList out;
    for (int i = from; i < to; ++i)
        out.append(list.item(i)->data(DirList::PathRole).toString());
    return out;
}

} // namespace

class TestLists : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { MessageBox::setRecording(true); }
    void cleanup() { QCOMPARE(MessageBox::takeRecorded(), QStringList()); }

    // FileList: pattern matching
    void filePatternIgnoresCaseAndBlanks();
    void filePatternDoubledEntriesListOnce();
    void fileEmptyPatternListsEverything();
    void filePatternChangeRelists();
    // FileList: listing
    void fileListSkipsFoldersAndSorts();
    void fileSelection();
    void filePathChangedOnlyOnRealChange();
    void fileUnreadableFolderKeepsList();
    void fileDoubleClickSignals();
    void fileBigFolder();
    // DirList
    void dirShowsAncestorsAndSubfolders();
    void dirPathFormat();
    void dirPathChangedOnlyOnRealChange();
    void dirActivatingEntryOpensIt();
    void dirUnreadableKeepsPathAndReportsOnce_data();
    void dirUnreadableKeepsPathAndReportsOnce();
    void dirPermissionDenied();
    // DriveList
    void driveListRootFirstAndSorted();
    void driveStartsOnCurrentFoldersRoot();
    void driveRootForMatchesWholeFolderNames();
    void driveChangeSignals();
};

void TestLists::filePatternIgnoresCaseAndBlanks() {
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    for (const char* n : {"song.mid", "SONG2.MID", "tone.Cmx", "pic.png", "photo.jpg", "photo.jpeg",
                          "voice.qcp", "logo.wbmp", "mid", "a.mid.txt"})
        touch(tmp.filePath(QLatin1String(n)));
    FileList list;
    list.setPattern(QStringLiteral(" *.mid ;*.cmx;  *.png;*.jpg "));
    QVERIFY(list.setPath(tmp.path()));
    QCOMPARE(names(list), (QStringList{QStringLiteral("photo.jpg"), QStringLiteral("pic.png"),
                                       QStringLiteral("song.mid"), QStringLiteral("SONG2.MID"),
                                       QStringLiteral("tone.Cmx")}));
    QVERIFY(list.matches(QStringLiteral("X.MID")));
    QVERIFY(!list.matches(QStringLiteral("x.jpeg")));
    QVERIFY(!list.matches(QStringLiteral("x.qcp")));
}

void TestLists::filePatternDoubledEntriesListOnce() {
    QTemporaryDir tmp;
    touch(tmp.filePath(QStringLiteral("a.mid")));
    touch(tmp.filePath(QStringLiteral("b.MID")));
    FileList list;
    list.setPattern(QStringLiteral("*.mid; *.mid;*.MID;;"));
    QVERIFY(list.setPath(tmp.path()));
    QCOMPARE(list.fileCount(), 2);
}

void TestLists::fileEmptyPatternListsEverything() {
    QTemporaryDir tmp;
    touch(tmp.filePath(QStringLiteral("x")));
    touch(tmp.filePath(QStringLiteral(".hidden")));
    FileList list;
    list.setPattern(QString());
    QVERIFY(list.setPath(tmp.path()));
    QCOMPARE(names(list), (QStringList{QStringLiteral(".hidden"), QStringLiteral("x")}));
}

void TestLists::filePatternChangeRelists() {
    QTemporaryDir tmp;
    touch(tmp.filePath(QStringLiteral("a.mid")));
    touch(tmp.filePath(QStringLiteral("b.png")));
    FileList list;
    list.setPattern(QStringLiteral("*.mid"));
    QVERIFY(list.setPath(tmp.path()));
    QCOMPARE(names(list), QStringList{QStringLiteral("a.mid")});
    list.setPattern(QStringLiteral("*.png"));
    QCOMPARE(names(list), QStringList{QStringLiteral("b.png")});
}

void TestLists::fileListSkipsFoldersAndSorts() {
    QTemporaryDir tmp;
    QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("folder.mid")));
    for (const char* n : {"b.mid", "B.mid", "a.mid", "C.mid", "c.mid"})
        touch(tmp.filePath(QLatin1String(n)));
    FileList list;
    list.setPattern(QStringLiteral("*.mid"));
    QVERIFY(list.setPath(tmp.path()));
    // Case-insensitive order, upper case first where only case differs.
    QCOMPARE(names(list),
             (QStringList{QStringLiteral("a.mid"), QStringLiteral("B.mid"), QStringLiteral("b.mid"),
                          QStringLiteral("C.mid"), QStringLiteral("c.mid")}));
    QCOMPARE(list.fileName(99), QString());
}

void TestLists::fileSelection() {
    QTemporaryDir tmp;
    touch(tmp.filePath(QStringLiteral("a.mid")));
    touch(tmp.filePath(QStringLiteral("b.mid")));
    FileList list;
    QVERIFY(list.setPath(tmp.path()));
    QCOMPARE(list.selectedIndex(), -1);
    QCOMPARE(list.selectedFileName(), QString());
    list.setCurrentRow(1);
    QCOMPARE(list.selectedIndex(), 1);
    QCOMPARE(list.selectedFileName(), QStringLiteral("b.mid"));
    list.setCurrentRow(0);
    QCOMPARE(list.selectedItems().size(), 1);
    // A refill forgets the selection.
    QVERIFY(list.setPath(tmp.path()));
    QCOMPARE(list.selectedIndex(), -1);
}

void TestLists::filePathChangedOnlyOnRealChange() {
    QTemporaryDir tmp;
    QDir(tmp.path()).mkdir(QStringLiteral("sub"));
    touch(tmp.filePath(QStringLiteral("sub/x.mid")));
    FileList list;
    QSignalSpy spy(&list, &FileList::pathChanged);
    QVERIFY(list.setPath(tmp.path()));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(list.fileCount(), 0); // only the folder "sub"
    QVERIFY(list.setPath(tmp.path() + QStringLiteral("/")));
    QCOMPARE(spy.count(), 1);
    QVERIFY(list.setPath(tmp.filePath(QStringLiteral("sub"))));
    QCOMPARE(spy.count(), 2);
    // The list is already filled when the signal arrives.
    QCOMPARE(spy.last().first().toString(),
             QDir::toNativeSeparators(tmp.filePath(QStringLiteral("sub"))));
    QCOMPARE(list.path(), QDir::toNativeSeparators(tmp.filePath(QStringLiteral("sub"))));
    QCOMPARE(list.fileCount(), 1);
}

void TestLists::fileUnreadableFolderKeepsList() {
    QTemporaryDir tmp;
    touch(tmp.filePath(QStringLiteral("a.mid")));
    FileList list;
    QVERIFY(list.setPath(tmp.path()));
    QSignalSpy spy(&list, &FileList::pathChanged);
    QVERIFY(!list.setPath(tmp.filePath(QStringLiteral("missing"))));
    QVERIFY(!list.setPath(tmp.filePath(QStringLiteral("a.mid"))));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(list.path(), QDir::toNativeSeparators(tmp.path()));
    QCOMPARE(names(list), QStringList{QStringLiteral("a.mid")});
    // The folder list reports; the file list stays silent.
    QCOMPARE(MessageBox::takeRecorded(), QStringList());
}

void TestLists::fileDoubleClickSignals() {
    QTemporaryDir tmp;
    touch(tmp.filePath(QStringLiteral("a.mid")));
    FileList list;
    QVERIFY(list.setPath(tmp.path()));
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QSignalSpy spy(&list, &FileList::fileDoubleClicked);
    doubleClick(list, list.item(0));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(list.selectedFileName(), QStringLiteral("a.mid"));
}

void TestLists::fileBigFolder() {
    QTemporaryDir tmp;
    for (int i = 0; i < 12000; ++i)
        touch(tmp.filePath(QStringLiteral("f%1.mid").arg(i, 5, 10, QLatin1Char('0'))));
    touch(tmp.filePath(QStringLiteral("other.txt")));
    FileList list;
    list.setPattern(QStringLiteral("*.mid"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(list.setPath(tmp.path()));
    // Generous: one-by-one insertion with layouts takes far longer.
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(list.fileCount(), 12000);
    QCOMPARE(list.fileName(11999), QStringLiteral("f11999.mid"));
}

void TestLists::dirShowsAncestorsAndSubfolders() {
    QTemporaryDir tmp;
    const QString open = tmp.filePath(QStringLiteral("a/b"));
    QVERIFY(QDir().mkpath(open));
    for (const char* n : {"Zeta", "alpha", "Beta", ".dot"})
        QVERIFY(QDir(open).mkdir(QLatin1String(n)));
    touch(open + QStringLiteral("/file.mid"));

    DirList list;
    QVERIFY(list.setPath(open));

    // Ancestors from the root down to the open folder.
    QStringList chain;
    for (QDir d(open);; d.cdUp()) {
        chain.prepend(QDir::toNativeSeparators(d.absolutePath()));
        if (d.isRoot())
            break;
    }
    const int openRow = chain.size() - 1;
    QCOMPARE(list.openRow(), openRow);
    QCOMPARE(paths(list, 0, chain.size()), chain);
    QCOMPARE(list.item(0)->text(), QStringLiteral("/"));
    QCOMPARE(list.currentRow(), openRow);
    QVERIFY(list.item(openRow)->isSelected());

    // Subfolders after it, sorted without regard to case; no files, no dot folders.
    const QString base = QDir::toNativeSeparators(open) + QDir::separator();
    QCOMPARE(list.count(), chain.size() + 3);
    QCOMPARE(paths(list, chain.size(), list.count()),
             (QStringList{base + QStringLiteral("alpha"), base + QStringLiteral("Beta"),
                          base + QStringLiteral("Zeta")}));

    // Each ancestor one step deeper, the subfolders one below the open folder.
    for (int i = 1; i <= openRow; ++i)
        QVERIFY(blanks(list.item(i)) > blanks(list.item(i - 1)));
    for (int i = openRow + 1; i < list.count(); ++i) {
        QVERIFY(blanks(list.item(i)) > blanks(list.item(openRow)));
        QCOMPARE(blanks(list.item(i)), blanks(list.item(openRow + 1)));
        QCOMPARE(list.item(i)->data(DirList::DepthRole).toInt(), openRow + 1);
    }
    QCOMPARE(list.item(chain.size())->text().trimmed(), QStringLiteral("alpha"));
}

void TestLists::dirPathFormat() {
    QTemporaryDir tmp;
    DirList list;
    QCOMPARE(list.path(), QDir::toNativeSeparators(QDir::currentPath()));
    QVERIFY(list.setPath(tmp.path() + QStringLiteral("//./")));
    QCOMPARE(list.path(), QDir::toNativeSeparators(tmp.path()));
    QVERIFY(list.setPath(QStringLiteral("/")));
    QCOMPARE(list.path(), QStringLiteral("/"));
    QCOMPARE(list.openRow(), 0);
}

void TestLists::dirPathChangedOnlyOnRealChange() {
    QTemporaryDir tmp;
    QDir(tmp.path()).mkdir(QStringLiteral("sub"));
    DirList list;
    QVERIFY(list.setPath(tmp.path()));
    QSignalSpy spy(&list, &DirList::pathChanged);
    QVERIFY(list.setPath(tmp.path()));
    QVERIFY(list.setPath(tmp.path() + QStringLiteral("/")));
    QCOMPARE(spy.count(), 0);
    QVERIFY(list.setPath(tmp.filePath(QStringLiteral("sub"))));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(),
             QDir::toNativeSeparators(tmp.filePath(QStringLiteral("sub"))));
    QVERIFY(list.setPath(tmp.filePath(QStringLiteral("sub/.."))));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(list.path(), QDir::toNativeSeparators(tmp.path()));
}

void TestLists::dirActivatingEntryOpensIt() {
    QTemporaryDir tmp;
    QVERIFY(QDir().mkpath(tmp.filePath(QStringLiteral("a/b"))));
    DirList list;
    QVERIFY(list.setPath(tmp.filePath(QStringLiteral("a"))));
    list.resize(300, 600);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QSignalSpy spy(&list, &DirList::pathChanged);

    // Down into the subfolder by double click.
    doubleClick(list, list.item(list.openRow() + 1));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(list.path(), QDir::toNativeSeparators(tmp.filePath(QStringLiteral("a/b"))));

    // Up two levels through an ancestor entry.
    doubleClick(list, list.item(list.openRow() - 2));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(list.path(), QDir::toNativeSeparators(tmp.path()));
}

void TestLists::dirUnreadableKeepsPathAndReportsOnce_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QStringLiteral("missing") << QStringLiteral("does not exist");
    QTest::newRow("regular file") << QStringLiteral("plain.mid") << QStringLiteral("not a folder");
}

void TestLists::dirUnreadableKeepsPathAndReportsOnce() {
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QTemporaryDir tmp;
    touch(tmp.filePath(QStringLiteral("plain.mid")));
    DirList list;
    QVERIFY(list.setPath(tmp.path()));
    const int rows = list.count();
    QSignalSpy spy(&list, &DirList::pathChanged);

    QVERIFY(!list.setPath(tmp.filePath(name)));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(list.path(), QDir::toNativeSeparators(tmp.path()));
    QCOMPARE(list.count(), rows);
    const QStringList shown = MessageBox::takeRecorded();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().contains(QDir::toNativeSeparators(tmp.filePath(name))),
             qPrintable(shown.first()));
    QVERIFY2(shown.first().contains(reason), qPrintable(shown.first()));
}

void TestLists::dirPermissionDenied() {
    if (::geteuid() == 0)
        QSKIP("Permissions do not stop root from reading a folder");
    QTemporaryDir tmp;
    const QString locked = tmp.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(locked));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    DirList list;
    QVERIFY(list.setPath(tmp.path()));
    QVERIFY(!list.setPath(locked));
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(list.path(), QDir::toNativeSeparators(tmp.path()));
    QCOMPARE(MessageBox::takeRecorded().size(), 1);
}

void TestLists::driveListRootFirstAndSorted() {
    DriveList drives;
    const QStringList all = drives.drives();
    QVERIFY(!all.isEmpty());
    QCOMPARE(all.first(), QStringLiteral("/"));
    QCOMPARE(all.count(QStringLiteral("/")), 1);
    QStringList rest = all.mid(1);
    QStringList sorted = rest;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(rest, sorted);
    QCOMPARE(QSet<QString>(all.begin(), all.end()).size(), all.size());
    for (const QString& root : all)
        QVERIFY2(QDir(root).exists(), qPrintable(root));
}

void TestLists::driveStartsOnCurrentFoldersRoot() {
    DriveList drives;
    const QString here = QDir::currentPath();
    QVERIFY(here.startsWith(drives.drive()));
    QCOMPARE(drives.drive(), drives.rootFor(here));
    // No listed root that holds the folder is longer than the chosen one.
    for (const QString& root : drives.drives())
        if (root != QStringLiteral("/") &&
            (here == root || here.startsWith(root + QLatin1Char('/'))))
            QVERIFY(root.size() <= drives.drive().size());
}

void TestLists::driveRootForMatchesWholeFolderNames() {
    DriveList drives;
    drives.clear();
    drives.addItems({QStringLiteral("/"), QStringLiteral("/home"), QStringLiteral("/home/user")});
    QCOMPARE(drives.rootFor(QStringLiteral("/homework/a")), QStringLiteral("/"));
    QCOMPARE(drives.rootFor(QStringLiteral("/home")), QStringLiteral("/home"));
    QCOMPARE(drives.rootFor(QStringLiteral("/home/x")), QStringLiteral("/home"));
    QCOMPARE(drives.rootFor(QStringLiteral("/home/user/x")), QStringLiteral("/home/user"));
}

void TestLists::driveChangeSignals() {
    DriveList drives;
    drives.addItem(QStringLiteral("/tmp")); // a second entry even on a single-volume machine
    QVERIFY(drives.setDrive(QStringLiteral("/")));
    QSignalSpy spy(&drives, &DriveList::driveChanged);

    QVERIFY(drives.setDrive(QStringLiteral("/tmp")));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(), QStringLiteral("/tmp"));
    QVERIFY(drives.setDrive(QStringLiteral("/tmp")));
    QCOMPARE(spy.count(), 1);

    QVERIFY(!drives.setDrive(QStringLiteral("/no/such/root")));
    QCOMPARE(drives.drive(), QStringLiteral("/tmp"));

    drives.setDriveSilently(QStringLiteral("/"));
    QCOMPARE(drives.drive(), QStringLiteral("/"));
    QCOMPARE(spy.count(), 1);
    // Silence lasts for that one call only.
    QVERIFY(drives.setDrive(QStringLiteral("/tmp")));
    QCOMPARE(spy.count(), 2);
}

QTEST_MAIN(TestLists)
#include "tst_lists.moc"
