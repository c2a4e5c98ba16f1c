#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "WindowDriver.h"
// clang-format off
#include <commctrl.h>  // after windows.h, which it needs
// clang-format on
#include "win/WinUser.h"

namespace {

// A hidden window to own the message boxes, as the main dialog does.
class OwnerWindow {
public:
    OwnerWindow()
        : m_hwnd(CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)) {}
    ~OwnerWindow() { DestroyWindow(m_hwnd); }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND hwnd() const { return m_hwnd; }

private:
    HWND m_hwnd;
};

// The visible buttons of a message box, by id.
std::vector<int> Buttons(HWND box) {
    std::vector<int> ids;
    for (const HWND child : Children(box)) {
        if (_wcsicmp(ClassName(child).c_str(), L"Button") == 0 && IsWindowVisible(child)) {
            ids.push_back(GetDlgCtrlID(child));
        }
    }
    return ids;
}

// Whether the box shows an icon, and all the text of its statics.
bool ShowsIcon(HWND box) {
    for (const HWND child : Children(box)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
            SendMessageW(child, STM_GETICON, 0, 0) != 0) {
            return true;
        }
    }
    return false;
}
std::wstring StaticText(HWND box) {
    std::wstring text;
    for (const HWND child : Children(box)) {
        if (_wcsicmp(ClassName(child).c_str(), L"Static") == 0) text += WindowText(child);
    }
    return text;
}

HWND FindProgressWindow() {
    return FindWindowW(L"#32770", L"Quarvel");
}

}  // namespace

TEST(WinUserTest, MessageBoxesHaveOneOkButtonAndTheStopIconOnlyWhenAsked) {
    OwnerWindow owner;
    WinUser user;
    user.SetOwner(owner.hwnd());
    for (const auto& [style, icon] : {std::pair{MessageStyle::Stop, true}, std::pair{MessageStyle::Plain, false}}) {
        SCOPED_TRACE(static_cast<unsigned>(style));
        ModalDriver driver;
        driver.Then(L"Files updated", [&owner, icon = icon](HWND box) {
            EXPECT_NE(StaticText(box).find(L"50% done in 'caf\u00e9'"), std::wstring::npos);
            EXPECT_EQ(ShowsIcon(box), icon);
            EXPECT_EQ(Buttons(box), std::vector<int>{IDOK});
            EXPECT_EQ(GetWindow(box, GW_OWNER), owner.hwnd());
            SendMessageW(box, WM_COMMAND, IDOK, 0);
        });
        user.ShowMessage("50% done in 'caf\xc3\xa9'", "Files updated", style);
        EXPECT_TRUE(driver.AllAnswered());
    }
}

