#include "TestSupport.h"

#include "engine/ProgramStart.h"
#include "engine/Registry.h"
#include "platform/Controls.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"

#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

using namespace tess;
using namespace tess::test;

namespace {

const QByteArray LocationKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const QByteArray FolderKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

// Records, when the main window is shown, whether the splash was still up.
class ShowWatcher : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && qobject_cast<Form1*>(o)) {
            ++form1Shows;
            splashUpAtShow =
                Program::get().exists<frmSplash>() && Program::get().frmSplashWindow()->isVisible();
        }
        return false;
    }
    int form1Shows = 0;
    bool splashUpAtShow = false;
};

QWidget* nextTabStop(QWidget* w) {
    do
        w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    return w;
}

} // namespace

class TestSplashAbout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void splashStart();
    void splashTickShowsMainOnce();
    void splashWaitsForLoadMessage();
    void splashEndsOnItsOwnTimer();

    void aboutLoad();
    void unrollTicks();
    void unrollsOnItsOwnTimer();
    void secondRequestOnlyRaises();
    void okEscAndCloseUnload();

    void getKeyValue();
    void sysInfoLocations();
    void sysInfoDesktopProgram();

private:
    std::unique_ptr<ProgramFixture> fx;
    MemoryRegistry registry;
    QTemporaryDir pathDir;
    QByteArray savedPath;
};

void TestSplashAbout::init() {
    fx = std::make_unique<ProgramFixture>();
    registry = MemoryRegistry();
    Registry::setForTesting(&registry);
    ProgramStart::setRecording(true);
    // Only what a test puts here is found on the search path.
    savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(pathDir.path()));
}

void TestSplashAbout::cleanup() {
    fx.reset();
    Registry::setForTesting(nullptr);
    ProgramStart::setRecording(false);
    qputenv("PATH", savedPath);
    for (const QString& name : QDir(pathDir.path()).entryList(QDir::Files))
        QFile::remove(QDir(pathDir.path()).filePath(name));
}

