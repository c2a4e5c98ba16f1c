#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "WindowDriver.h"
#include "res/Dialog131.h"
#include "settings/SettingsFields.h"
#include "support/SettingsDialogCases.h"
#include "win/CCustomCourse.h"
#include "win/DialogTemplateBytes.h"
#include "win/WinText.h"

namespace {

using namespace dialogcases;

// The tab order of the desktop program on Linux, rows top to bottom, each
// left to right ("Pretest" is a unit lower than "Assessment / ADL" but beside
// it), with the radios of a group together at the place of the first. A
// control added to the template later takes its place by position among these.
constexpr int kTabOrder[] = {1006, 1022, 1027, 1028, 1003, 1016, 1011, 1012, 1041, 1007, 1047, 1009,
                             1018, 1013, 1024, 1053, 1008, 1044, 1045, 1052, 1010, 1025, 1021, 1019,
                             1026, 1051, 1033, 1046, 1034, 1043, 1048, 1042, 1,    2};

enum class Shown { No, Yes };

// The dialog, open modeless, as the tests drive it. Shown only where the
// keyboard's focus matters: without a window manager, Wine waits two
// seconds for each shown window to go.
class OpenDialog {
public:
    explicit OpenDialog(Shown shown = Shown::No) {
        EXPECT_NE(m_dialog.Create(nullptr), nullptr);
        if (shown == Shown::Yes) ShowWindow(m_dialog.hwnd(), SW_SHOW);
        PumpMessages(m_dialog.hwnd());
    }
    CCustomCourse& operator*() { return m_dialog; }
    CCustomCourse* operator->() { return &m_dialog; }
    HWND Item(int id) const { return GetDlgItem(m_dialog.hwnd(), id); }
    void Click(int id) {
        SendMessageW(Item(id), BM_CLICK, 0, 0);
        PumpMessages(m_dialog.hwnd());
    }
    void SetChecked(int id, bool on) { CheckDlgButton(m_dialog.hwnd(), id, on ? BST_CHECKED : BST_UNCHECKED); }
    void SetText(int id, const wchar_t* text) { SetWindowTextW(Item(id), text); }
    std::wstring Text(int id) const { return WindowText(Item(id)); }
    // Whether the control is shown when its dialog is.
    bool IsShown(int id) const { return (GetWindowLongW(Item(id), GWL_STYLE) & WS_VISIBLE) != 0; }
    // Text through the clipboard, as a paste puts it in.
    void Paste(int id, const std::wstring& text) {
        SetText(id, L"");
        ASSERT_TRUE(OpenClipboard(m_dialog.hwnd()));
        EmptyClipboard();
        const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
        std::memcpy(GlobalLock(memory), text.c_str(), bytes);
        GlobalUnlock(memory);
        SetClipboardData(CF_UNICODETEXT, memory);
        CloseClipboard();
        SendMessageW(Item(id), WM_PASTE, 0, 0);
    }

private:
    CCustomCourse m_dialog;
};

}  // namespace

TEST(CCustomCourseTest, OpensWithTheDefaultControls) {
    OpenDialog dialog(Shown::Yes);
    EXPECT_EQ(WindowText(dialog->hwnd()), L"course configuration");
    for (const int id : kRadios) {
        SCOPED_TRACE(id);
        const bool selected = id == 1003 || id == 1011 || id == 1006 || id == 1044;
        EXPECT_EQ(dialog->IsChecked(id), selected);
    }
    for (const int id : kCheckboxes) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(dialog->IsChecked(id));
        EXPECT_EQ(dialog.IsShown(id), id != 1013);
    }
    for (const int id : kEdits) {
        SCOPED_TRACE(id);
        EXPECT_EQ(dialog.Text(id), id == 1019 ? L"60" : L"");
    }
    EXPECT_EQ(dialog.Text(1014), L"Pretest Qst Count");
    EXPECT_EQ(dialog.Text(1015), L"Pretest Passing Score");
    EXPECT_EQ(LOWORD(SendMessageW(dialog->hwnd(), DM_GETDEFID, 0, 0)), IDOK);
    EXPECT_EQ(GetWindowLongW(dialog.Item(1), GWL_STYLE) & 0x0F, BS_DEFPUSHBUTTON);
    EXPECT_EQ(GetWindowLongW(dialog.Item(2), GWL_STYLE) & 0x0F, BS_PUSHBUTTON);
    EXPECT_EQ(GetFocus(), dialog.Item(1));
}

