// The form base as real windows: size correction, constraints, anchors, tab order, pages of a
// tab control, the modal loop and EnableButtons.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <stdexcept>
#include <string>

#include "driver/diagnostics/SizeableForm.h"
#include "tests/windows/dialog/UiTest.h"

namespace wedgecard::test {
namespace {

using testing::IsEmpty;

constexpr TAnchors AllEdges = akLeft | akTop | akRight | akBottom;

TControlDescription Button(std::string Name, int Left, int Top, TAnchors Anchors, int TabOrder,
                           int ModalResult = mrNone) {
    return {.Name = std::move(Name),
            .ClassName = L"BUTTON",
            .Caption = "Кнопка",
            .Left = Left,
            .Top = Top,
            .Width = 75,
            .Height = 25,
            .Anchors = Anchors,
            .TabOrder = TabOrder,
            .Style = BS_PUSHBUTTON,
            .ModalResult = ModalResult};
}

// Stored in an order unlike the tab order, with a group box holding a button, a centred button
// without anchors and the usual OK and Cancel in the bottom right corner.
TFormDescription TestForm(TBorderStyle Border = TBorderStyle::Sizeable) {
    return TFormDescription{
        .Name = "fmTest",
        .Caption = "Проба",
        .Width = 400,
        .Height = 300,
        .ClientWidth = 392,
        .ClientHeight = 273,
        .BorderStyle = Border,
        .Constraints = {.MinWidth = 200, .MinHeight = 150, .MaxWidth = 800, .MaxHeight = 600},
        .Controls = {
            {.Name = "grpBox",
             .ClassName = L"BUTTON",
             .Caption = "Группа",
             .Left = 8,
             .Top = 8,
             .Width = 200,
             .Height = 150,
             .Anchors = AllEdges,
             .Style = BS_GROUPBOX},
            {.Name = "edtName",
             .ClassName = L"EDIT",
             .Left = 216,
             .Top = 8,
             .Width = 168,
             .Height = 21,
             .Anchors = akLeft | akTop | akRight,
             .TabOrder = 2,
             .ExStyle = WS_EX_CLIENTEDGE},
            {.Name = "chkFlag",
             .ClassName = L"BUTTON",
             .Caption = "Флаг",
             .Left = 216,
             .Top = 40,
             .Width = 100,
             .Height = 17,
             .TabOrder = 1,
             .Style = BS_AUTOCHECKBOX},
            Button("btnMiddle", 158, 170, 0, -1),
            Button("btnOk", 228, 240, akRight | akBottom, 3, mrOk),
            Button("btnCancel", 309, 240, akRight | akBottom, 4, mrCancel),
            [] {
                TControlDescription inBox = Button("btnInBox", 115, 115, akRight | akBottom, 0);
                inBox.Parent = "grpBox";
                return inBox;
            }(),
        }};
}

SIZE OuterSize(HWND Window) {
    RECT frame{};
    GetWindowRect(Window, &frame);
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

TEST(SizeableForm, CorrectsTheStoredSizeForTheSystemsFrameMetrics) {
    const TSizeableForm sizeable(TestForm());
    const TSizeableForm dialog(TestForm(TBorderStyle::Dialog));

    const int caption = GetSystemMetrics(SM_CYCAPTION);
    const SIZE frame{GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME)};
    const SIZE edge{GetSystemMetrics(SM_CXEDGE), GetSystemMetrics(SM_CYEDGE)};
    const SIZE corrected = OuterSize(sizeable.Handle());
    EXPECT_EQ(corrected.cx, 400 + 2 * (frame.cx - edge.cx - 1));
    EXPECT_EQ(corrected.cy, 300 + (caption - 19) + 2 * (frame.cy - edge.cy - 1));
    const SIZE stored = OuterSize(dialog.Handle());
    EXPECT_EQ(stored.cx, 400);
    EXPECT_EQ(stored.cy, 300);
}

TEST(SizeableForm, KeepsItsSizeWithinTheConstraints) {
    const TSizeableForm form(TestForm());
    MINMAXINFO limits{};
    SendMessageW(form.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, 200);
    EXPECT_EQ(limits.ptMinTrackSize.y, 150);
    EXPECT_EQ(limits.ptMaxTrackSize.x, 800);
    EXPECT_EQ(limits.ptMaxTrackSize.y, 600);

    SetWindowPos(form.Handle(), nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(OuterSize(form.Handle()).cx, 200);
    EXPECT_EQ(OuterSize(form.Handle()).cy, 150);
    SetWindowPos(form.Handle(), nullptr, 0, 0, 1000, 1000, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(OuterSize(form.Handle()).cx, 800);
    EXPECT_EQ(OuterSize(form.Handle()).cy, 600);
}

TEST(SizeableForm, AnchoredControlsFollowTheClientArea) {
    const TSizeableForm form(TestForm());
    for (const SIZE size : {OuterSize(form.Handle()), SIZE{600, 400}, SIZE{250, 200}}) {
        SetWindowPos(form.Handle(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
        RECT client{};
        GetClientRect(form.Handle(), &client);
        const RECT box = PlaceOf(form.Control("grpBox"));
        const RECT inBox = PlaceOf(form.Control("btnInBox"));
        const RECT name = PlaceOf(form.Control("edtName"));
        const RECT middle = PlaceOf(form.Control("btnMiddle"));
        const RECT cancel = PlaceOf(form.Control("btnCancel"));
        SCOPED_TRACE(testing::Message() << "client " << client.right << " x " << client.bottom);

        EXPECT_EQ(box.left, 8);
        EXPECT_EQ(box.top, 8);
        EXPECT_EQ(client.right - box.right, 392 - 208);
        EXPECT_EQ(client.bottom - box.bottom, 273 - 158);
        EXPECT_EQ(box.right - inBox.right, 200 - 190);
        EXPECT_EQ(box.bottom - inBox.bottom, 150 - 140);
        EXPECT_EQ(name.left, 216);
        EXPECT_EQ(client.right - name.right, 8);
        EXPECT_EQ(client.right - cancel.right, 8);
        EXPECT_EQ(client.bottom - cancel.bottom, 8);
        EXPECT_EQ(cancel.right - cancel.left, 75);
        // Without anchors the centre keeps its relative place.
        EXPECT_NEAR((middle.left + middle.right) / 2.0, (158 + 75 / 2.0) * client.right / 392, 1);
        EXPECT_EQ(middle.right - middle.left, 75);
    }
}

TEST(SizeableForm, TabStopsFollowTheTabOrderNotTheStoredOrder) {
    const TSizeableForm form(TestForm());
    HWND tabStop = GetNextDlgTabItem(form.Handle(), nullptr, FALSE);
    for (const char* expected : {"btnInBox", "chkFlag", "edtName", "btnOk", "btnCancel"}) {
        EXPECT_EQ(tabStop, form.Control(expected)) << expected;
        tabStop = GetNextDlgTabItem(form.Handle(), tabStop, FALSE);
    }
    EXPECT_THROW((void)form.Control("btnMissing"), std::invalid_argument);
}

TEST(SizeableForm, TextsAreWindows1251ForTheProgramAndUnicodeOnScreen) {
    TSizeableForm form(TestForm());
    EXPECT_EQ(TextOf(form.Handle()), L"Проба");
    EXPECT_EQ(TextOf(form.Control("grpBox")), L"Группа");
    form.SetText("edtName", "Съешь ещё этих мягких булок");
    EXPECT_EQ(TextOf(form.Control("edtName")), L"Съешь ещё этих мягких булок");
    EXPECT_EQ(form.Text("edtName"), "Съешь ещё этих мягких булок");
    form.SetCaption("Ёлка");
    EXPECT_EQ(form.Caption(), "Ёлка");
}

// A tab control with two pages, a button on each, the right one anchored to the page's right
// edge; a check box and a coloured read-only edit below.
TFormDescription PagedForm() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);
    TFormDescription form = TestForm();
    form.Controls = {
        {.Name = "pgcTabs",
         .ClassName = WC_TABCONTROLW,
         .Left = 8,
         .Top = 8,
         .Width = 376,
         .Height = 120,
         .Anchors = akLeft | akTop | akRight},
        {.Name = "tsFirst", .Caption = "Первая", .Parent = "pgcTabs"},
        Button("btnFirst", 8, 8, akLeft | akTop, 0),
        {.Name = "tsSecond", .Caption = "Вторая", .Parent = "pgcTabs"},
        Button("btnSecond", 200, 8, akTop | akRight, 0),
        {.Name = "chkFlag",
         .ClassName = L"BUTTON",
         .Caption = "Флаг",
         .Left = 8,
         .Top = 140,
         .Width = 100,
         .Height = 17,
         .TabOrder = 1,
         .Style = BS_AUTOCHECKBOX},
        {.Name = "edtResult",
         .ClassName = L"EDIT",
         .Left = 8,
         .Top = 170,
         .Width = 200,
         .Height = 21,
         .Style = ES_READONLY,
         .Color = COLOR_BTNFACE},
    };
    form.Controls[2].Parent = "tsFirst";
    form.Controls[4].Parent = "tsSecond";
    return form;
}

TEST(SizeableFormPages, ShowTheControlsOfTheSelectedTabOnlyInItsDisplayArea) {
    TSizeableForm form(PagedForm());
    form.Show();
    const HWND tabs = form.Control("pgcTabs");
    EXPECT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(form.ActivePage("pgcTabs"), "tsFirst");
    EXPECT_TRUE(IsWindowVisible(form.Control("btnFirst")));
    EXPECT_FALSE(IsWindowVisible(form.Control("btnSecond")));

    form.SetActivePage("tsSecond");
    EXPECT_EQ(form.ActivePage("pgcTabs"), "tsSecond");
    EXPECT_FALSE(IsWindowVisible(form.Control("btnFirst")));
    EXPECT_TRUE(IsWindowVisible(form.Control("btnSecond")));
    EXPECT_THROW(form.SetActivePage("chkFlag"), std::invalid_argument);

    // The page is the display area: the controls lie in it and follow its edges.
    for (const int width : {400, 600}) {
        SetWindowPos(form.Handle(), nullptr, 0, 0, width, 300, SWP_NOMOVE | SWP_NOZORDER);
        RECT area = PlaceOf(tabs);
        SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
        const RECT first = PlaceOf(form.Control("btnFirst"));
        const RECT second = PlaceOf(form.Control("btnSecond"));
        EXPECT_EQ(first.left, area.left + 8);
        EXPECT_EQ(first.top, area.top + 8);
        RECT designed{0, 0, 376, 120};
        SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&designed));
        EXPECT_EQ(area.right - second.right, designed.right - designed.left - 275) << width;
    }
}

TEST(SizeableFormPages, CheckBoxesAndColouredEditsKeepWhatTheProgramSets) {
    TSizeableForm form(PagedForm());
    EXPECT_FALSE(form.Checked("chkFlag"));
    form.SetChecked("chkFlag", true);
    EXPECT_TRUE(form.Checked("chkFlag"));
    EXPECT_EQ(SendMessageW(form.Control("chkFlag"), BM_GETCHECK, 0, 0), BST_CHECKED);

    HDC dc = GetDC(form.Control("edtResult"));
    const auto brush = reinterpret_cast<HBRUSH>(
        SendMessageW(form.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(form.Control("edtResult"))));
    ReleaseDC(form.Control("edtResult"), dc);
    EXPECT_EQ(brush, GetSysColorBrush(COLOR_BTNFACE));
}

class EnableButtons : public testing::Test {
protected:
    EnableButtons() : Form(TestForm()) {
        Form.Show();
        SetForegroundWindow(Form.Handle());
        EXPECT_TRUE(PumpUntil([this] { return GetActiveWindow() == Form.Handle(); }));
        EnableWindow(Form.Control("btnCancel"), FALSE);
    }

