// The key selection dialog: opened from a "+" of the main window, a line picked with the
// mouse, its code appended to the field beside the "+"; and the texts of its lines.
#include <gtest/gtest.h>

#include <string>

#include "bench/untConsts.h"
#include "tests/windows/benchpad/BenchWindow.h"

namespace benchpad::test {
namespace {

using wedgecard::test::ActiveWindowOf;
using wedgecard::test::ClickAt;
using wedgecard::test::ClickOn;
using wedgecard::test::FocusOf;
using wedgecard::test::PlaceOf;
using wedgecard::test::TMouseButton;
using wedgecard::test::TypeKeys;
using wedgecard::test::WaitUntil;

TEST(KeyLines, NameTheCodeAndGiveItBackWithoutTheName) {
    EXPECT_EQ(KeyItemText(8), "#8 (BackSpace)");
    EXPECT_EQ(KeyItemText(7), "#7");
    EXPECT_EQ(KeyItemText(57), "#57 (9 ()");
    EXPECT_EQ(KeyItemCode("#13 (Enter)"), "#13");
    EXPECT_EQ(KeyItemCode("#7"), "#7");
    EXPECT_EQ(KeyItemCode(KeyItemText(57)), "#57") << "the name holds a bracket of its own";
    EXPECT_EQ(KeyItemCode(KeyItemText(48)), "#48");
}

TEST(SensitivityText, IsADecimal32BitInteger) {
    EXPECT_EQ(StrToInt("100"), 100);
    EXPECT_EQ(StrToInt("-5"), -5);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    for (const char* wrong :
         {"", "abc", "2147483648", "-2147483649", " 1", "1 ", "1a", "-", "0x10"}) {
        EXPECT_THROW(static_cast<void>(StrToInt(wrong)), std::runtime_error) << wrong;
    }
}

class KeySelection : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(Bench.WaitForForm(), nullptr); }

    // "+" beside the field, and the dialog that it opens; null when none came.
    HWND OpenDialog(const char* Plus = "btnSelectPrefix1") {
        Bench.Click(Plus);
        HWND dialog = nullptr;
        WaitUntil([&] {
            dialog = ActiveWindowOf(Bench.Thread());
            return dialog != nullptr && wedgecard::test::TextOf(dialog) == L"Добавить код" &&
                   GetForegroundWindow() == dialog;
        });
        return dialog != nullptr && wedgecard::test::TextOf(dialog) == L"Добавить код" ? dialog
                                                                                       : nullptr;
    }

    static HWND ControlOf(HWND Dialog, const wchar_t* Class, const wchar_t* Text = nullptr) {
        return FindWindowExW(Dialog, nullptr, Class, Text);
    }

    static int LineCount(HWND List) {
        return static_cast<int>(SendMessageW(List, LB_GETCOUNT, 0, 0));
    }

    static int Selected(HWND List) {
        return static_cast<int>(SendMessageW(List, LB_GETCURSEL, 0, 0));
    }

    static std::wstring Line(HWND List, int Index) {
        wchar_t text[64] = {};
        SendMessageW(List, LB_GETTEXT, static_cast<WPARAM>(Index), reinterpret_cast<LPARAM>(text));
        return text;
    }

    // Scrolls the line into sight and clicks it (Clicks 2: a double click).
    static void ClickLine(HWND List, const std::wstring& Text, int Clicks = 1) {
        const auto index =
            static_cast<int>(SendMessageW(List, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                          reinterpret_cast<LPARAM>(Text.c_str())));
        ASSERT_GE(index, 0) << testing::PrintToString(Text);
        SendMessageW(List, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
        RECT line{};
        SendMessageW(List, LB_GETITEMRECT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(&line));
        MapWindowPoints(List, nullptr, reinterpret_cast<POINT*>(&line), 2);
        ClickAt(POINT{line.left + 30, (line.top + line.bottom) / 2}, TMouseButton::Left, Clicks);
    }

    bool WaitForClosed(HWND Dialog) {
        return WaitUntil([&] { return !IsWindow(Dialog); });
    }

    TBenchWindow Bench;
};

TEST_F(KeySelection, OkAppendsTheCodeOfTheChosenLineToTheField) {
    HWND dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    HWND list = ControlOf(dialog, L"ListBox");
    EXPECT_EQ(LineCount(list), 144);
    EXPECT_EQ(Selected(list), 0);
    EXPECT_EQ(Line(list, 0), L"#8 (BackSpace)");
    EXPECT_FALSE(IsWindowEnabled(Bench.Form().Handle())) << "modal";
    // The whole caption of the filter, beside the buttons, in the font the system draws with.
    HWND filter = ControlOf(dialog, L"Button", L"Только с описанием");
    const RECT filterPlace = PlaceOf(filter);
    EXPECT_GE(filterPlace.right - filterPlace.left,
              GetSystemMetrics(SM_CXMENUCHECK) + TextWidth(filter, L"Только с описанием"));
    EXPECT_LE(filterPlace.right, PlaceOf(ControlOf(dialog, L"Button", L"ОК")).left);

    ClickLine(list, L"#13 (Enter)");
    ASSERT_TRUE(WaitUntil([&] { return Line(list, Selected(list)) == L"#13 (Enter)"; }))
        << "selected line " << Selected(list) << ", first line shown "
        << SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    ClickOn(ControlOf(dialog, L"Button", L"ОК"));
    ASSERT_TRUE(WaitForClosed(dialog));
    EXPECT_EQ(Bench.TextOf("edtPrefix1"), L"#9#13");

    // Each opening starts afresh.
    dialog = OpenDialog("btnSelectSuffix3");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Selected(ControlOf(dialog, L"ListBox")), 0);
    ClickOn(ControlOf(dialog, L"Button", L"ОК"));
    ASSERT_TRUE(WaitForClosed(dialog));
    EXPECT_EQ(Bench.TextOf("edtSuffix3"), L"#36#8");
}

