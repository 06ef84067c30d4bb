#include "SecondUser.h"
#include "TestSupport.h"

#include "batch/frmBatchSet.h"
#include "config/ConfigLoadandSave.h"
#include "config/Form2.h"
#include "config/FrmOptSet.h"
#include "engine/ConfigFile.h"
#include "platform/Controls.h"
#include "platform/DirList.h"
#include "platform/DriveList.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tess;
using namespace tess::test;

namespace {
const QColor kGreen(0, 192, 0);
const QColor kWhite(255, 255, 255);
const QString kLoaded = QStringLiteral("Tessavane Configuration file Loaded.");
const QString kSaved = QStringLiteral("Tessavane Configuration file Saved.");
const QString kStarted = QStringLiteral("Orlwick's Tessavane v1.1.0 Started!");
const QByteArray kConfig = "1\r\nC:\\web\r\nhttp://x.example/wap/\r\nAcme\r\n2.0\r\n";
} // namespace

class TestConfig : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void firstStartWithoutFile();
    void startWithFileLoadsIt();
    void saveThenLoadRoundTrip_data();
    void saveThenLoadRoundTrip();
    void saveSettingsWithSelectedFileAndAutoUrl();
    void completeFiles_data();
    void completeFiles();
    void grayedFirstLine();
    void linesAfterTheFifthGoneAfterSave();
    void threeLineFile();
    void emptyFileAtStart();
    void fifoAtStart();
    void unreadableFileChangesNothing();
    void failedSaveKeepsOldFile();
    void gigabyteFileLoads();
    void lineBreakInAValueIsNotSaved();
    void pastedTextKeepsOneLine();
    void saveIntoMissingFolder();
    void saveIntoReadOnlyFolder();
    void plantedLinkIsReplacedOnSave();
    void userFolderWhenAppFolderReadOnly();
    void besideWhenAppFolderWritable();
    void optionsWindowControls();
    void openingShowsHiddenWindowUnfilled();
    void cancelKeepsBlankLineClick();
    void chooserTargetFollowsBusyFlag();
    void fileSelectionRedirectsOpenChooser();
    void chooserIntoClosedOptionsWindow();
    void chooserLists();

private:
    void start(const std::optional<QByteArray>& config = std::nullopt);
    void restart();
    QString cfg() const { return fx->appDir.filePath(QStringLiteral("config.cfg")); }
    void openFile(const QString& name);
    FrmOptSet* openOptions();
    Form2* browseFromOptions();
    std::unique_ptr<ProgramFixture> fx;
    Form1* f = nullptr;
};

void TestConfig::init() {
    fx = std::make_unique<ProgramFixture>();
}

void TestConfig::cleanup() {
    qunsetenv("XDG_CONFIG_HOME");
    fx.reset();
    f = nullptr;
    QCOMPARE(MessageBox::takeRecorded(), QStringList());
}

void TestConfig::start(const std::optional<QByteArray>& config) {
    if (config)
        writeFile(cfg(), *config);
    f = fx->form1();
    f->show();
}

// A new run of the program in the same application folder.
void TestConfig::restart() {
    fx->program.reset();
    fx->program = std::make_unique<Program>();
    f = fx->program->form1();
    f->show();
}

void TestConfig::openFile(const QString& name) {
    FileDialog::setNextFileName(writeFile(fx->work.filePath(name), "data"));
    click(f->cmndgcd);
}

FrmOptSet* TestConfig::openOptions() {
    f->mnuopt->trigger();
    FrmOptSet* o = fx->program->frmOptSet();
    [&] { QVERIFY(o->isVisible()); }();
    return o;
}

Form2* TestConfig::browseFromOptions() {
    click(openOptions()->Cmndbrowse);
    Form2* chooser = fx->program->form2();
    [&] {
        QVERIFY(chooser->isVisible());
        QVERIFY(fx->program->session().autoUrlBusy);
    }();
    return chooser;
}

void TestConfig::firstStartWithoutFile() {
    bool hiddenDuringMessage = false;
    MessageBox::setNextHook([&] {
        hiddenDuringMessage =
            !fx->program->form1()->isVisible() && !fx->program->exists<FrmOptSet>();
    });
    f = fx->program->form1();
    QCOMPARE(MessageBox::takeRecorded(),
             QStringList{"The Configuration File could not be found. Either this is your first "
                         "time using Tessavane or the file is missing/corrupt. Opening the "
                         "configuration window..."});
    QVERIFY(hiddenDuringMessage);
    QVERIFY(f->tmroptset->isActive());
    QCOMPARE(f->tmroptset->interval(), 50);
    QVERIFY(!fx->program->exists<FrmOptSet>());
    showWindow(f);
    QTRY_VERIFY(fx->program->exists<FrmOptSet>() && fx->program->frmOptSet()->isVisible());
    QVERIFY(!f->tmroptset->isActive());
    QCOMPARE(logLines(f), QStringList{kStarted});
    QVERIFY(f->txtsave->text().isEmpty() && f->txtURL->text().isEmpty());
    QVERIFY(!fx->program->session().autoUrlActive);
    FrmOptSet* o = fx->program->frmOptSet();
    QCOMPARE(o->chkBlankline->value(), 0);
    QVERIFY(o->txtGCD->text().isEmpty() && o->txtURL->text().isEmpty() &&
            o->txtVendor->text().isEmpty() && o->txtVersion->text().isEmpty());
}

