#pragma once

#include <QCheckBox>
#include <QClipboard>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

namespace tess {

// Window geometry is laid out in twips: 15 to a pixel at 96 dots per inch.
constexpr int twips(int t) {
    return t / 15;
}
void placeTwips(QWidget* w, int left, int top, int width, int height);

// 8.25-point sans-serif: the small font the windows were laid out for.
QFont classicFont(bool bold = false);

// A picture of ours (":/name.ext"), from ":/name@2x.ext" on a screen of twice the
// density or more, so it stays crisp at 200 %. QIcon does the same by itself.
QPixmap picture(const QString& path);

// Gives a control its name, which tests and the program look it up by.
template <class W> W* named(W* w, const char* name) {
    w->setObjectName(QLatin1String(name));
    return w;
}

// A label; bold ones use the bold variant of the classic font.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, bool bold = false);
QLabel* makeLabel(QWidget* parent, const char* name, const char* text, bool bold = false);
// A button of a plain window: it answers neither Enter nor Escape.
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption);
QPushButton* makeButton(QWidget* parent, const char* name, const char* caption);

// A single-line text box without the default 32767-character limit. What the user
// types, pastes, drops or composes enters as a single-line edit box on Windows takes
// it: the text before the first line break, without NUL and other control characters
// (tab stays). The program's own setText is not filtered.
class TextBox : public QLineEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr);
    void setBackground(const QColor& c);
    QColor background() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
#if QT_CONFIG(draganddrop)
    void dropEvent(QDropEvent* event) override;
#endif

private:
    void pasteSingleLine(QClipboard::Mode mode);
};

// A check box holding 0 (clear), 1 (ticked) or 2 (grayed); a user's click only
// toggles between clear and ticked, even after the program grayed it.
class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit CheckBox(const QString& text, QWidget* parent = nullptr);
    int value() const;
    // Out-of-range values count as clear.
    void setValue(int v);

protected:
    void nextCheckState() override;
};

// Draws a check box's or option button's indicator and its caption, wrapped onto
// further lines when the button is narrow. Buttons drawn so carry this property,
// which the caption measurements of the tests read.
inline constexpr char kWrapsCaption[] = "wrapsCaption";
void paintWrappedCaption(QAbstractButton* button, QStyle::ControlElement indicator,
                         QStyle::SubElement contents);

// An option button whose caption wraps onto a second line when it is narrow.
class OptionButton : public QRadioButton {
    Q_OBJECT
public:
    explicit OptionButton(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A picture that reacts to a click.
class PictureBox : public QLabel {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);
Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// show + raise + activate: how the program opens its modeless windows.
void showWindow(QWidget* window);

} // namespace tess
