#include "SecondUser.h"
#include "engine/FileOps.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tess;
using namespace tess::test;

namespace {
QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct stat statOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

bool chownTo(const QString& path, uid_t uid, gid_t gid) {
    return ::lchown(QFile::encodeName(path).constData(), uid, gid) == 0;
}

bool chmodTo(const QString& path, mode_t mode) {
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}
} // namespace

class TestFileOps : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void replaceCreatesAndReplaces();
    void replaceFailureKeepsOldFile();
    void replaceIntoMissingFolderFails();
    void readOnlyTargetIsNotForced();
    void replaceKeepsModeAndLinks();
    void othersLinksAreReplacedNotFollowed();
    void longestNameStillWrites();
    void sizeAndExistence();
    void copyAndDelete();
    void copyStreamsInBoundedMemory();
    void copyRefusesWhatIsNotAFile();
    void copyToNewFileFollowsNoLink();
    void fullDiskKeepsOldFile();
    void folderWithoutNewFilesWritesInPlace();
    void replaceKeepsOwnerAndGroup();
};

void TestFileOps::replaceCreatesAndReplaces() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.gcd"));
    QVERIFY(FileOps::replaceFile(path, "first\r\n"));
    QCOMPARE(readAll(path), QByteArray("first\r\n"));
    QVERIFY(FileOps::replaceFile(path, "second"));
    QCOMPARE(readAll(path), QByteArray("second"));
    // Nothing but the target is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.gcd"});
    // Readable by others (a web server), as a plain new file would be.
    QVERIFY(QFile::permissions(path) & QFileDevice::ReadOwner);

    // A new file takes the umask's mode, whatever the umask.
    for (const mode_t mask : {mode_t(022), mode_t(027), mode_t(077), mode_t(002)}) {
        const mode_t saved = ::umask(mask);
        const QString fresh = dir.filePath(QStringLiteral("m%1.gcd").arg(mask, 3, 8));
        const bool written = bool(FileOps::replaceFile(fresh, "x"));
        ::umask(saved);
        QVERIFY(written);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(fresh).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0666 & ~mask);
    }
}

void TestFileOps::replaceFailureKeepsOldFile() {
    // A folder the user may not write to, holding a file the user may not write either.
    const User peer = secondUser();
    if (!peer.ok)
        QSKIP("a second user needs root");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.gcd"));
    QVERIFY(FileOps::replaceFile(path, "old"));
    QVERIFY(chmodTo(dir.path(), 0755) && chmodTo(path, 0644));
    QCOMPARE(runAs(peer,
                   [&] {
                       const FileResult r = FileOps::replaceFile(path, "new");
                       return !r.ok && r.reason == QLatin1String("Permission denied") ? 0 : 1;
                   }),
             0);
    QCOMPARE(readAll(path), QByteArray("old"));
    QCOMPARE(entries(dir.path()), QStringList{"a.gcd"});
}

void TestFileOps::replaceIntoMissingFolderFails() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/a.gcd"));
    const FileResult r = FileOps::replaceFile(path, "x");
    QVERIFY(!r.ok);
    QVERIFY(!r.reason.isEmpty());
    QVERIFY(!QFile::exists(path));
    // A folder in the way is refused, not replaced.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub.gcd")));
    QVERIFY(!FileOps::replaceFile(dir.filePath(QStringLiteral("sub.gcd")), "x").ok);
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("sub.gcd"))).isDir());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("sub.gcd")});
}

void TestFileOps::readOnlyTargetIsNotForced() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ro.gcd"));
    QVERIFY(FileOps::replaceFile(path, "old"));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    const FileResult r = FileOps::replaceFile(path, "new");
    QVERIFY(!r.ok);
    QVERIFY(r.reason.contains(QLatin1String("read-only")));
    QCOMPARE(readAll(path), QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"ro.gcd"});
}