void TestConfig::startWithFileLoadsIt() {
    start(kConfig);
    QCOMPARE(logLines(f), (QStringList{kLoaded, kStarted}));
    QVERIFY(!f->tmroptset->isActive());
    QCOMPARE(f->txtsave->text(), QStringLiteral("C:\\web"));
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://x.example/wap/"));
    QCOMPARE(f->txtURL->background(), kGreen);
    QCOMPARE(f->txtVendor->text(), QStringLiteral("Acme"));
    QCOMPARE(f->txtVersion->text(), QStringLiteral("2.0"));
    QCOMPARE(f->chkBlankline->value(), 1);
    // The options window was made, hidden, to carry the check box.
    QVERIFY(fx->program->exists<FrmOptSet>());
    QVERIFY(!fx->program->frmOptSet()->isVisible());
    QCOMPARE(fx->program->frmOptSet()->chkBlankline->value(), 1);
}

void TestConfig::saveThenLoadRoundTrip_data() {
    QTest::addColumn<bool>("blank");
    QTest::addColumn<QString>("url");
    QTest::newRow("ticked, URL with slash") << true << "http://x.example/wap/midi/";
    QTest::newRow("clear, URL without slash") << false << "http://x.example/wap/midi";
}

void TestConfig::saveThenLoadRoundTrip() {
    QFETCH(bool, blank);
    QFETCH(QString, url);
    const QString folder = QStringLiteral("C:\\Program Files\\Web Server\\Pages\\");
    const QString vendor = QStringLiteral(" Acme  Tones ");
    const QString version = QString(40000, QLatin1Char('9')); // beyond QLineEdit's default cap
    const QString base = url.endsWith(QLatin1Char('/')) ? url : url + QLatin1Char('/');
    start();
    FrmOptSet* o = openOptions();
    if (blank) {
        click(o->chkBlankline);
        QCOMPARE(fx->program->session().blankLine, QStringLiteral("1"));
    }
    QTest::keyClicks(o->txtGCD, folder);
    o->txtURL->setText(url);
    o->txtVendor->setText(vendor);
    o->txtVersion->setText(version);
    QCOMPARE(o->txtVersion->text().size(), 40000);
    click(o->CMNDOK);

    const QByteArray expected = QByteArray(blank ? "1" : "0") + "\r\n" + folder.toLocal8Bit() +
                                "\r\n" + url.toLocal8Bit() + "\r\n" + vendor.toLocal8Bit() +
                                "\r\n" + version.toLocal8Bit() + "\r\n";
    QCOMPARE(readFile(cfg()), expected);
    QCOMPARE(logLines(f), (QStringList{kLoaded, kSaved, kStarted}));
    QVERIFY(!fx->program->exists<FrmOptSet>());
    QCOMPARE(f->chkBlankline->value(), blank ? 1 : 0);
    QCOMPARE(f->txtsave->text(), folder);
    QCOMPARE(f->txtVendor->text(), vendor);
    QCOMPARE(f->txtVersion->text(), version);
    // The copy of the raw default URL after saving: unchanged text keeps the mode on.
    QCOMPARE(f->txtURL->text(), url);
    QCOMPARE(fx->program->session().autoUrlActive, url == base);
    QCOMPARE(f->txtURL->background(), url == base ? kGreen : kWhite);
    QCOMPARE(fx->program->session().autoUrlBase, base);

    // Saving again without changes writes the same bytes.
    click(openOptions()->CMNDOK);
    QCOMPARE(readFile(cfg()), expected);

    // The next run of the program finds its defaults again.
    restart();
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QCOMPARE(logLines(f), (QStringList{kLoaded, kStarted}));
    QCOMPARE(f->chkBlankline->value(), blank ? 1 : 0);
    QCOMPARE(f->txtsave->text(), folder);
    QCOMPARE(f->txtURL->text(), base);
    QCOMPARE(f->txtURL->background(), kGreen);
    QCOMPARE(f->txtVendor->text(), vendor);
    QCOMPARE(f->txtVersion->text(), version);
    const Session& s = fx->program->session();
    QCOMPARE(s.defaultSaveFolder, folder);
    QCOMPARE(s.defaultUrl, url);
    QCOMPARE(s.defaultVendor, vendor);
    QCOMPARE(s.defaultVersion, version);
    o = openOptions();
    QCOMPARE(o->chkBlankline->value(), blank ? 1 : 0);
    QCOMPARE(o->txtGCD->text(), folder);
    QCOMPARE(o->txtURL->text(), url);
}

void TestConfig::saveSettingsWithSelectedFileAndAutoUrl() {
    start(kConfig);
    openFile(QStringLiteral("song.mid"));
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://x.example/wap/song.mid"));
    QCOMPARE(f->txtURL->background(), kGreen);
    // Load Defaults keeps the file name on the URL.
    f->txtURL->setText(QStringLiteral("typed"));
    click(f->CMNDDefaults);
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://x.example/wap/song.mid"));
    QCOMPARE(f->txtURL->background(), kGreen);

    click(openOptions()->CMNDOK);
    QCOMPARE(readFile(cfg()), kConfig);
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://x.example/wap/"));
    QCOMPARE(f->txtURL->background(), kWhite);
    QVERIFY(!fx->program->session().autoUrlActive);
    QCOMPARE(logLines(f).mid(0, 2), (QStringList{kLoaded, kSaved}));
}

void TestConfig::completeFiles_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("fields"); // save folder, URL box, vendor, version
    QTest::addColumn<int>("blank");
    QTest::newRow("lines 2 to 5 empty")
        << QByteArray("1\r\n\r\n\r\n\r\n\r\n") << QStringList{"", "/song.mid", "", ""} << 1;
    QTest::newRow("no line end after line 5")
        << QByteArray("0\r\nA\r\nhttp://u\r\nC\r\nD")
        << QStringList{"A", "http://u/song.mid", "C", "D"} << 0;
    QTest::newRow("LF only, blanks around 1")
        << QByteArray(" 1 \nA\nhttp://u/\nC\nD\n")
        << QStringList{"A", "http://u/song.mid", "C", "D"} << 1;
    QTest::newRow("first line not a number") << QByteArray("yes\r\nA\r\nB\r\nC\r\nD\r\n")
                                             << QStringList{"A", "B/song.mid", "C", "D"} << 0;
}

