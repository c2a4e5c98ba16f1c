#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "app/QtUser.h"
#include "gui/ModalDriver.h"

TEST(QtUserTest, MessageBoxesHaveOneOkButtonAndTheStopIconOnlyWhenAsked) {
    QDialog owner;
    QtUser user(&owner);
    const std::pair<MessageStyle, QMessageBox::Icon> rows[] = {
        {MessageStyle::Stop, QMessageBox::Critical},
        {MessageStyle::Plain, QMessageBox::NoIcon},
    };
    for (const auto& [style, icon] : rows) {
        SCOPED_TRACE(static_cast<unsigned>(style));
        ModalDriver driver;
        driver.Then("messageBox", [&owner, icon](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Files updated"));
            EXPECT_EQ(box->text(), QStringLiteral("50% done in 'caf\u00e9'"));
            EXPECT_EQ(box->icon(), icon);
            EXPECT_EQ(box->buttons().size(), 1);
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            EXPECT_EQ(box->parentWidget(), &owner);
            EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
            box->button(QMessageBox::Ok)->click();
        });
        user.ShowMessage("50% done in 'caf\xc3\xa9'", "Files updated", style);
        EXPECT_TRUE(driver.AllAnswered());
    }
}

TEST(QtUserTest, ProgressShowsTheCountAndFolderUntilItEnds) {
    QDialog owner;
    QtUser user(&owner);
    const auto progressWindow = [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QStringLiteral("progressWindow") && widget->isVisible()) return widget;
        }
        return static_cast<QWidget*>(nullptr);
    };
    EXPECT_EQ(progressWindow(), nullptr);
    user.ReportProgress(1, "/courses/one");
    user.ReportProgress(2, "/courses/two");
    QWidget* window = progressWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("progressCount"))->text(), QStringLiteral("Done so far: 2"));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("progressFolder"))->text(), QStringLiteral("/courses/two"));

    // A long path keeps its start and its end.
    const std::string longPath = "/start" + std::string(400, 'x') + "/the-bundle";
    user.ReportProgress(3, longPath);
    const QString shown = window->findChild<QLabel*>(QStringLiteral("progressFolder"))->text();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/start")));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/the-bundle")));
    EXPECT_LT(shown.size(), 200);

    user.EndProgress();
    EXPECT_EQ(progressWindow(), nullptr);
    user.EndProgress();  // twice is harmless
}
