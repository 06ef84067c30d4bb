#include "SecondUser.h"
#include "TestSupport.h"

#include "shell/frmSplash.h"

#include "core/FrmGetURL.h"
#include "platform/Controls.h"

#include <QAction>
#include <QButtonGroup>
#include <QGroupBox>
#include <QMenu>
#include <QPushButton>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tess;
using namespace tess::test;

class TestForm1 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void startState();
    void disabledFrameBlocksItsButtons();
    void intakeOfSongMid();
    void fileNamedAtStart();
    void intakeVariants_data();
    void intakeVariants();
    void wavAfterPngKeepsType();
    void unknownFirstFileLeavesStep3Closed();
    void cancelChangesNothing();
    void shortNameStopsSilently();
    void missingFileKeepsSize();
    void reselectingWritesTheLineAgain();
    void optionClickByHand();
    void makeWritesExactBytes();
    void makeReplacesAndLogsRealPath();
    void failedWriteKeepsOldDescriptor();
    void replaceKeepsWhatTheUserHad();
    void plantedLinkIsReplacedNotFollowed();
    void missingFolderReportsAndLogsNothing();
    void exitClosesEveryWindow();
    void hostileNamesChangeNothing();
    void valueWithLineBreakIsNotWritten();

private:
    void openFile(const QString& path);
    std::unique_ptr<ProgramFixture> fx;
    Form1* f = nullptr;
};

void TestForm1::init() {
    fx = std::make_unique<ProgramFixture>();
    f = fx->form1();
    f->show();
}

void TestForm1::cleanup() {
    fx.reset();
    f = nullptr;
}

void TestForm1::openFile(const QString& path) {
    FileDialog::setNextFileName(path);
    click(f->cmndgcd);
}

void TestForm1::startState() {
    QCOMPARE(f->windowTitle(), QStringLiteral("Orlwick's Tessavane v1.1.0"));
    QCOMPARE(logLines(f), QStringList{"Orlwick's Tessavane v1.1.0 Started!"});
    QVERIFY(!f->F2->isEnabled());
    QVERIFY(!f->F3->isEnabled());
    QVERIFY(!f->F4->isEnabled());
    QCOMPARE(f->opGroup->checkedId(), -1);
    QVERIFY(f->lbltype->text().isEmpty());
    QCOMPARE(f->txtURL->background(), QColor(255, 255, 255));
    QCOMPARE(f->lblstat->palette().color(QPalette::Text), QColor(255, 0, 0));
    QCOMPARE(f->lblstat->palette().color(QPalette::Base), QColor(0, 0, 0));
    QCOMPARE(f->centralWidget()->size(), QSize(575, 344));
    QCOMPARE(child<QPushButton>(f, "cmndmake")->toolTip(), QStringLiteral("Create GCD File."));
    QVERIFY(f->txtURL->maxLength() > 100000);
    const QStringList menu{"&Open File to GCD...",
                           "Run a GCD &Batch...",
                           "WAV to &QCELP Conversion...",
                           "",
                           "Configuration...",
                           "",
                           "E&xit"};
    QStringList texts;
    for (QAction* a : f->findChild<QMenu*>(QStringLiteral("File"))->actions())
        texts.append(a->text());
    QCOMPARE(texts, menu);
}

void TestForm1::disabledFrameBlocksItsButtons() {
    click(f->CMNDURL);
    QVERIFY(!fx->program->exists<FrmGetURL>());
    QVERIFY(f->CMNDURL->isEnabled() == false); // blocked by the frame
    const QString song = writeFile(fx->work.filePath(QStringLiteral("song.mid")), "MThd");
    openFile(song);
    click(f->CMNDURL);
    QVERIFY(fx->program->exists<FrmGetURL>());
}

void TestForm1::intakeOfSongMid() {
    const QString song =
        writeFile(fx->work.filePath(QStringLiteral("song.mid")), QByteArray(4096, 'x'));
    openFile(song);
    QCOMPARE(logLines(f),
             (QStringList{"Content-Name: song.mid", "audio/midi Content-Type Auto Selected",
                          "Selected File:" + song, "Orlwick's Tessavane v1.1.0 Started!",
                          "File Size:4096"}));
    QCOMPARE(f->txtname->text(), QStringLiteral("song"));
    QCOMPARE(f->lblsize->text(), QStringLiteral("4096"));
    QCOMPARE(f->lbltype->text(), QStringLiteral("audio/midi"));
    QVERIFY(f->op[0]->isChecked());
    QCOMPARE(fx->program->session().selectedFileName, QStringLiteral("song.mid"));
    QCOMPARE(fx->program->session().selectedFilePath, song);
    QVERIFY(f->F3->isEnabled() && f->txtname->isEnabled() && f->cmndmake->isEnabled());
    QCOMPARE(
        FileDialog::lastFilter(),
        QStringLiteral("All Valid Types|*.mid;*.qcp;*.cmx;*.png;*.jpg;*.bmp|MIDI (*.mid*)|*.mid|"
                       "QCELP Audio (*.qcp)|*.qcp|CMX 2.0+ (*.cmx)|*.cmx|PNG Image "
                       "(*.png)|*.png|JPEG Image (*.jpg)|*.jpg|WBMP Image (*.wbmp)|*.*bmp|"));
}