void TestConfig::completeFiles() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, fields);
    QFETCH(int, blank);
    start();
    openFile(QStringLiteral("song.mid"));
    f->chkBlankline->setValue(blank == 1 ? 0 : 1);
    writeFile(cfg(), bytes);
    click(f->CMNDDefaults);
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QCOMPARE(logLines(f).first(), kLoaded);
    QCOMPARE((QStringList{f->txtsave->text(), f->txtURL->text(), f->txtVendor->text(),
                          f->txtVersion->text()}),
             fields);
    QCOMPARE(f->txtURL->background(), kGreen);
    QVERIFY(fx->program->session().autoUrlActive);
    QCOMPARE(f->chkBlankline->value(), blank);
    QCOMPARE(fx->program->frmOptSet()->chkBlankline->value(), blank);
    QVERIFY(!fx->program->frmOptSet()->isVisible());
}

void TestConfig::grayedFirstLine() {
    start("2\r\nA\r\nB\r\nC\r\nD\r\n");
    QCOMPARE(f->chkBlankline->value(), 2);
    FrmOptSet* o = openOptions();
    QCOMPARE(o->chkBlankline->value(), 2);
    // Grayed is not ticked: the descriptor gets no blank line.
    openFile(QStringLiteral("song.mid"));
    f->txtsave->setText(fx->work.path());
    click(f->cmndmake);
    QVERIFY(readFile(fx->work.filePath(QStringLiteral("song.gcd"))).startsWith("Content-Type"));
    // Saved as it stands.
    click(o->CMNDOK);
    QCOMPARE(readFile(cfg()), QByteArray("2\r\nA\r\nB\r\nC\r\nD\r\n"));
    QCOMPARE(f->chkBlankline->value(), 2);
}

void TestConfig::linesAfterTheFifthGoneAfterSave() {
    start("0\r\nA\r\nB\r\nC\r\nD\r\nsixth\r\nseventh");
    QCOMPARE(f->txtVersion->text(), QStringLiteral("D"));
    QCOMPARE(logLines(f), (QStringList{kLoaded, kStarted}));
    click(openOptions()->CMNDOK);
    QCOMPARE(readFile(cfg()), QByteArray("0\r\nA\r\nB\r\nC\r\nD\r\n"));
}

void TestConfig::threeLineFile() {
    start(kConfig);
    // Closed, so that the short load creates it afresh from the values.
    fx->program->unload(fx->program->frmOptSet());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    writeFile(cfg(), "0\r\nD:\\other\r\nhttp://b");
    openFile(QStringLiteral("song.mid"));
    const QStringList before{f->txtsave->text(), f->txtURL->text(), f->txtVendor->text(),
                             f->txtVersion->text()};
    click(f->CMNDDefaults);
    QCOMPARE(MessageBox::takeRecorded(),
             QStringList{"The Configuration file at " + cfg() +
                         " seems to be corrupt. Going to the options screen..."});
    const Session& s = fx->program->session();
    QCOMPARE(s.blankLine, QStringLiteral("0"));
    QCOMPARE(s.defaultSaveFolder, QStringLiteral("D:\\other"));
    QCOMPARE(s.defaultUrl, QStringLiteral("http://b"));
    QCOMPARE(s.defaultVendor, QStringLiteral("Acme"));
    QCOMPARE(s.defaultVersion, QStringLiteral("2.0"));
    // The main window is untouched and Auto URL ReNaming stays as it was.
    QCOMPARE((QStringList{f->txtsave->text(), f->txtURL->text(), f->txtVendor->text(),
                          f->txtVersion->text()}),
             before);
    QCOMPARE(f->chkBlankline->value(), 1);
    QVERIFY(s.autoUrlActive);
    QCOMPARE(logLines(f).first(), kLoaded);
    FrmOptSet* o = fx->program->frmOptSet();
    QVERIFY(o->isVisible());
    QCOMPARE(o->chkBlankline->value(), 0);
    QCOMPARE(o->txtGCD->text(), QStringLiteral("D:\\other"));
    QCOMPARE(o->txtURL->text(), QStringLiteral("http://b"));
    QCOMPARE(o->txtVendor->text(), QStringLiteral("Acme"));
    QCOMPARE(o->txtVersion->text(), QStringLiteral("2.0"));
}

void TestConfig::fifoAtStart() {
    // Read plainly, a FIFO nobody writes to would hold the start for ever.
    QCOMPARE(::mkfifo(QFile::encodeName(cfg()).constData(), 0600), 0);
    f = fx->program->form1();
    QCOMPARE(MessageBox::takeRecorded(),
             QStringList{"The Configuration file at " + cfg() +
                         " could not be read (it is not a regular file). The current settings "
                         "are kept."});
    QCOMPARE(logLines(f), QStringList{kStarted});
    QVERIFY(!f->tmroptset->isActive());
    QVERIFY(!fx->program->session().autoUrlActive);
}

void TestConfig::emptyFileAtStart() {
    writeFile(cfg(), "");
    f = fx->program->form1();
    QCOMPARE(MessageBox::takeRecorded(),
             QStringList{"The Configuration file at " + cfg() +
                         " seems to be corrupt. Going to the options screen..."});
    QCOMPARE(logLines(f), (QStringList{kLoaded, kStarted}));
    QVERIFY(fx->program->frmOptSet()->isVisible());
    QVERIFY(!f->tmroptset->isActive());
    QVERIFY(f->txtURL->text().isEmpty());
    QVERIFY(!fx->program->session().autoUrlActive);
}

