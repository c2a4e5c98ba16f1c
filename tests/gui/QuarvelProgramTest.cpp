#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <cstdlib>
#include <functional>
#include <map>

#include "gui/CquarvelApp.h"
#include "gui/CquarvelDlg.h"
#include "gui/ModalDriver.h"
#include "support/TestSupport.h"

namespace {

QWidget* VisibleTopLevel(const QString& objectName) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == objectName && widget->isVisible()) return widget;
    }
    return nullptr;
}

// The desktop program over a copy of the sample installation, its store
// file named by $QUARVEL_CONFIG.
class QuarvelProgramTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        const fs::path sample = fs::path(QUARVEL_SOURCE_DIR) / "sample";
        fs::copy(sample / "install", dir() / "install", fs::copy_options::recursive);
        fs::create_directories(dir() / "courses");
        fs::copy(sample / "courses" / "intro101", dir() / "courses" / "intro101", fs::copy_options::recursive);
        WriteBytes(dir() / "quarvel.conf", "NB Path=" + path("install") + "\n");
        ::setenv("QUARVEL_CONFIG", path("quarvel.conf").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("QUARVEL_CONFIG");
        TempDirTest::TearDown();
    }
    fs::path LogPath() const { return dir() / "install" / "nb_logfile.txt"; }
};

}  // namespace

TEST_F(QuarvelProgramTest, AWholeRunPatchesTheChosenCoursesAndWritesThePatchLog) {
    const std::string interfaceBefore = ReadBytes(dir() / "courses/intro101/xml/interface.xml");
    platform::FixedClock clock(TestTime());
    CquarvelDlg mainDialog(clock);
    EXPECT_EQ(mainDialog.windowTitle(), QStringLiteral("Quarvel"));
    EXPECT_NE(mainDialog.findChild<QPushButton*>(QStringLiteral("button1001")), nullptr);

    ModalDriver driver;
    driver
        .Then("CCustomCourse",
              [&](QWidget* dialog) {
                  EXPECT_FALSE(mainDialog.isVisible());
                  dialog->findChild<QPushButton*>(QStringLiteral("button1"))->click();
              })
        .Then("folderPicker",
              [&](QWidget* dialog) {
                  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Browse to the Starting course folder:"));
                  EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("folderPrompt"))->text(),
                            QStringLiteral("Reminder:    BACK UP ALL COURSE FILES before proceeding"));
                  auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("folderTree"));
                  auto* model = qobject_cast<QFileSystemModel*>(tree->model());
                  tree->setCurrentIndex(model->index(QString::fromStdString(path("courses"))));
                  dialog->findChild<QPushButton*>(QStringLiteral("folderOk"))->click();
              })
        .Then("messageBox", [&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Course Bundle Patch Status"));
            EXPECT_EQ(box->text().toStdString(), "Check '" + LogPath().string() + "' for course bundle error status.");
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            // The log is written before the box names it; the progress window is gone.
            EXPECT_TRUE(fs::exists(LogPath()));
            EXPECT_EQ(VisibleTopLevel(QStringLiteral("progressWindow")), nullptr);
            EXPECT_FALSE(mainDialog.isVisible());
            box->button(QMessageBox::Ok)->click();
        });
    EXPECT_EQ(mainDialog.DoModal(), QDialog::Accepted);
    EXPECT_EQ(mainDialog.outcome(), RunOutcome::Ran);
    EXPECT_TRUE(driver.AllAnswered());
    EXPECT_EQ(driver.seen, (std::vector<std::string>{"CCustomCourse", "folderPicker", "messageBox"}));

    EXPECT_EQ(ReadBytes(LogPath()), "\xFF\xFE" + Utf16LeBytes("\r\n\r\nThe following course bundles were updated "
                                                              "12/07/2026 14:05:\r\n" +
                                                              path("courses/intro101/xml") + "\r\n"));
    EXPECT_NE(ReadBytes(dir() / "courses/intro101/xml/interface.xml"), interfaceBefore);
    EXPECT_TRUE(fs::exists(dir() / "courses/intro101/imsmanifest.xml"));
}

TEST_F(QuarvelProgramTest, CancellingTheSettingsEndsTheProgramWithNoOtherWindow) {
    ModalDriver driver;
    driver.Then("CCustomCourse",
                [](QWidget* dialog) { dialog->findChild<QPushButton*>(QStringLiteral("button2"))->click(); });
    CquarvelApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitStatus(), 0);
    EXPECT_EQ(driver.seen, std::vector<std::string>{"CCustomCourse"});
    EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(QuarvelProgramTest, WithoutAnInstallFolderTheProgramSaysSoAndEndsWithStatusOne) {
    WriteBytes(dir() / "quarvel.conf", "Other=1\n");
    ModalDriver driver;
    driver.Then("messageBox", [](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_TRUE(box->text().contains(QStringLiteral("NB Path")));
        box->button(QMessageBox::Ok)->click();
    });
    CquarvelApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitStatus(), 1);
    EXPECT_EQ(driver.seen, std::vector<std::string>{"messageBox"});
}

TEST_F(QuarvelProgramTest, StopEndsTheRunAfterTheBundleInHandAndThePatchLogSaysWhere) {
    const fs::path sample = fs::path(QUARVEL_SOURCE_DIR) / "sample";
    fs::copy(sample / "courses" / "fire101", dir() / "courses" / "fire101", fs::copy_options::recursive);
    const std::string courses[] = {"fire101", "intro101"};
    std::map<std::string, std::string> before;
    for (const std::string& course : courses)
        before[course] = ReadBytes(dir() / "courses" / course / "xml/interface.xml");

    // Stop is pressed as soon as the progress window is up, that is while the
    // first bundle is reported.
    std::function<void()> pressStop = [&pressStop] {
        QWidget* window = VisibleTopLevel(QStringLiteral("progressWindow"));
        if (!window) {
            QTimer::singleShot(0, pressStop);
            return;
        }
        window->findChild<QPushButton*>(QStringLiteral("progressStop"))->click();
    };
    platform::FixedClock clock(TestTime());
    CquarvelDlg mainDialog(clock);
    ModalDriver driver;
    driver
        .Then("CCustomCourse",
              [](QWidget* dialog) { dialog->findChild<QPushButton*>(QStringLiteral("button1"))->click(); })
        .Then("folderPicker",
              [&](QWidget* dialog) {
                  auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("folderTree"));
                  auto* model = qobject_cast<QFileSystemModel*>(tree->model());
                  tree->setCurrentIndex(model->index(QString::fromStdString(path("courses"))));
                  QTimer::singleShot(0, pressStop);
                  dialog->findChild<QPushButton*>(QStringLiteral("folderOk"))->click();
              })
        .Then("messageBox", [](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Course Bundle Patch Status"));
            box->button(QMessageBox::Ok)->click();
        });
    EXPECT_EQ(mainDialog.DoModal(), QDialog::Accepted);
    EXPECT_TRUE(driver.AllAnswered());

    // One bundle patched, whole; the other untouched; the log names the one.
    std::vector<std::string> patched;
    for (const std::string& course : courses) {
        if (ReadBytes(dir() / "courses" / course / "xml/interface.xml") != before[course]) patched.push_back(course);
    }
    ASSERT_EQ(patched.size(), 1u);
    const std::string log = ReadBytes(LogPath());
    EXPECT_NE(log.find(Utf16LeBytes(path("courses/" + patched.front()) + "/xml\r\n")), std::string::npos);
    EXPECT_NE(log.find(Utf16LeBytes("The run was stopped after '" + path("courses/" + patched.front()))),
              std::string::npos);
}
