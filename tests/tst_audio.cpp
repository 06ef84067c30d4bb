#include "SecondUser.h"
#include "TestSupport.h"

#include "audio/AudioConversion.h"
#include "audio/FrmConvert.h"
#include "engine/AudioPaths.h"
#include "engine/Process.h"
#include "platform/Controls.h"

#include <QAction>
#include <QApplication>
#include <QAudioDevice>
#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QMediaDevices>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace tess;
using namespace tess::test;

namespace {

const QString kFailMessage =
    "PVConv.exe has failed to convert your WAV file. Make sure that the WAV you are trying "
    "to convert is PCM 8000Hz  8 or 16 Bit MONO!";

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

} // namespace

class TestAudio : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void windowControls();
    void openedFromMainWindow();
    void browse();
    void convertNeedsAnExistingFile();
    void cancelUnloads();
    void successfulConversion();
    void failedConversion_data();
    void failedConversion();
    void staleOutputNeverTaken();
    void applicationFolderWithBlanks();
    void waitsWithoutRunningEvents();
    void converterCannotStart_data();
    void converterCannotStart();
    void unusableTempFolderRefused();
    void failedCopiesAreReported();
    void fullDiskLeavesNothing();
    void plantedFilesAreNeverUsed();
    void openParentRefused();
    void soundFilesThroughTheWindow();
    void playsOrSaysWhyNot();

private:
    // Runs sox/ffmpeg/espeak-ng; fails the test when it does not work.
    void tool(const QString& program, const QStringList& args);
    void installConverter(const QString& folder);
    FrmConvert* open();
    QString wav(const QString& name, const QByteArray& bytes);
    void convert(const QString& path);
    QStringList successLog(const QString& wavPath) const;
    QStringList failureLog(const QString& wavPath) const;
    // The converter's one argument: temp.wav in a fresh folder of this run inside temp.
    bool isRunInput(const QString& arg) const;

    std::unique_ptr<ProgramFixture> fx;
    Form1* f = nullptr;
    QString temp;
};

void TestAudio::init() {
    fx = std::make_unique<ProgramFixture>();
    f = fx->form1();
    f->show();
    // Not there yet: the first conversion creates it.
    temp = fx->work.filePath(QStringLiteral("tmp/tessavane"));
    AudioPaths::setTempFolderForTesting(temp);
    installConverter(fx->appDir.path());
    qputenv("STANDIN_ARGS", fx->work.filePath(QStringLiteral("args.txt")).toLocal8Bit());
}

void TestAudio::cleanup() {
    fx.reset();
    f = nullptr;
    AudioPaths::setTempFolderForTesting(QString());
    Process::setRunnerForTesting({});
    qunsetenv("STANDIN_ARGS");
}

