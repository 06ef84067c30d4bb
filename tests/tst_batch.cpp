#include "TestSupport.h"

#include "batch/frmBatch.h"
#include "batch/frmBatchSet.h"
#include "config/Form2.h"
#include "config/FrmOptSet.h"
#include "core/FrmGetURL.h"
#include "platform/Controls.h"
#include "platform/DirList.h"
#include "platform/DriveList.h"
#include "platform/FileList.h"

#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QPushButton>

using namespace tess;
using namespace tess::test;

namespace {

const QString kHashes(47, '#');
const QString kSeparator(140, '-');

QString completeLine(int n) {
    return QStringLiteral("GCD Batch Run Complete.  %1 File(s) were processed.").arg(n);
}

QByteArray descriptor(const QString& type, const QString& name, const QString& version,
                      const QString& vendor, const QString& url, qint64 size, bool blank = false) {
    QByteArray b = blank ? QByteArray("\r\n") : QByteArray();
    b += "Content-Type: " + type.toLatin1() + "\r\n";
    b += "Content-Name: " + name.toLatin1() + "\r\n";
    b += "Content-Version: " + version.toLatin1() + "\r\n";
    b += "Content-Vendor: " + vendor.toLatin1() + "\r\n";
    b += "Content-URL: " + url.toLatin1() + "\r\n";
    b += "Content-Size: " + QByteArray::number(size) + "\r\n";
    return b;
}

// A real double click: the view acts only when the second press hits the item pressed first.
void doubleClick(QListWidget* view, int row) {
    const QPoint at = view->visualItemRect(view->item(row)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
}

QStringList entries(frmBatch* b) {
    QStringList list;
    for (int i = 0; i < b->listFiles->count(); ++i)
        list.append(b->listFiles->item(i)->text());
    return list;
}

} // namespace

class TestBatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void pickerStartsEmptyAndListsMatchingFiles();
    void addTwiceGivesTwoEntries();
    void dirAppendsInFileListOrder();
    void removeAndContinueStates();
    void removeAllOnEmptyList();
    void unreadableFolderKeepsPrevious();
    void buttonAndMenuShowOnePicker();
    void continueThenCancelDiscardsBoth();
    void closingSettingsKeepsPicker();

    void settingsStartFromMainWindow();
    void runThreeEntries();
    void runZeroEntries();
    void runDuplicateAndSameNames();
    void missingFileInTheMiddle();
    void missingSaveFolderLogsEveryEntry();
    void shortNameIsLogged();
    void lineBreakNameIsRefused();
    void autoUrlUneditedFollowsEachFile();
    void autoUrlEditedSwitchesOff();
    void blankLineBoxDecides();
    void oddBlankLineSettingCountsAsClear();
    void windowsReappearWithOldValues();
    void browseClearsBusyFlag();
    void loadDefaultsCopiesConfiguration();
    void loadDefaultsOnShortFile();
    void chooserFillsBatchWindow();
    void chooserCreatesHiddenBatchWindow();

private:
    frmBatch* openPicker();
    frmBatchSet* continueWith(const QStringList& files);
    QString media(const QString& name, const QByteArray& bytes, const QString& sub = QString());
    void setMain(const QString& save, const QString& version, const QString& vendor,
                 const QString& url);

    std::unique_ptr<ProgramFixture> fx;
    Form1* f = nullptr;
    QString saveDir;
    QString mediaDir;
};

void TestBatch::init() {
    fx = std::make_unique<ProgramFixture>();
    f = fx->form1();
    f->show();
    saveDir = fx->work.filePath("web");
    mediaDir = fx->work.filePath("media");
    QDir().mkpath(saveDir);
    QDir().mkpath(mediaDir);
}

void TestBatch::cleanup() {
    // No batch failure may fall back to a message box.
    QCOMPARE(MessageBox::takeRecorded(), QStringList());
    fx.reset();
    f = nullptr;
}

frmBatch* TestBatch::openPicker() {
    click(f->CMNDBatch);
    return Program::get().frmBatchWindow();
}

QString TestBatch::media(const QString& name, const QByteArray& bytes, const QString& sub) {
    const QString dir = sub.isEmpty() ? mediaDir : fx->work.filePath(sub);
    QDir().mkpath(dir);
    return writeFile(dir + "/" + name, bytes);
}

void TestBatch::setMain(const QString& save, const QString& version, const QString& vendor,
                        const QString& url) {
    f->txtsave->setText(save);
    f->txtVersion->setText(version);
    f->txtVendor->setText(vendor);
    f->txtURL->setText(url);
}