void TestConfig::unreadableFileChangesNothing() {
    start(kConfig);
    f->txtVendor->setText(QStringLiteral("edited"));
    const QStringList log = logLines(f);
    QVERIFY(QFile::remove(cfg()));
    f->CMNDDefaults_Click(); // the frame is still closed: no file chosen yet
    QStringList shown = MessageBox::takeRecorded();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(cfg()), qPrintable(shown[0]));
    QCOMPARE(logLines(f), log);
    QCOMPARE(f->txtVendor->text(), QStringLiteral("edited"));
    QCOMPARE(fx->program->session().defaultVendor, QStringLiteral("Acme"));

    // A folder in the file's place cannot be read either.
    QVERIFY(QDir(fx->appDir.path()).mkdir(QStringLiteral("config.cfg")));
    f->CMNDDefaults_Click();
    shown = MessageBox::takeRecorded();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(cfg()), qPrintable(shown[0]));
    QCOMPARE(logLines(f), log);
    QCOMPARE(fx->program->session().defaultUrl, QStringLiteral("http://x.example/wap/"));

    // Neither a FIFO (which would hang a plain read) nor a link to an endless device.
    QVERIFY(QDir(fx->appDir.path()).rmdir(QStringLiteral("config.cfg")));
    QCOMPARE(::mkfifo(QFile::encodeName(cfg()).constData(), 0600), 0);
    f->CMNDDefaults_Click();
    QCOMPARE(MessageBox::takeRecorded(),
             QStringList{"The Configuration file at " + cfg() +
                         " could not be read (it is not a regular file). The current settings "
                         "are kept."});
    QVERIFY(QFile::remove(cfg()));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), cfg()));
    f->CMNDDefaults_Click();
    QCOMPARE(MessageBox::takeRecorded(),
             QStringList{"The Configuration file at " + cfg() +
                         " could not be read (it is not a regular file). The current settings "
                         "are kept."});
    QCOMPARE(logLines(f), log);
    QCOMPARE(f->txtVendor->text(), QStringLiteral("edited"));
    QCOMPARE(fx->program->session().defaultVendor, QStringLiteral("Acme"));
}

void TestConfig::plantedLinkIsReplacedOnSave() {
    // The folder beside the program is open to all; another user links config.cfg
    // to a file of root's. Saving replaces the link, never that file.
    const User peer = secondUser();
    if (!peer.ok)
        QSKIP("a second user needs root");
    start(kConfig);
    QVERIFY(::chmod(QFile::encodeName(fx->appDir.path()).constData(), 0777) == 0);
    const QString precious = writeFile(fx->work.filePath(QStringLiteral("shadow")), "secret");
    QVERIFY(::chmod(QFile::encodeName(fx->work.path()).constData(), 0755) == 0);
    QVERIFY(QFile::remove(cfg()));
    QCOMPARE(runAs(peer, [&] { return QFile::link(precious, cfg()) ? 0 : 1; }), 0);
    const QStringList before = logLines(f);
    FrmOptSet* o = openOptions();
    o->txtVendor->setText(QStringLiteral("Planted"));
    click(o->CMNDOK);
    QCOMPARE(logLines(f), QStringList({kLoaded, kSaved}) + before);
    QCOMPARE(readFile(precious), QByteArray("secret"));
    QVERIFY(!QFileInfo(cfg()).isSymLink());
    QVERIFY(readFile(cfg()).contains("\r\nPlanted\r\n"));
}

void TestConfig::gigabyteFileLoads() {
    start(kConfig);
    // Sparse: a gigabyte after the five lines that counts for nothing and is never read.
    writeFile(cfg(), "0\r\nA\r\nhttp://big/\r\nBig\r\n9.9\r\n");
    QVERIFY(QFile::resize(cfg(), qint64(1) << 30));
    f->CMNDDefaults_Click(); // no file chosen yet
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QCOMPARE(logLines(f).first(), kLoaded);
    QCOMPARE(f->txtVendor->text(), QStringLiteral("Big"));
    QCOMPARE(f->txtVersion->text(), QStringLiteral("9.9"));
    QCOMPARE(f->chkBlankline->value(), 0);
    // A first line without end: the message names the file and the reason.
    writeFile(cfg(), "");
    QVERIFY(QFile::resize(cfg(), qint64(1) << 30));
    f->CMNDDefaults_Click(); // no file chosen yet
    QCOMPARE(MessageBox::takeRecorded(),
             QStringList{"The Configuration file at " + cfg() +
                         " could not be read (a line is longer than 4194304 bytes). The current "
                         "settings are kept."});
    QCOMPARE(f->txtVendor->text(), QStringLiteral("Big"));
}

void TestConfig::lineBreakInAValueIsNotSaved() {
    start(kConfig);
    const QStringList log = logLines(f);
    FrmOptSet* o = openOptions();
    // The program's own writes are not filtered; the writer is the last guard.
    for (TextBox* box : {o->txtGCD, o->txtURL, o->txtVendor, o->txtVersion}) {
        const QString kept = box->text();
        box->setText(QStringLiteral("Acme Tones\r\n"));
        click(o->CMNDOK);
        const QStringList shown = MessageBox::takeRecorded();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith("The Configuration file at " + cfg() +
                                     " could not be saved (the ") &&
                     shown[0].endsWith(" holds a line break or NUL character). The previous "
                                       "settings are kept."),
                 qPrintable(shown[0]));
        QCOMPARE(readFile(cfg()), kConfig);
        QCOMPARE(logLines(f), log);
        QVERIFY(o->isVisible());
        box->setText(kept);
    }
    o->txtVersion->setText(QStringLiteral("1.0") + QChar(0));
    click(o->CMNDOK);
    QVERIFY(
        MessageBox::takeRecorded().first().contains(QLatin1String("the Content-Version holds")));
    QCOMPARE(readFile(cfg()), kConfig);
    QCOMPARE(fx->program->session().defaultVersion, QStringLiteral("2.0"));
}