void TestSplashAbout::splashStart() {
    frmSplash* s = fx->program->frmSplashWindow();
    showWindow(s);
    QCOMPARE(s->Label1->text(), QString(" v1.1.0 Public Release"));
    QCOMPARE(s->lblload->text(), QString("LOADING..."));
    QVERIFY(s->lblload->isVisible());
    QVERIFY(s->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(s->size(), QSize(350, 250));
    QCOMPARE(s->Image1->pixmap().size(), QSize(350, 250));
    QCOMPARE(s->Timer1->interval(), 3500);
    QVERIFY(s->Timer1->isActive());
    QCOMPARE(s->tmr1->interval(), 350);
    QVERIFY(s->tmr1->isActive());
    // The main window is not made before the splash time is over.
    QVERIFY(!fx->program->exists<Form1>());

    s->tmr1_Timer();
    QVERIFY(!s->lblload->isVisible());
    s->tmr1_Timer();
    QVERIFY(s->lblload->isVisible());
}

void TestSplashAbout::splashTickShowsMainOnce() {
    frmSplash* s = fx->program->frmSplashWindow();
    showWindow(s);
    s->tmr1_Timer(); // "LOADING..." hidden at the moment the time is up
    ShowWatcher watcher;
    qApp->installEventFilter(&watcher);

    s->Timer1_Timer();
    QVERIFY(fx->program->exists<Form1>());
    QVERIFY(fx->program->form1()->isVisible());
    QVERIFY(watcher.splashUpAtShow);
    QVERIFY(!fx->program->exists<frmSplash>());
    QVERIFY(!s->isVisible());
    QVERIFY(!s->Timer1->isActive());

    // A tick that was already queued: nothing happens again.
    fx->program->form1()->hide();
    s->Timer1_Timer();
    QVERIFY(!fx->program->form1()->isVisible());
    QCOMPARE(watcher.form1Shows, 1);
    qApp->removeEventFilter(&watcher);
}

void TestSplashAbout::splashWaitsForLoadMessage() {
    QPointer<frmSplash> s = fx->program->frmSplashWindow();
    showWindow(s);
    bool splashUp = false, mainUp = true, nestedTickHarmless = false;
    MessageBox::setNextHook([&] {
        splashUp = s && s->isVisible();
        mainUp = Program::get().form1()->isVisible();
        // The box's own event loop may tick the splash again.
        s->Timer1_Timer();
        nestedTickHarmless = s && s->isVisible() && !Program::get().form1()->isVisible();
    });
    s->Timer1_Timer();
    // No config.cfg in the fresh application folder: the load tells the user.
    QVERIFY(!MessageBox::takeRecorded().isEmpty());
    QVERIFY(splashUp);
    QVERIFY(!mainUp);
    QVERIFY(nestedTickHarmless);
    QVERIFY(fx->program->form1()->isVisible());
    QVERIFY(!fx->program->exists<frmSplash>());
}

void TestSplashAbout::splashEndsOnItsOwnTimer() {
    QPointer<frmSplash> s = fx->program->frmSplashWindow();
    showWindow(s);
    QTRY_VERIFY_WITH_TIMEOUT(fx->program->exists<Form1>(), 10000);
    QVERIFY(fx->program->form1()->isVisible());
    QTRY_VERIFY(s.isNull());
}

void TestSplashAbout::aboutLoad() {
    frmAbout* a = fx->program->frmAboutWindow();
    showWindow(a);
    QCOMPARE(a->windowTitle(), QString("About Tessavane v1.1.0"));
    QCOMPARE(a->lblVersion->text(), QString("Version 1.1.0"));
    QCOMPARE(a->cmdSysInfo->text(), QString("&System Info..."));
    QCOMPARE(a->cmdOK->text(), QString("OK"));
    QVERIFY(a->cmdOK->isDefault());
    QCOMPARE(nextTabStop(a->cmdOK), a->cmdSysInfo);
    QCOMPARE(a->Image1->pixmap().size(), QSize(350, 250));
    QVERIFY(!a->windowIcon().isNull());
    QCOMPARE(a->heightTwips(), 20);
    QCOMPARE(a->tmrwin->interval(), 10);
    QVERIFY(a->tmrwin->isActive());
    QVERIFY(a->width() == 350 && a->minimumHeight() == a->maximumHeight());
    for (const char* name : {"Label1", "lblDisclaimer", "lblDescription"})
        QVERIFY(!child<QLabel>(a, name)->text().isEmpty());
}

void TestSplashAbout::unrollTicks() {
    frmAbout* a = fx->program->frmAboutWindow();
    showWindow(a);
    int lastClient = a->height();
    for (int tick = 1; tick <= 27; ++tick) {
        a->tmrwin_Timer();
        QCOMPARE(a->heightTwips(), 20 + 200 * tick);
        QVERIFY(a->tmrwin->isActive());
        QVERIFY(a->height() >= lastClient);
        lastClient = a->height();
    }
    QCOMPARE(a->heightTwips(), 5420); // one tick past the full height
    a->tmrwin_Timer();
    QCOMPARE(a->heightTwips(), 5340);
    QVERIFY(!a->tmrwin->isActive());
    QCOMPARE(a->size(), QSize(350, 331)); // 5250 x 4965 twips inside
}

void TestSplashAbout::unrollsOnItsOwnTimer() {
    frmAbout* a = fx->program->frmAboutWindow();
    showWindow(a);
    QTRY_COMPARE(a->heightTwips(), 5340);
    QTRY_VERIFY(!a->tmrwin->isActive());
    QCOMPARE(a->heightTwips(), 5340);
    QCOMPARE(a->size(), QSize(350, 331));
}

void TestSplashAbout::secondRequestOnlyRaises() {
    Form1* f = fx->form1();
    f->show();
    // The picture sits in the Step 3 frame and answers once that frame is open.
    click(f->Image1);
    QVERIFY(!fx->program->exists<frmAbout>());
    f->F3->setEnabled(true);
    click(f->Image1);
    QVERIFY(fx->program->exists<frmAbout>());
    frmAbout* a = fx->program->frmAboutWindow();
    QVERIFY(a->isVisible());
    a->tmrwin_Timer();
    a->tmrwin_Timer();
    QCOMPARE(a->heightTwips(), 420);

    f->mnuAbout->trigger();
    QCOMPARE(fx->program->frmAboutWindow(), a);
    QCOMPARE(a->heightTwips(), 420);
    QCOMPARE(a->windowTitle(), QString("About Tessavane v1.1.0"));

    QTRY_VERIFY(!a->tmrwin->isActive());
    f->mnuAbout->trigger();
    QCOMPARE(a->heightTwips(), 5340);
    QVERIFY(!a->tmrwin->isActive());

    // Closed, it comes back afresh and unrolls again.
    click(a->cmdOK);
    QVERIFY(!fx->program->exists<frmAbout>());
    f->mnuAbout->trigger();
    frmAbout* again = fx->program->frmAboutWindow();
    QCOMPARE(again->heightTwips(), 20);
    QVERIFY(again->tmrwin->isActive());
    QVERIFY(again->isVisible());
}

void TestSplashAbout::okEscAndCloseUnload() {
    frmAbout* a = fx->program->frmAboutWindow();
    showWindow(a);
    QTest::keyClick(a, Qt::Key_Escape);
    QVERIFY(!fx->program->exists<frmAbout>());

    a = fx->program->frmAboutWindow();
    showWindow(a);
    a->cmdOK->setFocus();
    QTest::keyClick(a, Qt::Key_Return);
    QVERIFY(!fx->program->exists<frmAbout>());

    a = fx->program->frmAboutWindow();
    showWindow(a);
    QVERIFY(a->close());
    QVERIFY(!fx->program->exists<frmAbout>());
}

void TestSplashAbout::getKeyValue() {
    const quint32 hklm = Reg::LocalMachine;
    const QByteArray key = "SOFTWARE\\Example\\Tones";
    registry.setValue(hklm, key, "Zeroed", Reg::String, QByteArray("C:\\Tools\\info.exe\0", 18));
    registry.setValue(hklm, key, "Bare", Reg::String, "C:\\Tools\\info.exe");
    registry.setValue(hklm, key, "Empty", Reg::String, QByteArray());
    registry.setValue(hklm, key, "Full", Reg::String, QByteArray(1023, 'a') + '\0');
    registry.setValue(hklm, key, "FullBare", Reg::String, QByteArray(1024, 'b'));
    registry.setValue(hklm, key, "TooLong", Reg::String, QByteArray(1025, 'c'));
    registry.setValue(hklm, key, "Count", Reg::Dword, QByteArray("\x2c\x01\x00\x00", 4));
    registry.setValue(hklm, key, "Binary", 3, "\x01\x02");

    QString val = "untouched";
    QVERIFY(frmAbout::GetKeyValue(hklm, "software\\example\\TONES", "Zeroed", val));
    QCOMPARE(val, QString("C:\\Tools\\info.exe"));
    val = "untouched";
    QVERIFY(frmAbout::GetKeyValue(hklm, QString::fromLatin1(key), "Bare", val));
    QCOMPARE(val, QString("C:\\Tools\\info.exe"));
    QVERIFY(frmAbout::GetKeyValue(hklm, QString::fromLatin1(key), "Empty", val));
    QCOMPARE(val, QString());
    QVERIFY(frmAbout::GetKeyValue(hklm, QString::fromLatin1(key), "Full", val));
    QCOMPARE(val, QString(1023, 'a'));
    QVERIFY(frmAbout::GetKeyValue(hklm, QString::fromLatin1(key), "FullBare", val));
    QCOMPARE(val, QString(1024, 'b'));
    QVERIFY(frmAbout::GetKeyValue(hklm, QString::fromLatin1(key), "Count", val));
    QCOMPARE(val, QString("300"));
    val = "as passed";
    QVERIFY(frmAbout::GetKeyValue(hklm, QString::fromLatin1(key), "Binary", val));
    QCOMPARE(val, QString("as passed"));

    // Not found: too long, missing value, missing key, other root.
    val = "stale";
    QVERIFY(!frmAbout::GetKeyValue(hklm, QString::fromLatin1(key), "TooLong", val));
    QCOMPARE(val, QString());
    val = "stale";
    QVERIFY(!frmAbout::GetKeyValue(hklm, QString::fromLatin1(key), "Nothing", val));
    QCOMPARE(val, QString());
    val = "stale";
    QVERIFY(!frmAbout::GetKeyValue(hklm, "SOFTWARE\\Example\\Missing", "Bare", val));
    QCOMPARE(val, QString());
    QVERIFY(!frmAbout::GetKeyValue(0x80000001u, QString::fromLatin1(key), "Bare", val));

    QCOMPARE(registry.openCount(), 0); // every opened key was closed

    // The keys are opened for reading: full access is refused to a user without
    // administrator rights, as this registry refuses it.
    RegKey direct = 0;
    QCOMPARE(registry.open(hklm, key, 0xF003Fu /* KEY_ALL_ACCESS */, &direct), Reg::AccessDenied);
    QCOMPARE(registry.open(hklm, key, Reg::Read, &direct), Reg::Success);
    QCOMPARE(registry.close(direct), Reg::Success);

#ifndef _WIN32
    // Without a test registry nothing is found here.
    Registry::setForTesting(nullptr);
    val = "stale";
    QVERIFY(!frmAbout::GetKeyValue(hklm, QString::fromLatin1(LocationKey), "PATH", val));
    QCOMPARE(val, QString());
    QVERIFY(!frmAbout::GetKeyValue(hklm, QString::fromLatin1(FolderKey), "MSINFO", val));
#endif
}

void TestSplashAbout::sysInfoLocations() {
    frmAbout* a = fx->program->frmAboutWindow();
    showWindow(a);
    const QString unavailable = "System Information Is Unavailable At This Time";

    // Nothing registered.
    click(a->cmdSysInfo);
    QCOMPARE(MessageBox::takeRecorded(), QStringList{unavailable});
    QCOMPARE(registry.openedKeys(), (QList<QByteArray>{LocationKey, FolderKey}));
    QVERIFY(ProgramStart::takeRecorded().isEmpty());
    QVERIFY(fx->program->exists<frmAbout>());

    // Location 1 names a missing program: the message, location 2 never asked.
    const QString folder = fx->work.path();
    const QString program = writeFile(folder + "/MSINFO32.EXE", "MZ");
    registry = MemoryRegistry();
    registry.setValue(Reg::LocalMachine, LocationKey, "PATH", Reg::String,
                      QFile::encodeName(folder + "/gone.exe") + '\0');
    registry.setValue(Reg::LocalMachine, FolderKey, "MSINFO", Reg::String,
                      QFile::encodeName(folder));
    a->StartSysInfo();
    QCOMPARE(MessageBox::takeRecorded(), QStringList{unavailable});
    QCOMPARE(registry.openedKeys(), QList<QByteArray>{LocationKey});
    QVERIFY(ProgramStart::takeRecorded().isEmpty());

    // An empty path under location 1 is no program either.
    registry.setValue(Reg::LocalMachine, LocationKey, "PATH", Reg::String, QByteArray("\0", 1));
    a->StartSysInfo();
    QCOMPARE(MessageBox::takeRecorded(), QStringList{unavailable});
    QVERIFY(ProgramStart::takeRecorded().isEmpty());

    // Location 1 names the program.
    registry.setValue(Reg::LocalMachine, LocationKey, "PATH", Reg::String,
                      QFile::encodeName(program));
    a->StartSysInfo();
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QCOMPARE(ProgramStart::takeRecorded(), QStringList{program});

    // Location 2: the folder holds the program, or does not.
    registry = MemoryRegistry();
    registry.setValue(Reg::LocalMachine, FolderKey, "MSINFO", Reg::String,
                      QFile::encodeName(QDir::toNativeSeparators(folder)));
    a->StartSysInfo();
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QCOMPARE(ProgramStart::takeRecorded(),
             QStringList{QDir::toNativeSeparators(folder) + QDir::separator() + "MSINFO32.EXE"});

    registry.setValue(Reg::LocalMachine, FolderKey, "MSINFO", Reg::String,
                      QFile::encodeName(fx->appDir.path()));
    a->StartSysInfo();
    QCOMPARE(MessageBox::takeRecorded(), QStringList{unavailable});
    QVERIFY(ProgramStart::takeRecorded().isEmpty());
}

void TestSplashAbout::sysInfoDesktopProgram() {
#ifdef _WIN32
    QSKIP("Windows has its own System Information program");
#else
    frmAbout* a = fx->program->frmAboutWindow();
    const QString tool = writeFile(pathDir.path() + "/hardinfo", "#!/bin/sh\n");
    QVERIFY(QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    a->StartSysInfo();
    QVERIFY(MessageBox::takeRecorded().isEmpty());
    QCOMPARE(ProgramStart::takeRecorded(), QStringList{tool});

    // A registered program comes first.
    const QString program = writeFile(fx->work.path() + "/info", "MZ");
    registry.setValue(Reg::LocalMachine, LocationKey, "PATH", Reg::String,
                      QFile::encodeName(program));
    a->StartSysInfo();
    QCOMPARE(ProgramStart::takeRecorded(), QStringList{program});
#endif
}

QTEST_MAIN(TestSplashAbout)
#include "tst_splashabout.moc"
