// At 200 % (QT_SCALE_FACTOR=2, set for this test) every picture comes from its
// twice-as-large drawing, so nothing is blown up from the small one.
#include "TestSupport.h"

#include "batch/frmBatchSet.h"
#include "platform/Controls.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"

#include <QPushButton>

using namespace tess;
using namespace tess::test;

class TestHiDpi : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void screenIsDoubled();
    void picturesAreSharp();
    void buttonsAndIconAreSharp();

private:
    std::unique_ptr<ProgramFixture> fx;
};

void TestHiDpi::init() {
    fx = std::make_unique<ProgramFixture>();
}

void TestHiDpi::cleanup() {
    fx.reset();
    MessageBox::takeRecorded();
}

void TestHiDpi::screenIsDoubled() {
    QCOMPARE(qGuiApp->devicePixelRatio(), 2.0);
}

void TestHiDpi::picturesAreSharp() {
    const auto check = [](QLabel* label, QSize logical) {
        const QPixmap p = label->pixmap();
        QVERIFY2(p.devicePixelRatio() == 2.0, qPrintable(label->objectName()));
        QCOMPARE(p.size(), logical * 2);
        QCOMPARE(p.deviceIndependentSize().toSize(), logical);
    };
    check(fx->form1()->Image1, QSize(80, 50));
    check(fx->program->frmSplashWindow()->Image1, QSize(350, 250));
    check(fx->program->frmAboutWindow()->Image1, QSize(350, 250));
    check(child<QLabel>(fx->program->frmBatchSetWindow(), "Image1"), QSize(80, 50));
    // Without a sharp drawing the plain picture is used as it is.
    QCOMPARE(picture(QStringLiteral(":/no-such.png")).isNull(), true);
}

void TestHiDpi::buttonsAndIconAreSharp() {
    Form1* f = fx->form1();
    for (QPushButton* b : {f->cmndgcd, f->CMNDBatch, f->CMNDwav, f->cmndmake}) {
        const QPixmap p = b->icon().pixmap(b->iconSize(), 2.0);
        QVERIFY2(p.size() == QSize(128, 70), qPrintable(b->objectName()));
    }
    QCOMPARE(f->windowIcon().pixmap(QSize(32, 32), 2.0).size(), QSize(64, 64));
}

QTEST_MAIN(TestHiDpi)
#include "tst_hidpi.moc"
