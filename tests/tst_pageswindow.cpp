// Tools > Make Download Pages...: the window driven by its controls' names.
#include "TestSupport.h"

#include "engine/Descriptor.h"
#include "pages/FrmPages.h"
#include "platform/Controls.h"

#include <QAction>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTextBrowser>

using namespace tess;
using namespace tess::test;

class TestPagesWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void toolsMenuOpensPrefilledWindow();
    void previewShowsPagesAtScreenSizeAndWritesNothing();
    void makeWritesPagesAndKeepsUsersFile();

private:
    template <class W> W* control(const char* name) {
        W* w = fx->program->frmPages()->findChild<W*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    void putItems(int count);
    std::unique_ptr<ProgramFixture> fx;
    Form1* f = nullptr;
    QString folder;
};

void TestPagesWindow::init() {
    fx = std::make_unique<ProgramFixture>();
    f = fx->form1();
    folder = fx->work.filePath("tones");
    QDir().mkpath(folder);
}

void TestPagesWindow::cleanup() {
    f = nullptr;
    fx.reset();
}

void TestPagesWindow::putItems(int count) {
    for (int i = 0; i < count; ++i) {
        const QString name = QString("Tone %1").arg(i, 2, 10, QChar('0'));
        QVERIFY(writeDescriptor(
            folder + QString("/t%1.gcd").arg(i),
            {"audio/midi", name, "1", "V", QString("http://h/tones/t%1.mid").arg(i), "2048"},
            false));
    }
}

void TestPagesWindow::toolsMenuOpensPrefilledWindow() {
    QCOMPARE(f->mnuPages->text(), QString("Make Download Pages..."));
    QCOMPARE(f->mnuPages->objectName(), QString("mnuPages"));
    QCOMPARE(f->mnuTools->actions().last(), f->mnuPages);
    session().defaultSaveFolder = folder;
    session().defaultUrl = "http://tones.example/ring";
    QVERIFY(!fx->program->exists<FrmPages>());
    f->mnuPages->trigger();
    FrmPages* w = fx->program->frmPages();
    QVERIFY(w->isVisible());
    QCOMPARE(w->objectName(), QString("frmPages"));
    QCOMPARE(w->windowTitle(), QString("Tessavane: Make Download Pages"));
    QCOMPARE(control<TextBox>("txtPagesFolder")->text(), folder);
    QCOMPARE(control<TextBox>("txtPagesURL")->text(), QString("http://tones.example/ring/"));
    QVERIFY(control<QComboBox>("cboPhone")->count() >= 1);
    QCOMPARE(control<QComboBox>("cboPhone")->currentData().toString(), QString("default"));
    // Every control is named, and each takes the keyboard focus.
    for (QWidget* c : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        QVERIFY2(!c->objectName().isEmpty(), c->metaObject()->className());
    for (const char* name : {"txtPagesFolder", "txtPagesURL", "cboPhone", "txtPagesTitle",
                             "cmndPreview", "cmndMakePages", "txtPreview", "lstPagesProblems"})
        QVERIFY2(control<QWidget>(name)->focusPolicy() & Qt::TabFocus, name);
    // Resizable: the layout lets it grow and shrink.
    const QSize before = w->size();
    w->resize(before + QSize(200, 150));
    QCOMPARE(w->size(), before + QSize(200, 150));
    QVERIFY(w->minimumSize().width() < before.width());
}

void TestPagesWindow::previewShowsPagesAtScreenSizeAndWritesNothing() {
    putItems(40);
    FrmPages* w = fx->program->frmPages();
    control<TextBox>("txtPagesFolder")->setText(folder);
    control<TextBox>("txtPagesURL")->setText("http://h/tones/");
    control<TextBox>("txtPagesTitle")->setText("Ring & <Sing>");
    control<QPushButton>("cmndPreview")->click();
    auto* preview = control<QTextBrowser>("txtPreview");
    QCOMPARE(preview->size(), QSize(128, 160));
    QVERIFY2(preview->toPlainText().startsWith("Ring & <Sing>\nTone 00, ringer 2 KB"),
             qPrintable(preview->toPlainText()));
    const QString summary = control<QLabel>("lblPagesSummary")->text();
    QVERIFY2(summary.startsWith("40 descriptors would go on "), qPrintable(summary));
    QVERIFY(summary.contains(" of 1400 bytes compiled"));
    QCOMPARE(QDir(folder).entryList({"*.wml", "*.xhtml"}, QDir::Files), QStringList());
    // Next turns the preview's page.
    QVERIFY(!preview->toPlainText().contains("Previous"));
    Q_EMIT preview->anchorClicked(QUrl("2.xhtml"));
    QVERIFY(preview->toPlainText().startsWith("Ring & <Sing> (2)\n"));
    QVERIFY(preview->toPlainText().contains("Previous"));
    Q_EMIT preview->anchorClicked(QUrl("t3.gcd"));
    QVERIFY(preview->toPlainText().startsWith("Ring & <Sing> (2)\n"));

    // Another phone: the preview takes its screen size and its page limit.
    auto* phones = control<QComboBox>("cboPhone");
    const int sanyo = phones->findData("sanyo-scp-5300");
    QVERIFY(sanyo >= 0);
    phones->setCurrentIndex(sanyo);
    QCOMPARE(preview->size(), QSize(132, 176));
    QVERIFY(control<QLabel>("lblPagesSummary")->text().contains("(limit 10000 bytes)"));
    phones->setCurrentIndex(phones->findData("default"));

    control<TextBox>("txtPagesFolder")->setText(folder + "/none");
    control<QPushButton>("cmndPreview")->click();
    QCOMPARE(control<QLabel>("lblPagesSummary")->text(),
             "Cannot make pages: " + folder + "/none: No such folder");
    QVERIFY(preview->toPlainText().isEmpty());
    Q_UNUSED(w);
}

void TestPagesWindow::makeWritesPagesAndKeepsUsersFile() {
    putItems(5);
    QFile bad(folder + "/broken.gcd");
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("nothing like a descriptor");
    bad.close();
    fx->program->frmPages();
    control<TextBox>("txtPagesFolder")->setText(folder);
    control<TextBox>("txtPagesURL")->setText("http://h/tones");
    control<QPushButton>("cmndMakePages")->click();
    QCOMPARE(control<QLabel>("lblPagesSummary")->text(),
             QString("5 descriptors on 1 WML decks and 1 XHTML pages; phones open "
                     "http://h/tones/"));
    QCOMPARE(control<QListWidget>("lstPagesProblems")->count(), 1);
    QVERIFY(control<QListWidget>("lstPagesProblems")
                ->item(0)
                ->text()
                .startsWith(folder + "/broken.gcd: "));
    QVERIFY(QFile::exists(folder + "/index.wml"));
    QVERIFY(QFile::exists(folder + "/index.xhtml"));

    QVERIFY(QFile::remove(folder + "/index.wml"));
    QFile mine(folder + "/index.wml");
    QVERIFY(mine.open(QIODevice::WriteOnly));
    mine.write("my deck");
    mine.close();
    control<QPushButton>("cmndMakePages")->click();
    QVERIFY(control<QLabel>("lblPagesSummary")
                ->text()
                .startsWith("No pages written: " + folder + "/index.wml: "));
    QVERIFY(mine.open(QIODevice::ReadOnly));
    QCOMPARE(mine.readAll(), QByteArray("my deck"));
}

QTEST_MAIN(TestPagesWindow)
#include "tst_pageswindow.moc"
