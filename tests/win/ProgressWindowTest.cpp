#include <gtest/gtest.h>

#include <functional>

#include "WindowDriver.h"
#include "win/ProgressWindow.h"

namespace {
HWND Item(const ProgressWindow& window, int id) {
    return GetDlgItem(window.hwnd(), id);
}
}  // namespace

TEST(ProgressWindowTest, ShowsTheCountAndTheFolderAboveTheOtherWindows) {
    ProgressWindow window;
    window.Update(nullptr, 3, "C:\\courses\\caf\xc3\xa9");
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

    window.Update(nullptr, 4, "C:\\courses\\d");
    EXPECT_EQ(window.hwnd(), shown);
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kCountLabel)), L"Done so far: 4");
    EXPECT_EQ(WindowText(Item(window, ProgressWindow::kFolderLabel)), L"C:\\courses\\d");
    EXPECT_FALSE(window.stopRequested());
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
        window.Update(nullptr, 1, "C:\\courses\\a");
        row.ask(window);
        window.PumpMessages();
        EXPECT_TRUE(window.stopRequested());
        EXPECT_TRUE(IsWindowVisible(window.hwnd()));
        EXPECT_FALSE(IsWindowEnabled(Item(window, ProgressWindow::kStopButton)));
        EXPECT_EQ(WindowText(Item(window, ProgressWindow::kStopButton)), L"Stopping...");
    }
}