TEST(CCustomCourseTest, EveryControlSitsWhereTheTemplatePutsItInTheDialogFont) {
    OpenDialog dialog;
    const HWND window = dialog->hwnd();
    RECT client{};
    GetClientRect(window, &client);
    RECT whole{0, 0, kDialog131.width, kDialog131.height};
    MapDialogRect(window, &whole);
    EXPECT_EQ(client.right, whole.right);
    EXPECT_EQ(client.bottom, whole.bottom);

    // The children in their order are the template's controls in the built order.
    const std::vector<HWND> children = Children(window);
    const std::vector<TemplateItem> items = TemplateItems(kDialog131.controls);
    ASSERT_EQ(children.size(), items.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        const ControlTemplate& control = kDialog131.controls[items[i].index];
        SCOPED_TRACE(std::to_string(control.id) + " " + control.text);
        const HWND child = children[i];
        EXPECT_EQ(GetDlgCtrlID(child), control.id == kStaticId ? 0xFFFF : control.id);
        const wchar_t* expectedClass = control.kind == ControlKind::Edit    ? L"Edit"
                                       : control.kind == ControlKind::Label ? L"Static"
                                                                            : L"Button";
        EXPECT_EQ(_wcsicmp(ClassName(child).c_str(), expectedClass), 0) << Narrow(ClassName(child));
        if (control.kind != ControlKind::Edit) {
            EXPECT_EQ(WindowText(child), Widen(control.text));
        }
        // Position and size are each turned into pixels on their own.
        RECT placed{control.x, control.y, control.width, control.height};
        MapDialogRect(window, &placed);
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, placed.left);
        EXPECT_EQ(rect.top, placed.top);
        EXPECT_EQ(rect.right - rect.left, placed.right);
        EXPECT_EQ(rect.bottom - rect.top, placed.bottom);
    }

    // Tab goes through the controls as they are read, as on Linux, and round
    // again; a group of radios is one stop, at its selected radio.
    std::vector<int> expected;
    dialog.Click(1012);  // the auto-skip box is passed over while it is hidden
    for (const int id : kTabOrder) {
        if (std::find(std::begin(kRadios), std::end(kRadios), id) == std::end(kRadios) || dialog->IsChecked(id)) {
            expected.push_back(id);
        }
    }
    std::vector<int> round;
    std::set<HWND> met;
    HWND stop = dialog.Item(expected.front());
    do {
        met.insert(stop);
        const int id = GetDlgCtrlID(stop);
        if (std::find(std::begin(kTabOrder), std::end(kTabOrder), id) != std::end(kTabOrder)) round.push_back(id);
        stop = GetNextDlgTabItem(window, stop, FALSE);
    } while (stop && !met.contains(stop));
    EXPECT_EQ(round, expected);
    EXPECT_EQ(stop, dialog.Item(expected.front())) << "the round does not close after every tab stop";
    EXPECT_FALSE(met.contains(dialog.Item(1040)));
    EXPECT_FALSE(GetWindowLongW(dialog.Item(1040), GWL_STYLE) & WS_TABSTOP);
}