void TestFileOps::replaceKeepsModeAndLinks() {
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.gcd"));
    const QString link = dir.filePath(QStringLiteral("link.gcd"));
    QVERIFY(FileOps::replaceFile(real, "old"));
    const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(real, mode));
    QVERIFY(QFile::link(real, link));
    QVERIFY(FileOps::replaceFile(link, "through the link"));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readAll(real), QByteArray("through the link"));
    // Owner, group and others; Qt adds the "user" bits for whoever runs the test.
    QCOMPARE(QFile::permissions(real) & 0x7077, QFileDevice::Permissions(mode) & 0x7077);
}

void TestFileOps::othersLinksAreReplacedNotFollowed() {
    // A shared web folder: another user plants links where a run will write.
    const User peer = secondUser();
    if (!peer.ok)
        QSKIP("a second user needs root");
    QTemporaryDir dir;
    const QString web = dir.filePath(QStringLiteral("web"));
    QVERIFY(QDir().mkpath(web));
    QVERIFY(chmodTo(dir.path(), 0755) && chmodTo(web, 0777));
    const QString precious = dir.filePath(QStringLiteral("shadow"));
    QVERIFY(FileOps::replaceFile(precious, "root's secret"));
    QVERIFY(chmodTo(precious, 0640));
    const QString peerFile = dir.filePath(QStringLiteral("peer.txt"));
    QVERIFY(FileOps::replaceFile(peerFile, "peer's own"));
    QVERIFY(chownTo(peerFile, peer.uid, peer.gid));
    const QString own = dir.filePath(QStringLiteral("own.gcd"));
    QVERIFY(FileOps::replaceFile(own, "own"));

    const QString planted = web + QStringLiteral("/song.gcd");
    const QString viaPeer = web + QStringLiteral("/chain.gcd");
    QCOMPARE(runAs(peer,
                   [&] {
                       const bool ok = QFile::link(precious, planted) &&
                                       QFile::link(own, web + QStringLiteral("/peer-link"));
                       return ok ? 0 : 1;
                   }),
             0);
    // Links of one's own that lead to another user's file, or through their link.
    const QString toPeer = web + QStringLiteral("/ring.gcd");
    QVERIFY(QFile::link(peerFile, toPeer));
    QVERIFY(QFile::link(web + QStringLiteral("/peer-link"), viaPeer));

    for (const QString& target : {planted, toPeer, viaPeer}) {
        const FileResult r = FileOps::replaceFile(target, "descriptor");
        QVERIFY2(r.ok, qPrintable(r.reason));
        QVERIFY2(r.notice.contains(QLatin1String("symbolic link")), qPrintable(target));
        const struct stat st = statOf(target);
        QVERIFY2(S_ISREG(st.st_mode), qPrintable(target));
        QCOMPARE(st.st_uid, ::geteuid());
        QCOMPARE(readAll(target), QByteArray("descriptor"));
    }
    QCOMPARE(readAll(precious), QByteArray("root's secret"));
    QCOMPARE(statOf(precious).st_mode & 07777, mode_t(0640));
    QCOMPARE(readAll(peerFile), QByteArray("peer's own"));
    QCOMPARE(readAll(own), QByteArray("own"));
    QVERIFY(QFileInfo(web + QStringLiteral("/peer-link")).isSymLink());

    // The same for a copy's target; a link of one's own to one's own file still leads on.
    const QString copyTarget = web + QStringLiteral("/voice.qcp");
    QCOMPARE(runAs(peer, [&] { return QFile::link(precious, copyTarget) ? 0 : 1; }), 0);
    const FileResult copied = FileOps::copyFile(own, copyTarget);
    QVERIFY(copied.ok && !copied.notice.isEmpty());
    QCOMPARE(readAll(precious), QByteArray("root's secret"));
    const QString mine = web + QStringLiteral("/mine.gcd");
    QVERIFY(QFile::link(own, mine));
    const FileResult through = FileOps::replaceFile(mine, "through");
    QVERIFY(through.ok && through.notice.isEmpty());
    QVERIFY(QFileInfo(mine).isSymLink());
    QCOMPARE(readAll(own), QByteArray("through"));
    QCOMPARE(entries(web), (QStringList{"chain.gcd", "mine.gcd", "peer-link", "ring.gcd",
                                        "song.gcd", "voice.qcp"}));
}

