#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "WindowDriver.h"
// clang-format off
#include <commctrl.h>  // after windows.h, which it needs
// clang-format on
#include "win/ProgressWindow.h"

namespace {
HWND Item(const ProgressWindow& window, int id) {
    return GetDlgItem(window.hwnd(), id);
}
}  // namespace

TEST(ProgressWindowTest, ShowsTheCountAndTheFolderAboveTheOtherWindows) {
    ProgressWindow window;
    window.Update(nullptr, DescribeProgress(3, kTotalUnknown, {}), "C:\\courses\\caf\xc3\xa9");
    const HWND shown = window.hwnd();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(IsWindowVisible(shown));
    EXPECT_EQ(WindowText(shown), L"Quarvel");
    EXPECT_TRUE(GetWindowLongW(shown, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kCountLabel)), L"Done so far: 3");
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kFolderLabel)), L"C:\\courses\\caf\u00e9");
    // A long path loses its middle, not its end.
    EXPECT_TRUE(GetWindowLongW(Item(window, ProgressWindow::kFolderLabel), GWL_STYLE) & SS_PATHELLIPSIS);
    EXPECT_EQ(GetFocus(), Item(window, ProgressWindow::kStopButton));

    window.Update(nullptr, DescribeProgress(4, kTotalUnknown, {}), "C:\\courses\\d");
    EXPECT_EQ(window.hwnd(), shown);
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kCountLabel)), L"Done so far: 4");
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kFolderLabel)), L"C:\\courses\\d");
    EXPECT_FALSE(window.stopRequested());
}

TEST(ProgressWindowTest, WithATotalTheBarFillsBesideTheCountAndTheTimeLeft) {
    ProgressWindow window;
    window.Update(nullptr, DescribeProgress(3, kTotalUnknown, {}), "C:\\courses\\a");
    const HWND bar = Item(window, ProgressWindow::kProgressBar);
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(IsWindowVisible(bar));  // nothing to fill towards

    window.Update(nullptr, DescribeProgress(10, 40, std::chrono::seconds(20)), "C:\\courses\\b");
    EXPECT_TRUE(IsWindowVisible(bar));
    PBRANGE range{};
    SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 40);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 10);
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kCountLabel)), L"10 of 40");
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kTimeLeftLabel)), L"about 1 min left");
    EXPECT_TRUE(GetWindowLongW(Item(window, ProgressWindow::kTimeLeftLabel), GWL_STYLE) & SS_RIGHT);

    window.Update(nullptr, DescribeProgress(41, 40, std::chrono::seconds(80)), "C:\\courses\\c");
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kCountLabel)), L"41 of 41");
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kTimeLeftLabel)), L"");
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 41);
}

TEST(ProgressWindowTest, StopEscapeAndClosingAskForAStopAndTheWindowStays) {
    struct Row {
        const char* name;
        std::function<void(ProgressWindow&)> ask;
    };
    const Row rows[] = {
        {"Stop", [](ProgressWindow& w) { SendMessageW(Item(w, ProgressWindow::kStopButton), BM_CLICK, 0, 0); }},
        {"Esc", [](ProgressWindow& w) { PressKey(w.hwnd(), VK_ESCAPE); }},
        {"close", [](ProgressWindow& w) { SendMessageW(w.hwnd(), WM_CLOSE, 0, 0); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ProgressWindow window;
        window.Update(nullptr, DescribeProgress(1, kTotalUnknown, {}), "C:\\courses\\a");
        row.ask(window);
        window.PumpMessages();
        EXPECT_TRUE(window.stopRequested());
        EXPECT_TRUE(IsWindowVisible(window.hwnd()));
        EXPECT_FALSE(IsWindowEnabled(Item(window, ProgressWindow::kStopButton)));
        EXPECT_EQ(WindowText(Item(window, ProgressWindow::kStopButton)), L"Stopping...");
    }
}