// Adds each file with "------>" from its own folder and presses "Continue...".
frmBatchSet* TestBatch::continueWith(const QStringList& files) {
    frmBatch* b = openPicker();
    for (const QString& file : files) {
        const QFileInfo info(file);
        b->Dir1->setPath(info.absolutePath());
        const int row = [&] {
            for (int i = 0; i < b->File1->fileCount(); ++i)
                if (b->File1->fileName(i) == info.fileName())
                    return i;
            return -1;
        }();
        if (row >= 0) {
            b->File1->setCurrentRow(row);
            click(b->CMNDAdd);
        } else {
            // Not listed (e.g. removed already): put the path in as the picker would.
            b->listFiles->addItem(QDir::toNativeSeparators(file));
            b->Command1->setEnabled(true);
        }
    }
    click(b->Command1);
    return Program::get().frmBatchSetWindow();
}

void TestBatch::pickerStartsEmptyAndListsMatchingFiles() {
    frmBatch* b = openPicker();
    QVERIFY(b->isVisible());
    QCOMPARE(b->windowTitle(), QStringLiteral("Run a GCD Batch"));
    QCOMPARE(b->listFiles->count(), 0);
    QCOMPARE(b->lbltot->text(), QStringLiteral("0"));
    QCOMPARE(b->lbltotal->text(), QStringLiteral("- -"));
    QVERIFY(!b->Command1->isEnabled());
    QCOMPARE(b->File1->pattern(), QStringLiteral("*.mid; *.mid;*.cmx;*.png;*.jpg"));
    QCOMPARE(b->Dir1->path(), DirList::normalized(QDir::currentPath()));
    QCOMPARE(b->File1->path(), b->Dir1->path());
    QCOMPARE(b->Drive1->drive(), b->Drive1->rootFor(b->Dir1->path()));
    for (const char* caption : {"------>", "<------", "DIR>", "<ALL", "Cancel", "Continue..."}) {
        bool found = false;
        for (QPushButton* button : b->findChildren<QPushButton*>())
            found = found || button->text() == QLatin1String(caption);
        QVERIFY2(found, caption);
    }

    for (const char* name : {"song.MID", "b.cmx", "a.mid", "c.PNG", "d.jpg", "e.jpeg", "f.qcp",
                             "g.wbmp", "h.bmp", "i.wav"})
        media(name, "x");
    QDir().mkpath(mediaDir + "/folder.mid");
    b->Dir1->setPath(mediaDir);
    QCOMPARE(b->File1->path(), QDir::toNativeSeparators(mediaDir));
    QCOMPARE(b->lbltotal->text(), QStringLiteral("5"));
    QCOMPARE(b->File1->fileName(0), QStringLiteral("a.mid"));
    QCOMPARE(b->File1->fileName(1), QStringLiteral("b.cmx"));
    QCOMPARE(b->File1->fileName(4), QStringLiteral("song.MID"));

    // A folder with nothing to offer counts zero.
    media("only.qcp", "x", "other");
    b->Dir1->setPath(fx->work.filePath("other"));
    QCOMPARE(b->lbltotal->text(), QStringLiteral("0"));
}

void TestBatch::addTwiceGivesTwoEntries() {
    media("ring.mid", "abc");
    frmBatch* b = openPicker();
    b->Dir1->setPath(mediaDir);

    // Nothing selected: nothing happens.
    b->File1->setCurrentRow(-1);
    click(b->CMNDAdd);
    QCOMPARE(b->listFiles->count(), 0);
    QVERIFY(!b->Command1->isEnabled());

    b->File1->setCurrentRow(0);
    click(b->CMNDAdd);
    click(b->CMNDAdd);
    const QString entry = QDir::toNativeSeparators(mediaDir) + QDir::separator() + "ring.mid";
    QCOMPARE(entries(b), (QStringList{entry, entry}));
    QCOMPARE(b->lbltot->text(), QStringLiteral("2"));
    QVERIFY(b->Command1->isEnabled());
    QVERIFY(b->listFiles->selectedItems().isEmpty());
    QCOMPARE(b->File1->selectedIndex(), 0);

    // A double-click in the file list adds too.
    doubleClick(b->File1, 0);
    QCOMPARE(b->listFiles->count(), 3);
    QCOMPARE(b->lbltot->text(), QStringLiteral("3"));
}

