#include "NginxServer.h"
#include "TestSupport.h"

#include "engine/Descriptor.h"
#include "engine/ServerConfig.h"
#include "net/FrmCheck.h"
#include "platform/Controls.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextDocument>

using namespace tess;
using namespace tess::test;

namespace {

// What a tool tip shows: Qt takes text that looks like markup as rich text.
QString toolTipShows(const QString& tip) {
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument doc;
    doc.setHtml(tip);
    return doc.toPlainText();
}

} // namespace

class TestCheckWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void toolsMenuOpensPrefilledWindow();
    void serverLinesAndCopy();
    void resultsAppear();
    void cancelStopsTheCheck();
    void badInputSaysWhy();

private:
    std::unique_ptr<ProgramFixture> fx;
    Form1* f = nullptr;
};

void TestCheckWindow::init() {
    fx = std::make_unique<ProgramFixture>();
    f = fx->form1();
}

void TestCheckWindow::cleanup() {
    f = nullptr;
    fx.reset();
}

void TestCheckWindow::toolsMenuOpensPrefilledWindow() {
    // The Tools menu stands between File and About; File keeps its items.
    const QList<QAction*> bar = f->menuBar()->actions();
    QCOMPARE(bar.size(), 3);
    QCOMPARE(bar[0]->text(), QString("&File"));
    QCOMPARE(bar[1]->text(), QString("Tools"));
    QCOMPARE(bar[1]->menu(), f->mnuTools);
    QCOMPARE(bar[2], f->mnuAbout);
    QCOMPARE(f->mnuTools->objectName(), QString("mnuTools"));
    QCOMPARE(f->mnuTools->actions(), (QList<QAction*>{f->mnuCheck, f->mnuPublish, f->mnuPages}));
    QCOMPARE(f->mnuCheck->text(), QString("Check on Server..."));

    session().defaultSaveFolder = "/srv/www/tones";
    session().defaultUrl = "http://tones.example/ring";
    QVERIFY(!fx->program->exists<FrmCheck>());
    f->mnuCheck->trigger();
    QVERIFY(fx->program->exists<FrmCheck>());
    FrmCheck* w = fx->program->frmCheck();
    QVERIFY(w->isVisible());
    QCOMPARE(w->objectName(), QString("frmCheck"));
    QCOMPARE(w->txtCheckFolder->text(), QString("/srv/www/tones"));
    QCOMPARE(w->txtCheckURL->text(), QString("http://tones.example/ring/"));
    QVERIFY(w->cmndCheck->isEnabled());
    QVERIFY(!w->cmndCancel->isEnabled());
    for (const char* name : {"txtCheckURL", "cmndCheck", "cmndCancel", "lstResults", "prgCheck",
                             "txtServerLines", "cmndCopy"})
        QVERIFY2(w->findChild<QWidget*>(name), name);
}

void TestCheckWindow::serverLinesAndCopy() {
    FrmCheck* w = fx->program->frmCheck();
    QCOMPARE(w->txtServerLines->toPlainText(), serverConfig(WebServer::Apache));
    w->cboServer->setCurrentText("nginx");
    QCOMPARE(w->txtServerLines->toPlainText(), serverConfig(WebServer::Nginx));
    click(w->cmndCopy);
    QCOMPARE(QGuiApplication::clipboard()->text(), serverConfig(WebServer::Nginx));
}

void TestCheckWindow::resultsAppear() {
    NginxServer nginx;
    if (!NginxServer::available())
        QSKIP("nginx is not installed (scripts/setup.sh installs it)");
    writeFile(nginx.path() + "/types.conf", serverConfig(WebServer::Nginx).toUtf8());
    QString error;
    QVERIFY2(nginx.start("        include " + nginx.path() +
                             "/types.conf;\n"
                             "        location = /tones/bad.gcd { types { text/plain gcd; } }\n",
                         &error),
             qPrintable(error));
    QDir().mkpath(nginx.root() + "/tones");
    for (const char* name : {"good", "bad", "sized"}) {
        // One note of MIDI, which the phone takes.
        writeFile(nginx.root() + "/tones/" + name + ".mid",
                  QByteArray("MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x0b\0\x90\x3c\x64\x60\x3c\0\0"
                             "\xff\x2f\0",
                             33));
        writeFile(nginx.root() + "/tones/" + name + ".gcd",
                  descriptorBytes({"audio/midi", name, "1", "V",
                                   nginx.url("/tones/" + QString(name) + ".mid").toString(),
                                   QString(name) == "sized" ? "34" : "33"},
                                  false));
    }
    FrmCheck* w = fx->program->frmCheck();
    w->txtCheckFolder->setText(nginx.root() + "/tones");
    w->txtCheckURL->setText(nginx.url("/tones").toString());
    click(w->cmndCheck);
    QCOMPARE(w->lstResults->count(), 3);
    QVERIFY(!w->cmndCheck->isEnabled());
    QVERIFY(w->cmndCancel->isEnabled());
    QTRY_VERIFY(w->cmndCheck->isEnabled());
    QVERIFY(!w->cmndCancel->isEnabled());
    QCOMPARE(w->prgCheck->maximum(), 3);
    QCOMPARE(w->prgCheck->value(), 3);
    // Sorted by name: bad, good, sized.
    QListWidgetItem* bad = w->lstResults->item(0);
    QVERIFY(bad->text().startsWith("bad.gcd: The descriptor is served as text/plain"));
    QVERIFY(toolTipShows(bad->toolTip())
                .startsWith(nginx.url("/tones/bad.gcd").toString() + ": will not download\n"));
    QVERIFY(bad->text().contains("Fix: serve .gcd as text/x-pcs-gcd"));
    QCOMPARE(bad->foreground().color(), FrmCheck::FailColour);
    QCOMPARE(w->lstResults->item(1)->text(), QString("ok: good.gcd"));
    QCOMPARE(w->lstResults->item(1)->foreground().color(), FrmCheck::OkColour);
    QVERIFY(w->lstResults->item(2)->text().contains("but Content-Size says 34"));
    QCOMPARE(w->lstResults->item(2)->foreground().color(), FrmCheck::FailColour);
    QCOMPARE(w->lblCheckSummary->text(), QString("1 of 3 would download."));
    // nginx answered: its lines are shown, not Apache's.
    QCOMPARE(w->cboServer->currentText(), QString("nginx"));
    QCOMPARE(w->txtServerLines->toPlainText(), serverConfig(WebServer::Nginx));

    // One descriptor by its own URL.
    w->txtCheckURL->setText(nginx.url("/tones/good.gcd").toString());
    click(w->cmndCheck);
    QTRY_VERIFY(w->cmndCheck->isEnabled());
    QCOMPARE(w->lstResults->count(), 1);
    QCOMPARE(w->lblCheckSummary->text(), QString("1 of 1 would download."));

    // A server the user picked stays picked through the next check.
    w->cboServer->setCurrentText("lighttpd");
    Q_EMIT w->cboServer->activated(w->cboServer->currentIndex());
    click(w->cmndCheck);
    QTRY_VERIFY(w->cmndCheck->isEnabled());
    QCOMPARE(w->cboServer->currentText(), QString("lighttpd"));
}