void TestFileOps::longestNameStillWrites() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QString(251, QLatin1Char('n')) + QStringLiteral(".gcd"));
    QVERIFY(FileOps::replaceFile(path, "x"));
    QCOMPARE(readAll(path), QByteArray("x"));
}

void TestFileOps::sizeAndExistence() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.bin"));
    QVERIFY(FileOps::replaceFile(path, QByteArray(4096, 'x')));
    QCOMPARE(FileOps::fileSize(path).value_or(-1), 4096);
    QVERIFY(FileOps::fileExists(path));
    QVERIFY(!FileOps::fileExists(dir.path()));
    QVERIFY(FileOps::folderExists(dir.path()));
    QVERIFY(!FileOps::folderExists(path));
    QVERIFY(!FileOps::fileSize(dir.path()));
    QVERIFY(!FileOps::fileSize(dir.filePath(QStringLiteral("none"))));
    QVERIFY(!FileOps::fileExists(QString()));
}

void TestFileOps::copyAndDelete() {
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a"));
    const QString b = dir.filePath(QStringLiteral("b"));
    QVERIFY(FileOps::replaceFile(a, "payload"));
    QVERIFY(FileOps::replaceFile(b, "older and longer"));
    QVERIFY(FileOps::copyFile(a, b));
    QCOMPARE(readAll(b), QByteArray("payload"));
    QVERIFY(FileOps::deleteFile(a));
    QVERIFY(!QFile::exists(a));
    QVERIFY(!FileOps::deleteFile(a).ok);
    QVERIFY(!FileOps::copyFile(a, b).ok);
    QCOMPARE(readAll(b), QByteArray("payload"));
}

void TestFileOps::copyStreamsInBoundedMemory() {
    // A sparse source costs no disk; its copy is real. Read whole, it would lift the
    // copying process's peak memory by its size.
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("big.wav"));
    const QString dst = dir.filePath(QStringLiteral("copy.wav"));
    const qint64 size = qint64(256) << 20;
    {
        QFile f(src);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(size - 3));
        QVERIFY(f.seek(size - 3));
        QCOMPARE(f.write("END"), qint64(3));
    }
    long idleKb = 0;
    long copyKb = 0;
    QCOMPARE(runInChild([] { return 0; }, &idleKb), 0);
    QCOMPARE(runInChild([&] { return FileOps::copyFile(src, dst).ok ? 0 : 1; }, &copyKb), 0);
    QCOMPARE(FileOps::fileSize(dst).value_or(-1), size);
    QFile out(dst);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QVERIFY(out.seek(size - 3));
    QCOMPARE(out.read(3), QByteArray("END"));
    QVERIFY2(copyKb - idleKb < 32 * 1024,
             qPrintable(QStringLiteral("the copy grew by %1 kB").arg(copyKb - idleKb)));
    QCOMPARE(entries(dir.path()), (QStringList{"big.wav", "copy.wav"}));
}