void TestAudio::installConverter(const QString& folder) {
    const QString target = QDir(folder).filePath(QStringLiteral("pvconv"));
    QFile::remove(target);
    QVERIFY(QFile::copy(QStringLiteral(STANDIN_PVCONV), target));
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

FrmConvert* TestAudio::open() {
    click(f->CMNDwav);
    return fx->program->frmConvert();
}

QString TestAudio::wav(const QString& name, const QByteArray& bytes) {
    const QString path = fx->work.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return writeFile(path, bytes);
}

void TestAudio::convert(const QString& path) {
    FrmConvert* w = open();
    w->txtwav->setText(path);
    click(w->Command2);
}

QStringList TestAudio::successLog(const QString& wavPath) const {
    return {"Temporary files deleted. Conversion Done.",
            "New QCP file at: " + AudioPaths::qcpPathFor(wavPath),
            "Output file from PVConv.exe found. Moving from Temp DIR.",
            "Done. PVConv.exe has terminated.",
            "Calling PVConv.exe to convert your file, please wait...",
            "Attempting to Convert " + wavPath,
            "WAV to QCP Conversion started."};
}

QStringList TestAudio::failureLog(const QString& wavPath) const {
    return {"The Output file from PVConv.exe could not be found! PVConv.exe Failed!",
            "Done. PVConv.exe has terminated.",
            "Calling PVConv.exe to convert your file, please wait...",
            "Attempting to Convert " + wavPath, "WAV to QCP Conversion started."};
}

bool TestAudio::isRunInput(const QString& arg) const {
    static const QRegularExpression runFolder(QStringLiteral("^run-[A-Za-z0-9]{6}$"));
    const QFileInfo info(arg);
    return info.fileName() == QLatin1String("temp.wav") && QFileInfo(info.path()).path() == temp &&
           runFolder.match(QFileInfo(info.path()).fileName()).hasMatch();
}

void TestAudio::windowControls() {
    FrmConvert* w = fx->program->frmConvert();
    QCOMPARE(w->windowTitle(), QStringLiteral("Tessavane: Audio Conversion"));
    // The frame as it was, the ringtone panel below it.
    QCOMPARE(w->size(), QSize(360, 266));
    QVERIFY(w->grpRingtone->geometry().top() >= w->Frame1->geometry().bottom());
    QVERIFY(w->minimumSize() != w->maximumSize()); // sizable
    QCOMPARE(w->Frame1->title(), QStringLiteral("Convert WAV to QCP Audio File"));
    QCOMPARE(w->Label1->text(), QStringLiteral("WAV File To Convert:"));
    QCOMPARE(w->Label2->text(),
             QStringLiteral("The Wav File must be PCM 8000Hz,  16 Bit,   MONO!"));
    QVERIFY(w->Label2->font().bold());
    QCOMPARE(w->Label3->text(),
             QStringLiteral("WAV to QCP: A QCP file with the same name as the WAV file will be "
                            "made and placed in the same directory as the WAV file."));
    QCOMPARE(w->Command1->text(), QStringLiteral(">"));
    QCOMPARE(w->Command3->text(), QStringLiteral("Cancel"));
    QCOMPARE(w->Command2->text(), QStringLiteral("Convert WAV"));
    QVERIFY(w->txtwav->text().isEmpty());
    QVERIFY(w->txtwav->maxLength() > 100000);
    for (const char* name :
         {"Label1", "txtwav", "Command1", "Label2", "Label3", "Command3", "Command2"}) {
        QWidget* c = child<QWidget>(w, name);
        QVERIFY2(c && c->parentWidget() == w->Frame1, name);
        QVERIFY2(w->Frame1->rect().contains(c->geometry()), name);
    }
    for (QPushButton* b : {w->Command1, w->Command2, w->Command3})
        QVERIFY(!b->autoDefault() && !b->isDefault());
    // Tab order: path box, browse, Cancel, Convert WAV, the panel, then round again.
    QList<QWidget*> order;
    QWidget* at = w->txtwav;
    do {
        // A spin box's own line edit stands for the box.
        if ((at->focusPolicy() & Qt::TabFocus) &&
            !qobject_cast<QAbstractSpinBox*>(at->parentWidget()))
            order.append(at);
        at = at->nextInFocusChain();
    } while (at != w->txtwav);
    QCOMPARE(order, (QList<QWidget*>{w->txtwav, w->Command1, w->Command3, w->Command2,
                                     w->chkNormalize, w->spnStart, w->spnMaxSeconds, w->cmdPlay}));
}

void TestAudio::openedFromMainWindow() {
    FrmConvert* w = open();
    QVERIFY(w->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(w));
    showWindow(f);
    QVERIFY(QTest::qWaitForWindowActive(f));
    f->mnuconv->trigger();
    QCOMPARE(fx->program->frmConvert(), w); // the same window, not a second one
    QVERIFY(QTest::qWaitForWindowActive(w));
}

void TestAudio::browse() {
    FrmConvert* w = open();
    w->txtwav->setText(QStringLiteral("typed"));
    const QStringList before = logLines(f);
    FileDialog::setNextCancel();
    click(w->Command1);
    // The WAV entry first and as it was, then every sound FFmpeg decodes.
    QVERIFY(
        FileDialog::lastFilter().startsWith(QStringLiteral("WAV (*.wav)|*.wav|All audio files|")));
    QVERIFY(FileDialog::lastFilter().contains(QStringLiteral("*.mp3;")));
    QCOMPARE(w->txtwav->text(), QStringLiteral("typed"));
    QCOMPARE(logLines(f), before);

    FileDialog::setNextFileName(QStringLiteral("D:\\a b\\x.wav"));
    click(w->Command1);
    QCOMPARE(w->txtwav->text(), QStringLiteral("D:\\a b\\x.wav"));
    QCOMPARE(logLines(f), QStringList{"Selected File:D:\\a b\\x.wav"} + before);
    QVERIFY(MessageBox::takeRecorded().isEmpty());
}

void TestAudio::convertNeedsAnExistingFile() {
    FrmConvert* w = open();
    const QStringList before = logLines(f);
    for (const QString& path :
         {QString(), fx->work.filePath(QStringLiteral("none.wav")), fx->work.path()}) {
        w->txtwav->setText(path);
        click(w->Command2);
        QCOMPARE(logLines(f), before);
        QCOMPARE(w->txtwav->text(), path);
    }
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QVERIFY(!QFileInfo::exists(temp));
    QVERIFY(fx->program->exists<FrmConvert>());
}

void TestAudio::cancelUnloads() {
    FrmConvert* w = open();
    w->txtwav->setText(QStringLiteral("/somewhere/ring.wav"));
    click(w->Command3);
    QVERIFY(!fx->program->exists<FrmConvert>());
    QVERIFY(open()->txtwav->text().isEmpty());
}

void TestAudio::successfulConversion() {
    const QString ring = wav(QStringLiteral("tones/ring.wav"), "WRITE ring");
    const QString target = fx->work.filePath(QStringLiteral("tones/ring.qcp"));
    writeFile(target, "an older conversion");
    FrmConvert* w = open();
    FileDialog::setNextFileName(ring);
    click(w->Command1);
    QVERIFY(QTest::qWaitForWindowActive(w));
    click(w->Command2);

    // The log was cleared first: the Started! and Selected File: lines are gone.
    QCOMPARE(logLines(f), successLog(ring));
    QCOMPARE(readFile(target), QByteArray("QCP:WRITE ring"));
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QVERIFY(!fx->program->exists<FrmConvert>());
    QVERIFY(QFileInfo(temp).isDir());
    QCOMPARE(filesIn(temp), QStringList());
    // Started by its exact path with the copy as its one argument.
    const QByteArray args = readFile(fx->work.filePath(QStringLiteral("args.txt")));
    QVERIFY(args.endsWith('\n'));
    QVERIFY2(isRunInput(QString::fromLocal8Bit(args.chopped(1))), args.constData());
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(f));

    // A second run clears the log again and replaces the file just written.
    const QString upper = wav(QStringLiteral("tones/RING.WAV"), "WRITE again");
    convert(upper);
    QCOMPARE(logLines(f), successLog(upper));
    QCOMPARE(AudioPaths::qcpPathFor(upper), fx->work.filePath(QStringLiteral("tones/RING.qcp")));
    QCOMPARE(readFile(fx->work.filePath(QStringLiteral("tones/RING.qcp"))),
             QByteArray("QCP:WRITE again"));
    QCOMPARE(filesIn(temp), QStringList());
}