void TestConfig::failedSaveKeepsOldFile() {
    start(kConfig);
    const QStringList log = logLines(f);
    FrmOptSet* o = openOptions();
    o->txtVendor->setText(QStringLiteral("New Vendor With A Long Name"));
    click(o->chkBlankline);
    QVERIFY(withTinyFileSizeLimit([&] { click(o->CMNDOK); }));

    QCOMPARE(readFile(cfg()), kConfig);
    const QStringList shown = MessageBox::takeRecorded();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(cfg()) && shown[0].contains(QLatin1String("File too large")),
             qPrintable(shown[0]));
    QCOMPARE(logLines(f), log);
    QCOMPARE(fx->program->session().defaultVendor, QStringLiteral("Acme"));
    QCOMPARE(f->txtVendor->text(), QStringLiteral("Acme"));
    QCOMPARE(f->chkBlankline->value(), 1);
    // The window stays open with the user's edits, ready for another try.
    QVERIFY(o->isVisible());
    QCOMPARE(o->txtVendor->text(), QStringLiteral("New Vendor With A Long Name"));
    QCOMPARE(QDir(fx->appDir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"config.cfg"});
}

void TestConfig::saveIntoMissingFolder() {
    // A folder that does not exist is not ours to write: the user's configuration
    // folder takes the settings, and when even that cannot be made, the message
    // names the file there.
    start();
    AppInfo::setPathForTesting(fx->work.filePath(QStringLiteral("gone")));
    const QString blocker = writeFile(fx->work.filePath(QStringLiteral("not-a-folder")), "x");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker));
    FrmOptSet* o = openOptions();
    o->txtGCD->setText(QStringLiteral("C:\\web"));
    click(o->CMNDOK);
    const QStringList shown = MessageBox::takeRecorded();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith(QStringLiteral("The Configuration file at ") + blocker +
                                 QStringLiteral("/tessavane/config.cfg could not be saved (")),
             qPrintable(shown[0]));
    QCOMPARE(logLines(f), QStringList{kStarted});
    QVERIFY(f->txtsave->text().isEmpty());
    QVERIFY(fx->program->session().defaultSaveFolder.isEmpty());
    QVERIFY(o->isVisible());
    QVERIFY(!QFile::exists(fx->work.filePath(QStringLiteral("gone"))));
}

void TestConfig::saveIntoReadOnlyFolder() {
    // The program runs as a second user whose application folder is read-only to it.
    const User peer = secondUser();
    if (!peer.ok)
        QSKIP("a second user needs root");
    start(kConfig);
    const QByteArray folder = QFile::encodeName(fx->appDir.path());
    const QByteArray file = QFile::encodeName(cfg());
    QVERIFY(::chmod(folder.constData(), 0555) == 0);
    QVERIFY(::chown(file.constData(), peer.uid, peer.gid) == 0);
    FrmOptSet* o = openOptions();
    o->txtVendor->setText(QStringLiteral("Other"));
    {
        ActingAs as(peer);
        QVERIFY(as.ok());
        click(o->CMNDOK);
    }
    // Its own config.cfg is written in place; the folder gets no other file.
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QCOMPARE(readFile(cfg()),
             QByteArray("1\r\nC:\\web\r\nhttp://x.example/wap/\r\nOther\r\n2.0\r\n"));
    QCOMPARE(logLines(f), (QStringList{kLoaded, kSaved, kLoaded, kStarted}));
    QCOMPARE(
        QDir(fx->appDir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"config.cfg"});

    // A config.cfg it may not write either: refused, the old file stays.
    QVERIFY(::chown(file.constData(), 0, 0) == 0);
    o = openOptions();
    o->txtVendor->setText(QStringLiteral("Third"));
    {
        ActingAs as(peer);
        QVERIFY(as.ok());
        click(o->CMNDOK);
    }
    QCOMPARE(
        MessageBox::takeRecorded(),
        QStringList{"The Configuration file at " + cfg() +
                    " could not be saved (Permission denied). The previous settings are kept."});
    QCOMPARE(readFile(cfg()),
             QByteArray("1\r\nC:\\web\r\nhttp://x.example/wap/\r\nOther\r\n2.0\r\n"));
    QVERIFY(o->isVisible());
    ::chmod(folder.constData(), 0700);
}

namespace {
// Runs the rest of a scope as an ordinary user: root writes anywhere, and an
// installed program's folder is read-only to everyone else.
class AsOrdinaryUser {
public:
    AsOrdinaryUser() {
        if (::geteuid() == 0)
            switched_ = ::setegid(kNobody) == 0 && ::seteuid(kNobody) == 0;
    }
    ~AsOrdinaryUser() {
        if (switched_) {
            [[maybe_unused]] const int u = ::seteuid(0);
            [[maybe_unused]] const int g = ::setegid(0);
        }
    }
    AsOrdinaryUser(const AsOrdinaryUser&) = delete;
    AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;
    static constexpr uid_t kNobody = 65534;

private:
    bool switched_ = false;
};
} // namespace