TEST(CCustomCourseTest, TheArrowKeysSelectTheRadiosOfOneGroupOnly) {
    OpenDialog dialog(Shown::Yes);
    SetFocus(dialog.Item(1006));
    PumpMessages(dialog->hwnd());
    const std::pair<UINT, int> presses[] = {
        {VK_DOWN, 1022}, {VK_DOWN, 1027}, {VK_DOWN, 1028}, {VK_DOWN, 1006}, {VK_UP, 1028}};
    for (const auto& [key, selected] : presses) {
        SCOPED_TRACE(selected);
        PressKey(dialog->hwnd(), key);
        EXPECT_EQ(GetFocus(), dialog.Item(selected));
        for (const int id : {1006, 1022, 1027, 1028}) EXPECT_EQ(dialog->IsChecked(id), id == selected) << id;
        EXPECT_TRUE(dialog->IsChecked(1003));
        EXPECT_TRUE(dialog->IsChecked(1011));
        EXPECT_TRUE(dialog->IsChecked(1044));
    }
}

TEST(CCustomCourseTest, TheTestModeRadiosRelabelAndShowOrHideAutoSkip) {
    OpenDialog dialog;
    dialog.Click(1012);
    EXPECT_TRUE(dialog.IsShown(1013));
    EXPECT_EQ(dialog.Text(1014), L"Postscriptive posttest question count (3-6)");
    EXPECT_EQ(dialog.Text(1015), L"Assessment / Prescriptive Posttest Passing Score");
    EXPECT_TRUE(dialog->IsChecked(1012));
    EXPECT_FALSE(dialog->IsChecked(1011));

    dialog.SetChecked(1013, true);
    dialog.Click(1011);
    EXPECT_FALSE(dialog.IsShown(1013));
    EXPECT_TRUE(dialog->IsChecked(1013));  // hidden, not cleared
    EXPECT_EQ(dialog.Text(1014), L"Pretest Question Count");
    EXPECT_EQ(dialog.Text(1015), L"Pretest Passing Score");
}

TEST(CCustomCourseTest, EachRadioGroupKeepsToItself) {
    OpenDialog dialog;
    dialog.Click(1022);
    EXPECT_TRUE(dialog->IsChecked(1022));
    EXPECT_FALSE(dialog->IsChecked(1006));
    EXPECT_TRUE(dialog->IsChecked(1044));
    EXPECT_TRUE(dialog->IsChecked(1011));
    EXPECT_TRUE(dialog->IsChecked(1003));

    dialog.Click(1045);
    EXPECT_FALSE(dialog->IsChecked(1044));
    EXPECT_TRUE(dialog->IsChecked(1022));
    dialog.Click(1052);
    EXPECT_FALSE(dialog->IsChecked(1044));
    EXPECT_FALSE(dialog->IsChecked(1045));
    EXPECT_TRUE(dialog->IsChecked(1022));
    dialog.Click(1045);
    EXPECT_FALSE(dialog->IsChecked(1052));

    dialog.Click(1012);
    EXPECT_TRUE(dialog->IsChecked(1022));
    EXPECT_TRUE(dialog->IsChecked(1045));

    // The file format has one choice: clicking it again keeps it.
    dialog.Click(1003);
    EXPECT_TRUE(dialog->IsChecked(1003));
}