void TestBatch::dirAppendsInFileListOrder() {
    media("c.png", "x");
    media("A.jpg", "x");
    media("b.mid", "x");
    frmBatch* b = openPicker();
    b->Dir1->setPath(mediaDir);
    b->File1->setCurrentRow(1);
    click(b->CMNDAdd);
    click(b->Command4);
    const QString dir = QDir::toNativeSeparators(mediaDir) + QDir::separator();
    const QStringList once{dir + "A.jpg", dir + "b.mid", dir + "c.png"};
    QCOMPARE(entries(b), QStringList{dir + "b.mid"} + once);
    QCOMPARE(b->lbltot->text(), QStringLiteral("4"));
    click(b->Command4);
    QCOMPARE(entries(b), QStringList{dir + "b.mid"} + once + once);
    QCOMPARE(b->lbltot->text(), QStringLiteral("7"));

    // An empty folder adds nothing and leaves "Continue..." alone.
    click(b->Command5);
    QDir().mkpath(fx->work.filePath("empty"));
    b->Dir1->setPath(fx->work.filePath("empty"));
    click(b->Command4);
    QCOMPARE(b->listFiles->count(), 0);
    QVERIFY(!b->Command1->isEnabled());
}

void TestBatch::removeAndContinueStates() {
    media("a.mid", "x");
    media("b.mid", "x");
    frmBatch* b = openPicker();
    b->Dir1->setPath(mediaDir);
    click(b->Command4);
    QVERIFY(b->Command1->isEnabled());

    // "<------" without a selection disables "Continue..." and keeps the list.
    click(b->Command3);
    QCOMPARE(b->listFiles->count(), 2);
    QVERIFY(!b->Command1->isEnabled());

    // Adding enables it again; removing a selected entry leaves it as it is.
    b->File1->setCurrentRow(0);
    click(b->CMNDAdd);
    QVERIFY(b->Command1->isEnabled());
    b->listFiles->setCurrentRow(1);
    click(b->Command3);
    const QString dir = QDir::toNativeSeparators(mediaDir) + QDir::separator();
    QCOMPARE(entries(b), (QStringList{dir + "a.mid", dir + "a.mid"}));
    QCOMPARE(b->lbltot->text(), QStringLiteral("2"));
    QVERIFY(b->listFiles->selectedItems().isEmpty());

    // A double-click removes the entry under the mouse.
    doubleClick(b->listFiles, 0);
    QCOMPARE(b->listFiles->count(), 1);
    QCOMPARE(b->lbltot->text(), QStringLiteral("1"));

    // Removing the last entry leaves "Continue..." enabled.
    b->listFiles->setCurrentRow(0);
    click(b->Command3);
    QCOMPARE(b->listFiles->count(), 0);
    QCOMPARE(b->lbltot->text(), QStringLiteral("0"));
    QVERIFY(b->Command1->isEnabled());
}

void TestBatch::removeAllOnEmptyList() {
    media("a.mid", "x");
    frmBatch* b = openPicker();
    click(b->Command5);
    QCOMPARE(b->lbltot->text(), QStringLiteral("0"));
    QVERIFY(!b->Command1->isEnabled());

    b->Dir1->setPath(mediaDir);
    click(b->Command4);
    click(b->Command4);
    QCOMPARE(b->lbltot->text(), QStringLiteral("2"));
    click(b->Command5);
    QCOMPARE(b->listFiles->count(), 0);
    QCOMPARE(b->lbltot->text(), QStringLiteral("0"));
    QVERIFY(!b->Command1->isEnabled());
}

void TestBatch::unreadableFolderKeepsPrevious() {
    media("a.mid", "x");
    frmBatch* b = openPicker();
    b->Dir1->setPath(mediaDir);
    QVERIFY(!b->Dir1->setPath(fx->work.filePath("gone")));
    QCOMPARE(MessageBox::takeRecorded().size(), 1);
    QCOMPARE(b->Dir1->path(), QDir::toNativeSeparators(mediaDir));
    QCOMPARE(b->File1->path(), QDir::toNativeSeparators(mediaDir));
    QCOMPARE(b->lbltotal->text(), QStringLiteral("1"));

    // A drive that cannot be read is reported and the previous one stays chosen.
    const QString before = b->Drive1->drive();
    b->Drive1->addItem(QDir::toNativeSeparators(fx->work.filePath("lost")));
    QVERIFY(b->Drive1->setDrive(fx->work.filePath("lost")));
    QCOMPARE(MessageBox::takeRecorded().size(), 1);
    QCOMPARE(b->Drive1->drive(), before);
    QCOMPARE(b->Dir1->path(), QDir::toNativeSeparators(mediaDir));

    // Another drive opens its root in both lists.
    for (const QString& root : b->Drive1->drives()) {
        if (root == before || !DirList::whyUnreadable(root).isEmpty())
            continue;
        QVERIFY(b->Drive1->setDrive(root));
        QCOMPARE(b->Dir1->path(), root);
        QCOMPARE(b->File1->path(), root);
        QCOMPARE(b->Drive1->drive(), root);
        break;
    }
}