void TestCheckWindow::cancelStopsTheCheck() {
    SilentServer silent;
    FrmCheck* w = fx->program->frmCheck();
    w->options.maxParallel = 2;
    for (int i = 0; i < 5; ++i)
        writeFile(fx->work.filePath(QString("t%1.gcd").arg(i)), "x");
    w->txtCheckFolder->setText(fx->work.path());
    w->txtCheckURL->setText(silent.url("/").toString());
    click(w->cmndCheck);
    QCOMPARE(w->lstResults->count(), 5);
    QTRY_COMPARE(silent.open(), 2);
    // The window answers while the check waits.
    QVERIFY(w->cmndCancel->isEnabled());
    w->cboServer->setCurrentText("lighttpd");
    QCOMPARE(w->txtServerLines->toPlainText(), serverConfig(WebServer::Lighttpd));
    click(w->cmndCancel);
    QVERIFY(w->cmndCheck->isEnabled());
    QVERIFY(!w->cmndCancel->isEnabled());
    QCOMPARE(w->lblCheckSummary->text(), QString("Cancelled: 0 of 5 checked, 0 would download."));
    for (int i = 0; i < 5; ++i)
        QVERIFY(w->lstResults->item(i)->text().startsWith("not checked: "));
    QTRY_COMPARE(silent.open(), 0);
    QCOMPARE(w->prgCheck->value(), 0);

    // Closing the window in the middle of a check stops it as well.
    click(w->cmndCheck);
    QTRY_COMPARE(silent.open(), 2);
    w->close();
    QTRY_COMPARE(silent.open(), 0);
    QTRY_VERIFY(!fx->program->exists<FrmCheck>());
}

void TestCheckWindow::badInputSaysWhy() {
    FrmCheck* w = fx->program->frmCheck();
    w->txtCheckFolder->setText(fx->work.path());
    w->txtCheckURL->setText("tones.example/ring");
    click(w->cmndCheck);
    QCOMPARE(w->lblCheckSummary->text(),
             QString("Cannot check: \"tones.example/ring\" is not an http:// URL."));
    w->txtCheckURL->setText("http://127.0.0.1:9/");
    click(w->cmndCheck);
    QCOMPARE(w->lblCheckSummary->text(), "No .gcd files in " + fx->work.path() + ".");
    // Names that look like markup are shown as they are.
    QVERIFY(QDir(fx->work.path()).mkpath("<i>x"));
    w->txtCheckFolder->setText(fx->work.filePath("<i>x"));
    click(w->cmndCheck);
    QCOMPARE(w->lblCheckSummary->textFormat(), Qt::PlainText);
    QCOMPARE(w->lblCheckSummary->text(), "No .gcd files in " + fx->work.filePath("<i>x") + ".");
    w->txtCheckFolder->setText(fx->work.filePath("none"));
    click(w->cmndCheck);
    QCOMPARE(w->lblCheckSummary->text(), QString("Cannot check: No such folder."));
    QCOMPARE(w->lstResults->count(), 0);
    QVERIFY(w->cmndCheck->isEnabled());
    // Qt takes a tool tip whose first line holds "&lt;" for rich text.
    w->txtCheckURL->setText("http://127.0.0.1:9/a.gcd?&lt;b&gt;");
    click(w->cmndCheck);
    QTRY_VERIFY(w->cmndCheck->isEnabled());
    const QString tip = w->lstResults->item(0)->toolTip();
    QVERIFY2(toolTipShows(tip).startsWith("http://127.0.0.1:9/a.gcd?&lt;b&gt;: will not download\n"
                                          "  descriptor: "),
             qPrintable(tip));
}

QTEST_MAIN(TestCheckWindow)
#include "tst_checkwindow.moc"