void TestAudio::failedConversion_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("writes nothing") << QByteArray("NOTHING");
    QTest::newRow("exits at once") << QByteArray("EXIT");
}

void TestAudio::failedConversion() {
    QFETCH(QByteArray, content);
    const QString ring = wav(QStringLiteral("ring.wave"), content);
    FrmConvert* w = open();
    w->txtwav->setText(ring);
    QVERIFY(QTest::qWaitForWindowActive(w));
    click(w->Command2);

    QCOMPARE(logLines(f), failureLog(ring));
    QCOMPARE(MessageBox::takeRecorded(), QStringList{kFailMessage});
    QVERIFY(fx->program->exists<FrmConvert>());
    QCOMPARE(w->txtwav->text(), ring);
    QVERIFY(!QFileInfo::exists(fx->work.filePath(QStringLiteral("ring.wqcp"))));
    // Nothing of the run is left behind.
    QCOMPARE(filesIn(temp), QStringList());
    // The main window comes to the front although the conversion window was active.
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(f));
}

void TestAudio::staleOutputNeverTaken() {
    // An earlier run's output in the shared folder is no part of a new run.
    QVERIFY(QDir().mkpath(temp));
    writeFile(AudioPaths::tempQcpIn(temp), "another recording");
    const QString ring = wav(QStringLiteral("ring.wav"), "NOTHING");
    FrmConvert* w = open();
    w->txtwav->setText(ring);

    // What the converter finds when it starts.
    QStringList logAtStart;
    QStringList runFolderAtStart;
    QByteArray inputAtStart;
    bool windowShown = false;
    bool ownInput = false;
    Process::setRunnerForTesting([&](const QString& program, const QStringList& args) {
        logAtStart = logLines(f);
        ownInput = args.size() == 1 && isRunInput(args[0]);
        runFolderAtStart = filesIn(QFileInfo(args.value(0)).path());
        inputAtStart = readFile(args.value(0));
        windowShown = w->isVisible() && w->txtwav->text() == ring;
        return Process::startAndWait(program, args);
    });
    click(w->Command2);

    QCOMPARE(logAtStart, failureLog(ring).mid(2));
    QVERIFY(ownInput);
    QCOMPARE(runFolderAtStart, QStringList{"temp.wav"});
    QCOMPARE(inputAtStart, QByteArray("NOTHING"));
    QVERIFY(windowShown);
    QCOMPARE(logLines(f), failureLog(ring));
    QCOMPARE(MessageBox::takeRecorded(), QStringList{kFailMessage});
    QVERIFY(!QFileInfo::exists(fx->work.filePath(QStringLiteral("ring.qcp"))));
    QCOMPARE(filesIn(temp), QStringList{"temp.qcp"});
    QCOMPARE(readFile(AudioPaths::tempQcpIn(temp)), QByteArray("another recording"));
}