// "tessavane FILE": the splash first, then the main window comes up with the
// file taken in exactly as if chosen in the open dialog; once only.
void TestForm1::fileNamedAtStart() {
    const QString song =
        writeFile(fx->work.filePath(QStringLiteral("song.mid")), QByteArray(4096, 'x'));
    fx->program.reset();
    fx->program = std::make_unique<Program>();
    fx->program->session().startFile = song;
    frmSplash* splash = fx->program->frmSplashWindow();
    showWindow(splash);
    QVERIFY(!fx->program->exists<Form1>());
    splash->Timer1_Timer();
    QVERIFY(fx->program->exists<Form1>());
    f = fx->program->form1();
    QVERIFY(f->isVisible());
    QVERIFY(MessageBox::takeRecorded().value(0).startsWith(
        QLatin1String("The Configuration File could not be found.")));
    f->tmroptset->stop();
    QCOMPARE(logLines(f),
             (QStringList{"Content-Name: song.mid", "audio/midi Content-Type Auto Selected",
                          "Selected File:" + song, "Orlwick's Tessavane v1.1.0 Started!",
                          "File Size:4096"}));
    QCOMPARE(f->txtname->text(), QStringLiteral("song"));
    QCOMPARE(f->lblsize->text(), QStringLiteral("4096"));
    QVERIFY(f->op[0]->isChecked());
    QCOMPARE(fx->program->session().selectedFilePath, song);
    QVERIFY(fx->program->session().startFile.isEmpty());
    QVERIFY(f->cmndmake->isEnabled());

    // A file that is gone stops the intake silently, as a vanished dialog answer does.
    fx->program.reset();
    fx->program = std::make_unique<Program>();
    writeFile(fx->appDir.filePath(QStringLiteral("config.cfg")), "0\r\n\r\n\r\n\r\n\r\n");
    fx->program->session().startFile = fx->work.filePath(QStringLiteral("gone.png"));
    f = fx->program->form1();
    QCOMPARE(MessageBox::takeRecorded(), QStringList());
    QVERIFY(logLines(f).contains(QStringLiteral("Selected File:") +
                                 fx->work.filePath(QStringLiteral("gone.png"))));
    QCOMPARE(fx->program->session().selectedFilePath,
             fx->work.filePath(QStringLiteral("gone.png")));
}

void TestForm1::intakeVariants_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::newRow("photo.jpeg") << "photo.jpeg"
                                << "photo."
                                << "image/jpeg";
    QTest::newRow("SONG.MID") << "SONG.MID"
                              << "SONG"
                              << "";
    QTest::newRow("logo.wbmp") << "logo.wbmp"
                               << "logo."
                               << "image/vnd.wap.wbmp";
    QTest::newRow("four characters") << "a.mi"
                                     << ""
                                     << "";
    QTest::newRow("README") << "README"
                            << "RE"
                            << "";
}

void TestForm1::intakeVariants() {
    QFETCH(QString, file);
    QFETCH(QString, name);
    QFETCH(QString, type);
    const QString path = writeFile(fx->work.filePath(file), "12345");
    openFile(path);
    QCOMPARE(f->txtname->text(), name);
    QCOMPARE(f->lbltype->text(), type);
    QCOMPARE(f->lblsize->text(), QStringLiteral("5"));
    QCOMPARE(logLines(f).first(), "Content-Name: " + file);
    QCOMPARE(logLines(f).last(), QStringLiteral("File Size:5"));
    QVERIFY(f->F2->isEnabled());
}