TEST_F(KeySelection, CancelLeavesTheFieldAsItWas) {
    HWND dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    HWND list = ControlOf(dialog, L"ListBox");
    // A click sent while the new dialog still settles is now and then lost under Wine; a
    // retry comes after the double-click time, so it cannot choose the line by itself.
    bool chosen = false;
    for (int attempt = 0; attempt < 3 && !chosen; ++attempt) {
        ClickLine(list, L"#13 (Enter)");
        chosen = WaitUntil([&] { return Line(list, Selected(list)) == L"#13 (Enter)"; });
    }
    // The list holds the mouse from the press to the release: a click on Cancel sent before
    // that is over would land in the list.
    ASSERT_TRUE(chosen) << "selected line " << Selected(list) << ", first line shown "
                        << SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    ASSERT_TRUE(WaitUntil([&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(Bench.Thread(), &info) && info.hwndCapture == nullptr;
    }));
    ClickOn(ControlOf(dialog, L"Button", L"Отмена"));
    ASSERT_TRUE(WaitForClosed(dialog));
    EXPECT_EQ(Bench.TextOf("edtPrefix1"), L"#9");
    EXPECT_TRUE(IsWindowEnabled(Bench.Form().Handle()));
}

TEST_F(KeySelection, WithoutTheFilterEveryCodeIsOfferedAndOkNeedsALine) {
    HWND dialog = OpenDialog("btnSelectSuffix1");
    ASSERT_NE(dialog, nullptr);
    HWND list = ControlOf(dialog, L"ListBox");
    ClickOn(ControlOf(dialog, L"Button", L"Только с описанием"));
    ASSERT_TRUE(WaitUntil([&] { return LineCount(list) == 256; }));
    EXPECT_EQ(Line(list, 0), L"#0");
    EXPECT_EQ(Line(list, 255), L"#255");
    EXPECT_EQ(Selected(list), LB_ERR);

    ClickOn(ControlOf(dialog, L"Button", L"ОК"));
    const TMessageBox box = Bench.TakeMessageBox();
    EXPECT_NE(box.Handle, nullptr) << "OK without a line is an error";
    EXPECT_TRUE(box.HasIcon);
    EXPECT_TRUE(IsWindowVisible(dialog)) << "and the dialog stays";

    ClickLine(list, L"#7", 2);
    ASSERT_TRUE(WaitForClosed(dialog));
    EXPECT_EQ(Bench.TextOf("edtSuffix1"), L"#13#7");
}

TEST_F(KeySelection, ADoubleClickChoosesTheLine) {
    Bench.Click("btnClearPrefix2");
    ASSERT_TRUE(WaitUntil([&] { return Bench.TextOf("edtPrefix2").empty(); }));
    HWND dialog = OpenDialog("btnSelectPrefix2");
    ASSERT_NE(dialog, nullptr);
    ClickLine(ControlOf(dialog, L"ListBox"), L"#57 (9 ()", 2);
    ASSERT_TRUE(WaitForClosed(dialog));
    EXPECT_EQ(Bench.TextOf("edtPrefix2"), L"#57");
}

TEST_F(KeySelection, EnterIsOkAndEscapeIsCancel) {
    HWND dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    HWND list = ControlOf(dialog, L"ListBox");
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(Bench.Thread()) == list; }));
    TypeKeys({VK_DOWN, VK_RETURN});
    ASSERT_TRUE(WaitForClosed(dialog));
    EXPECT_EQ(Bench.TextOf("edtPrefix1"), L"#9#9");

    dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    list = ControlOf(dialog, L"ListBox");
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(Bench.Thread()) == list; }));
    TypeKeys({VK_DOWN, VK_ESCAPE});
    ASSERT_TRUE(WaitForClosed(dialog));
    EXPECT_EQ(Bench.TextOf("edtPrefix1"), L"#9#9");
}

TEST_F(KeySelection, EnlargedItDrawsTheFilterAndTheButtonsWhereTheyGo) {
    HWND dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    Bench.Resize(dialog, 80, 100);
    for (const wchar_t* caption : {L"Только с описанием", L"ОК", L"Отмена"}) {
        EXPECT_TRUE(WaitUntil([&] {
            return ShowsAsItDraws(ControlOf(dialog, L"Button", caption));
        })) << testing::PrintToString(std::wstring(caption));
    }
}

}  // namespace
}  // namespace benchpad::test
