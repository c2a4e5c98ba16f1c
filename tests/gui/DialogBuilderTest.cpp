#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <set>
#include <vector>

#include "res/Dialog131.h"
#include "res/DialogBuilder.h"
#include "settings/CCustomCourse.h"

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

    // Every control that takes the focus is scrolled into view and is what
    // the mouse meets there; Tab goes round them all.
    std::vector<QWidget*> tabStops;
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
        if (control.tabStop) tabStops.push_back(widget);
    }
    // Tab visits one radio of each group (the platform's way), every other
    // tab stop, and scrolls each into view.
    area->horizontalScrollBar()->setValue(0);
    area->verticalScrollBar()->setValue(0);
    tabStops.front()->setFocus(Qt::TabFocusReason);
    std::set<QWidget*> visited;
    for (std::size_t i = 0; i < 2 * tabStops.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        EXPECT_TRUE(InView(*area, *focus)) << focus->objectName().toStdString();
        visited.insert(focus);
    }
    for (QWidget* stop : tabStops) {
        if (qobject_cast<QRadioButton*>(stop)) continue;
        EXPECT_EQ(visited.count(stop), 1u) << stop->objectName().toStdString();
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