void TestConfig::userFolderWhenAppFolderReadOnly() {
    const QByteArray app = QFile::encodeName(fx->appDir.path());
    QTemporaryDir home;
    const QString configHome = home.filePath(QStringLiteral("config"));
    QVERIFY(QDir().mkpath(configHome));
    if (::geteuid() == 0) {
        QVERIFY(::chown(QFile::encodeName(home.path()).constData(), AsOrdinaryUser::kNobody,
                        AsOrdinaryUser::kNobody) == 0);
        QVERIFY(::chown(QFile::encodeName(configHome).constData(), AsOrdinaryUser::kNobody,
                        AsOrdinaryUser::kNobody) == 0);
    }
    QVERIFY(::chmod(app.constData(), 0555) == 0);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    const QString userCfg = configHome + QStringLiteral("/tessavane/config.cfg");
    {
        AsOrdinaryUser user;
        QCOMPARE(ConfigFile::defaultPath(), userCfg);
        // First start as today: the message, then the options window.
        f = fx->program->form1();
        QVERIFY(MessageBox::takeRecorded().value(0).startsWith(
            QLatin1String("The Configuration File could not be found.")));
        showWindow(f);
        QTRY_VERIFY(fx->program->exists<FrmOptSet>() && fx->program->frmOptSet()->isVisible());
        FrmOptSet* o = fx->program->frmOptSet();
        o->txtVendor->setText(QStringLiteral("Acme"));
        click(o->CMNDOK);
        QCOMPARE(MessageBox::takeRecorded(), QStringList());
        QCOMPARE(readFile(userCfg), QByteArray("0\r\n\r\n\r\nAcme\r\n\r\n"));
        QCOMPARE(logLines(f), (QStringList{kLoaded, kSaved, kStarted}));
        restart();
        QCOMPARE(MessageBox::takeRecorded(), QStringList());
        QCOMPARE(logLines(f), (QStringList{kLoaded, kStarted}));
        QCOMPARE(f->txtVendor->text(), QStringLiteral("Acme"));
        // Messages name the file where it really is.
        QVERIFY(QFile::remove(userCfg));
        f->CMNDDefaults_Click();
        const QStringList shown = MessageBox::takeRecorded();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith(QStringLiteral("The Configuration file at ") + userCfg +
                                     QStringLiteral(" could not be read (")),
                 qPrintable(shown[0]));
    }
    ::chmod(app.constData(), 0755);
    QVERIFY(!QFile::exists(cfg()));
}

void TestConfig::besideWhenAppFolderWritable() {
    // A writable folder (a portable copy, a build) keeps config.cfg beside the
    // program even when the user's folder holds one; so does a read-only folder
    // that already holds the file.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    QVERIFY(QDir().mkpath(configHome.filePath(QStringLiteral("tessavane"))));
    writeFile(configHome.filePath(QStringLiteral("tessavane/config.cfg")), kConfig);
    QCOMPARE(ConfigFile::defaultPath(), cfg());
    writeFile(cfg(), kConfig);
    const QByteArray app = QFile::encodeName(fx->appDir.path());
    QVERIFY(::chmod(app.constData(), 0555) == 0);
    {
        AsOrdinaryUser user;
        QCOMPARE(ConfigFile::defaultPath(), cfg());
    }
    ::chmod(app.constData(), 0755);
}

void TestConfig::optionsWindowControls() {
    start();
    FrmOptSet* o = openOptions();
    QCOMPARE(o->windowTitle(), QStringLiteral("Tessavane: Set Options"));
    QCOMPARE(o->Frame1->title(), QStringLiteral("Tessavane: Options"));
    QCOMPARE(o->chkBlankline->text(),
             QStringLiteral("Make 1st Line BLANK for compatibility. ( This may help if you get "
                            "errors while downloading to your phone, otherwise leave unchecked)."));
    QCOMPARE(o->Label3->text(),
             QStringLiteral("Save GCD To: This should be the ROOT DIRECTORY of your web server. "
                            "ie. c:\\Program Files\\Web Server\\Pages\\"));
    QVERIFY(o->Label4->text().startsWith(
        QLatin1String("Content-URL: This should be the location of your media files on the web. "
                      "ie. http")));
    QVERIFY(o->Label4->text().endsWith(QLatin1String("/wap/midi/")));
    QCOMPARE(o->Cmndbrowse->text(), QStringLiteral(">"));
    QCOMPARE(o->CMNDOK->text(), QStringLiteral("Save Settings"));
    QCOMPARE(o->CMNDCANCEL->text(), QStringLiteral("Cancel"));
    // Every control but the two buttons sits in the frame, the buttons below it.
    for (QWidget* w : std::initializer_list<QWidget*>{o->chkBlankline, o->txtGCD, o->Cmndbrowse,
                                                      o->Label1, o->Label8, o->txtVersion})
        QCOMPARE(w->parentWidget(), static_cast<QWidget*>(o->Frame1));
    QVERIFY(o->CMNDOK->geometry().top() >= o->Frame1->geometry().bottom());
    QVERIFY(o->CMNDCANCEL->geometry().right() < o->CMNDOK->geometry().left());
    for (TextBox* t : {o->txtGCD, o->txtURL, o->txtVendor, o->txtVersion})
        QVERIFY(t->maxLength() > 1000000);
    for (QPushButton* b : {o->Cmndbrowse, o->CMNDOK, o->CMNDCANCEL})
        QVERIFY(!b->autoDefault() && !b->isDefault());

    QCOMPARE(o->focusWidget(), static_cast<QWidget*>(o->chkBlankline));
    // The caption takes two lines; a click on the second one ticks the box too.
    QTest::mouseClick(o->chkBlankline, Qt::LeftButton, {},
                      QPoint(o->chkBlankline->width() / 2, o->chkBlankline->height() - 3));
    QCOMPARE(o->chkBlankline->value(), 1);
    QCOMPARE(fx->program->session().blankLine, QStringLiteral("1"));
    const QList<QWidget*> order{o->txtGCD,     o->Cmndbrowse, o->txtVendor, o->txtURL,
                                o->txtVersion, o->CMNDCANCEL, o->CMNDOK};
    QWidget* w = o->chkBlankline;
    for (QWidget* next : order) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        QCOMPARE(w, next);
    }
    // Enter on a text box saves nothing.
    o->txtVendor->setFocus();
    QTest::keyClick(o->txtVendor, Qt::Key_Return);
    QVERIFY(!QFile::exists(cfg()));
    QVERIFY(o->isVisible());
}