void TestFileOps::copyRefusesWhatIsNotAFile() {
    QTemporaryDir dir;
    const QString dst = dir.filePath(QStringLiteral("out"));
    QVERIFY(FileOps::replaceFile(dst, "kept"));
    // A FIFO nobody writes to would block a plain open for ever.
    const QString fifo = dir.filePath(QStringLiteral("fifo.wav"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    FileResult r = FileOps::copyFile(fifo, dst);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("it is not a regular file"));
    QVERIFY(!FileOps::copyFile(QStringLiteral("/dev/zero"), dst).ok);
    QVERIFY(!FileOps::copyToNewFile(fifo, dir.filePath(QStringLiteral("new"))).ok);
    // A link is read through unless the caller refuses links.
    const QString real = dir.filePath(QStringLiteral("real"));
    const QString link = dir.filePath(QStringLiteral("link"));
    QVERIFY(FileOps::replaceFile(real, "linked"));
    QVERIFY(QFile::link(real, link));
    r = FileOps::copyFile(link, dst, FileOps::SourceLink::Refuse);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("it is a symbolic link"));
    QCOMPARE(readAll(dst), QByteArray("kept"));
    QVERIFY(FileOps::copyFile(link, dst));
    QCOMPARE(readAll(dst), QByteArray("linked"));
    QCOMPARE(entries(dir.path()), (QStringList{"fifo.wav", "link", "out", "real"}));
}

void TestFileOps::copyToNewFileFollowsNoLink() {
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("ring.wav"));
    QVERIFY(FileOps::replaceFile(src, "RIFF data"));
    const QString fresh = dir.filePath(QStringLiteral("fresh.wav"));
    QVERIFY(FileOps::copyToNewFile(src, fresh));
    QCOMPARE(readAll(fresh), QByteArray("RIFF data"));
    QCOMPARE(statOf(fresh).st_mode & 07777, mode_t(0600));
    // Something already there, a file or a link to another file, is never written.
    QVERIFY(!FileOps::copyToNewFile(src, fresh).ok);
    const QString precious = dir.filePath(QStringLiteral("precious"));
    QVERIFY(FileOps::replaceFile(precious, "mine"));
    const QString planted = dir.filePath(QStringLiteral("temp.wav"));
    QVERIFY(QFile::link(precious, planted));
    QVERIFY(!FileOps::copyToNewFile(src, planted).ok);
    QCOMPARE(readAll(precious), QByteArray("mine"));
    const QString dangling = dir.filePath(QStringLiteral("dangling.wav"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), dangling));
    QVERIFY(!FileOps::copyToNewFile(src, dangling).ok);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("nowhere"))));
}

void TestFileOps::fullDiskKeepsOldFile() {
    QTemporaryDir dir;
    SmallDisk disk(dir.filePath(QStringLiteral("disk")), QStringLiteral("256k"));
    if (!disk.mounted())
        QSKIP("a tmpfs cannot be mounted here");
    const QString src = dir.filePath(QStringLiteral("big.wav"));
    QVERIFY(FileOps::replaceFile(src, QByteArray(1 << 20, 'w')));
    const QString dst = dir.filePath(QStringLiteral("disk/ring.qcp"));
    QVERIFY(FileOps::replaceFile(dst, "old"));
    FileResult r = FileOps::copyFile(src, dst);
    QVERIFY(!r.ok);
    QCOMPARE(r.reason, QStringLiteral("No space left on device"));
    QCOMPARE(readAll(dst), QByteArray("old"));
    QVERIFY(!FileOps::copyToNewFile(src, dir.filePath(QStringLiteral("disk/temp.wav"))).ok);
    QVERIFY(!FileOps::replaceFile(dst, QByteArray(1 << 20, 'x')).ok);
    QCOMPARE(readAll(dst), QByteArray("old"));
    QCOMPARE(entries(dir.filePath(QStringLiteral("disk"))), QStringList{"ring.qcp"});
}