void TestForm1::wavAfterPngKeepsType() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("pic.png")), "png"));
    const int before = f->lblstat->count();
    openFile(writeFile(fx->work.filePath(QStringLiteral("voice.wav")), "wave"));
    QCOMPARE(f->lbltype->text(), QStringLiteral("image/png"));
    QVERIFY(f->op[3]->isChecked());
    const QStringList lines = logLines(f);
    // Selected File, Content-Name on top and File Size at the bottom: no type line.
    QCOMPARE(lines.size(), before + 3);
    QCOMPARE(lines[0], QStringLiteral("Content-Name: voice.wav"));
    QVERIFY(lines[1].startsWith(QLatin1String("Selected File:")));
}

void TestForm1::unknownFirstFileLeavesStep3Closed() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("voice.wav")), "wave"));
    QVERIFY(f->F2->isEnabled());
    QVERIFY(f->op[2]->isEnabled());
    QCOMPARE(f->opGroup->checkedId(), -1);
    QVERIFY(!f->F3->isEnabled());
    QVERIFY(!f->cmndmake->isEnabled());
    // Name and size are filled all the same.
    QCOMPARE(f->txtname->text(), QStringLiteral("voice"));
}

void TestForm1::cancelChangesNothing() {
    const QString song = writeFile(fx->work.filePath(QStringLiteral("song.mid")), "abc");
    openFile(song);
    const QStringList log = logLines(f);
    FileDialog::setNextCancel();
    click(f->cmndgcd);
    QCOMPARE(logLines(f), log);
    QCOMPARE(f->txtname->text(), QStringLiteral("song"));
    QCOMPARE(fx->program->session().selectedFilePath, song);
    // The menu item does the same intake.
    FileDialog::setNextFileName(writeFile(fx->work.filePath(QStringLiteral("b.png")), "b"));
    f->mnugcd->trigger();
    QCOMPARE(f->txtname->text(), QStringLiteral("b"));
}

void TestForm1::shortNameStopsSilently() {
    const QString path = writeFile(fx->work.filePath(QStringLiteral("a.b")), "abc");
    openFile(path);
    QCOMPARE(f->txtname->text(), QStringLiteral("a.b"));
    QVERIFY(f->lblsize->text().isEmpty());
    QCOMPARE(logLines(f).first(), "Selected File:" + path);
    QVERIFY(MessageBox::takeRecorded().isEmpty());
}

void TestForm1::missingFileKeepsSize() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("one.mid")), "12"));
    openFile(fx->work.filePath(QStringLiteral("gone.mid")));
    QCOMPARE(f->txtname->text(), QStringLiteral("gone"));
    QCOMPARE(f->lblsize->text(), QStringLiteral("2"));
    QCOMPARE(logLines(f).first(), QStringLiteral("Content-Name: gone.mid"));
    QCOMPARE(logLines(f).last(), QStringLiteral("File Size:2"));
    QVERIFY(MessageBox::takeRecorded().isEmpty());
}

void TestForm1::reselectingWritesTheLineAgain() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("a.mid")), "1"));
    openFile(writeFile(fx->work.filePath(QStringLiteral("b.mid")), "1"));
    QCOMPARE(logLines(f).count(QStringLiteral("audio/midi Content-Type Auto Selected")), 2);
}

void TestForm1::optionClickByHand() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("voice.wav")), "1"));
    click(f->op[1]);
    QCOMPARE(f->lbltype->text(), QStringLiteral("audio/vnd.qcelp"));
    QCOMPARE(logLines(f).first(), QStringLiteral("audio/vnd.qcelp Content-Type Auto Selected"));
    QVERIFY(f->F3->isEnabled());
    QVERIFY(f->txtURL->isEnabled());
    QVERIFY(f->cmndmake->isEnabled());
}

void TestForm1::makeWritesExactBytes() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("song.mid")), QByteArray(321, 'm')));
    f->txtsave->setText(fx->work.path());
    f->txtVersion->setText(QStringLiteral("1.0"));
    f->txtVendor->setText(QStringLiteral(" Acme Tones "));
    f->txtURL->setText(QStringLiteral("http://x.example/wap/song.mid"));
    const QByteArray body = "Content-Type: audio/midi\r\nContent-Name: song\r\n"
                            "Content-Version: 1.0\r\nContent-Vendor:  Acme Tones \r\n"
                            "Content-URL: http://x.example/wap/song.mid\r\n"
                            "Content-Size: 321\r\n";
    const QString gcd = fx->work.filePath(QStringLiteral("song.gcd"));
    click(f->cmndmake);
    QCOMPARE(readFile(gcd), body);
    click(f->chkBlankline);
    QCOMPARE(f->chkBlankline->value(), 1);
    QCOMPARE(fx->program->session().blankLine, QStringLiteral("1"));
    click(f->cmndmake);
    QCOMPARE(readFile(gcd), "\r\n" + body);
    // Grayed is not ticked: no blank line.
    f->chkBlankline->setValue(2);
    QCOMPARE(fx->program->session().blankLine, QStringLiteral("0"));
    click(f->cmndmake);
    QCOMPARE(readFile(gcd), body);
    // A user's click on a grayed box ticks it; it never cycles back to grayed.
    click(f->chkBlankline);
    QCOMPARE(f->chkBlankline->value(), 1);
    click(f->chkBlankline);
    QCOMPARE(f->chkBlankline->value(), 0);
}

