#pragma once

#include <QFont>
#include <QGroupBox>
#include <QHash>
#include <QLineEdit>
#include <QRect>
#include <QSize>
#include <QStringList>

#include "res/DialogTemplate.h"

class QAbstractButton;
class QDialog;
class QWidget;

// Dialog units of a font: a quarter of its average letter width across, an
// eighth of its line height down, so a template keeps its look at any font
// size and any scale factor.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    QRect ToPixels(int x, int y, int width, int height) const;
    int baseWidth() const { return m_baseWidth; }
    int baseHeight() const { return m_baseHeight; }

private:
    int m_baseWidth;
    int m_baseHeight;
};

// An edit box that takes only digits from the keyboard. Pasted text goes in
// as it is: the OK rules convert whatever the box holds.
class DigitEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
};

// A group box drawn as a template's group box: a frame only, its line
// through the middle of the title.
class TemplateGroupBox : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A button, checkbox or radio that draws the mnemonic SetMnemonic gave it:
// the letter is underlined while text() stays the template's words.
template <class Button>
class MnemonicButton : public Button {
public:
    using Button::Button;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Gives `button` a mnemonic: `marked` is its text with an "&" before the
// letter; Alt with the letter presses it.
void SetMnemonic(QAbstractButton& button, const QString& marked);

// The texts of `texts` marked with mnemonics ("&" before a letter), one
// letter or digit per text and none twice, first come first served: the
// first of a word when one is free, else any free one, else none. A text
// that gets none is returned as it is.
QStringList MarkMnemonics(const QStringList& texts);

// Object name of a control: "button1", "radio1011", "check1013", "edit1007",
// "label1014"; labels without an id "static<index>", group boxes "group<index>".
QString ControlObjectName(const ControlTemplate& control, int index);

// The size of a window that shows a client area of `client` in `room`:
// the client's own size when it fits, otherwise as much as the room allows
// with a scroll bar (of the given width and height) in each direction that
// does not fit.
QSize ScrolledWindowSize(QSize client, QSize room, QSize scrollBars);

// Builds the template's controls on `dialog` (caption, fixed size, positions,
// tab order, default button) and returns the controls that have an id. A
// control whose text the dialog's font makes too wide for it is widened
// into the free room on its right. The controls sit on a client area of the
// template's size in a scroll area; the dialog is the client's size, or
// smaller and scrolling when that would not fit on its screen.
QHash<int, QWidget*> BuildDialogFromTemplate(QDialog& dialog, const DialogTemplate& dialogTemplate);
