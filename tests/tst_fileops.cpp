#include "engine/FileOps.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace tess;

namespace {
QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
    void longestNameStillWrites();
    void sizeAndExistence();
    void copyAndDelete();
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
}

void TestFileOps::replaceFailureKeepsOldFile() {
    if (::geteuid() == 0)
        QSKIP("permissions do not stop root");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.gcd"));
    QVERIFY(FileOps::replaceFile(path, "old"));
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const FileResult r = FileOps::replaceFile(path, "new");
    QFile::setPermissions(dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY(!r.ok);
    QVERIFY(!r.reason.isEmpty());
    QCOMPARE(readAll(path), QByteArray("old"));
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

QTEST_GUILESS_MAIN(TestFileOps)
#include "tst_fileops.moc"