void TestAudio::applicationFolderWithBlanks() {
    const QString app = fx->appDir.filePath(QStringLiteral("my apps"));
    QVERIFY(QDir().mkpath(app));
    // A program named after the folder's first word must not be what runs.
    writeFile(fx->appDir.filePath(QStringLiteral("my")), "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(fx->appDir.filePath(QStringLiteral("my")),
                          QFile::ReadOwner | QFile::ExeOwner);
    installConverter(app);
    QFile::remove(fx->appDir.filePath(QStringLiteral("pvconv")));
    AppInfo::setPathForTesting(app);

    const QString ring = wav(QStringLiteral("a b/ring.wav"), "WRITE blank");
    convert(ring);
    QCOMPARE(logLines(f), successLog(ring));
    QCOMPARE(readFile(fx->work.filePath(QStringLiteral("a b/ring.qcp"))),
             QByteArray("QCP:WRITE blank"));
    const QByteArray args = readFile(fx->work.filePath(QStringLiteral("args.txt")));
    QVERIFY2(isRunInput(QString::fromLocal8Bit(args.chopped(1))), args.constData());
}

void TestAudio::waitsWithoutRunningEvents() {
    // The converter takes longer than one slice of the wait; no event may be served
    // meanwhile, not even one posted before the conversion began.
    const QString ring = wav(QStringLiteral("slow.wav"), "SLOW");
    FrmConvert* w = open();
    w->txtwav->setText(ring);
    bool timerRan = false;
    QTimer::singleShot(0, this, [&] { timerRan = true; });
    w->Command2_Click();
    QVERIFY(!timerRan);
    QCOMPARE(readFile(fx->work.filePath(QStringLiteral("slow.qcp"))), QByteArray("QCP:SLOW"));
    QCOMPARE(logLines(f), successLog(ring));
    QTRY_VERIFY(timerRan);
}

void TestAudio::converterCannotStart_data() {
    QTest::addColumn<bool>("present");
    QTest::newRow("missing") << false;
    QTest::newRow("not executable") << true;
}