void TestConfig::openingShowsHiddenWindowUnfilled() {
    start(kConfig);
    FrmOptSet* hidden = fx->program->frmOptSet();
    hidden->txtGCD->setText(QStringLiteral("kept"));
    QCOMPARE(openOptions(), hidden);
    QCOMPARE(hidden->txtGCD->text(), QStringLiteral("kept"));
    // Cancel drops the edits: the next opening fills from the values again.
    click(hidden->CMNDCANCEL);
    QVERIFY(!fx->program->exists<FrmOptSet>());
    QCOMPARE(openOptions()->txtGCD->text(), QStringLiteral("C:\\web"));
}

void TestConfig::cancelKeepsBlankLineClick() {
    start(kConfig);
    FrmOptSet* o = openOptions();
    click(o->chkBlankline);
    QCOMPARE(fx->program->session().blankLine, QStringLiteral("0"));
    click(o->CMNDCANCEL);
    QCOMPARE(readFile(cfg()), kConfig);
    QCOMPARE(f->chkBlankline->value(), 1);
    QCOMPARE(openOptions()->chkBlankline->value(), 0);
    // The main window's box feeds the same setting.
    click(fx->program->frmOptSet()->CMNDCANCEL);
    f->chkBlankline->setValue(0);
    f->chkBlankline->setValue(1);
    QCOMPARE(openOptions()->chkBlankline->value(), 1);
}

void TestConfig::chooserTargetFollowsBusyFlag() {
    start();
    const QString folder = QDir::toNativeSeparators(fx->work.path());
    Form2* chooser = browseFromOptions();
    QCOMPARE(chooser->windowTitle(), QStringLiteral("Save GCD To Folder:"));
    QVERIFY(chooser->Dir1->setPath(folder));
    click(chooser->CMNDOK);
    QVERIFY(!fx->program->exists<Form2>());
    QCOMPARE(fx->program->frmOptSet()->txtGCD->text(), folder);
    QCOMPARE(logLines(f).first(), "Will Save GCD's to:" + folder);
    QVERIFY(f->txtsave->text().isEmpty());
    QVERIFY(!fx->program->exists<frmBatchSet>());
    // The main window gets it with the saved settings.
    click(fx->program->frmOptSet()->CMNDOK);
    QCOMPARE(f->txtsave->text(), folder);

    // From the main window: main and batch settings windows, same log line.
    openFile(QStringLiteral("song.mid"));
    const QString sub = QDir::toNativeSeparators(fx->work.filePath(QStringLiteral("sub")));
    QVERIFY(QDir().mkpath(sub));
    fx->program->session().autoUrlBusy = true;
    click(f->Cmndbrowse);
    QVERIFY(!fx->program->session().autoUrlBusy);
    chooser = fx->program->form2();
    QVERIFY(chooser->isVisible());
    QVERIFY(chooser->Dir1->setPath(sub));
    click(chooser->CMNDOK);
    QCOMPARE(f->txtsave->text(), sub);
    QCOMPARE(fx->program->frmBatchSetWindow()->txtsave->text(), sub);
    QVERIFY(!fx->program->frmBatchSetWindow()->isVisible());
    QCOMPARE(logLines(f).first(), "Will Save GCD's to:" + sub);
    QCOMPARE(readFile(cfg()).split('\n').at(1), QByteArray(folder.toLocal8Bit() + "\r"));

    // Cancel changes nothing; a second opening shows the same chooser.
    const QStringList log = logLines(f);
    click(f->Cmndbrowse);
    chooser = fx->program->form2();
    click(f->Cmndbrowse);
    QCOMPARE(fx->program->form2(), chooser);
    chooser->Dir1->setPath(QDir::rootPath());
    click(chooser->CMNDCNCL);
    QVERIFY(!fx->program->exists<Form2>());
    QCOMPARE(f->txtsave->text(), sub);
    QCOMPARE(logLines(f), log);
}

void TestConfig::fileSelectionRedirectsOpenChooser() {
    start();
    Form2* chooser = browseFromOptions();
    const QString folder = QDir::toNativeSeparators(fx->work.path());
    chooser->Dir1->setPath(folder);
    // Choosing a media file renames the URL, which clears the busy flag.
    openFile(QStringLiteral("song.mid"));
    QVERIFY(!fx->program->session().autoUrlBusy);
    click(chooser->CMNDOK);
    QVERIFY(fx->program->frmOptSet()->txtGCD->text().isEmpty());
    QCOMPARE(f->txtsave->text(), folder);
    QCOMPARE(fx->program->frmBatchSetWindow()->txtsave->text(), folder);
}

void TestConfig::chooserIntoClosedOptionsWindow() {
    start(kConfig);
    Form2* chooser = browseFromOptions();
    FrmOptSet* o = fx->program->frmOptSet();
    o->txtVendor->setText(QStringLiteral("unsaved"));
    click(o->CMNDCANCEL);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!fx->program->exists<FrmOptSet>());
    chooser->Dir1->setPath(QDir::rootPath());
    click(chooser->CMNDOK);
    // Made again, hidden, filled from the values, then given the folder: the root
    // keeps its separator.
    o = fx->program->frmOptSet();
    QVERIFY(!o->isVisible());
    QCOMPARE(o->txtGCD->text(), QDir::toNativeSeparators(QDir::rootPath()));
    QCOMPARE(o->txtVendor->text(), QStringLiteral("Acme"));
    QCOMPARE(logLines(f).first(),
             "Will Save GCD's to:" + QDir::toNativeSeparators(QDir::rootPath()));
    QCOMPARE(f->txtsave->text(), QStringLiteral("C:\\web"));
}

