#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <iterator>
#include <optional>

#include "gui/ModalDriver.h"
#include "gui/QtUser.h"

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

TEST(QtUserTest, TheOfferOfAnOwnInstallFolderIsAYesNoQuestionNamingEachFolder) {
    QDialog owner;
    QtUser user(&owner);
    const PerUserInstallOffer offer{"/usr/share/quarvel/install", "/home/ann/.local/share/quarvel/install",
                                    "/home/ann/.config/quarvel/quarvel.conf"};
    struct Row {
        const char* name;
        std::function<void(QMessageBox*)> answer;
        bool accepted;
    };
    const Row rows[] = {
        {"Yes", [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); }, true},
        {"No", [](QMessageBox* box) { box->button(QMessageBox::No)->click(); }, false},
        {"Escape", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, false},
        {"Enter takes the default", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ModalDriver driver;
        driver.Then("perUserInstallQuestion", [&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Quarvel"));
            EXPECT_EQ(box->icon(), QMessageBox::Question);
            EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
            EXPECT_EQ(box->parentWidget(), &owner);
            for (const std::string& folder : {offer.installFolder, offer.perUserFolder, offer.perUserStore}) {
                EXPECT_TRUE(box->text().contains(QString::fromStdString("'" + folder + "'"))) << folder;
            }
            row.answer(box);
        });
        EXPECT_EQ(user.AcceptPerUserInstall(offer), row.accepted);
        EXPECT_TRUE(driver.AllAnswered());
    }
}

TEST(QtUserTest, TheSettingsDialogTellsUndoLastRunFromCancelAndOk) {
    QDialog owner;
    QtUser user(&owner);
    const struct {
        const char* name;
        int button;
        bool settingsGiven;
        bool undoChosen;
    } rows[] = {
        {"Undo last run", 1053, false, true},
        {"Cancel after Undo", 2, false, false},
        {"Undo again", 1053, false, true},
        {"OK", 1, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ModalDriver driver;
        driver.Then("CCustomCourse", [&row](QWidget* dialog) {
            auto* button = dialog->findChild<QPushButton*>(QStringLiteral("button%1").arg(row.button));
            ASSERT_NE(button, nullptr);
            button->click();
        });
        const std::optional<CourseSettings> settings = user.ChooseSettings();
        EXPECT_TRUE(driver.AllAnswered());
        EXPECT_EQ(settings.has_value(), row.settingsGiven);
        EXPECT_EQ(user.UndoLastRunChosen(), row.undoChosen);
    }
}

TEST(QtUserTest, AYesNoQuestionIsYesOnlyWhenYesIsChosen) {
    QDialog owner;
    QtUser user(&owner);
    const std::pair<const char*, std::function<void(QMessageBox*)>> rows[] = {
        {"Yes", [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); }},
        {"No", [](QMessageBox* box) { box->button(QMessageBox::No)->click(); }},
        {"Escape", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }},
        {"Enter", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }},
    };
    const bool expected[] = {true, false, false, true};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& [name, answer] = rows[i];
        SCOPED_TRACE(name);
        ModalDriver driver;
        driver.Then("yesNoQuestion", [&owner, &answer](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Undo"));
            EXPECT_EQ(box->text(), QStringLiteral("Take back the run of 12/09/2026 in 'caf\u00e9'?"));
            EXPECT_EQ(box->icon(), QMessageBox::Question);
            EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
            EXPECT_EQ(box->parentWidget(), &owner);
            answer(box);
        });
        EXPECT_EQ(user.AskYesNo("Take back the run of 12/09/2026 in 'caf\xc3\xa9'?", "Undo"), expected[i]);
        EXPECT_TRUE(driver.AllAnswered());
    }
}

namespace {

QWidget* ProgressWindowShown() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("progressWindow") && widget->isVisible()) return widget;
    }
    return nullptr;
}

// A mouse click that comes from the window system, as a user's does, so
// that a modal window can keep it from the other windows.
void UserClicks(QWidget* widget) {
    QWidget* window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      widget->mapTo(window, widget->rect().center()));
}

}  // namespace