void TestAudio::converterCannotStart() {
    QFETCH(bool, present);
    const QString converter = AudioPaths::converterPath();
    if (present)
        QVERIFY(QFile::setPermissions(converter, QFile::ReadOwner | QFile::WriteOwner));
    else
        QVERIFY(QFile::remove(converter));
    const QString ring = wav(QStringLiteral("ring.wav"), "WRITE");
    convert(ring);

    QCOMPARE(logLines(f), QStringList{"PVConv.exe could not be started: " + converter} +
                              failureLog(ring).mid(2));
    const QStringList messages = MessageBox::takeRecorded();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(converter), qPrintable(messages[0]));
    QVERIFY(fx->program->exists<FrmConvert>());
    QCOMPARE(filesIn(temp), QStringList());
    QVERIFY(!QFileInfo::exists(fx->work.filePath(QStringLiteral("ring.qcp"))));

    // The program goes on: with the converter in place the next attempt succeeds.
    installConverter(fx->appDir.path());
    click(fx->program->frmConvert()->Command2);
    QCOMPARE(logLines(f), successLog(ring));
}

void TestAudio::unusableTempFolderRefused() {
    const QString ring = wav(QStringLiteral("ring.wav"), "WRITE");
    const QString elsewhere = fx->work.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QDir().mkpath(QFileInfo(temp).absolutePath()));
    QVERIFY(QFile::link(elsewhere, temp));
    convert(ring);
    QCOMPARE(logLines(f), QStringList{"The Temp DIR could not be used: " + temp});
    const QStringList messages = MessageBox::takeRecorded();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(temp) && messages[0].contains("symbolic link"),
             qPrintable(messages[0]));
    QCOMPARE(filesIn(elsewhere), QStringList());
    QVERIFY(fx->program->exists<FrmConvert>());

    // A folder that cannot be created: its parent is a plain file.
    QFile::remove(temp);
    writeFile(temp, "");
    AudioPaths::setTempFolderForTesting(temp + QStringLiteral("/inner"));
    click(fx->program->frmConvert()->Command2);
    QCOMPARE(logLines(f), QStringList{"The Temp DIR could not be used: " + temp + "/inner"});
    QCOMPARE(MessageBox::takeRecorded().size(), 1);
}

void TestAudio::failedCopiesAreReported() {
    // The WAV cannot be copied: a file size limit fails the write even for root.
    const QString ring = wav(QStringLiteral("ring.wav"), "WRITE a recording of some length");
    QVERIFY(withTinyFileSizeLimit([&] { convert(ring); }));
    QCOMPARE(logLines(f), QStringList{"Your WAV file could not be copied to the Temp DIR."});
    QStringList messages = MessageBox::takeRecorded();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith("The WAV file could not be copied to " + temp + "/run-") &&
                 messages[0].contains("/temp.wav: "),
             qPrintable(messages[0]));
    QCOMPARE(filesIn(temp), QStringList());
    QVERIFY(fx->program->exists<FrmConvert>());

    // The target cannot be written: a folder stands in its place.
    QVERIFY(QDir().mkdir(fx->work.filePath(QStringLiteral("ring.qcp"))));
    click(fx->program->frmConvert()->Command2);
    const QString target = fx->work.filePath(QStringLiteral("ring.qcp"));
    QCOMPARE(logLines(f), QStringList{"The new QCP file could not be written: " + target} +
                              successLog(ring).mid(2));
    messages = MessageBox::takeRecorded();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(target), qPrintable(messages[0]));
    QCOMPARE(filesIn(temp), QStringList());
    QVERIFY(fx->program->exists<FrmConvert>());
}

void TestAudio::fullDiskLeavesNothing() {
    SmallDisk disk(temp, QStringLiteral("64k"));
    if (!disk.mounted())
        QSKIP("a tmpfs cannot be mounted here");
    QVERIFY(::chmod(QFile::encodeName(temp).constData(), 0700) == 0);
    const QString ring = wav(QStringLiteral("ring.wav"), "WRITE" + QByteArray(256 * 1024, 'w'));
    convert(ring);
    QCOMPARE(logLines(f), QStringList{"Your WAV file could not be copied to the Temp DIR."});
    const QStringList messages = MessageBox::takeRecorded();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].endsWith("No space left on device"), qPrintable(messages[0]));
    QCOMPARE(filesIn(temp), QStringList());

    // Room for the copy but not for the converter's whole output: whatever the run
    // ends with, its folder goes.
    const QString small = wav(QStringLiteral("small.wav"), "WRITE" + QByteArray(40 * 1024, 's'));
    fx->program->frmConvert()->txtwav->setText(small);
    click(fx->program->frmConvert()->Command2);
    MessageBox::takeRecorded();
    QCOMPARE(filesIn(temp), QStringList());
}