void TestForm1::makeReplacesAndLogsRealPath() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("song.mid")), "1"));
    f->txtsave->setText(fx->work.path());
    const QString gcd = fx->work.path() + QDir::separator() + QStringLiteral("song.gcd");
    writeFile(gcd, "an older and much longer descriptor that must go away\r\n");
    click(f->cmndmake);
    QVERIFY(readFile(gcd).startsWith("Content-Type: audio/midi\r\n"));
    QVERIFY(!readFile(gcd).contains("older"));
    const QStringList lines = logLines(f);
    QCOMPARE(lines[0], QString(140, QLatin1Char('-')));
    QCOMPARE(lines[1], "GCD File Created at: " + gcd);
    QCOMPARE(lines[2], QString(140, QLatin1Char('-')));
    QVERIFY(QFileInfo::exists(lines[1].mid(21)));
}

void TestForm1::plantedLinkIsReplacedNotFollowed() {
    // A web folder anyone may write to; another user links song.gcd to root's file.
    const User peer = secondUser();
    if (!peer.ok)
        QSKIP("a second user needs root");
    openFile(writeFile(fx->work.filePath(QStringLiteral("song.mid")), "1"));
    const QString web = fx->work.filePath(QStringLiteral("web"));
    QVERIFY(QDir().mkdir(web));
    QVERIFY(::chmod(QFile::encodeName(fx->work.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(web).constData(), 0777) == 0);
    const QString precious = writeFile(fx->work.filePath(QStringLiteral("shadow")), "secret");
    const QString gcd = web + QStringLiteral("/song.gcd");
    QCOMPARE(runAs(peer, [&] { return QFile::link(precious, gcd) ? 0 : 1; }), 0);
    f->txtsave->setText(web);
    click(f->cmndmake);
    // The log is the usual one; the link went, root's file stayed.
    const QStringList lines = logLines(f);
    QCOMPARE(lines.mid(0, 3),
             (QStringList{QString(140, QLatin1Char('-')), "GCD File Created at: " + gcd,
                          QString(140, QLatin1Char('-'))}));
    QCOMPARE(readFile(precious), QByteArray("secret"));
    QVERIFY(!QFileInfo(gcd).isSymLink());
    QVERIFY(readFile(gcd).startsWith("Content-Type: audio/midi\r\n"));
}

void TestForm1::replaceKeepsWhatTheUserHad() {
    const User peer = secondUser();
    if (!peer.ok)
        QSKIP("another owner and a second user need root");
    openFile(writeFile(fx->work.filePath(QStringLiteral("song.mid")), "1"));
    const QString web = fx->work.filePath(QStringLiteral("web"));
    QVERIFY(QDir().mkdir(web));
    f->txtsave->setText(web);
    const QString gcd = web + QStringLiteral("/song.gcd");
    const QByteArray path = QFile::encodeName(gcd);
    struct stat st {};

    // A web server's descriptor, replaced by root: still the web server's, same mode.
    writeFile(gcd, "old");
    QVERIFY(::chown(path.constData(), 65534, 65534) == 0 && ::chmod(path.constData(), 0640) == 0);
    click(f->cmndmake);
    QVERIFY(readFile(gcd).startsWith("Content-Type: audio/midi\r\n"));
    QVERIFY(::stat(path.constData(), &st) == 0);
    QCOMPARE(st.st_uid, uid_t(65534));
    QCOMPARE(st.st_gid, gid_t(65534));
    QCOMPARE(st.st_mode & 07777, mode_t(0640));

    // The user's own descriptor in a folder the user may not add files to: written in place.
    writeFile(gcd, "old");
    QVERIFY(::chown(path.constData(), peer.uid, peer.gid) == 0 &&
            ::chmod(path.constData(), 0644) == 0);
    QVERIFY(::chmod(QFile::encodeName(fx->work.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(web).constData(), 0555) == 0);
    QVERIFY(::stat(path.constData(), &st) == 0);
    const ino_t inode = st.st_ino;
    f->lblstat->clear();
    {
        ActingAs as(peer);
        QVERIFY(as.ok());
        click(f->cmndmake);
    }
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QCOMPARE(logLines(f).value(1), "GCD File Created at: " + gcd);
    QVERIFY(readFile(gcd).startsWith("Content-Type: audio/midi\r\n"));
    QVERIFY(::stat(path.constData(), &st) == 0);
    QCOMPARE(st.st_ino, inode);
    QCOMPARE(QDir(web).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"song.gcd"});
    ::chmod(QFile::encodeName(web).constData(), 0755);
}

void TestForm1::failedWriteKeepsOldDescriptor() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("song.mid")), "1"));
    f->txtsave->setText(fx->work.path());
    const QString gcd = fx->work.filePath(QStringLiteral("song.gcd"));
    const QByteArray old = "Content-Type: old\r\n";
    writeFile(gcd, old);
    const QStringList log = logLines(f);
    // A file size limit makes the write fail even for root, like a full disk.
    QVERIFY(withTinyFileSizeLimit([&] { click(f->cmndmake); }));
    QCOMPARE(readFile(gcd), old);
    QCOMPARE(logLines(f), log);
    const QStringList messages = MessageBox::takeRecorded();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(gcd), qPrintable(messages[0]));
    QCOMPARE(QDir(fx->work.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestForm1::missingFolderReportsAndLogsNothing() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("song.mid")), "1"));
    f->txtsave->setText(fx->work.filePath(QStringLiteral("nowhere")));
    const QStringList log = logLines(f);
    click(f->cmndmake);
    QCOMPARE(logLines(f), log);
    QCOMPARE(MessageBox::takeRecorded().size(), 1);
    QCOMPARE(f->txtname->text(), QStringLiteral("song"));
}