TEST(QtUserTest, ProgressShowsTheCountAndFolderUntilItEnds) {
    QDialog owner;
    QtUser user(&owner);
    const auto progressWindow = ProgressWindowShown;
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

TEST(QtUserTest, WithATotalTheBarFillsAndTheCountNeverPassesIt) {
    QDialog owner;
    QtUser user(&owner);
    user.SetProgressTotal(40);
    user.ReportProgress(10, "/courses/ten");
    QWidget* window = ProgressWindowShown();
    ASSERT_NE(window, nullptr);
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    auto* count = window->findChild<QLabel*>(QStringLiteral("progressCount"));
    auto* timeLeft = window->findChild<QLabel*>(QStringLiteral("progressTimeLeft"));
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(count, nullptr);
    ASSERT_NE(timeLeft, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 40);
    EXPECT_EQ(bar->value(), 10);
    EXPECT_EQ(count->text(), QStringLiteral("10 of 40"));
    // Said once a second of work tells something; its wording is DescribeProgress's.
    EXPECT_TRUE(timeLeft->text().isEmpty() || timeLeft->text().startsWith(QStringLiteral("about ")));

    // The count was an estimate: the job did more.
    user.ReportProgress(41, "/courses/more");
    EXPECT_EQ(count->text(), QStringLiteral("41 of 41"));
    EXPECT_EQ(bar->maximum(), 41);
    EXPECT_EQ(bar->value(), 41);
    EXPECT_EQ(timeLeft->text(), QString());
    user.EndProgress();

    // The next job, not counted, has a busy bar again.
    user.ReportProgress(1, "/courses/one");
    window = ProgressWindowShown();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->findChild<QProgressBar*>(QStringLiteral("progressBar"))->maximum(), 0);
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("progressCount"))->text(), QStringLiteral("Done so far: 1"));
    user.EndProgress();
}

TEST(QtUserTest, StopEndsTheRunBetweenBundlesAndNoOtherWindowTakesInput) {
    QDialog owner;
    QtUser user(&owner);
    // Another window of the program, which must not be re-entered meanwhile.
    QPushButton other(QStringLiteral("Other"));
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    int otherClicks = 0;
    QObject::connect(&other, &QPushButton::clicked, [&otherClicks] { ++otherClicks; });

    EXPECT_EQ(user.ReportProgress(1, "/courses/one"), UserInterface::Progress::Continue);
    QWidget* window = ProgressWindowShown();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->maximum(), 0);  // busy: the number of bundles is not known
    auto* stop = window->findChild<QPushButton*>(QStringLiteral("progressStop"));
    ASSERT_NE(stop, nullptr);
    EXPECT_TRUE(stop->isEnabled());

    // Clicks made while the job works on a bundle are taken at the next report.
    QTimer::singleShot(0, [&] {
        UserClicks(&other);
        UserClicks(stop);
    });
    QApplication::sendPostedEvents();
    EXPECT_EQ(user.ReportProgress(2, "/courses/two"), UserInterface::Progress::Stop);
    EXPECT_EQ(otherClicks, 0);
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_EQ(user.ReportProgress(3, "/courses/three"), UserInterface::Progress::Stop);
    user.EndProgress();
    EXPECT_EQ(ProgressWindowShown(), nullptr);

    // The next job starts afresh; with no window of its own up, the other
    // window takes input again.
    EXPECT_EQ(user.ReportProgress(1, "/courses/one"), UserInterface::Progress::Continue);
    user.EndProgress();
    UserClicks(&other);
    EXPECT_EQ(otherClicks, 1);
}

TEST(QtUserTest, EscapeAndTheWindowManagersCloseAlsoAskForAStop) {
    const std::pair<const char*, std::function<void(QWidget*)>> ways[] = {
        {"Esc", [](QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); }},
        {"close box",
         // As the window manager closes it: through the platform's window.
         [](QWidget* window) { EXPECT_FALSE(window->windowHandle()->close()); }},
    };
    for (const auto& [name, askToStop] : ways) {
        SCOPED_TRACE(name);
        QDialog owner;
        QtUser user(&owner);
        EXPECT_EQ(user.ReportProgress(1, "/courses/one"), UserInterface::Progress::Continue);
        QWidget* window = ProgressWindowShown();
        ASSERT_NE(window, nullptr);
        askToStop(window);
        EXPECT_TRUE(window->isVisible());  // until the job ends
        EXPECT_EQ(user.ReportProgress(2, "/courses/two"), UserInterface::Progress::Stop);
        user.EndProgress();
    }
}