void TestBatch::buttonAndMenuShowOnePicker() {
    frmBatch* b = openPicker();
    b->hide();
    f->dobatch->trigger();
    QVERIFY(b->isVisible());
    QCOMPARE(Program::get().frmBatchWindow(), b);
    QCOMPARE(f->findChildren<QAction*>("dobatch").size(), 1);
    QCOMPARE(f->CMNDBatch->toolTip(), QStringLiteral("Create multiple GCD's at once."));
}

void TestBatch::continueThenCancelDiscardsBoth() {
    const QString a = media("a.mid", "x");
    frmBatchSet* s = continueWith({a});
    frmBatch* b = Program::get().frmBatchWindow();
    QVERIFY(s->isVisible());
    QVERIFY(!b->isVisible());
    QCOMPARE(s->windowTitle(), QStringLiteral("Batch Settings"));
    click(s->Command2);
    QVERIFY(!Program::get().exists<frmBatchSet>());
    QVERIFY(!Program::get().exists<frmBatch>());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    b = openPicker();
    QCOMPARE(b->listFiles->count(), 0);
    QCOMPARE(b->lbltot->text(), QStringLiteral("0"));
}

void TestBatch::closingSettingsKeepsPicker() {
    const QString a = media("a.mid", "x");
    frmBatchSet* s = continueWith({a});
    s->close();
    QVERIFY(!Program::get().exists<frmBatchSet>());
    QVERIFY(Program::get().exists<frmBatch>());
    frmBatch* b = openPicker();
    QCOMPARE(b->listFiles->count(), 1);
    QVERIFY(b->Command1->isEnabled());
}

void TestBatch::settingsStartFromMainWindow() {
    setMain(saveDir, "1.0", "Vend", "http://host/wap/");
    frmBatchSet* s = continueWith({media("a.mid", "x")});
    QCOMPARE(s->txtsave->text(), saveDir);
    QCOMPARE(s->txtVersion->text(), QStringLiteral("1.0"));
    QCOMPARE(s->txtVendor->text(), QStringLiteral("Vend"));
    QCOMPARE(s->txtURL->text(), QStringLiteral("http://host/wap/"));
    QCOMPARE(s->chkBlankline->value(), 0);
    QCOMPARE(s->chkBlankline->text(), QStringLiteral("Make 1st Line Blank for Compatibility."));
    QCOMPARE(s->cmndRun->text(), QStringLiteral("Run Batch!"));
    QVERIFY(s->cmndRun->font().bold());
    QCOMPARE(s->Command3->text(), QStringLiteral("Load Defaults"));
    QVERIFY(!s->cmndRun->autoDefault());
}

void TestBatch::runThreeEntries() {
    const QString a = media("alpha.mid", "12345");
    const QString b = media("beta.png", QByteArray(300, 'p'));
    const QString c = media("gamma.jpg", QByteArray(4096, 'j'));
    setMain("x", "x", "x", "x");
    frmBatchSet* s = continueWith({a, b, c});
    s->txtsave->setText(saveDir);
    s->txtVersion->setText("2.0");
    s->txtVendor->setText("Orlwick");
    s->txtURL->setText("http://example.com/wap/tone");
    const int before = f->lblstat->count();
    click(s->cmndRun);

    QVERIFY(!s->isVisible());
    QVERIFY(!Program::get().frmBatchWindow()->isVisible());
    const QString url = "http://example.com/wap/tone";
    QCOMPARE(readFile(saveDir + "/alpha.gcd"),
             descriptor("audio/midi", "alpha", "2.0", "Orlwick", url, 5));
    QCOMPARE(readFile(saveDir + "/beta.gcd"),
             descriptor("image/png", "beta", "2.0", "Orlwick", url, 300));
    QCOMPARE(readFile(saveDir + "/gamma.gcd"),
             descriptor("image/jpeg", "gamma", "2.0", "Orlwick", url, 4096));
    QCOMPARE(QDir(saveDir).entryList(QDir::Files | QDir::Hidden).size(), 3);

    const QStringList log = logLines(f);
    const QString gcd = QDir::toNativeSeparators(saveDir) + QDir::separator() + "gamma.gcd";
    QCOMPARE(log.mid(0, 9),
             (QStringList{kHashes, completeLine(3), kHashes, kSeparator,
                          "GCD File Created at: " + gcd, kSeparator, "Content-Name: gamma.jpg",
                          "image/jpeg Content-Type Auto Selected.", kSeparator}));
    QCOMPARE(log.mid(log.size() - 4),
             (QStringList{"File Size:5", "File Size:300", "File Size:4096", " "}));
    QCOMPARE(log.size(), before + 3 * 6 + 4);

    // The main window is left with the last entry, ready to make it again.
    QCOMPARE(f->txtsave->text(), saveDir);
    QCOMPARE(f->txtVersion->text(), QStringLiteral("2.0"));
    QCOMPARE(f->txtVendor->text(), QStringLiteral("Orlwick"));
    QCOMPARE(f->txtURL->text(), url);
    QCOMPARE(f->txtname->text(), QStringLiteral("gamma"));
    QCOMPARE(f->txtname->displayText(), QStringLiteral("gamma"));
    QCOMPARE(f->txtURL->displayText(), url);
    QCOMPARE(f->lblsize->text(), QStringLiteral("4096"));
    QCOMPARE(f->lbltype->text(), QStringLiteral("image/jpeg"));
    QCOMPARE(session().selectedFilePath, QDir::toNativeSeparators(c));
    QCOMPARE(session().selectedFileName, QStringLiteral("gamma.jpg"));
    QCOMPARE(session().batchPosition, 3);
    QCOMPARE(session().batchCount, 3);
    QVERIFY(f->cmndmake->isEnabled());
    QVERIFY(f->F3->isEnabled());
    QVERIFY(!QFile::exists(fx->appDir.filePath("config.cfg")));
}