void TestForm1::exitClosesEveryWindow() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("song.mid")), "1"));
    click(f->CMNDURL);
    QVERIFY(fx->program->exists<FrmGetURL>());
    f->mnuexit->trigger();
    QVERIFY(fx->program->ended());
    QVERIFY(!fx->program->exists<FrmGetURL>());
    QVERIFY(!fx->program->exists<Form1>());
}

void TestForm1::hostileNamesChangeNothing() {
    const QString song = writeFile(fx->work.filePath(QStringLiteral("song.mid")), "abc");
    openFile(song);
    const QStringList log = logLines(f);
    // A name that would forge descriptor lines, and one whose bytes are not UTF-8.
    const QString evil = writeFile(fx->work.filePath("evil\r\nContent-Size: 1\r\nx.mid"), "x");
    const QByteArray raw = QFile::encodeName(fx->work.path()) + "/bad\xff.mid";
    std::fclose(std::fopen(raw.constData(), "w"));
    for (const QString& path : {evil, QFile::decodeName(raw)}) {
        openFile(path);
        const QStringList shown = MessageBox::takeRecorded();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains(path), qPrintable(shown[0]));
        QVERIFY(shown[0].contains(path == evil ? "line break" : "not valid UTF-8"));
        QCOMPARE(logLines(f), log);
        QCOMPARE(fx->program->session().selectedFilePath, song);
        QCOMPARE(f->txtname->text(), QStringLiteral("song"));
        QCOMPARE(f->lblsize->text(), QStringLiteral("3"));
    }
    // Qt cannot remove that name through its text.
    QCOMPARE(::unlink(raw.constData()), 0);
}

void TestForm1::valueWithLineBreakIsNotWritten() {
    openFile(writeFile(fx->work.filePath(QStringLiteral("index.mid")), "1"));
    f->txtsave->setText(fx->work.path());
    const QString site = writeFile(fx->work.filePath(QStringLiteral("index.html")), "site");
    // Program writes bypass what a user's typing is filtered by; the writer still refuses.
    f->txtname->setText(QStringLiteral("index.html") + QChar(0));
    click(f->cmndmake);
    QCOMPARE(readFile(site), QByteArray("site"));
    QCOMPARE(MessageBox::takeRecorded().size(), 1);
    f->txtname->setText(QStringLiteral("index"));
    f->txtURL->setText(QStringLiteral("http://x/\r\nContent-Size: 9"));
    click(f->cmndmake);
    QVERIFY(!QFile::exists(fx->work.filePath(QStringLiteral("index.gcd"))));
    const QStringList shown = MessageBox::takeRecorded();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains("Content-URL"), qPrintable(shown[0]));
    QCOMPARE(QDir(fx->work.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
