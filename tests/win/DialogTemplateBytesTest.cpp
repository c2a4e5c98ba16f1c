#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "res/Dialog102.h"
#include "res/Dialog131.h"
#include "settings/SettingsFields.h"
#include "win/DialogTemplateBytes.h"
#include "win/WinText.h"

namespace {

// A template read back word by word, as the dialog manager reads it.
struct ReadItem {
    DWORD style, exStyle;
    int x, y, width, height;
    WORD id, classAtom;
    std::wstring text;
};
struct ReadTemplate {
    DWORD style, exStyle;
    int count, x, y, width, height;
    std::wstring caption, font;
    WORD points;
    std::vector<ReadItem> items;
};

class WordReader {
public:
    explicit WordReader(const std::vector<WORD>& words) : m_words(words) {}
    WORD Word() { return m_at < m_words.size() ? m_words[m_at++] : 0xDEAD; }
    DWORD Dword() {
        const WORD low = Word();
        return MAKELONG(low, Word());
    }
    std::wstring Text() {
        std::wstring text;
        for (WORD c = Word(); c != 0 && c != 0xDEAD; c = Word()) text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    void AlignToDword() { m_at += m_at % 2; }
    bool AtEnd() const { return m_at == m_words.size(); }

private:
    const std::vector<WORD>& m_words;
    std::size_t m_at = 0;
};

ReadTemplate Read(const std::vector<WORD>& words) {
    WordReader in(words);
    ReadTemplate t{};
    t.style = in.Dword();
    t.exStyle = in.Dword();
    t.count = in.Word();
    t.x = static_cast<short>(in.Word());
    t.y = static_cast<short>(in.Word());
    t.width = in.Word();
    t.height = in.Word();
    EXPECT_EQ(in.Word(), 0) << "menu";
    EXPECT_EQ(in.Word(), 0) << "class";
    t.caption = in.Text();
    t.points = in.Word();
    t.font = in.Text();
    for (int i = 0; i < t.count; ++i) {
        in.AlignToDword();
        ReadItem item{};
        item.style = in.Dword();
        item.exStyle = in.Dword();
        item.x = in.Word();
        item.y = in.Word();
        item.width = in.Word();
        item.height = in.Word();
        item.id = in.Word();
        EXPECT_EQ(in.Word(), 0xFFFF) << "class given by atom";
        item.classAtom = in.Word();
        item.text = in.Text();
        EXPECT_EQ(in.Word(), 0) << "creation data";
        t.items.push_back(item);
    }
    EXPECT_TRUE(in.AtEnd());
    return t;
}

const ControlTemplate& ById(int id) {
    for (const ControlTemplate& control : kDialog131.controls) {
        if (control.id == id) return control;
    }
    throw std::out_of_range("no control " + std::to_string(id));
}

}  // namespace

TEST(DialogTemplateBytesTest, TheMainDialogIsExactlyTheseWords) {
    // The layout is fixed: header, caption, font, then each item on a DWORD boundary.
    const DWORD style = kDialogFrameStyle | WS_VISIBLE;
    const DWORD button = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP;
    std::vector<WORD> expected = {LOWORD(style),
                                  HIWORD(style),
                                  LOWORD(WS_EX_APPWINDOW),
                                  HIWORD(WS_EX_APPWINDOW),
                                  3,
                                  0,
                                  0,
                                  320,
                                  200,
                                  0,
                                  0,
                                  'Q',
                                  'u',
                                  'a',
                                  'r',
                                  'v',
                                  'e',
                                  'l',
                                  0,
                                  8,
                                  'M',
                                  'S',
                                  ' ',
                                  'S',
                                  'h',
                                  'e',
                                  'l',
                                  'l',
                                  ' ',
                                  'D',
                                  'l',
                                  'g',
                                  0};
    const auto item = [&](DWORD kind, int x, int y, int w, int h, WORD id, std::wstring_view text) {
        if (expected.size() % 2) expected.push_back(0);
        const DWORD s = button | kind;
        for (const WORD word : {LOWORD(s), HIWORD(s), WORD{0}, WORD{0}, WORD(x), WORD(y), WORD(w), WORD(h), id,
                                WORD{0xFFFF}, WORD{0x0080}}) {
            expected.push_back(word);
        }
        for (const wchar_t c : text) expected.push_back(static_cast<WORD>(c));
        expected.push_back(0);
        expected.push_back(0);
    };
    // Tab order by position: "select folder" is above OK and Cancel.
    item(BS_PUSHBUTTON, 119, 93, 80, 14, 1001, L"select folder");
    item(BS_DEFPUSHBUTTON, 209, 179, 50, 14, 1, L"OK");
    item(BS_PUSHBUTTON, 263, 179, 50, 14, 2, L"Cancel");
    EXPECT_EQ(BuildDialogTemplateBytes(kDialog102, style, WS_EX_APPWINDOW), expected);
}

TEST(DialogTemplateBytesTest, TheSettingsDialogHasEveryControlOfItsTemplate) {
    const ReadTemplate t = Read(BuildDialogTemplateBytes(kDialog131, kDialogFrameStyle, 0));
    EXPECT_EQ(t.style, DWORD(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.caption, L"course configuration");
    EXPECT_EQ(t.font, L"MS Shell Dlg");
    EXPECT_EQ(t.points, 8);
    EXPECT_EQ(t.width, 599);
    EXPECT_EQ(t.height, 360);
    ASSERT_EQ(t.count, static_cast<int>(kDialog131.controls.size()));

    const std::vector<TemplateItem> items = TemplateItems(kDialog131.controls);
    ASSERT_EQ(items.size(), t.items.size());
    for (std::size_t i = 0; i < t.items.size(); ++i) {
        const ReadItem& item = t.items[i];
        const ControlTemplate& control = kDialog131.controls[items[i].index];
        EXPECT_EQ(item.style & ~WS_GROUP, ControlStyle(control));
        EXPECT_EQ(item.style, items[i].style);
        SCOPED_TRACE(std::to_string(control.id) + " " + control.text);
        EXPECT_EQ(item.id, static_cast<WORD>(control.id));
        EXPECT_EQ(item.text, Widen(control.text));
        EXPECT_EQ(item.x, control.x);
        EXPECT_EQ(item.y, control.y);
        EXPECT_EQ(item.width, control.width);
        EXPECT_EQ(item.height, control.height);
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_TRUE(item.style & WS_CHILD);
        EXPECT_TRUE(item.style & WS_VISIBLE);
        const DWORD type = item.style & 0x0F;
        switch (control.kind) {
            case ControlKind::DefaultPushButton:
                EXPECT_EQ(item.classAtom, 0x0080);
                EXPECT_EQ(type, DWORD(BS_DEFPUSHBUTTON));
                break;
            case ControlKind::PushButton:
                EXPECT_EQ(item.classAtom, 0x0080);
                EXPECT_EQ(type, DWORD(BS_PUSHBUTTON));
                break;
            case ControlKind::Radio:
                EXPECT_EQ(item.classAtom, 0x0080);
                EXPECT_EQ(type, DWORD(BS_AUTORADIOBUTTON));
                break;
            case ControlKind::Checkbox:
                EXPECT_EQ(item.classAtom, 0x0080);
                EXPECT_EQ(type, DWORD(BS_AUTOCHECKBOX));
                break;
            case ControlKind::GroupBox:
                EXPECT_EQ(item.classAtom, 0x0080);
                EXPECT_EQ(type, DWORD(BS_GROUPBOX));
                break;
            case ControlKind::Edit:
                EXPECT_EQ(item.classAtom, 0x0081);
                EXPECT_TRUE(item.style & ES_NUMBER);
                EXPECT_TRUE(item.style & WS_BORDER);
                EXPECT_FALSE(item.style & ES_MULTILINE);
                break;
            case ControlKind::Label:
                EXPECT_EQ(item.classAtom, 0x0082);
                EXPECT_EQ(type, DWORD(SS_LEFT));
                break;
        }
        const bool tabStop =
            control.tabStop && control.kind != ControlKind::Label && control.kind != ControlKind::GroupBox;
        EXPECT_EQ((item.style & WS_TABSTOP) != 0, tabStop);
    }
}

TEST(DialogTemplateBytesTest, TabStopsComeByPositionThenTheRestWithGroupBoxesLast) {
    // The tab order of the desktop program on Linux, rows top to bottom,
    // each left to right ("Pretest" is a unit lower than "Assessment / ADL"
    // but beside it), with the radios of a group together at the place of
    // the first. A control added to the template later takes its place by
    // position among these.
    const std::vector<int> byPosition = {1006, 1022, 1027, 1028, 1003, 1016, 1011, 1012, 1041, 1007, 1047, 1009,
                                         1018, 1013, 1024, 1053, 1008, 1044, 1045, 1052, 1010, 1025, 1021, 1019,
                                         1026, 1051, 1033, 1046, 1034, 1043, 1048, 1042, 1,    2};
    const std::vector<TemplateItem> items = TemplateItems(kDialog131.controls);
    ASSERT_EQ(items.size(), kDialog131.controls.size());
    std::vector<int> stops;
    std::size_t at = 0;
    std::size_t stopCount = 0;
    for (; at < items.size() && items[at].style & WS_TABSTOP; ++at, ++stopCount) {
        const int id = kDialog131.controls[items[at].index].id;
        if (std::find(byPosition.begin(), byPosition.end(), id) != byPosition.end()) stops.push_back(id);
    }
    EXPECT_EQ(stops, byPosition);
    const auto isStop = [](const ControlTemplate& c) { return (ControlStyle(c) & WS_TABSTOP) != 0; };
    EXPECT_EQ(stopCount,
              static_cast<std::size_t>(std::count_if(kDialog131.controls.begin(), kDialog131.controls.end(), isStop)));
    bool inFrames = false;
    for (; at < items.size(); ++at) {
        const ControlTemplate& control = kDialog131.controls[items[at].index];
        SCOPED_TRACE(control.text);
        EXPECT_FALSE(items[at].style & WS_TABSTOP);
        if (control.kind == ControlKind::GroupBox) inFrames = true;
        EXPECT_EQ(control.kind == ControlKind::GroupBox, inFrames);
    }
    EXPECT_FALSE(ControlStyle(ById(1040)) & WS_TABSTOP);
}

TEST(DialogTemplateBytesTest, TheKeyboardGroupsAreTheSettingsRadioGroups) {
    // WS_GROUP starts a group that runs to the next one: the radio groups
    // the arrow keys move in must be the ones a click keeps to itself.
    std::vector<std::vector<int>> groups;
    for (const TemplateItem& item : TemplateItems(kDialog131.controls)) {
        const ControlTemplate& control = kDialog131.controls[item.index];
        if (item.style & WS_GROUP) groups.emplace_back();
        groups.back().push_back(control.id);
        if (control.kind != ControlKind::Radio) {
            EXPECT_TRUE(item.style & WS_GROUP) << control.text;
        }
    }
    std::set<std::set<int>> radioGroups;
    for (const std::vector<int>& group : groups) {
        if (ById(group.front()).kind == ControlKind::Radio) radioGroups.insert({group.begin(), group.end()});
    }
    std::set<std::set<int>> expected;
    for (const std::vector<int>& group : SettingsRadioGroups()) expected.insert({group.begin(), group.end()});
    EXPECT_EQ(radioGroups, expected);
}

TEST(DialogTemplateBytesTest, TheUndoIdentifiersAndScorm2004ControlsAreTheseItems) {
    // Read back from the bytes: the dialog manager makes them where the
    // template says, with the styles of their kinds; the SCORM 2004 radio
    // continues the SCORM type group the arrow keys move in.
    const ReadTemplate t = Read(BuildDialogTemplateBytes(kDialog131, kDialogFrameStyle, 0));
    const DWORD common = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    const struct {
        WORD id;
        DWORD style;
        int x, y, width, height;
        std::wstring text;
    } rows[] = {
        {1052, common | BS_AUTORADIOBUTTON, 409, 226, 98, 10, L"SCORM 2004"},
        {1051, common | WS_GROUP | BS_AUTOCHECKBOX, 412, 270, 170, 10, L"Keep item and resource identifiers"},
        {1053, common | WS_GROUP | BS_PUSHBUTTON, 412, 168, 70, 14, L"Undo last run\u2026"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        const auto item =
            std::find_if(t.items.begin(), t.items.end(), [&](const ReadItem& i) { return i.id == row.id; });
        ASSERT_NE(item, t.items.end());
        EXPECT_EQ(item->style, row.style);
        EXPECT_EQ(item->classAtom, kButtonAtom);
        EXPECT_EQ(std::vector<int>({item->x, item->y, item->width, item->height}),
                  std::vector<int>({row.x, row.y, row.width, row.height}));
        EXPECT_EQ(item->text, row.text);
    }
    // The radio comes right after the other two of its group.
    const auto at = [&t](WORD id) {
        return std::find_if(t.items.begin(), t.items.end(), [id](const ReadItem& i) { return i.id == id; }) -
               t.items.begin();
    };
    EXPECT_EQ(at(1045), at(1044) + 1);
    EXPECT_EQ(at(1052), at(1045) + 1);
}