void TestBatch::runZeroEntries() {
    const QString a = media("a.mid", "x");
    frmBatch* b = openPicker();
    b->Dir1->setPath(mediaDir);
    b->File1->setCurrentRow(0);
    click(b->CMNDAdd);
    b->listFiles->setCurrentRow(0);
    click(b->Command3);
    click(b->Command1);
    frmBatchSet* s = Program::get().frmBatchSetWindow();
    s->txtsave->setText(saveDir);
    s->txtVendor->setText("V");
    click(s->cmndRun);

    QCOMPARE(f->txtsave->text(), saveDir);
    QCOMPARE(f->txtVendor->text(), QStringLiteral("V"));
    QVERIFY(QDir(saveDir).isEmpty());
    QVERIFY(!f->cmndmake->isEnabled());
    const QStringList log = logLines(f);
    QCOMPARE(log.mid(0, 3), (QStringList{kHashes, completeLine(0), kHashes}));
    QCOMPARE(log.last(), QStringLiteral(" "));
    QCOMPARE(log.size(), 5);
}

void TestBatch::runDuplicateAndSameNames() {
    const QString one = media("song.mid", "1", "one");
    const QString two = media("song.mid", "22", "two");
    const QString png = media("song.png", "333", "two");
    frmBatchSet* s = continueWith({one, one, two});
    s->txtsave->setText(saveDir);
    click(s->cmndRun);
    // The later entry of the same name replaced the earlier descriptor.
    QCOMPARE(readFile(saveDir + "/song.gcd"), descriptor("audio/midi", "song", "", "", "", 2));
    QCOMPARE(QDir(saveDir).entryList(QDir::Files | QDir::Hidden), QStringList{"song.gcd"});
    QStringList log = logLines(f);
    QCOMPARE(log.at(1), completeLine(3));
    QCOMPARE(log.filter("GCD File Created at: ").size(), 3);

    // Same name, other extension: the picture's descriptor replaces the tone's.
    frmBatch* b = openPicker();
    click(b->Command5);
    b->Dir1->setPath(fx->work.filePath("two"));
    click(b->Command4);
    QCOMPARE(b->listFiles->count(), 2);
    click(b->Command1);
    click(s->cmndRun);
    QCOMPARE(readFile(saveDir + "/song.gcd"), descriptor("image/png", "song", "", "", "", 3));
    QCOMPARE(logLines(f).at(1), completeLine(2));
    Q_UNUSED(png);
}

