#include "gui/DialogBuilder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "gui/QtText.h"
#include "res/TabOrderByPosition.h"

DialogUnits::DialogUnits(const QFont& font) {
    // The average width of the 52 letters, rounded as the classic dialog
    // managers round it; the height is the font's line height.
    const QFontMetrics metrics(font);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseWidth = std::max(1, (letters / 26 + 1) / 2);
    m_baseHeight = std::max(1, metrics.height());
}

QRect DialogUnits::ToPixels(int x, int y, int width, int height) const {
    const auto across = [this](int units) { return units * m_baseWidth / 4; };
    const auto down = [this](int units) { return units * m_baseHeight / 8; };
    return QRect(across(x), down(y), across(width), down(height));
}

namespace {

bool IsTypedNonDigit(const QString& text) {
    for (const QChar c : text) {
        if (c.isPrint() && !(c >= u'0' && c <= u'9')) return true;
    }
    return false;
}

}  // namespace

void DigitEdit::keyPressEvent(QKeyEvent* event) {
    // Shortcuts (Ctrl+V and the like) carry control characters or none.
    if (!(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) && IsTypedNonDigit(event->text())) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void DigitEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (IsTypedNonDigit(event->commitString())) {
        event->accept();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

QString ControlObjectName(const ControlTemplate& control, int index) {
    if (control.id == kStaticId) {
        return (control.kind == ControlKind::GroupBox ? QStringLiteral("group") : QStringLiteral("static")) +
               QString::number(index);
    }
    QString prefix;
    switch (control.kind) {
        case ControlKind::DefaultPushButton:
        case ControlKind::PushButton:
            prefix = QStringLiteral("button");
            break;
        case ControlKind::Radio:
            prefix = QStringLiteral("radio");
            break;
        case ControlKind::Checkbox:
            prefix = QStringLiteral("check");
            break;
        case ControlKind::Edit:
            prefix = QStringLiteral("edit");
            break;
        case ControlKind::Label:
            prefix = QStringLiteral("label");
            break;
        case ControlKind::GroupBox:
            prefix = QStringLiteral("group");
            break;
    }
    return prefix + QString::number(control.id);
}

void TemplateGroupBox::paintEvent(QPaintEvent* event) {
    (void)event;
    // The frame runs through the middle of the title, as dialog templates
    // place their group boxes: a control just below the title line stays
    // inside the frame.
    // Styles place their own frame below the title, so it is drawn here.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics = fontMetrics();
    const QRectF frame = QRectF(rect()).adjusted(0.5, metrics.height() / 2 + 0.5, -0.5, -0.5);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(palette().color(QPalette::Window).darker(104));
    painter.drawRoundedRect(frame, 2, 2);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (title().isEmpty()) return;
    const int padding = std::max(1, metrics.averageCharWidth() / 3);
    const QRect titleRect(metrics.averageCharWidth(), 0, metrics.horizontalAdvance(title()) + 2 * padding,
                          metrics.height());
    painter.fillRect(titleRect, palette().brush(backgroundRole()));
    style()->drawItemText(&painter, titleRect, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(), title(),
                          QPalette::WindowText);
}

namespace {
// The property that holds a button's text marked with its mnemonic.
constexpr char kMarkedText[] = "quarvelMarkedText";
}  // namespace

void SetMnemonic(QAbstractButton& button, const QString& marked) {
    button.setProperty(kMarkedText, marked);
    button.setShortcut(QKeySequence::mnemonic(marked));
    button.update();
}

namespace {

template <class Button>
constexpr QStyle::ControlElement kButtonElement = QStyle::CE_PushButton;
template <>
constexpr QStyle::ControlElement kButtonElement<QCheckBox> = QStyle::CE_CheckBox;
template <>
constexpr QStyle::ControlElement kButtonElement<QRadioButton> = QStyle::CE_RadioButton;

}  // namespace

template <class Button>
void MnemonicButton<Button>::paintEvent(QPaintEvent* event) {
    // The base classes paint exactly this, with text() as the text.
    const QString marked = this->property(kMarkedText).toString();
    const qsizetype at = marked.indexOf(u'&');
    if (at < 0 || marked.left(at) + marked.mid(at + 1) != this->text()) {
        Button::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    this->initStyleOption(&option);
    option.text = marked;
    painter.drawControl(kButtonElement<Button>, option);
}

template class MnemonicButton<QPushButton>;
template class MnemonicButton<QCheckBox>;
template class MnemonicButton<QRadioButton>;

QStringList MarkMnemonics(const QStringList& texts) {
    QString used;
    const auto isFree = [&used](QChar c) { return c.isLetterOrNumber() && !used.contains(c.toLower()); };
    QStringList marked;
    for (const QString& text : texts) {
        qsizetype at = -1;
        for (qsizetype i = 0; i < text.size() && at < 0; ++i) {
            const bool wordStart = i == 0 || !text[i - 1].isLetterOrNumber();
            if (wordStart && isFree(text[i])) at = i;
        }
        for (qsizetype i = 0; i < text.size() && at < 0; ++i) {
            if (isFree(text[i])) at = i;
        }
        if (at < 0) {
            marked.push_back(text);
            continue;
        }
        used.append(text[at].toLower());
        marked.push_back(text.left(at) + u'&' + text.mid(at));
    }
    return marked;
}

namespace {

// Mnemonics for the template's buttons, checkboxes and radios: OK and Cancel
// and the other push buttons first, as they are the most used, then the rest
// in tab order.
void GiveMnemonics(const std::vector<std::pair<const ControlTemplate*, QWidget*>>& built) {
    std::vector<QAbstractButton*> buttons;
    for (const bool pushButtons : {true, false}) {
        for (const auto& [control, widget] : built) {
            const bool isPush =
                control->kind == ControlKind::DefaultPushButton || control->kind == ControlKind::PushButton;
            const bool isToggle = control->kind == ControlKind::Checkbox || control->kind == ControlKind::Radio;
            if ((pushButtons && isPush) || (!pushButtons && isToggle)) {
                buttons.push_back(static_cast<QAbstractButton*>(widget));
            }
        }
    }
    QStringList texts;
    for (const QAbstractButton* button : buttons) texts.push_back(button->text());
    const QStringList marked = MarkMnemonics(texts);
    for (std::size_t i = 0; i < buttons.size(); ++i) SetMnemonic(*buttons[i], marked[static_cast<qsizetype>(i)]);
}

// The width a control needs to show its text on one line, or 0 when it
// shows no text of its own.
int OneLineWidth(QWidget* widget) {
    if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget) || qobject_cast<QPushButton*>(widget)) {
        return widget->sizeHint().width();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->heightForWidth(label->width()) <= label->height()) return 0;
        return label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->margin() + 1;
    }
    return 0;
}

// Fonts differ from the one the template was drawn for: a text that would be
// cut off widens its control into the free room on its right, up to the
// next control of its row, its group box's frame or the dialog's edge.
void WidenControlsToTheirText(const QWidget& client,
                              const std::vector<std::pair<const ControlTemplate*, QWidget*>>& built,
                              const DialogUnits& units) {
    const int gap = units.ToPixels(2, 0, 2, 0).width();
    for (const auto& [control, widget] : built) {
        const int wanted = OneLineWidth(widget);
        if (control->kind == ControlKind::GroupBox || wanted <= widget->width()) continue;
        const QRect rect = widget->geometry();
        int limit = client.width() - gap;
        for (const auto& [other, otherWidget] : built) {
            if (otherWidget == widget) continue;
            const QRect o = otherWidget->geometry();
            if (other->kind == ControlKind::GroupBox) {
                if (control->group && std::string_view(control->group) == other->text) {
                    limit = std::min(limit, o.right() - gap);
                }
                continue;
            }
            const bool sameRow = o.top() <= rect.bottom() && rect.top() <= o.bottom();
            if (sameRow && o.left() > rect.left()) limit = std::min(limit, o.left() - gap);
        }
        widget->resize(std::max(rect.width(), std::min(wanted, limit - rect.left() + 1)), rect.height());
    }
}

// The room a window's inside may take on its screen: the screen less the
// panels, less a title bar and frame of the usual size, which the window
// manager adds only once the window is shown.
QSize RoomOnScreen(const QWidget& window) {
    const QScreen* screen = window.screen();
    if (!screen) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const QStyle* style = window.style();
    const int frame = 2 * style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    const int titleBar = style->pixelMetric(QStyle::PM_TitleBarHeight);
    return screen->availableGeometry().size() - QSize(frame, frame + titleBar);
}

// The template's client area scrolls inside the dialog; it only does so
// when the dialog would not fit on the screen, so that every control and
// OK and Cancel stay reachable. A control that takes the focus, by Tab,
// mnemonic or click, is scrolled into view.
QWidget* MakeScrollingClient(QDialog& dialog, QSize clientSize) {
    auto* area = new QScrollArea(&dialog);
    area->setObjectName(QStringLiteral("dialogScrollArea"));
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus);
    area->viewport()->setBackgroundRole(QPalette::Window);
    auto* client = new QWidget;
    client->setObjectName(QStringLiteral("dialogClient"));
    client->setFixedSize(clientSize);
    area->setWidget(client);

    const QSize bars(area->verticalScrollBar()->sizeHint().width(), area->horizontalScrollBar()->sizeHint().height());
    const QSize windowSize = ScrolledWindowSize(clientSize, RoomOnScreen(dialog), bars);
    dialog.setFixedSize(windowSize);
    area->setGeometry(QRect(QPoint(0, 0), windowSize));

    QObject::connect(qApp, &QApplication::focusChanged, area, [area, client](QWidget*, QWidget* now) {
        if (now && client->isAncestorOf(now)) area->ensureWidgetVisible(now);
    });
    return client;
}

}  // namespace

