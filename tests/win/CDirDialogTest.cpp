#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

#include "WindowDriver.h"
#include "win/CDirDialog.h"

namespace {

// A picker that records the paths its hook is called with.
// (Wine's browser decides on OK itself after asking the hook, so what the
// hook answers is not checked here.)
class RecordingPicker : public CDirDialog {
public:
    bool OnSelectionChanged(const std::string& path) override {
        seen.push_back(path);
        return true;
    }
    std::vector<std::string> seen;
};

// A static child of `window` showing exactly `text`.
bool ShowsText(HWND window, const std::wstring& text) {
    for (const HWND child : Children(window)) {
        if (_wcsicmp(ClassName(child).c_str(), L"Static") == 0 && WindowText(child) == text) return true;
    }
    return false;
}

void Select(HWND browser, const wchar_t* shellPath) {
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(shellPath));
}

}  // namespace

// Asked to stay above the other windows too, which Wine's browser does not take.
TEST(CDirDialogTest, TheBrowserOpensCentredTitledAndLarger) {
    RecordingPicker picker;
    picker.captionText = "Browse to the Starting course folder:";
    picker.promptText = "Pick a course folder";
    ModalDriver driver;
    driver.Then(L"Browse to the Starting course folder:", [](HWND browser) {
        EXPECT_TRUE(ShowsText(browser, L"Pick a course folder"));
        // The window is its first client size plus 25 by 60 pixels, placed
        // by that client size in the middle of the screen.
        RECT rect{};
        GetWindowRect(browser, &rect);
        const int clientWidth = rect.right - rect.left - 25;
        const int clientHeight = rect.bottom - rect.top - 60;
        EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - clientWidth) / 2);
        EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - clientHeight) / 2);
        SendMessageW(browser, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_FALSE(picker.ChooseFolder());
    EXPECT_TRUE(driver.AllAnswered());
    EXPECT_TRUE(picker.chosenPath.empty());
}

TEST(CDirDialogTest, TheChosenFolderComesInTheCoreSpelling) {
    struct Row {
        const wchar_t* select;
        const char* chosen;
    };
    for (const Row& row : {Row{L"C:\\windows", "C:/windows"}, Row{L"C:\\windows\\system32", "C:/windows/system32"},
                           Row{L"C:\\", "C:/"}}) {
        SCOPED_TRACE(row.chosen);
        RecordingPicker picker;  // no caption: the shell's own title
        ModalDriver driver;
        driver.Then(L"Browse for Folder", [&](HWND browser) {
            // No prompt: "Open" above the tree.
            EXPECT_TRUE(ShowsText(browser, L"Open"));
            Select(browser, row.select);
            SendMessageW(browser, WM_COMMAND, IDOK, 0);
        });
        ASSERT_TRUE(picker.ChooseFolder());
        EXPECT_TRUE(driver.AllAnswered());
        EXPECT_EQ(picker.chosenPath, row.chosen);
        ASSERT_FALSE(picker.seen.empty());
        EXPECT_EQ(picker.seen.back(), row.chosen);
    }
}