TEST(CCustomCourseTest, OkTurnsTheControlsIntoTheRecord) {
    struct Row {
        const char* name;
        std::function<void(OpenDialog&)> change;
        std::function<void(CourseSettings&)> expect;
    };
    const Row rows[] = {
        {"nothing changed", [](OpenDialog&) {}, [](CourseSettings&) {}},
        {"Course Timeout cleared keeps 60", [](OpenDialog& d) { d.SetText(1019, L""); }, [](CourseSettings&) {}},
        {"Course Timeout 0", [](OpenDialog& d) { d.SetText(1019, L"0"); },
         [](CourseSettings& s) { s.courseTimeout = 0; }},
        {"Pretest mode takes the posttest edits",
         [](OpenDialog& d) {
             d.SetText(1007, L"5");
             d.SetText(1009, L"80");
             d.SetText(1008, L"10");
             d.SetText(1010, L"70");
             d.SetText(1021, L"2");
         },
         [](CourseSettings& s) {
             s.pretestQuestionCount = 5;
             s.pretestPassingScore = 80;
             s.posttestQuestionCount = 10;
             s.posttestPassingScore = 70;
             s.posttestRetakeCount = 2;
         }},
        {"Assessment copies the pretest values",
         [](OpenDialog& d) {
             d.Click(1012);
             d.SetText(1007, L"5");
             d.SetText(1009, L"80");
             d.SetText(1008, L"10");
             d.SetText(1010, L"70");
         },
         [](CourseSettings& s) {
             s.testMode = TestMode::Assessment;
             s.assessmentAutoSkip = false;
             s.pretestQuestionCount = 5;
             s.pretestPassingScore = 80;
             s.posttestQuestionCount = 5;
             s.posttestPassingScore = 80;
         }},
        {"auto-skip ticked, then back to Pretest: the default stays",
         [](OpenDialog& d) {
             d.Click(1012);
             d.SetChecked(1013, false);
             d.Click(1011);
         },
         [](CourseSettings& s) { s.assessmentAutoSkip = true; }},
        {"pasted text is converted",
         [](OpenDialog& d) {
             d.Paste(1007, L"12ab");
             d.Paste(1009, L"ab");
             d.Paste(1021, L" -3");
         },
         [](CourseSettings& s) {
             s.pretestQuestionCount = 12;
             s.pretestPassingScore = 0;
             s.posttestRetakeCount = -3;
         }},
        {"every checkbox, xAPI, the last exit status",
         [](OpenDialog& d) {
             for (const int id : kCheckboxes) d.SetChecked(id, true);
             d.Click(1045);
             d.Click(1028);
         },
         [](CourseSettings& s) {
             s.allowVideoSkip = s.showNavBar = s.accessibilityDefault = s.certificatePrinting = true;
             s.skipCongratsScreen = s.isHr = s.enableHrSetting = s.deleteBmp = true;
             s.updateDescriptionsFromHtml = s.updateFromSpreadsheet = s.updateDescriptionsInInterfaceXml = true;
             s.createVodPackages = s.keepDetailedBookmarking = s.keepIdentifiers = true;
             s.fullScreenAtStartup = "full screen";
             s.packageType = PackageType::Xapi;
             s.exitStatusMode = ExitStatusMode::PassedNoPosttest;
         }},
        {"SCORM 2004", [](OpenDialog& d) { d.Click(1052); },
         [](CourseSettings& s) { s.packageType = PackageType::Scorm2004; }},
        {"keep identifiers", [](OpenDialog& d) { d.SetChecked(1051, true); },
         [](CourseSettings& s) { s.keepIdentifiers = true; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OpenDialog dialog;
        row.change(dialog);
        dialog.Click(IDOK);
        EXPECT_EQ(dialog->result(), IDOK);
        CourseSettings expected = Untouched();
        row.expect(expected);
        EXPECT_EQ(Describe(dialog->settings), Describe(expected));
    }
}

TEST(CCustomCourseTest, OkRefusesAPassMarkAboveOneHundredNamingItAndStaysOpen) {
    OpenDialog dialog(Shown::Yes);
    dialog.SetText(1009, L"90");
    dialog.Paste(1010, L"150abc");
    {
        ModalDriver driver;
        driver.Then(L"Quarvel", [&dialog](HWND box) {
            EXPECT_EQ(GetWindow(box, GW_OWNER), dialog->hwnd());
            std::wstring text;
            for (const HWND child : Children(box)) {
                if (_wcsicmp(ClassName(child).c_str(), L"Static") == 0) text += WindowText(child);
            }
            EXPECT_NE(text.find(L"\"Posttest Passing Score\" holds a pass mark above 100"), std::wstring::npos)
                << Narrow(text);
            SendMessageW(box, WM_COMMAND, IDOK, 0);
        });
        dialog.Click(IDOK);
        EXPECT_TRUE(driver.AllAnswered());
    }
    EXPECT_EQ(dialog->result(), 0);  // still open
    EXPECT_TRUE(IsWindowVisible(dialog->hwnd()));
    EXPECT_EQ(dialog->settings.pretestPassingScore, -1);  // nothing was read
    EXPECT_EQ(GetFocus(), dialog.Item(1010));
    const LRESULT selection = SendMessageW(dialog.Item(1010), EM_GETSEL, 0, 0);
    EXPECT_EQ(LOWORD(selection), 0);
    EXPECT_EQ(HIWORD(selection), 6);

    // Mended, OK goes ahead.
    dialog.SetText(1010, L"100");
    dialog.Click(IDOK);
    EXPECT_EQ(dialog->result(), IDOK);
    EXPECT_EQ(dialog->settings.pretestPassingScore, 90);
    EXPECT_EQ(dialog->settings.posttestPassingScore, 100);
}

TEST(CCustomCourseTest, EditsTakeOnlyDigitsFromTheKeyboardButPastedTextWhole) {
    OpenDialog dialog;
    const HWND edit = dialog.Item(1007);
    SetFocus(edit);
    TypeText(edit, L"1a2 -b3");
    EXPECT_EQ(dialog.Text(1007), L"123");
    TypeText(edit, L"\b");
    EXPECT_EQ(dialog.Text(1007), L"12");
    dialog.Paste(1007, L"12ab");
    EXPECT_EQ(dialog.Text(1007), L"12ab");
}

TEST(CCustomCourseTest, EnterActsAsOk) {
    OpenDialog dialog(Shown::Yes);
    const HWND edit = dialog.Item(1007);
    SetFocus(edit);
    TypeText(edit, L"4");
    PressKey(dialog->hwnd(), VK_RETURN);
    EXPECT_EQ(dialog->result(), IDOK);
    EXPECT_FALSE(IsWindowVisible(dialog->hwnd()));
    EXPECT_EQ(dialog->settings.pretestQuestionCount, 4);
    EXPECT_EQ(dialog->settings.fullScreenAtStartup, "normal");
}

TEST(CCustomCourseTest, EscapeTheCloseBoxAndCancelDiscardTheControls) {
    const std::function<void(OpenDialog&)> ways[] = {
        [](OpenDialog& d) {
            SetFocus(d.Item(1007));
            PressKey(d->hwnd(), VK_ESCAPE);
        },
        [](OpenDialog& d) {
            SendMessageW(d->hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
            PumpMessages(d->hwnd());
        },
        [](OpenDialog& d) { d.Click(IDCANCEL); },
    };
    int way = 0;
    for (const auto& cancel : ways) {
        SCOPED_TRACE(way++);
        OpenDialog dialog(Shown::Yes);
        dialog.SetText(1007, L"5");
        cancel(dialog);
        EXPECT_EQ(dialog->result(), IDCANCEL);
        EXPECT_FALSE(IsWindowVisible(dialog->hwnd()));
        EXPECT_EQ(dialog->settings.pretestQuestionCount, 0);
        EXPECT_TRUE(dialog->settings.fullScreenAtStartup.empty());
    }
}

TEST(CCustomCourseTest, EveryFieldOfTheTableIsReadFromItsControl) {
    // The batch program sets the same controls by the same table: the dialog
    // must give each value from the control the table names.
    for (const SettingsField& field : SettingsFields()) {
        SCOPED_TRACE(field.name);
        // Batch-only numbers stay at their defaults: the "nothing changed" row of the OK test shows it.
        if (field.batchOnly) continue;
        if (field.kind == FieldKind::Number) {
            OpenDialog dialog;
            dialog.SetText(field.control, L"17");
            dialog.Click(IDOK);
            EXPECT_EQ(FieldValueText(dialog->settings, field), "17");
            continue;
        }
        if (field.control == kNoControl && field.kind == FieldKind::Flag) continue;
        for (const FieldValue& value : field.values) {
            SCOPED_TRACE(value.name);
            OpenDialog dialog;
            if (field.inAssessment == InAssessment::OnlyThen) dialog.Click(AssessmentRadio());
            if (field.kind == FieldKind::Flag) {
                dialog.SetChecked(field.control, value.value != 0);
            } else {
                dialog.Click(value.radio);
            }
            dialog.Click(IDOK);
            EXPECT_EQ(FieldValueText(dialog->settings, field), value.name);
        }
    }
}