TEST(WinUserTest, TheOfferOfAnOwnInstallFolderIsAYesNoQuestionNamingEachFolderNatively) {
    OwnerWindow owner;
    WinUser user;
    user.SetOwner(owner.hwnd());
    const PerUserInstallOffer offer{"C:/Program Files/Quarvel", "C:/Users/ann/AppData/Roaming/Quarvel/install",
                                    "C:/Users/ann/AppData/Roaming/Quarvel/quarvel.conf"};
    struct Row {
        const char* name;
        std::function<void(HWND)> answer;
        bool accepted;
    };
    const Row rows[] = {
        {"Yes", [](HWND box) { SendMessageW(box, WM_COMMAND, IDYES, 0); }, true},
        {"No", [](HWND box) { SendMessageW(box, WM_COMMAND, IDNO, 0); }, false},
        {"Enter takes the default", [](HWND box) { PressKey(box, VK_RETURN); }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ModalDriver driver;
        driver.Then(L"Quarvel", [&](HWND box) {
            EXPECT_EQ(Buttons(box), (std::vector<int>{IDYES, IDNO}));
            EXPECT_TRUE(ShowsIcon(box));
            EXPECT_EQ(GetWindow(box, GW_OWNER), owner.hwnd());
            const std::wstring text = StaticText(box);
            for (const wchar_t* folder :
                 {L"'C:\\Program Files\\Quarvel'", L"'C:\\Users\\ann\\AppData\\Roaming\\Quarvel\\install'",
                  L"'C:\\Users\\ann\\AppData\\Roaming\\Quarvel\\quarvel.conf'"}) {
                EXPECT_NE(text.find(folder), std::wstring::npos) << static_cast<const void*>(folder);
            }
            row.answer(box);
        });
        EXPECT_EQ(user.AcceptPerUserInstall(offer), row.accepted);
        EXPECT_TRUE(driver.AllAnswered());
    }
}

TEST(WinUserTest, TheProgressWindowStopsTheJobBetweenBundlesAndGoesWhenItEnds) {
    WinUser user;
    EXPECT_EQ(user.ReportProgress(1, "C:/courses/a"), UserInterface::Progress::Continue);
    const HWND window = FindProgressWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WindowText(GetDlgItem(window, 101)), L"C:\\courses\\a");
    // A press that comes in while a bundle is being patched is taken at the next report.
    PostMessageW(GetDlgItem(window, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(user.ReportProgress(2, "C:/courses/b"), UserInterface::Progress::Stop);
    EXPECT_EQ(WindowText(GetDlgItem(window, 100)), L"Done so far: 2");
    user.EndProgress();
    EXPECT_FALSE(IsWindow(window));
    user.EndProgress();  // nothing left to end
}

TEST(WinUserTest, AYesNoQuestionIsYesOnlyWhenYesIsChosen) {
    OwnerWindow owner;
    WinUser user;
    user.SetOwner(owner.hwnd());
    const struct {
        const char* name;
        std::function<void(HWND)> answer;
        bool yes;
    } rows[] = {
        {"Yes", [](HWND box) { SendMessageW(box, WM_COMMAND, IDYES, 0); }, true},
        {"No", [](HWND box) { SendMessageW(box, WM_COMMAND, IDNO, 0); }, false},
        {"Enter takes the default", [](HWND box) { PressKey(box, VK_RETURN); }, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ModalDriver driver;
        driver.Then(L"Undo", [&](HWND box) {
            EXPECT_EQ(Buttons(box), (std::vector<int>{IDYES, IDNO}));
            EXPECT_TRUE(ShowsIcon(box));
            EXPECT_EQ(GetWindow(box, GW_OWNER), owner.hwnd());
            EXPECT_NE(StaticText(box).find(L"Take back the run of 12/09/2026 in 'caf\u00e9'?"), std::wstring::npos);
            row.answer(box);
        });
        EXPECT_EQ(user.AskYesNo("Take back the run of 12/09/2026 in 'caf\xc3\xa9'?", "Undo"), row.yes);
        EXPECT_TRUE(driver.AllAnswered());
    }
}

TEST(WinUserTest, TheSettingsDialogTellsUndoLastRunFromCancelAndOk) {
    WinUser user;
    const struct {
        int press;
        bool settingsGiven;
        bool undoChosen;
    } rows[] = {{1053, false, true}, {IDCANCEL, false, false}, {1053, false, true}, {IDOK, true, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.press);
        ModalDriver driver;
        driver.Then(L"course configuration",
                    [&row](HWND dialog) { SendMessageW(GetDlgItem(dialog, row.press), BM_CLICK, 0, 0); });
        const std::optional<CourseSettings> settings = user.ChooseSettings();
        EXPECT_TRUE(driver.AllAnswered());
        EXPECT_EQ(settings.has_value(), row.settingsGiven);
        EXPECT_EQ(user.UndoLastRunChosen(), row.undoChosen);
    }
}

TEST(WinUserTest, WithATotalTheProgressCountsTowardsIt) {
    WinUser user;
    user.SetProgressTotal(3);
    user.ReportProgress(1, "C:/courses/a");
    const HWND window = FindProgressWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WindowText(GetDlgItem(window, 100)), L"1 of 3");
    EXPECT_EQ(SendMessageW(GetDlgItem(window, 103), PBM_GETPOS, 0, 0), 1);
    user.ReportProgress(4, "C:/courses/d");
    EXPECT_EQ(WindowText(GetDlgItem(window, 100)), L"4 of 4");
    user.EndProgress();
    // The next job counts afresh.
    user.ReportProgress(1, "C:/courses/a");
    EXPECT_EQ(WindowText(GetDlgItem(FindProgressWindow(), 100)), L"Done so far: 1");
    user.EndProgress();
}

TEST(WinUserTest, TheSettingsDialogGivesItsRecordOnlyAfterOk) {
    WinUser user;
    for (const int press : {IDOK, IDCANCEL}) {
        SCOPED_TRACE(press);
        ModalDriver driver;
        driver.Then(L"course configuration", [press](HWND dialog) {
            SetWindowTextW(GetDlgItem(dialog, 1019), L"45");
            SendMessageW(GetDlgItem(dialog, press), BM_CLICK, 0, 0);
        });
        const std::optional<CourseSettings> settings = user.ChooseSettings();
        EXPECT_TRUE(driver.AllAnswered());
        ASSERT_EQ(settings.has_value(), press == IDOK);
        if (settings) {
            EXPECT_EQ(settings->courseTimeout, 45);
            EXPECT_EQ(settings->fullScreenAtStartup, "normal");
        }
    }
}
