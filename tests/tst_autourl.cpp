#include "TestSupport.h"

#include "core/AutoURLEngine.h"
#include "core/FrmGetURL.h"
#include "platform/Controls.h"

#include <QPushButton>

using namespace tess;
using namespace tess::test;

namespace {
const QColor kGreen(0, 192, 0);
const QColor kWhite(255, 255, 255);
} // namespace

class TestAutoUrl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void activateBeforeAnyFile();
    void activateAddsSlashOnlyWhenMissing_data();
    void activateAddsSlashOnlyWhenMissing();
    void fileSelectionRenamesWhileOn();
    void typingSwitchesOff();
    void reopeningPrefillsAndStacks();
    void cancelChangesNothing();
    void unchangedWriteKeepsModeOn();
    void busyFlagTurnsEditsOn();

private:
    void openFile(const QString& name);
    FrmGetURL* activate(const QString& text);
    std::unique_ptr<ProgramFixture> fx;
    Form1* f = nullptr;
};

void TestAutoUrl::init() {
    fx = std::make_unique<ProgramFixture>();
    f = fx->form1();
    f->show();
}

void TestAutoUrl::cleanup() {
    fx.reset();
}

void TestAutoUrl::openFile(const QString& name) {
    FileDialog::setNextFileName(writeFile(fx->work.filePath(name), "data"));
    click(f->cmndgcd);
}

FrmGetURL* TestAutoUrl::activate(const QString& text) {
    click(f->CMNDURL);
    FrmGetURL* w = fx->program->frmGetURL();
    w->txtautoURL->setText(text);
    click(w->CMNDOK);
    return w;
}

void TestAutoUrl::activateBeforeAnyFile() {
    // The frame is open once a file was chosen; here the handler is called directly.
    fx->program->frmGetURL()->txtautoURL->setText(QStringLiteral("http://x.example/wap"));
    fx->program->frmGetURL()->CMNDOK_Click();
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://x.example/wap/"));
    QCOMPARE(f->txtURL->background(), kGreen);
    QVERIFY(fx->program->session().autoUrlActive);
    QVERIFY(!fx->program->session().autoUrlBusy);
    QVERIFY(!fx->program->exists<FrmGetURL>());
}

void TestAutoUrl::activateAddsSlashOnlyWhenMissing_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("url");
    QTest::newRow("with slash") << "http://x.example/wap/"
                                << "http://x.example/wap/song.mid";
    QTest::newRow("without") << "http://x.example/wap"
                             << "http://x.example/wap/song.mid";
    QTest::newRow("bare scheme") << "http://"
                                 << "http://song.mid";
    QTest::newRow("empty") << ""
                           << "/song.mid";
}

void TestAutoUrl::activateAddsSlashOnlyWhenMissing() {
    QFETCH(QString, typed);
    QFETCH(QString, url);
    openFile(QStringLiteral("song.mid"));
    activate(typed);
    QCOMPARE(f->txtURL->text(), url);
    QCOMPARE(f->txtURL->background(), kGreen);
}

void TestAutoUrl::fileSelectionRenamesWhileOn() {
    openFile(QStringLiteral("song.mid"));
    activate(QStringLiteral("http://x.example/wap/"));
    openFile(QStringLiteral("Ring Tone.QCP"));
    // Case kept; the space percent-encoded, since a phone cannot send it.
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://x.example/wap/Ring%20Tone.QCP"));
    QCOMPARE(f->txtURL->background(), kGreen);
    QVERIFY(fx->program->session().autoUrlActive);
}

void TestAutoUrl::typingSwitchesOff() {
    openFile(QStringLiteral("song.mid"));
    activate(QStringLiteral("http://x.example/wap/"));
    f->txtURL->setFocus();
    f->txtURL->end(false);
    QTest::keyClick(f->txtURL, Qt::Key_X);
    QCOMPARE(f->txtURL->background(), kWhite);
    QVERIFY(!fx->program->session().autoUrlActive);
    QTest::keyClick(f->txtURL, Qt::Key_Backspace);
    QVERIFY(!fx->program->session().autoUrlActive);
    openFile(QStringLiteral("other.mid"));
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://x.example/wap/song.mid"));
    QCOMPARE(f->txtURL->background(), kWhite);
}

void TestAutoUrl::reopeningPrefillsAndStacks() {
    openFile(QStringLiteral("song.mid"));
    activate(QStringLiteral("http://x.example/wap/"));
    click(f->CMNDURL);
    FrmGetURL* w = fx->program->frmGetURL();
    QCOMPARE(w->txtautoURL->text(), QStringLiteral("http://x.example/wap/song.mid"));
    click(w->CMNDOK);
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://x.example/wap/song.mid/song.mid"));
}

void TestAutoUrl::cancelChangesNothing() {
    openFile(QStringLiteral("song.mid"));
    f->txtURL->setText(QStringLiteral("http://typed"));
    click(f->CMNDURL);
    FrmGetURL* w = fx->program->frmGetURL();
    w->txtautoURL->setText(QStringLiteral("http://elsewhere/"));
    click(w->CMNDCANCEL);
    QVERIFY(!fx->program->exists<FrmGetURL>());
    QCOMPARE(f->txtURL->text(), QStringLiteral("http://typed"));
    QVERIFY(!fx->program->session().autoUrlActive);
    // Created afresh: it shows the URL box's text again, not the cancelled edit.
    click(f->CMNDURL);
    QCOMPARE(fx->program->frmGetURL()->txtautoURL->text(), QStringLiteral("http://typed"));
}

void TestAutoUrl::unchangedWriteKeepsModeOn() {
    openFile(QStringLiteral("song.mid"));
    activate(QStringLiteral("http://x.example/wap/"));
    f->txtURL->setText(f->txtURL->text());
    QVERIFY(fx->program->session().autoUrlActive);
    QCOMPARE(f->txtURL->background(), kGreen);
    f->txtURL->setText(QStringLiteral("http://x.example/other"));
    QVERIFY(!fx->program->session().autoUrlActive);
    QCOMPARE(f->txtURL->background(), kWhite);
}

void TestAutoUrl::busyFlagTurnsEditsOn() {
    openFile(QStringLiteral("song.mid"));
    // The options window's browse button leaves the flag set until the next renaming.
    fx->program->session().autoUrlBusy = true;
    f->txtURL->setText(QStringLiteral("typed"));
    QVERIFY(fx->program->session().autoUrlActive);
    QCOMPARE(f->txtURL->background(), kGreen);
    AutoURLEngine::ApplyAutoURL(false);
    QVERIFY(!fx->program->session().autoUrlBusy);
}

QTEST_MAIN(TestAutoUrl)
#include "tst_autourl.moc"