    [[nodiscard]] bool Enabled(const char* Name) const {
        return IsWindowEnabled(Form.Control(Name)) != FALSE;
    }

    TSizeableForm Form;
};

TEST_F(EnableButtons, RestoresWhatItDisabledAndTheFocusedButton) {
    SetFocus(Form.Control("btnOk"));

    Form.EnableButtons(false);
    for (const char* button : {"btnInBox", "btnMiddle", "btnOk", "btnCancel"}) {
        EXPECT_FALSE(Enabled(button)) << button;
    }
    EXPECT_TRUE(Enabled("chkFlag")) << "a check box is not a push button";
    EXPECT_TRUE(Enabled("edtName"));
    EXPECT_EQ(Form.Tag("btnOk"), 1);
    EXPECT_EQ(Form.Tag("btnCancel"), 0) << "it was disabled before";

    Form.EnableButtons(true);
    for (const char* button : {"btnInBox", "btnMiddle", "btnOk"}) {
        EXPECT_TRUE(Enabled(button)) << button;
        EXPECT_EQ(Form.Tag(button), 0) << button;
    }
    EXPECT_FALSE(Enabled("btnCancel")) << "disabled by other means, it stays so";
    EXPECT_EQ(GetFocus(), Form.Control("btnOk"));
}

TEST_F(EnableButtons, LeavesTheFocusAloneWhenNoButtonHadIt) {
    SetFocus(Form.Control("btnOk"));
    Form.EnableButtons(false);
    Form.EnableButtons(true);

    SetFocus(Form.Control("edtName"));
    Form.EnableButtons(false);
    Form.EnableButtons(true);
    EXPECT_EQ(GetFocus(), Form.Control("edtName"));
}

TEST(SizeableFormModal, DisablesItsOwnerUntilAButtonGivesTheResult) {
    TSizeableForm owner(TestForm());
    owner.Show();
    TSizeableForm form(TestForm(TBorderStyle::Dialog), owner.Handle());
    int clicks = 0;
    form.SetOnClick("btnOk", [&clicks] { ++clicks; });
    TUser user([&](TUser& User) {
        if (!User.WaitForDialog(L"Проба") || !User.Check(User.Dialog == form.Handle(), "modal")) {
            return;
        }
        User.Check(!IsWindowEnabled(owner.Handle()), "the owner is disabled");
        ClickOn(form.Control("btnOk"));
    });
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_THAT(user.Problems(), IsEmpty());
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
    EXPECT_FALSE(IsWindowVisible(form.Handle()));
    EXPECT_EQ(GetActiveWindow(), owner.Handle());
    EXPECT_THROW(
        {
            form.Show();
            form.ShowModal();
        },
        std::logic_error);
}

TEST(SizeableFormModal, EndsWithCancelOnWmQuitAndLeavesItForTheOuterLoop) {
    TSizeableForm form(TestForm());
    TUser user([&](TUser& User) {
        if (User.WaitForDialog(L"Проба")) {
            PostThreadMessageW(User.UiThread, WM_QUIT, 7, 0);
        }
    });
    EXPECT_EQ(form.ShowModal(), mrCancel);
    EXPECT_THAT(user.Problems(), IsEmpty());
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

// A form whose errors are recorded instead of shown in a message box.
class TRecordingForm final : public TSizeableForm {
public:
    TRecordingForm() : TSizeableForm(TestForm()) {}
    std::string Error;

protected:
    void HandleException(const std::exception& Failure) override { Error = Failure.what(); }
};

TEST(SizeableFormErrors, AFailingHandlerIsReportedAndTheFormGoesOn) {
    TRecordingForm form;
    int clicks = 0;
    form.SetOnClick("btnInBox", [&clicks] {
        if (++clicks == 1) {
            throw std::runtime_error("Сбой");
        }
    });
    SendMessageW(form.Control("btnInBox"), BM_CLICK, 0, 0);
    EXPECT_EQ(form.Error, "Сбой");
    SendMessageW(form.Control("btnInBox"), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 2);
}

}  // namespace
}  // namespace wedgecard::test