void TestBatch::missingFileInTheMiddle() {
    const QString a = media("a.mid", "1");
    const QString b = media("b.mid", "22");
    const QString c = media("c.png", "333");
    frmBatchSet* s = continueWith({a, b, c});
    s->txtsave->setText(saveDir);
    QVERIFY(QFile::remove(b));
    click(s->cmndRun);

    QCOMPARE(readFile(saveDir + "/a.gcd"), descriptor("audio/midi", "a", "", "", "", 1));
    QCOMPARE(readFile(saveDir + "/c.gcd"), descriptor("image/png", "c", "", "", "", 3));
    QVERIFY(!QFile::exists(saveDir + "/b.gcd"));
    const QStringList log = logLines(f);
    const QStringList failures = log.filter("Could not process ");
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures[0].startsWith("Could not process " + QDir::toNativeSeparators(b) + ": "),
             qPrintable(failures[0]));
    QVERIFY2(failures[0].contains("does not exist"), qPrintable(failures[0]));
    // The failure line stands among b's lines, below c's and above a's.
    const int failAt = log.indexOf(failures[0]);
    QVERIFY(failAt > log.indexOf("Content-Name: c.png"));
    QVERIFY(failAt < log.indexOf("Content-Name: a.mid"));
    QCOMPARE(log.mid(0, 3), (QStringList{kHashes, completeLine(3), kHashes}));
    QCOMPARE(log.filter("File Size:").size(), 2);

    // The program stays usable: Make writes the last entry again.
    QVERIFY(QFile::remove(saveDir + "/c.gcd"));
    click(f->cmndmake);
    QVERIFY(QFile::exists(saveDir + "/c.gcd"));
}

void TestBatch::missingSaveFolderLogsEveryEntry() {
    const QString a = media("a.mid", "1");
    const QString b = media("b.mid", "22");
    frmBatchSet* s = continueWith({a, b});
    s->txtsave->setText(fx->work.filePath("nowhere"));
    click(s->cmndRun);
    const QStringList log = logLines(f);
    const QStringList failures = log.filter("Could not process ");
    QCOMPARE(failures.size(), 2);
    QVERIFY(failures[0].contains(QDir::toNativeSeparators(b)));
    QVERIFY(failures[1].contains(QDir::toNativeSeparators(a)));
    QVERIFY2(failures[0].contains(fx->work.filePath("nowhere")), qPrintable(failures[0]));
    QCOMPARE(log.filter("GCD File Created at: ").size(), 0);
    QCOMPARE(log.at(1), completeLine(2));
}

void TestBatch::lineBreakNameIsRefused() {
    const QString a = media("a.mid", "1");
    const QString evil = media("evil\r\nContent-Size: 1\r\nx.mid", "22");
    const QString c = media("c.png", "333");
    frmBatchSet* s = continueWith({a, evil, c});
    s->txtsave->setText(saveDir);
    click(s->cmndRun);
    QCOMPARE(readFile(saveDir + "/a.gcd"), descriptor("audio/midi", "a", "", "", "", 1));
    QCOMPARE(readFile(saveDir + "/c.gcd"), descriptor("image/png", "c", "", "", "", 3));
    QCOMPARE(QDir(saveDir).entryList(QDir::Files | QDir::Hidden).size(), 2);
    const QStringList failures = logLines(f).filter("Could not process ");
    QCOMPARE(failures.size(), 1);
    QCOMPARE(failures[0], "Could not process " + evil + ": the file name holds a line break.");
    QCOMPARE(logLines(f).at(1), completeLine(3));
}

void TestBatch::shortNameIsLogged() {
    const QString shortName = media("abc", "1");
    const QString ok = media("ok.png", "22");
    frmBatchSet* s = continueWith({shortName, ok});
    s->txtsave->setText(saveDir);
    click(s->cmndRun);
    QCOMPARE(QDir(saveDir).entryList(QDir::Files | QDir::Hidden), QStringList{"ok.gcd"});
    const QStringList failures = logLines(f).filter("Could not process ");
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures[0].startsWith("Could not process " + QDir::toNativeSeparators(shortName)),
             qPrintable(failures[0]));
    QVERIFY2(failures[0].contains("shorter than four"), qPrintable(failures[0]));
    QCOMPARE(logLines(f).at(1), completeLine(2));
}

void TestBatch::autoUrlUneditedFollowsEachFile() {
    const QString a = media("ring.mid", "1");
    const QString b = media("pic.png", "22");
    setMain(saveDir, "1", "V", "http://host/wap");
    click(f->CMNDURL);
    click(Program::get().frmGetURL()->CMNDOK);
    QVERIFY(session().autoUrlActive);
    frmBatchSet* s = continueWith({a, b});
    QCOMPARE(s->txtURL->text(), QStringLiteral("http://host/wap/"));
    click(s->cmndRun);
    QVERIFY(session().autoUrlActive);
    QCOMPARE(readFile(saveDir + "/ring.gcd"),
             descriptor("audio/midi", "ring", "1", "V", "http://host/wap/ring.mid", 1));
    QCOMPARE(readFile(saveDir + "/pic.gcd"),
             descriptor("image/png", "pic", "1", "V", "http://host/wap/pic.png", 2));
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://host/wap/pic.png"));
    QCOMPARE(f->txtURL->displayText(), QStringLiteral("http://host/wap/pic.png"));
    QCOMPARE(f->txtURL->background(), QColor(0, 192, 0));
}