void TestAudio::plantedFilesAreNeverUsed() {
    const User peer = secondUser();
    if (!peer.ok)
        QSKIP("a second user needs root");
    // A loose shared folder where another user planted links to the victim's files.
    QVERIFY(QDir().mkpath(temp));
    QVERIFY(::chmod(QFile::encodeName(fx->work.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(QFileInfo(temp).path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(temp).constData(), 0777) == 0);
    const QString precious = writeFile(fx->work.filePath(QStringLiteral(".precious")), "mine");
    const QString tempWav = AudioPaths::tempWavIn(temp);
    const QString tempQcp = AudioPaths::tempQcpIn(temp);
    const QByteArray theirs = fx->work.filePath(QStringLiteral("theirs.qcp")).toLocal8Bit();
    QCOMPARE(runAs(peer,
                   [&] {
                       const bool planted =
                           ::symlink(QFile::encodeName(precious).constData(),
                                     QFile::encodeName(tempWav).constData()) == 0 &&
                           ::symlink(theirs.constData(), QFile::encodeName(tempQcp).constData()) ==
                               0;
                       return planted ? 0 : 1;
                   }),
             0);
    writeFile(QString::fromLocal8Bit(theirs), "the other user's data");

    const QString ring = wav(QStringLiteral("ring.wav"), "WRITE mine");
    convert(ring);
    QCOMPARE(logLines(f), successLog(ring));
    QCOMPARE(readFile(fx->work.filePath(QStringLiteral("ring.qcp"))), QByteArray("QCP:WRITE mine"));
    QCOMPARE(readFile(precious), QByteArray("mine"));
    QCOMPARE(readFile(QString::fromLocal8Bit(theirs)), QByteArray("the other user's data"));
    // The folder is the user's own again; the planted links stay untouched, unused.
    struct stat st {};
    QVERIFY(::lstat(QFile::encodeName(temp).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0700));
    QCOMPARE(filesIn(temp), (QStringList{"temp.qcp", "temp.wav"}));
}

void TestAudio::openParentRefused() {
    // A parent anyone may write to, without the sticky bit: the folder could be swapped.
    const QString parent = QFileInfo(temp).path();
    QVERIFY(QDir().mkpath(parent));
    QVERIFY(::chmod(QFile::encodeName(parent).constData(), 0777) == 0);
    const QString ring = wav(QStringLiteral("ring.wav"), "WRITE");
    for (int pass = 0; pass < 2; ++pass) { // missing, then existing
        convert(ring);
        QCOMPARE(logLines(f), QStringList{"The Temp DIR could not be used: " + temp});
        QCOMPARE(MessageBox::takeRecorded(),
                 QStringList{"The temporary folder " + temp +
                             " cannot be used: its parent folder can be changed by other users "
                             "(writable by all, not sticky)"});
        QVERIFY(!QFileInfo::exists(fx->work.filePath(QStringLiteral("ring.qcp"))));
        QVERIFY(QDir().mkpath(temp));
        QVERIFY(::chmod(QFile::encodeName(temp).constData(), 0700) == 0);
    }
    // Sticky, as /tmp is: others cannot move what is not theirs.
    QVERIFY(::chmod(QFile::encodeName(parent).constData(), 01777) == 0);
    click(fx->program->frmConvert()->Command2);
    QCOMPARE(logLines(f), successLog(ring));
}

QTEST_MAIN(TestAudio)
void TestAudio::tool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    QVERIFY2(p.waitForFinished(60000) && p.exitCode() == 0,
             qPrintable(program + ": " + QString::fromLocal8Bit(p.readAllStandardError())));
}

void TestAudio::soundFilesThroughTheWindow() {
    // The real converter this time, and real sounds: speech in an MP3, music in an Ogg.
    const QString app = fx->appDir.filePath(QStringLiteral("pvconv"));
    QFile::remove(app);
    QVERIFY(QFile::copy(QStringLiteral(REAL_PVCONV), app));
    QVERIFY(QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString speech = fx->work.filePath(QStringLiteral("speech.wav"));
    tool(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), speech,
                                       QStringLiteral("Your phone is ringing, please answer it.")});
    const QString mp3 = fx->work.filePath(QStringLiteral("tones/ring.mp3"));
    QDir().mkpath(QFileInfo(mp3).path());
    tool(QStringLiteral("ffmpeg"), {"-v", "error", "-i", speech, "-ar", "44100", "-ac", "2", mp3});
    const QString music = fx->work.filePath(QStringLiteral("tones/long.ogg"));
    tool(QStringLiteral("sox"), {"-n", "-r", "48000", "-c", "2", music, "synth", "40", "sine",
                                 "330", "sine", "495", "vol", "0.4"});

    FrmConvert* w = open();
    w->txtwav->setText(mp3);
    click(w->Command2);
    QCOMPARE(logLines(f), successLog(mp3));
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    const QString qcp = fx->work.filePath(QStringLiteral("tones/ring.qcp"));
    QProcess probe;
    probe.start(QStringLiteral("ffmpeg"), {"-v", "warning", "-i", qcp, "-f", "s16le", "-"});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    // Speech of a few seconds, every sample of it.
    QVERIFY(probe.readAllStandardOutput().size() > 2 * 8000 * 2);
    QCOMPARE(filesIn(temp), QStringList());

    // The panel's length: 40 s of music cut to 5 s.
    w = open();
    w->txtwav->setText(music);
    w->spnMaxSeconds->setValue(5);
    click(w->Command2);
    QCOMPARE(logLines(f), successLog(music));
    probe.start(QStringLiteral("ffmpeg"),
                {"-v", "warning", "-i", AudioPaths::qcpPathFor(music), "-f", "s16le", "-"});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.readAllStandardOutput().size(), 5 * 8000 * 2);

    // An MP3 whose end is missing: named with its reason, nothing written, window open.
    const QString cut = fx->work.filePath(QStringLiteral("tones/cut.mp3"));
    tool(QStringLiteral("ffmpeg"),
         {"-v", "error", "-i", music, "-t", "20", fx->work.filePath("whole.mp3")});
    writeFile(cut, readFile(fx->work.filePath("whole.mp3")).left(100000));
    w = open();
    w->txtwav->setText(cut);
    click(w->Command2);
    QCOMPARE(logLines(f).first(), "The file could not be decoded: " + cut);
    const QStringList shown = MessageBox::takeRecorded();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith(cut + " cannot be converted: cut short"), qPrintable(shown[0]));
    QVERIFY(fx->program->exists<FrmConvert>());
    QVERIFY(!QFileInfo::exists(AudioPaths::qcpPathFor(cut)));
    QCOMPARE(filesIn(temp), QStringList());
}

