// Tools > Publish Folder...: the window driven by its controls' names, real files and
// the real converter.
#include "TestSupport.h"

#include "platform/Controls.h"
#include "publish/FrmPublish.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>

using namespace tess;
using namespace tess::test;

namespace {

void sound(const QString& path, int seconds) {
    QProcess p;
    p.start("/usr/bin/ffmpeg",
            {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
             QString("sine=f=440:d=%1").arg(seconds), "-ac", "1", "-ar", "22050", path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        qFatal("ffmpeg failed");
}

QMap<QString, QByteArray> contents(const QString& dir) {
    QMap<QString, QByteArray> m;
    for (const QString& n : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
        QFile f(dir + "/" + n);
        f.open(QIODevice::ReadOnly);
        m.insert(n, QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256));
    }
    return m;
}

} // namespace

class TestPublishWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void toolsMenuOpensPrefilledWindow();
    void publishShowsRowsAndEntryUrl();
    void cancelStopsWithinASecondAndKeepsTheSite();

private:
    template <class W> W* control(const char* name) {
        W* w = fx->program->frmPublish()->findChild<W*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    FrmPublish* open();
    std::unique_ptr<ProgramFixture> fx;
    Form1* f = nullptr;
    QString src;
    QString web;
};

void TestPublishWindow::init() {
    fx = std::make_unique<ProgramFixture>();
    f = fx->form1();
    src = fx->work.filePath("src");
    web = fx->work.filePath("web");
    QDir().mkpath(src);
}

void TestPublishWindow::cleanup() {
    f = nullptr;
    fx.reset();
}

FrmPublish* TestPublishWindow::open() {
    session().defaultSaveFolder = web;
    session().defaultUrl = "http://phones.example/ring";
    f->mnuPublish->trigger();
    FrmPublish* w = fx->program->frmPublish();
    w->steps = media::defaultMediaSteps(PVCONV);
    control<TextBox>("txtSource")->setText(src);
    return w;
}

void TestPublishWindow::toolsMenuOpensPrefilledWindow() {
    QCOMPARE(f->mnuPublish->text(), QString("Publish Folder..."));
    QVERIFY(f->mnuTools->actions().contains(f->mnuPublish));
    FrmPublish* w = open();
    QVERIFY(w->isVisible());
    QCOMPARE(w->windowTitle(), QString("Tessavane: Publish Folder"));
    QCOMPARE(control<TextBox>("txtWebDir")->text(), web);
    QCOMPARE(control<TextBox>("txtBaseURL")->text(), QString("http://phones.example/ring/"));
    // The phone list shows screen sizes.
    QComboBox* phones = control<QComboBox>("cboPhone");
    QCOMPARE(phones->currentData().toString(), QString("default"));
    QVERIFY(QRegularExpression("\\(\\d+x\\d+\\)$").match(phones->currentText()).hasMatch());
    for (QWidget* c : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        QVERIFY2(!c->objectName().isEmpty(), c->metaObject()->className());
    // It grows with the user's font and screen: no fixed size.
    QVERIFY(w->maximumSize().width() > 2000);
    const QSize before = control<QTreeWidget>("lstItems")->size();
    w->resize(w->width() + 200, w->height() + 150);
    QTRY_VERIFY(control<QTreeWidget>("lstItems")->size().width() > before.width());
}

void TestPublishWindow::publishShowsRowsAndEntryUrl() {
    QProcess im;
    im.start("/usr/bin/convert-im6.q16", {"-size", "800x600", "plasma:", src + "/Big Photo.jpg"});
    QVERIFY(im.waitForFinished(30000) && im.exitCode() == 0);
    sound(src + "/song.wav", 2);
    QFile notes(src + "/notes.txt");
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("words\n") == 6);
    notes.close();
    FrmPublish* w = open();
    QSignalSpy done(w, &FrmPublish::publishFinished);
    control<QPushButton>("cmndPublish")->click();
    QVERIFY(w->busy());
    QVERIFY(!control<QPushButton>("cmndPublish")->isEnabled());
    QVERIFY(done.wait(60000));
    QTreeWidget* items = control<QTreeWidget>("lstItems");
    QCOMPARE(items->topLevelItemCount(), 3);
    QTreeWidgetItem* photo = items->topLevelItem(0);
    QCOMPARE(photo->text(FrmPublish::ColSource), QString("Big Photo.jpg"));
    QVERIFY(photo->text(FrmPublish::ColResult).startsWith("done, "));
    QVERIFY2(photo->text(FrmPublish::ColFindings).contains("800x600 is larger than the screen"),
             qPrintable(photo->text(FrmPublish::ColFindings)));
    // A thumbnail no larger than the phone's screen.
    QVERIFY(!photo->icon(FrmPublish::ColSource).isNull());
    QVERIFY(items->iconSize().width() <= 176);
    QCOMPARE(items->topLevelItem(1)->text(FrmPublish::ColResult),
             QString("skipped: not a picture or a sound this program reads"));
    QTreeWidgetItem* song = items->topLevelItem(2);
    QCOMPARE(song->text(FrmPublish::ColWebName), QString("song.qcp"));
    auto* play = qobject_cast<QPushButton*>(items->itemWidget(song, FrmPublish::ColPlay));
    QVERIFY(play);
    QCOMPARE(play->text(), QString("Play"));
    QVERIFY(QFile::exists(web + "/song.qcp") && QFile::exists(web + "/song.gcd"));
    QCOMPARE(control<QLineEdit>("txtEntryURL")->text(), QString("http://phones.example/ring/"));
    QCOMPARE(control<QProgressBar>("prgPublish")->value(), 1);
    control<QPushButton>("cmndCopyURL")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("http://phones.example/ring/"));

    // Again: every row unchanged.
    control<QPushButton>("cmndPublish")->click();
    QVERIFY(done.wait(30000));
    QCOMPARE(items->topLevelItem(2)->text(FrmPublish::ColResult), QString("unchanged"));
}

void TestPublishWindow::cancelStopsWithinASecondAndKeepsTheSite() {
    sound(src + "/first.wav", 1);
    FrmPublish* w = open();
    QSignalSpy done(w, &FrmPublish::publishFinished);
    control<QPushButton>("cmndPublish")->click();
    QVERIFY(done.wait(60000));
    const QMap<QString, QByteArray> before = contents(web);
    for (int i = 0; i < 4; ++i)
        sound(src + QString("/long%1.wav").arg(i), 120);
    QTreeWidget* items = control<QTreeWidget>("lstItems");
    control<QPushButton>("cmndPublish")->click();
    // Cancelled while the first long one converts.
    QTRY_VERIFY_WITH_TIMEOUT(items->topLevelItemCount() == 5 &&
                                 items->topLevelItem(1)->text(FrmPublish::ColResult) ==
                                     "working ...",
                             30000);
    QElapsedTimer clock;
    clock.start();
    control<QPushButton>("cmndCancel")->click();
    QVERIFY(done.wait(5000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(contents(web), before);
    QVERIFY(!QFileInfo::exists(web + "/.tessavane-work"));
    QVERIFY(control<QPushButton>("cmndPublish")->isEnabled());
}

QTEST_MAIN(TestPublishWindow)
#include "tst_publishwindow.moc"
