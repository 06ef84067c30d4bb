#include "platform/Controls.h"

#include "engine/TextRules.h"

#include <QAction>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <limits>

namespace tess {

void placeTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

QFont classicFont(bool bold) {
    QFont f;
    // Arial's metrics (Liberation Sans on Linux) are what the layout was made for.
    f.setFamilies({QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("Arial")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(8.25);
    f.setBold(bold);
    return f;
}

QPixmap picture(const QString& path) {
    if (qGuiApp && qGuiApp->devicePixelRatio() > 1.0) {
        const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
        QPixmap sharp(path.left(dot) + QStringLiteral("@2x") + path.mid(dot));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            return sharp;
        }
    }
    return QPixmap(path);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, bool bold) {
    auto* l = named(new QLabel(text, parent), name);
    if (bold)
        l->setFont(classicFont(true));
    return l;
}

QLabel* makeLabel(QWidget* parent, const char* name, const char* text, bool bold) {
    return makeLabel(parent, name, QString::fromLatin1(text), bold);
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* b = named(new QPushButton(caption, parent), name);
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption) {
    return makeButton(parent, name, QString::fromLatin1(caption));
}

TextBox::TextBox(QWidget* parent) : QLineEdit(parent) {
    setMaxLength(std::numeric_limits<int>::max());
}

void TextBox::setBackground(const QColor& c) {
    // The URL box is coloured at every automatic rename; an unchanged colour would
    // still resolve and hand a new palette to the box.
    const QPalette& current = palette();
    if (current.isBrushSet(QPalette::Active, QPalette::Base) && current.color(QPalette::Base) == c)
        return;
    QPalette pal = current;
    pal.setColor(QPalette::Base, c);
    setPalette(pal);
}

QColor TextBox::background() const {
    return palette().color(QPalette::Base);
}

void TextBox::pasteSingleLine(QClipboard::Mode mode) {
    if (isReadOnly())
        return;
    const QString clip = QGuiApplication::clipboard()->text(mode);
    // As QLineEdit::paste: an empty clipboard still replaces a selection.
    if (!clip.isEmpty() || hasSelectedText())
        insert(TextRules::singleLine(clip));
}

void TextBox::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Paste && !isReadOnly()) {
        pasteSingleLine(QClipboard::Clipboard);
        event->accept();
        return;
    }
    // Text QLineEdit would insert as it is (it only looks at the first character).
    const QString typed = event->text();
    if (!isReadOnly() && !typed.isEmpty() && typed.at(0).isPrint()) {
        const QString kept = TextRules::singleLine(typed);
        if (kept != typed) {
            insert(kept);
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TextBox::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    const QString kept = TextRules::singleLine(commit);
    if (kept != commit)
        event->setCommitString(kept, event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(event);
}

void TextBox::mouseReleaseEvent(QMouseEvent* event) {
    // The middle button pastes the X11 selection; QLineEdit would take it whole.
    if (event->button() == Qt::MiddleButton && !isReadOnly() &&
        QGuiApplication::clipboard()->supportsSelection()) {
        deselect();
        pasteSingleLine(QClipboard::Selection);
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void TextBox::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    if (!menu)
        return;
    // The menu's Paste calls QLineEdit::paste, which is not virtual: send it here instead.
    // Qt connects it by name, so it is found and undone by name.
    for (QAction* action : menu->actions()) {
        if (disconnect(action, SIGNAL(triggered()), this, SLOT(paste())) ||
            disconnect(action, &QAction::triggered, this, &QLineEdit::paste))
            connect(action, &QAction::triggered, this,
                    [this] { pasteSingleLine(QClipboard::Clipboard); });
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

#if QT_CONFIG(draganddrop)
void TextBox::dropEvent(QDropEvent* event) {
    const QMimeData* data = event->mimeData();
    const QString text = data ? data->text() : QString();
    const QString kept = TextRules::singleLine(text);
    if (kept == text) {
        QLineEdit::dropEvent(event);
        return;
    }
    QMimeData single;
    single.setText(kept);
    QDropEvent filtered(event->position(), event->possibleActions(), &single, event->buttons(),
                        event->modifiers(), event->type());
    filtered.setDropAction(event->dropAction());
    QLineEdit::dropEvent(&filtered);
    event->setDropAction(filtered.dropAction());
    event->setAccepted(filtered.isAccepted());
}
#endif

CheckBox::CheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

int CheckBox::value() const {
    switch (checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void CheckBox::setValue(int v) {
    if (v == 2)
        setTristate(true);
    setCheckState(v == 1 ? Qt::Checked : v == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void CheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

OptionButton::OptionButton(const QString& text, QWidget* parent) : QRadioButton(text, parent) {
    setProperty(kWrapsCaption, true);
}

void paintWrappedCaption(QAbstractButton* button, QStyle::ControlElement indicator,
                         QStyle::SubElement contents) {
    QStylePainter p(button);
    QStyleOptionButton opt;
    opt.initFrom(button);
    opt.text = button->text();
    opt.state |= button->isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
    if (button->underMouse())
        opt.state |= QStyle::State_MouseOver;
    if (auto* check = qobject_cast<QCheckBox*>(button)) {
        const Qt::CheckState state = check->checkState();
        opt.state |= state == Qt::Checked            ? QStyle::State_On
                     : state == Qt::PartiallyChecked ? QStyle::State_NoChange
                                                     : QStyle::State_Off;
    } else {
        opt.state |= button->isChecked() ? QStyle::State_On : QStyle::State_Off;
    }
    const QString caption = opt.text;
    opt.text.clear();
    p.drawControl(indicator, opt);
    opt.text = caption;
    const QRect textRect = button->style()->subElementRect(contents, &opt, button);
    p.setPen(button->palette().color(button->isEnabled() ? QPalette::Active : QPalette::Disabled,
                                     QPalette::WindowText));
    QRect drawn;
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, caption, &drawn);
    // The caption is drawn here, so is the keyboard focus around it.
    if (button->hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(button);
        focus.rect = drawn.adjusted(-1, 0, 1, 0);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

void OptionButton::paintEvent(QPaintEvent*) {
    paintWrappedCaption(this, QStyle::CE_RadioButton, QStyle::SE_RadioButtonContents);
}

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) {}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

void showWindow(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace tess