void TestConfig::chooserLists() {
    start();
    f->Cmndbrowse_Click(); // the frame is still closed: no file chosen yet
    Form2* chooser = fx->program->form2();
    QCOMPARE(chooser->Dir1->path(), DirList::normalized(QDir::currentPath()));
    QCOMPARE(chooser->Drive1->drive(), chooser->Drive1->rootFor(QDir::currentPath()));
    QCOMPARE(chooser->focusWidget(), static_cast<QWidget*>(chooser->Dir1));
    QWidget* w = chooser->Dir1;
    for (QWidget* next :
         std::initializer_list<QWidget*>{chooser->Drive1, chooser->CMNDCNCL, chooser->CMNDOK}) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        QCOMPARE(w, next);
    }
    QCOMPARE(
        chooser->Label1->text(),
        QStringLiteral("The GCD File needs to be placed in your web server's ROOT DIRECTORY!!!"));
    for (QPushButton* b : {chooser->CMNDOK, chooser->CMNDCNCL})
        QVERIFY(!b->autoDefault() && !b->isDefault());

    // Choosing a drive opens its root.
    const QString root = QDir::toNativeSeparators(QDir::rootPath());
    chooser->Dir1->setPath(fx->work.path());
    chooser->Drive1->setDriveSilently(root);
    chooser->Drive1_Change();
    QCOMPARE(chooser->Dir1->path(), root);

    // A drive that cannot be read: told, and the drive and folder stay.
    chooser->Dir1->setPath(fx->work.path());
    const QString drive = chooser->Drive1->drive();
    const QString folder = chooser->Dir1->path();
    const QString gone = fx->work.filePath(QStringLiteral("unplugged"));
    chooser->Drive1->addItem(gone);
    QVERIFY(chooser->Drive1->setDrive(gone));
    const QStringList shown = MessageBox::takeRecorded();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(gone), qPrintable(shown[0]));
    QCOMPARE(chooser->Dir1->path(), folder);
    QCOMPARE(chooser->Drive1->drive(), drive);
}

void TestConfig::pastedTextKeepsOneLine() {
    start(kConfig);
    openFile(QStringLiteral("song.mid")); // the main window's boxes take input from now on
    QClipboard* clipboard = QGuiApplication::clipboard();
    FrmOptSet* o = openOptions();
    frmBatchSet* b = fx->program->frmBatchSetWindow();
    for (TextBox* box : {f->txtVendor, o->txtVendor, b->txtVendor, f->txtURL, b->txtURL}) {
        const QString name = box->window()->objectName() + '/' + box->objectName();
        // Ctrl+V over a selection: the text before the first line break.
        box->setText(QStringLiteral("Old"));
        box->selectAll();
        clipboard->setText(QStringLiteral("Acme Tones\r\nsecond line"));
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QVERIFY2(box->text() == QStringLiteral("Acme Tones"),
                 qPrintable(name + ": " + box->text()));
        // Shift+Insert at the cursor: NUL and control characters go, a tab stays.
        box->setText(QStringLiteral("ab"));
        box->setCursorPosition(1);
        clipboard->setText(QStringLiteral("x\ty") + QChar(0) + QStringLiteral("\x01z\nmore"));
        QTest::keyClick(box, Qt::Key_Insert, Qt::ShiftModifier);
        QVERIFY2(box->text() == QStringLiteral("ax\tyzb"), qPrintable(name));
        // A URL copied with its line end.
        box->clear();
        clipboard->setText(QStringLiteral("http://x.example/wap/song.mid\n"));
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QVERIFY2(box->text() == QStringLiteral("http://x.example/wap/song.mid"), qPrintable(name));
        // The context menu's Paste.
        box->clear();
        clipboard->setText(QStringLiteral("menu\r\nx"));
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(2, 2),
                                    box->mapToGlobal(QPoint(2, 2)));
        QCoreApplication::sendEvent(box, &menuEvent);
        QMenu* menu = box->findChild<QMenu*>();
        QVERIFY(menu);
        QAction* paste = nullptr;
        for (QAction* a : menu->actions())
            if (a->text().startsWith(QLatin1String("&Paste")))
                paste = a;
        QVERIFY(paste);
        paste->trigger();
        menu->close();
        delete menu;
        QVERIFY2(box->text() == QStringLiteral("menu"),
                 qPrintable(name + ": " + box->text().toUtf8().toPercentEncoding()));
        // Composed text and a key event carrying several characters.
        box->clear();
        QInputMethodEvent composed;
        composed.setCommitString(QStringLiteral("ime\nrest"));
        QCoreApplication::sendEvent(box, &composed);
        QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("k\r\n"));
        QCoreApplication::sendEvent(box, &typed);
        QVERIFY2(box->text() == QStringLiteral("imek"), qPrintable(name));
        // Dropped text.
        box->clear();
        QMimeData dragged;
        dragged.setText(QStringLiteral("dropped\r\nline"));
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
        static_cast<QObject*>(box)->event(&drop); // no drag under way for notify to route
        QVERIFY2(box->text() == QStringLiteral("dropped"),
                 qPrintable(name + ": " + box->text().toUtf8().toPercentEncoding()));
        QVERIFY(drop.isAccepted());
    }
    // The program's own writes of ordinary text are as before.
    f->txtVendor->setText(QStringLiteral("Plain\tText"));
    QCOMPARE(f->txtVendor->text(), QStringLiteral("Plain\tText"));

    // A pasted vendor saves as one line of five.
    o->txtVendor->selectAll();
    clipboard->setText(QStringLiteral("Acme Tones\r\n"));
    QTest::keyClick(o->txtVendor, Qt::Key_V, Qt::ControlModifier);
    click(o->CMNDOK);
    QCOMPARE(readFile(cfg()),
             QByteArray("1\r\nC:\\web\r\nhttp://x.example/wap/\r\nAcme Tones\r\n2.0\r\n"));
    restart();
    QCOMPARE(f->txtVersion->text(), QStringLiteral("2.0"));
    QCOMPARE(f->txtVendor->text(), QStringLiteral("Acme Tones"));
}

QTEST_MAIN(TestConfig)
#include "tst_config.moc"