void TestAudio::playsOrSaysWhyNot() {
    FrmConvert* w = open();
    click(w->cmdPlay);
    QCOMPARE(w->lblPlay->text(), QStringLiteral("Choose a sound file first."));
    const QString tone = fx->work.filePath(QStringLiteral("tone.flac"));
    tool(QStringLiteral("sox"), {"-n", "-r", "44100", tone, "synth", "1", "sine", "440"});
    w->txtwav->setText(tone);
    const QString app = fx->appDir.filePath(QStringLiteral("pvconv"));
    QFile::remove(app);
    QVERIFY(QFile::copy(QStringLiteral(REAL_PVCONV), app));
    QVERIFY(QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    click(w->cmdPlay);
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        // No device here: a clear line at once, nothing converted beside the file.
        QCOMPARE(w->lblPlay->text(), QStringLiteral("No sound device: cannot play."));
    } else {
        QVERIFY2(w->lblPlay->text().startsWith(QStringLiteral("Playing 1.0 s")),
                 qPrintable(w->lblPlay->text()));
        QTRY_VERIFY_WITH_TIMEOUT(w->cmdPlay->text() == QStringLiteral("Play"), 10000);
    }
    QVERIFY(!QFileInfo::exists(fx->work.filePath(QStringLiteral("tone.qcp"))));
    QVERIFY(logLines(f).isEmpty() || !logLines(f).first().startsWith("New QCP"));
}

#include "tst_audio.moc"
