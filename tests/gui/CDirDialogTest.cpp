#include <gtest/gtest.h>

#include <QDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeView>
#include <cstdlib>

#include "gui/CDirDialog.h"
#include "gui/ModalDriver.h"
#include "support/TestSupport.h"

namespace {

QTreeView* Tree(QWidget* picker) {
    return picker->findChild<QTreeView*>(QStringLiteral("folderTree"));
}
QPushButton* Ok(QWidget* picker) {
    return picker->findChild<QPushButton*>(QStringLiteral("folderOk"));
}
QPushButton* Cancel(QWidget* picker) {
    return picker->findChild<QPushButton*>(QStringLiteral("folderCancel"));
}

void Select(QWidget* picker, const fs::path& folder) {
    QTreeView* tree = Tree(picker);
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    tree->setCurrentIndex(model->index(QString::fromStdString(folder.string())));
}

// A picker that refuses folders named "locked" and remembers what it was asked.
class LockedFolderPicker : public CDirDialog {
public:
    std::vector<std::string> asked;
    bool OnSelectionChanged(const std::string& path) override {
        asked.push_back(path);
        return fs::path(path).filename() != "locked";
    }
};

// Each test has a home folder of its own, some levels below the top.
class CDirDialogTest : public TempDirTest {
protected:
    void SetUp() override {
        TempDirTest::SetUp();
        if (const char* home = std::getenv("HOME")) m_oldHome = home;
        fs::create_directories(Home() / "courses");
        ::setenv("HOME", Home().c_str(), 1);
    }
    void TearDown() override {
        ::setenv("HOME", m_oldHome.c_str(), 1);
        TempDirTest::TearDown();
    }
    fs::path Home() const { return dir() / "home" / "someone"; }

    // Opened at the home folder: it and the folders above it expanded, the
    // keyboard's cursor on it and in view, nothing selected.
    void ExpectOpenedAtHome(QWidget* dialog) const {
        QTreeView* tree = Tree(dialog);
        auto* model = qobject_cast<QFileSystemModel*>(tree->model());
        const QModelIndex home = model->index(QString::fromStdString(Home().string()));
        ASSERT_TRUE(home.isValid());
        for (QModelIndex folder = home; folder.isValid(); folder = folder.parent()) {
            EXPECT_TRUE(tree->isExpanded(folder)) << model->filePath(folder).toStdString();
        }
        EXPECT_EQ(tree->currentIndex(), home);
        EXPECT_TRUE(tree->selectionModel()->selectedRows().isEmpty());
        EXPECT_FALSE(Ok(dialog)->isEnabled());
        // In view: its whole row height and the start of its name (a long
        // name may run past the right edge).
        EXPECT_TRUE(QTest::qWaitFor([&] {
            const QRect row = tree->visualRect(home);
            const QRect view = tree->viewport()->rect();
            return row.top() >= view.top() && row.bottom() <= view.bottom() && view.contains(row.topLeft());
        }));
    }

private:
    std::string m_oldHome;
};

}  // namespace

TEST_F(CDirDialogTest, OpensAtHomeCentredAboveOtherWindowsAndCancelGivesNothing) {
    CDirDialog picker;
    picker.captionText = "Browse to the Starting course folder:";
    ModalDriver driver;
    driver.Then("folderPicker", [this](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Browse to the Starting course folder:"));
        EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("folderPrompt"))->text(), QStringLiteral("Open"));
        EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
        const QSize defaultSize = dialog->sizeHint();
        EXPECT_EQ(dialog->size(), defaultSize + QSize(25, 60));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        EXPECT_EQ(dialog->pos(),
                  QPoint((screen.width() - defaultSize.width()) / 2, (screen.height() - defaultSize.height()) / 2));
        QTreeView* tree = Tree(dialog);
        auto* model = qobject_cast<QFileSystemModel*>(tree->model());
        EXPECT_EQ(model->filePath(model->index(0, 0, tree->rootIndex())), QStringLiteral("/"));
        ExpectOpenedAtHome(dialog);
        Cancel(dialog)->click();
    });
    EXPECT_FALSE(picker.ChooseFolder());
    EXPECT_TRUE(picker.chosenPath.empty());
    EXPECT_TRUE(driver.AllAnswered());
}

TEST_F(CDirDialogTest, TheHookDecidesWhetherOkIsEnabled) {
    fs::create_directories(dir() / "locked");
    fs::create_directories(dir() / "courses" / "hidden.txt.d");
    LockedFolderPicker picker;
    picker.promptText = "Reminder:    BACK UP ALL COURSE FILES before proceeding";
    ModalDriver driver;
    driver.Then("folderPicker", [this](QWidget* dialog) {
        EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("folderPrompt"))->text(),
                  QStringLiteral("Reminder:    BACK UP ALL COURSE FILES before proceeding"));
        Select(dialog, dir() / "locked");
        EXPECT_FALSE(Ok(dialog)->isEnabled());
        Select(dialog, dir() / "courses");
        EXPECT_TRUE(Ok(dialog)->isEnabled());
        Ok(dialog)->click();
    });
    ASSERT_TRUE(picker.ChooseFolder());
    EXPECT_EQ(picker.chosenPath, (dir() / "courses").string());
    EXPECT_EQ(picker.asked, (std::vector<std::string>{(dir() / "locked").string(), (dir() / "courses").string()}));
}

TEST_F(CDirDialogTest, TheBaseHookEnablesOkAndTheRootKeepsItsSlash) {
    CDirDialog picker;
    ModalDriver driver;
    driver.Then("folderPicker", [](QWidget* dialog) {
        Select(dialog, "/");
        EXPECT_TRUE(Ok(dialog)->isEnabled());
        Ok(dialog)->click();
    });
    ASSERT_TRUE(picker.ChooseFolder());
    EXPECT_EQ(picker.chosenPath, "/");
}

TEST_F(CDirDialogTest, NothingOfAnEarlierBrowseIsRemembered) {
    for (int browse = 0; browse < 2; ++browse) {
        SCOPED_TRACE(browse);
        CDirDialog picker;
        ModalDriver driver;
        driver.Then("folderPicker", [this](QWidget* dialog) {
            ExpectOpenedAtHome(dialog);
            Select(dialog, Home() / "courses");
            Ok(dialog)->click();
        });
        ASSERT_TRUE(picker.ChooseFolder());
        EXPECT_EQ(picker.chosenPath, (Home() / "courses").string());
    }
}