QSize ScrolledWindowSize(QSize client, QSize room, QSize scrollBars) {
    bool across = client.width() > room.width();
    bool down = client.height() > room.height();
    // A scroll bar in one direction takes room from the other.
    for (int pass = 0; pass < 2; ++pass) {
        across = client.width() > room.width() - (down ? scrollBars.width() : 0);
        down = client.height() > room.height() - (across ? scrollBars.height() : 0);
    }
    return QSize(std::min(client.width() + (down ? scrollBars.width() : 0), room.width()),
                 std::min(client.height() + (across ? scrollBars.height() : 0), room.height()));
}

QHash<int, QWidget*> BuildDialogFromTemplate(QDialog& dialog, const DialogTemplate& dialogTemplate) {
    dialog.setWindowTitle(ToQString(dialogTemplate.caption));
    const DialogUnits units(dialog.font());
    QWidget* client =
        MakeScrollingClient(dialog, units.ToPixels(0, 0, dialogTemplate.width, dialogTemplate.height).size());

    QHash<int, QWidget*> byId;
    std::vector<std::pair<const ControlTemplate*, QWidget*>> built;
    std::vector<std::size_t> tabStops;  // indexes into the template's controls
    std::vector<QWidget*> widgets;
    int index = 0;
    for (const ControlTemplate& control : dialogTemplate.controls) {
        const QString text = ToQString(control.text);
        QWidget* widget = nullptr;
        switch (control.kind) {
            case ControlKind::DefaultPushButton:
            case ControlKind::PushButton: {
                auto* button = new MnemonicButton<QPushButton>(text, client);
                button->setDefault(control.kind == ControlKind::DefaultPushButton);
                widget = button;
                break;
            }
            case ControlKind::Radio:
                widget = new MnemonicButton<QRadioButton>(text, client);
                break;
            case ControlKind::Checkbox:
                widget = new MnemonicButton<QCheckBox>(text, client);
                break;
            case ControlKind::Edit:
                widget = new DigitEdit(text, client);
                break;
            case ControlKind::Label: {
                // Static text wraps at word boundaries and starts at the top.
                auto* label = new QLabel(text, client);
                label->setWordWrap(true);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = label;
                break;
            }
            case ControlKind::GroupBox: {
                auto* box = new TemplateGroupBox(text, client);
                widget = box;
                break;
            }
        }
        widget->setObjectName(ControlObjectName(control, index));
        widget->setGeometry(units.ToPixels(control.x, control.y, control.width, control.height));
        if (control.kind == ControlKind::GroupBox) {
            // A frame only: it must not cover the controls it encloses.
            widget->lower();
        } else if (control.kind != ControlKind::Label) {
            if (control.tabStop) {
                widget->setFocusPolicy(Qt::StrongFocus);
                tabStops.push_back(static_cast<std::size_t>(index));
            } else {
                widget->setFocusPolicy(Qt::ClickFocus);
            }
        }
        if (control.id != kStaticId) byId.insert(control.id, widget);
        built.emplace_back(&control, widget);
        widgets.push_back(widget);
        ++index;
    }
    WidenControlsToTheirText(*client, built, units);
    std::vector<QWidget*> order;
    for (const std::size_t stop : TabOrderByPosition(dialogTemplate.controls, tabStops)) order.push_back(widgets[stop]);
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    GiveMnemonics(built);
    return byId;
}