void TestFileOps::folderWithoutNewFilesWritesInPlace() {
    const User peer = secondUser();
    if (!peer.ok)
        QSKIP("a second user needs root");
    QTemporaryDir dir;
    QVERIFY(chmodTo(dir.path(), 0755));
    // A folder the user may not create files in, holding the user's writable file.
    const QString locked = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(locked));
    const QString tone = locked + QStringLiteral("/tone.gcd");
    QVERIFY(FileOps::replaceFile(tone, "old descriptor"));
    QVERIFY(chownTo(tone, peer.uid, peer.gid) && chmodTo(tone, 0644));
    QVERIFY(chmodTo(locked, 0555));
    const ino_t inode = statOf(tone).st_ino;
    QCOMPARE(runAs(peer, [&] { return FileOps::replaceFile(tone, "new descriptor").ok ? 0 : 1; }),
             0);
    QCOMPARE(readAll(tone), QByteArray("new descriptor"));
    QCOMPARE(statOf(tone).st_ino, inode);
    QCOMPARE(statOf(tone).st_uid, peer.uid);
    QCOMPARE(entries(locked), QStringList{"tone.gcd"});
    // A write in place that fails says so.
    QCOMPARE(runAs(peer,
                   [&] {
                       rlimit tiny{4, 4};
                       std::signal(SIGXFSZ, SIG_IGN);
                       ::setrlimit(RLIMIT_FSIZE, &tiny);
                       const FileResult r = FileOps::replaceFile(tone, "longer than four");
                       return !r.ok && r.reason.contains(QLatin1String("in place")) ? 0 : 1;
                   }),
             0);
    // A file the user cannot write is still refused, with the folder's reason.
    QVERIFY(chmodTo(tone, 0444) && chownTo(tone, 0, 0));
    QCOMPARE(runAs(peer,
                   [&] {
                       const FileResult r = FileOps::replaceFile(tone, "x");
                       return !r.ok && r.reason.contains(QLatin1String("read-only")) ? 0 : 1;
                   }),
             0);

    // A shared sticky folder: new files may be made, but not renamed over another's file.
    const QString shared = dir.filePath(QStringLiteral("shared"));
    QVERIFY(QDir().mkdir(shared));
    QVERIFY(chmodTo(shared, 01777));
    const QString theirs = shared + QStringLiteral("/tone.gcd");
    QVERIFY(FileOps::replaceFile(theirs, "old"));
    QVERIFY(chmodTo(theirs, 0666));
    QCOMPARE(
        runAs(peer, [&] { return FileOps::replaceFile(theirs, "written by peer").ok ? 0 : 1; }), 0);
    QCOMPARE(readAll(theirs), QByteArray("written by peer"));
    QCOMPARE(statOf(theirs).st_uid, uid_t(0));
    QCOMPARE(entries(shared), QStringList{"tone.gcd"});
    // Where neither works, nothing changes.
    QVERIFY(chmodTo(theirs, 0644));
    QCOMPARE(runAs(peer, [&] { return FileOps::replaceFile(theirs, "x").ok ? 1 : 0; }), 0);
    QCOMPARE(readAll(theirs), QByteArray("written by peer"));
}

void TestFileOps::replaceKeepsOwnerAndGroup() {
    if (::geteuid() != 0)
        QSKIP("handing a file to another user needs root");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tone.gcd"));
    QVERIFY(FileOps::replaceFile(path, "old"));
    QVERIFY(chownTo(path, 65534, 65534) && chmodTo(path, 0640));
    QVERIFY(FileOps::replaceFile(path, "new"));
    QCOMPARE(readAll(path), QByteArray("new"));
    const struct stat st = statOf(path);
    QCOMPARE(st.st_uid, uid_t(65534));
    QCOMPARE(st.st_gid, gid_t(65534));
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
    // A copy too; a new file stays the caller's own.
    const QString src = dir.filePath(QStringLiteral("src"));
    QVERIFY(FileOps::replaceFile(src, "copied"));
    QVERIFY(FileOps::copyFile(src, path));
    QCOMPARE(statOf(path).st_uid, uid_t(65534));
    QCOMPARE(statOf(path).st_gid, gid_t(65534));
    QCOMPARE(statOf(src).st_uid, uid_t(0));
}

QTEST_GUILESS_MAIN(TestFileOps)
#include "tst_fileops.moc"
