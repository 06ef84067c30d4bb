// Every caption of every window fits its control at the default font: measured
// with the control's own font and style, as the control draws it.
#include "TestSupport.h"

#include "audio/FrmConvert.h"
#include "batch/frmBatch.h"
#include "batch/frmBatchSet.h"
#include "config/Form2.h"
#include "config/FrmOptSet.h"
#include "core/FrmGetURL.h"
#include "platform/Controls.h"
#include "shell/frmAbout.h"
#include "shell/frmSplash.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTextDocument>
#include <cmath>

using namespace tess;
using namespace tess::test;

namespace {

// The text a button shows: "&&" is one "&", a single "&" marks the shortcut.
QString shown(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

QString where(const QWidget* w) {
    QStringList path;
    for (const QWidget* p = w; p; p = p->parentWidget())
        path.prepend(p->objectName().isEmpty() ? QString::fromLatin1(p->metaObject()->className())
                                               : p->objectName());
    return path.join(QLatin1Char('/'));
}

// The size the text needs in a box of the given width, wrapped or on one line.
QSizeF needed(const QFont& font, const QString& text, int width, bool wrap, Qt::Alignment align) {
    const QFontMetricsF fm(font);
    const int flags = int(align) | (wrap ? Qt::TextWordWrap : 0);
    return fm.boundingRect(QRectF(0, 0, wrap ? width : 100000, 100000), flags, text).size();
}

QString fits(const QWidget* w, const QString& text, const QSizeF& need, const QRect& room) {
    if (std::ceil(need.width() - 0.01) <= room.width() &&
        std::ceil(need.height() - 0.01) <= room.height())
        return {};
    return QStringLiteral("%1 \"%2\" needs %3 x %4 px, has %5 x %6")
        .arg(where(w), text)
        .arg(need.width(), 0, 'f', 1)
        .arg(need.height(), 0, 'f', 1)
        .arg(room.width())
        .arg(room.height());
}

QString checkLabel(const QLabel* l) {
    const QString text = l->text();
    QRect room = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
    int indent = l->indent();
    if (indent < 0 && l->frameWidth() > 0)
        indent = QFontMetrics(l->font()).horizontalAdvance(QLatin1Char('x')) / 2;
    if (indent > 0)
        room.setWidth(room.width() - indent);
    if (l->textFormat() == Qt::RichText ||
        (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(text))) {
        QTextDocument doc;
        doc.setDefaultFont(l->font());
        doc.setDocumentMargin(0);
        doc.setHtml(text);
        if (l->wordWrap())
            doc.setTextWidth(room.width());
        return fits(l, text, QSizeF(doc.idealWidth(), doc.size().height()), room);
    }
    return fits(l, text, needed(l->font(), text, room.width(), l->wordWrap(), l->alignment()),
                room);
}

QString checkButton(const QAbstractButton* b) {
    const QString text = shown(b->text());
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    opt.icon = b->icon();
    opt.iconSize = b->iconSize();
    const bool check = qobject_cast<const QCheckBox*>(b) != nullptr;
    const bool radio = qobject_cast<const QRadioButton*>(b) != nullptr;
    if (check || radio) {
        // The contents rectangle is what is left beside the indicator.
        const QRect room = b->style()->subElementRect(
            check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &opt, b);
        const bool wrap = b->property(kWrapsCaption).toBool();
        return fits(b, text, needed(b->font(), text, room.width(), wrap, Qt::AlignLeft), room);
    }
    QRect room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
    if (!b->icon().isNull())
        room.setWidth(room.width() - b->iconSize().width() - 4);
    const QFontMetricsF fm(b->font());
    return fits(b, text, QSizeF(fm.horizontalAdvance(text), fm.height()), room);
}

QString checkGroupBox(const QGroupBox* g) {
    QStyleOptionGroupBox opt;
    opt.initFrom(g);
    opt.text = g->title();
    opt.textAlignment = g->alignment();
    opt.lineWidth = 1;
    opt.midLineWidth = 0;
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (g->isCheckable())
        opt.subControls |= QStyle::SC_GroupBoxCheckBox;
    // The style sizes the title's rectangle to the title; it must lie in the box.
    const QRect label =
        g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
    if (g->rect().contains(label))
        return {};
    return QStringLiteral("%1 \"%2\" needs %3 px from the left, has %4")
        .arg(where(g), g->title())
        .arg(label.right() + 1)
        .arg(g->width());
}

QStringList cutCaptions(QWidget* window) {
    QStringList cuts;
    int measured = 0;
    const auto add = [&](const QString& problem) {
        ++measured;
        if (!problem.isEmpty())
            cuts.append(problem);
    };
    for (const QLabel* l : window->findChildren<QLabel*>())
        if (!l->text().isEmpty())
            add(checkLabel(l));
    for (const QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (!b->text().isEmpty())
            add(checkButton(b));
    for (const QGroupBox* g : window->findChildren<QGroupBox*>())
        if (!g->title().isEmpty())
            add(checkGroupBox(g));
    if (measured == 0)
        cuts.append(where(window) + QStringLiteral(": no caption measured"));
    return cuts;
}

} // namespace

class TestCaptions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void classicFontIsArialMetric();
    void noCaptionCut_data();
    void noCaptionCut();
    void measureFindsACut();

private:
    std::unique_ptr<ProgramFixture> fx;
};

void TestCaptions::init() {
    fx = std::make_unique<ProgramFixture>();
}

void TestCaptions::cleanup() {
    fx.reset();
    MessageBox::takeRecorded();
}

void TestCaptions::classicFontIsArialMetric() {
    // The measurements mean something only with the font the windows are made for.
    const QString family = QFontInfo(classicFont()).family();
    QVERIFY2(QStringList({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                          QStringLiteral("Arial")})
                 .contains(family),
             qPrintable(family));
}

void TestCaptions::noCaptionCut_data() {
    QTest::addColumn<QString>("window");
    for (const char* w : {"Form1", "FrmGetURL", "FrmOptSet", "Form2", "frmBatch", "frmBatchSet",
                          "FrmConvert", "frmSplash", "frmAbout"})
        QTest::newRow(w) << QString::fromLatin1(w);
}

void TestCaptions::noCaptionCut() {
    QFETCH(QString, window);
    Program& p = *fx->program;
    fx->form1();
    QWidget* w = nullptr;
    if (window == QLatin1String("Form1"))
        w = p.form1();
    else if (window == QLatin1String("FrmGetURL"))
        w = p.frmGetURL();
    else if (window == QLatin1String("FrmOptSet"))
        w = p.frmOptSet();
    else if (window == QLatin1String("Form2"))
        w = p.form2();
    else if (window == QLatin1String("frmBatch"))
        w = p.frmBatchWindow();
    else if (window == QLatin1String("frmBatchSet"))
        w = p.frmBatchSetWindow();
    else if (window == QLatin1String("FrmConvert"))
        w = p.frmConvert();
    else if (window == QLatin1String("frmSplash"))
        w = p.frmSplashWindow();
    else if (window == QLatin1String("frmAbout")) {
        frmAbout* about = p.frmAboutWindow();
        about->setHeightTwips(frmAbout::FullHeightTwips);
        about->tmrwin->stop();
        w = about;
    }
    QVERIFY(w);
    w->show();
    QCoreApplication::processEvents();
    const QStringList cuts = cutCaptions(w);
    QVERIFY2(cuts.isEmpty(), qPrintable(cuts.join(QLatin1Char('\n'))));
}

void TestCaptions::measureFindsACut() {
    // The measure itself: a caption one pixel too wide for its label is a cut.
    QWidget window;
    window.setObjectName(QStringLiteral("probe"));
    window.setFont(classicFont());
    QLabel* label = makeLabel(&window, "lblprobe", "Content-Name:");
    const int width = qCeil(QFontMetricsF(label->font()).horizontalAdvance(label->text()));
    label->setGeometry(0, 0, width, 17);
    QVERIFY(cutCaptions(&window).isEmpty());
    label->setGeometry(0, 0, width - 1, 17);
    const QStringList cuts = cutCaptions(&window);
    QCOMPARE(cuts.size(), 1);
    QVERIFY2(cuts[0].startsWith(QLatin1String("probe/lblprobe \"Content-Name:\"")),
             qPrintable(cuts[0]));
    auto* box = new QCheckBox(QStringLiteral("Make 1st Line BLANK for Compatibility"), &window);
    box->setObjectName(QStringLiteral("chkprobe"));
    box->setGeometry(0, 20, 120, 17);
    QCOMPARE(cutCaptions(&window).size(), 2);
}

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