void TestBatch::autoUrlEditedSwitchesOff() {
    const QString a = media("ring.mid", "1");
    const QString b = media("pic.png", "22");
    setMain(saveDir, "1", "V", "http://host/wap/");
    click(f->CMNDURL);
    click(Program::get().frmGetURL()->CMNDOK);
    frmBatchSet* s = continueWith({a, b});
    s->txtURL->setText("http://other/x.mid");
    click(s->cmndRun);
    QVERIFY(!session().autoUrlActive);
    QCOMPARE(f->txtURL->background(), QColor(255, 255, 255));
    QCOMPARE(readFile(saveDir + "/ring.gcd"),
             descriptor("audio/midi", "ring", "1", "V", "http://other/x.mid", 1));
    QCOMPARE(readFile(saveDir + "/pic.gcd"),
             descriptor("image/png", "pic", "1", "V", "http://other/x.mid", 2));
}

void TestBatch::blankLineBoxDecides() {
    const QString a = media("a.mid", "1");
    setMain(saveDir, "", "", "");
    frmBatchSet* s = continueWith({a});
    QTest::mouseClick(s->chkBlankline, Qt::LeftButton);
    QCOMPARE(s->chkBlankline->value(), 1);
    QCOMPARE(session().blankLine, QStringLiteral("1"));
    // "Cancel" copies nothing, but the setting already follows the box.
    click(s->Command2);
    QCOMPARE(f->chkBlankline->value(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    s = continueWith({a});
    QCOMPARE(s->chkBlankline->value(), 1);
    click(s->cmndRun);
    QCOMPARE(f->chkBlankline->value(), 1);
    QCOMPARE(readFile(saveDir + "/a.gcd"), descriptor("audio/midi", "a", "", "", "", 1, true));
}

void TestBatch::oddBlankLineSettingCountsAsClear() {
    // A first config line such as "01" is not "1": every window reads it as clear.
    for (const char* line : {"01", "+1", " 2x", "yes"}) {
        session().blankLine = QString::fromLatin1(line);
        frmBatchSet* s = fx->program->frmBatchSetWindow();
        QVERIFY2(s->chkBlankline->value() == 0, line);
        fx->program->unload(s);
    }
    session().blankLine = QStringLiteral(" 2 ");
    QCOMPARE(fx->program->frmBatchSetWindow()->chkBlankline->value(), 2);
}

void TestBatch::windowsReappearWithOldValues() {
    const QString a = media("a.mid", "1");
    const QString b = media("b.png", "22");
    setMain(saveDir, "1.0", "V", "u");
    frmBatchSet* s = continueWith({a, b});
    s->txtVersion->setText("9.9");
    click(s->cmndRun);

    setMain("elsewhere", "3", "W", "other");
    frmBatch* picker = openPicker();
    QVERIFY(picker->isVisible());
    QCOMPARE(entries(picker),
             (QStringList{QDir::toNativeSeparators(a), QDir::toNativeSeparators(b)}));
    QCOMPARE(picker->lbltot->text(), QStringLiteral("2"));
    QVERIFY(picker->Command1->isEnabled());
    click(picker->Command1);
    QCOMPARE(Program::get().frmBatchSetWindow(), s);
    QVERIFY(s->isVisible());
    QCOMPARE(s->txtsave->text(), saveDir);
    QCOMPARE(s->txtVersion->text(), QStringLiteral("9.9"));
    QCOMPARE(s->txtVendor->text(), QStringLiteral("V"));
    QCOMPARE(s->txtURL->text(), QStringLiteral("u"));

    // After "Cancel" a new settings window takes the main window's values.
    click(s->Command2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    s = continueWith({a});
    QCOMPARE(s->txtsave->text(), QStringLiteral("elsewhere"));
    QCOMPARE(s->txtVersion->text(), QStringLiteral("3"));
}

void TestBatch::browseClearsBusyFlag() {
    frmBatchSet* s = continueWith({media("a.mid", "1")});
    session().autoUrlBusy = true;
    click(s->Cmndbrowse);
    QVERIFY(!session().autoUrlBusy);
    QVERIFY(Program::get().exists<Form2>());
}

void TestBatch::loadDefaultsCopiesConfiguration() {
    const QString a = media("ring.mid", "1");
    setMain("old", "0.1", "Old", "http://old/");
    frmBatchSet* s = continueWith({a});
    s->txtVersion->setText("edited");

    // Before any file was chosen the URL is the default URL with "/" appended.
    writeFile(fx->appDir.filePath("config.cfg"),
              "1\r\n" + saveDir.toUtf8() + "\r\nhttp://host/tones\r\nAcme\r\n2.5\r\n");
    click(s->Command3);
    QCOMPARE(s->txtsave->text(), saveDir);
    QCOMPARE(s->txtVersion->text(), QStringLiteral("2.5"));
    QCOMPARE(s->txtVendor->text(), QStringLiteral("Acme"));
    QCOMPARE(s->txtURL->text(), QStringLiteral("http://host/tones/"));
    QCOMPARE(logLines(f).first(), QStringLiteral("Tessavane Configuration file Loaded."));
    // The batch window's own box stays as it was; the main window's follows the file.
    QCOMPARE(s->chkBlankline->value(), 0);
    QCOMPARE(f->chkBlankline->value(), 1);

    // The run: the box of the batch window decides, Auto URL names each file.
    click(s->cmndRun);
    QCOMPARE(readFile(saveDir + "/ring.gcd"),
             descriptor("audio/midi", "ring", "2.5", "Acme", "http://host/tones/ring.mid", 1));
    QCOMPARE(f->chkBlankline->value(), 0);

    // With a file chosen, the URL shows base + that file's name.
    click(openPicker()->Command1);
    click(s->Command3);
    QCOMPARE(s->txtURL->text(), QStringLiteral("http://host/tones/ring.mid"));
    QCOMPARE(f->txtURL->background(), QColor(0, 192, 0));
}

void TestBatch::loadDefaultsOnShortFile() {
    setMain("keep", "1", "V", "u");
    frmBatchSet* s = continueWith({media("a.mid", "1")});
    s->txtsave->setText("typed");
    writeFile(fx->appDir.filePath("config.cfg"), "0\r\nelsewhere\r\n");
    click(s->Command3);
    const QStringList shown = MessageBox::takeRecorded();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains("seems to be corrupt"), qPrintable(shown[0]));
    QVERIFY(Program::get().frmOptSet()->isVisible());
    // The main window is unchanged, and the batch window takes its values.
    QCOMPARE(f->txtsave->text(), QStringLiteral("keep"));
    QCOMPARE(s->txtsave->text(), QStringLiteral("keep"));
    QCOMPARE(s->txtURL->text(), QStringLiteral("u"));
}

void TestBatch::chooserFillsBatchWindow() {
    frmBatchSet* s = continueWith({media("a.mid", "1")});
    click(s->Cmndbrowse);
    Form2* chooser = Program::get().form2();
    QVERIFY(chooser->isVisible());
    QVERIFY(chooser->Dir1->setPath(saveDir));
    click(chooser->CMNDOK);
    const QString folder = QDir::toNativeSeparators(saveDir);
    QCOMPARE(s->txtsave->text(), folder);
    QCOMPARE(f->txtsave->text(), folder);
    QCOMPARE(logLines(f).first(), "Will Save GCD's to:" + folder);

    // Chosen for the options window, the folder leaves the batch window alone.
    click(Program::get().frmOptSet()->Cmndbrowse);
    chooser = Program::get().form2();
    QVERIFY(chooser->Dir1->setPath(mediaDir));
    click(chooser->CMNDOK);
    QCOMPARE(s->txtsave->text(), folder);
    QCOMPARE(Program::get().frmOptSet()->txtGCD->text(), QDir::toNativeSeparators(mediaDir));

    // The run writes into the chosen folder.
    click(s->cmndRun);
    QVERIFY(QFile::exists(saveDir + "/a.gcd"));
}

void TestBatch::chooserCreatesHiddenBatchWindow() {
    setMain("main", "1", "V", "u");
    click(f->Cmndbrowse);
    Form2* chooser = Program::get().form2();
    QVERIFY(chooser->Dir1->setPath(saveDir));
    click(chooser->CMNDOK);
    QVERIFY(Program::get().exists<frmBatchSet>());
    frmBatchSet* s = Program::get().frmBatchSetWindow();
    QVERIFY(!s->isVisible());
    // Created from the main window's fields, then given the folder.
    QCOMPARE(s->txtsave->text(), QDir::toNativeSeparators(saveDir));
    QCOMPARE(s->txtVendor->text(), QStringLiteral("V"));

    // "Continue..." shows that window as it is.
    setMain("later", "2", "W", "x");
    QCOMPARE(continueWith({media("a.mid", "1")}), s);
    QVERIFY(s->isVisible());
    QCOMPARE(s->txtsave->text(), QDir::toNativeSeparators(saveDir));
    QCOMPARE(s->txtVendor->text(), QStringLiteral("V"));
}

QTEST_MAIN(TestBatch)
#include "tst_batch.moc"
