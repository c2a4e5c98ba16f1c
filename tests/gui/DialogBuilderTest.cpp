#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <set>

#include "gui/CCustomCourse.h"
#include "gui/DialogBuilder.h"
#include "res/Dialog131.h"

namespace {

// Whether `widget` is wholly inside the part of the scroll area in view.
bool InView(const QScrollArea& area, const QWidget& widget) {
    const QRect shown(widget.mapTo(area.viewport(), QPoint(0, 0)), widget.size());
    return area.viewport()->rect().contains(shown);
}

}  // namespace

TEST(DialogBuilderTest, TheWindowScrollsOnlyInTheDirectionsThatDoNotFit) {
    struct Row {
        const char* name;
        QSize client, room, expected;
    };
    const QSize bars(12, 10);
    const Row rows[] = {
        {"fits", {1048, 630}, {1900, 1100}, {1048, 630}},
        {"fits exactly", {800, 500}, {800, 500}, {800, 500}},
        {"too tall", {500, 630}, {800, 470}, {512, 470}},
        {"too tall, and the bar makes it too wide", {795, 630}, {800, 470}, {800, 470}},
        {"too wide", {1048, 300}, {800, 470}, {800, 310}},
        {"too wide, and the bar makes it too tall", {1048, 465}, {800, 470}, {800, 470}},
        {"neither fits", {1048, 630}, {784, 458}, {784, 458}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ScrolledWindowSize(row.client, row.room, bars), row.expected);
    }
}

// Run once on a screen the settings dialog fits and once on a 1600x1000
// screen at scale 2 ($QUARVEL_EXPECT_SCROLLING set), where it does not.
TEST(DialogBuilderTest, TheSettingsDialogFitsItsScreenAndEveryControlCanBeReached) {
    const bool expectScrolling = std::getenv("QUARVEL_EXPECT_SCROLLING") != nullptr;
    CCustomCourse dialog;
    const QScreen* screen = dialog.screen();
    ASSERT_NE(screen, nullptr);
    if (expectScrolling) {
        ASSERT_EQ(screen->geometry(), QRect(0, 0, 800, 500));
    }
    const QSize client = DialogUnits(dialog.font()).ToPixels(0, 0, kDialog131.width, kDialog131.height).size();
    auto* area = dialog.findChild<QScrollArea*>(QStringLiteral("dialogScrollArea"));
    ASSERT_NE(area, nullptr);

    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    const QRect available = screen->availableGeometry();
    EXPECT_TRUE(available.contains(dialog.frameGeometry()))
        << dialog.frameGeometry().x() << "," << dialog.frameGeometry().y() << " " << dialog.frameGeometry().width()
        << "x" << dialog.frameGeometry().height();
    EXPECT_EQ(area->verticalScrollBar()->isVisible(), expectScrolling);
    EXPECT_EQ(area->horizontalScrollBar()->isVisible(), expectScrolling);
    if (expectScrolling) {
        EXPECT_LT(dialog.width(), client.width());
        EXPECT_LT(dialog.height(), client.height());
    } else {
        EXPECT_EQ(dialog.size(), client);
    }

    // Every control that takes the focus (by Tab, mnemonic or click) is
    // scrolled into view and is what the mouse meets there.
    int index = 0;
    for (const ControlTemplate& control : kDialog131.controls) {
        QWidget* widget = dialog.findChild<QWidget*>(ControlObjectName(control, index++));
        ASSERT_NE(widget, nullptr);
        if (control.kind == ControlKind::Label || control.kind == ControlKind::GroupBox || widget->isHidden()) continue;
        SCOPED_TRACE(control.text);
        widget->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        EXPECT_TRUE(InView(*area, *widget));
        const QPoint centre = widget->mapTo(&dialog, widget->rect().center());
        EXPECT_EQ(dialog.childAt(centre), widget);
    }
    // OK, scrolled to by the user and clicked, closes the dialog with OK.
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("button1"));
    area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
    area->horizontalScrollBar()->setValue(0);
    ASSERT_TRUE(InView(*area, *ok));
    QTest::mouseClick(dialog.childAt(ok->mapTo(&dialog, ok->rect().center())), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(DialogBuilderTest, MnemonicsTakeAFreeLetterPreferablyAWordsFirst) {
    const QStringList texts = {
        QStringLiteral("OK"),
        QStringLiteral("Cancel"),
        QStringLiteral("Assessment / ADL"),
        QStringLiteral("Assessment / ADL - auto-skip"),
        QStringLiteral("('completed', 'incomplete')"),
        QStringLiteral("SCORM 1.2"),
        QStringLiteral("xAPI"),
        QStringLiteral("Ok"),
        QStringLiteral("12"),
        QStringLiteral("1"),
    };
    const QStringList expected = {
        QStringLiteral("&OK"),
        QStringLiteral("&Cancel"),
        QStringLiteral("&Assessment / ADL"),
        QStringLiteral("Assessment / ADL - auto-&skip"),  // after punctuation a word starts
        QStringLiteral("('completed', '&incomplete')"),
        QStringLiteral("SCORM &1.2"),  // digits serve too
        QStringLiteral("&xAPI"),
        QStringLiteral("O&k"),  // the same letter in the other case is taken too
        QStringLiteral("1&2"),  // no word's first is free
        QStringLiteral("1"),    // none left: no mnemonic
    };
    const QStringList marked = MarkMnemonics(texts);
    ASSERT_EQ(marked.size(), expected.size());
    for (qsizetype i = 0; i < marked.size(); ++i) {
        SCOPED_TRACE(texts[i].toStdString());
        EXPECT_EQ(marked[i], expected[i]);
    }
}

TEST(DialogBuilderTest, AltWithAMnemonicPressesItsControl) {
    CCustomCourse dialog;
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    // No two controls share a letter; there are more controls than letters
    // and digits, so a few of the last in the template have none.
    std::set<QKeySequence> shortcuts;
    int without = 0;
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        SCOPED_TRACE(button->text().toStdString());
        if (button->shortcut().isEmpty()) {
            ++without;
            continue;
        }
        EXPECT_TRUE(shortcuts.insert(button->shortcut()).second);
    }
    EXPECT_LE(without, 5);
    EXPECT_EQ(dialog.findChild<QAbstractButton*>(QStringLiteral("button1"))->shortcut(),
              QKeySequence(Qt::ALT | Qt::Key_O));
    EXPECT_EQ(dialog.findChild<QAbstractButton*>(QStringLiteral("button2"))->shortcut(),
              QKeySequence(Qt::ALT | Qt::Key_C));
    const auto press = [](QAbstractButton* button) {
        const QKeySequence key = button->shortcut();
        QTest::keyClick(QApplication::focusWidget(), key[0].key(), key[0].keyboardModifiers());
        // Pressing by shortcut animates the click; it lands a moment later.
        QTest::qWait(300);
    };
    auto* skipAhead = dialog.findChild<QAbstractButton*>(QStringLiteral("check1016"));
    press(skipAhead);
    EXPECT_TRUE(skipAhead->isChecked());
    auto* assessment = dialog.findChild<QAbstractButton*>(QStringLiteral("radio1012"));
    press(assessment);
    EXPECT_TRUE(assessment->isChecked());
    EXPECT_FALSE(dialog.findChild<QWidget*>(QStringLiteral("check1013"))->isHidden());
    press(dialog.findChild<QAbstractButton*>(QStringLiteral("button2")));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
}
