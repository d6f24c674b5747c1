// The device test dialog as a user meets it: a real window on the display, keys typed through
// the system's input while its modal loop runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/capture/WinCapturePlatform.h"
#include "driver/core/KBDDriver.h"
#include "driver/diagnostics/fmuDeviceTest.h"
#include "tests/support/FakeHost.h"
#include "tests/windows/dialog/UiTest.h"

namespace wedgecard::test {
namespace {

using testing::IsEmpty;

const std::wstring Caption = L"Тест устройства";

// What a click on the window's close box does, once the window says it has one. (A real click
// needs a frame on the screen, and without a window manager Wine may leave frames to a manager
// that is not there.)
void UseCloseBox(TUser& User, HWND Window) {
    RECT frame{};
    GetWindowRect(Window, &frame);
    const int y = frame.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    for (int x = frame.right - 1; x > frame.left; --x) {
        DWORD_PTR hit = 0;
        SendMessageTimeoutW(Window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_BLOCK, 2000, &hit);
        if (hit == HTCLOSE) {
            PostMessageW(Window, WM_SYSCOMMAND, SC_CLOSE, MAKELPARAM(x, y));
            return;
        }
    }
    User.Check(false, "the window has a close box");
}

TEST(DeviceTestDialog, ShowsItsTextsInTheStoredLayout) {
    TfmDeviceTest form;
    RECT client{};
    GetClientRect(form.Handle(), &client);
    RECT frame{};
    GetWindowRect(form.Handle(), &frame);

    EXPECT_EQ(TextOf(form.Handle()), Caption);
    EXPECT_EQ(TextOf(form.Control("lblInfo")), L"Считайте магнитную карту");
    EXPECT_EQ(TextOf(form.Control("lblResult")), L"Результат:");
    EXPECT_EQ(TextOf(form.Control("edtTestInput")), L"");
    EXPECT_EQ(TextOf(form.Control("btnClose")), L"Закрыть");
    EXPECT_NE(GetWindowLongW(form.Control("edtTestInput"), GWL_STYLE) & ES_READONLY, 0);

    EXPECT_EQ(frame.bottom - frame.top, 179);
    EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
    const RECT info = PlaceOf(form.Control("lblInfo"));
    const RECT result = PlaceOf(form.Control("lblResult"));
    const RECT edit = PlaceOf(form.Control("edtTestInput"));
    const RECT button = PlaceOf(form.Control("btnClose"));
    EXPECT_EQ(info.left, 9);
    EXPECT_EQ(info.top, 16);
    EXPECT_EQ(result.left, 9);
    EXPECT_EQ(result.top, 48);
    // The labels are as large as their texts and clear of the edit below them.
    EXPECT_GT(info.right - info.left, 100);
    EXPECT_LE(info.bottom, result.top);
    EXPECT_LE(result.bottom, edit.top);
    EXPECT_EQ(edit.left, 9);
    EXPECT_EQ(edit.top, 64);
    EXPECT_EQ(edit.bottom - edit.top, 21);
    EXPECT_EQ(client.right - edit.right, 9);
    EXPECT_EQ(button.right - button.left, 75);
    EXPECT_EQ(button.bottom - button.top, 25);
    EXPECT_EQ(client.right - button.right, 9);
    EXPECT_EQ(client.bottom - button.bottom, 9);
    EXPECT_LE(edit.bottom, button.top);

    EXPECT_EQ(GetNextDlgTabItem(form.Handle(), nullptr, FALSE), form.Control("edtTestInput"));
    EXPECT_EQ(GetNextDlgTabItem(form.Handle(), form.Control("edtTestInput"), FALSE),
              form.Control("btnClose"));
}

TEST(DeviceTestDialog, KeepsItsHeightWhileItsWidthChanges) {
    TfmDeviceTest form;
    MINMAXINFO limits{};
    SendMessageW(form.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.y, 179);
    EXPECT_EQ(limits.ptMaxTrackSize.y, 179);

    for (const int width : {640, 300}) {
        SetWindowPos(form.Handle(), nullptr, 0, 0, width, 400, SWP_NOMOVE | SWP_NOZORDER);
        RECT frame{};
        GetWindowRect(form.Handle(), &frame);
        RECT client{};
        GetClientRect(form.Handle(), &client);
        const RECT edit = PlaceOf(form.Control("edtTestInput"));
        const RECT button = PlaceOf(form.Control("btnClose"));
        EXPECT_EQ(frame.right - frame.left, width);
        EXPECT_EQ(frame.bottom - frame.top, 179);
        EXPECT_EQ(edit.left, 9) << width;
        EXPECT_EQ(client.right - edit.right, 9) << width;
        EXPECT_EQ(client.right - button.right, 9) << width;
        EXPECT_EQ(button.right - button.left, 75) << width;
        EXPECT_EQ(client.bottom - button.bottom, 9) << width;
    }
}

TEST(DeviceTestDialog, ShowsEachBurstAsTheReaderTypedIt) {
    TfmDeviceTest form;
    HWND edit = form.Control("edtTestInput");
    TUser user([&](TUser& User) {
        if (!User.WaitForDialog(Caption)) {
            return;
        }
        TypeKeys({'A', VK_RETURN});
        User.WaitFor([&] { return TextOf(edit) == L"a #13 "; }, "a and Enter are shown");
        // Shift shows only in the character it makes.
        TypeKeys({'5'}, true);
        User.WaitFor([&] { return TextOf(edit) == L"%"; }, "Shift+5 shows as %");
        TypeKeys({'1', '2'});
        User.WaitFor([&] { return TextOf(edit) == L"12"; }, "the next burst replaces the text");
        ClickOn(form.Control("btnClose"));
    });
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_THAT(user.Problems(), IsEmpty());
}

TEST(DeviceTestDialog, ShowsEnterEscapeAndTabInsteadOfObeyingThem) {
    TfmDeviceTest form;
    HWND edit = form.Control("edtTestInput");
    TUser user([&](TUser& User) {
        if (!User.WaitForDialog(Caption)) {
            return;
        }
        User.Check(FocusOf(User.UiThread) == edit, "the edit has the focus when it opens");
        TypeKeys({VK_RETURN, VK_ESCAPE, VK_TAB});
        User.WaitFor([&] { return TextOf(edit) == L"#13  #27  #9 "; }, "the keys are shown");
        User.Check(IsWindowVisible(User.Dialog) != FALSE, "the dialog is still open");
        User.Check(FocusOf(User.UiThread) == edit, "the focus is still in the edit");
        ClickOn(form.Control("btnClose"));
    });
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_THAT(user.Problems(), IsEmpty());
}

TEST(DeviceTestDialog, TheCloseBoxEndsItWithoutOk) {
    TfmDeviceTest form;
    TUser user([&](TUser& User) {
        if (User.WaitForDialog(Caption)) {
            UseCloseBox(User, User.Dialog);
        }
    });
    EXPECT_EQ(form.ShowModal(), mrCancel);
    EXPECT_THAT(user.Problems(), IsEmpty());
}

// The host's window: an edit that has the focus and is in the foreground.
class DeviceTestOverHost : public testing::Test {
protected:
    DeviceTestOverHost()
        : Host(TFormDescription{.Name = "fmHost",
                                .Caption = "Хост",
                                .Width = 300,
                                .Height = 100,
                                .ClientWidth = 292,
                                .ClientHeight = 73,
                                .Position = TFormPosition::Designed,
                                .Controls = {{.Name = "edtHost",
                                              .ClassName = L"EDIT",
                                              .Left = 8,
                                              .Top = 8,
                                              .Width = 200,
                                              .Height = 21,
                                              .TabOrder = 0,
                                              .ExStyle = WS_EX_CLIENTEDGE}}}),
          HostEdit(Host.Control("edtHost")) {
        Host.Show();
        SetForegroundWindow(Host.Handle());
        EXPECT_TRUE(PumpUntil(
            [this] { return GetForegroundWindow() == Host.Handle() && GetFocus() == HostEdit; }));
    }

    TSizeableForm Host;
    HWND HostEdit;
};

TEST_F(DeviceTestOverHost, BelongsToTheActiveWindowWhichWaitsDisabled) {
    TUser user([&](TUser& User) {
        if (!User.WaitForDialog(Caption)) {
            return;
        }
        User.Check(GetWindow(User.Dialog, GW_OWNER) == Host.Handle(), "the host owns it");
        User.Check(!IsWindowEnabled(Host.Handle()), "the host is disabled");
        ClickOn(FindWindowExW(User.Dialog, nullptr, L"Button", nullptr));
    });
    ShowDeviceTest();
    EXPECT_THAT(user.Problems(), IsEmpty());
    EXPECT_TRUE(IsWindowEnabled(Host.Handle()));
    EXPECT_EQ(GetActiveWindow(), Host.Handle());
}

TEST_F(DeviceTestOverHost, KeysTypedWhileItIsOpenNeverReachTheHost) {
    TUser user([&](TUser& User) {
        if (!User.WaitForDialog(Caption)) {
            return;
        }
        HWND edit = FindWindowExW(User.Dialog, nullptr, L"Edit", nullptr);
        TypeKeys({'A', VK_RETURN});
        User.WaitFor([&] { return TextOf(edit) == L"a #13 "; }, "the dialog shows the keys");
        // Closed in the middle of a burst, before the dialog had shown it.
        TypeKeys({'B'});
        ClickOn(FindWindowExW(User.Dialog, nullptr, L"Button", nullptr));
    });
    ShowDeviceTest();
    EXPECT_THAT(user.Problems(), IsEmpty());

    // The capture is gone with the dialog: typing reaches the host again, and whatever the
    // dialog had taken would have arrived before this.
    TypeKeys({'X'});
    EXPECT_TRUE(PumpUntil([this] { return TextOf(HostEdit) == L"x"; }))
        << "the host's edit holds " << NarrowText(TextOf(HostEdit));
}

TEST_F(DeviceTestOverHost, TheDriversCaptureRestsWhileItIsOpen) {
    TFakeGuids guids;
    TFakeModule module;
    TWinDeviceTestDialog dialog;
    TKBDDriver driver(TDriverServices{WindowsCapturePlatform(), guids, module, dialog});
    std::vector<std::string> received;
    driver.OnEvent = [&received](const std::string&, const std::string&, const std::string& Data) {
        received.push_back(Data);
    };
    TFakeValuesArray settings = Settings(100, "#9", "#13", "#33", "#34", "#35", "#36", false);
    std::wstring id;
    ASSERT_TRUE(driver.Open(settings, id)) << driver.LastErrorText();

    TUser user([&](TUser& User) {
        if (!User.WaitForDialog(Caption)) {
            return;
        }
        HWND edit = FindWindowExW(User.Dialog, nullptr, L"Edit", nullptr);
        TypeKeys({VK_TAB, '1', '2', VK_RETURN});
        User.WaitFor([&] { return TextOf(edit) == L"#9 12 #13 "; }, "the dialog shows the swipe");
        ClickOn(FindWindowExW(User.Dialog, nullptr, L"Button", nullptr));
    });
    std::wstring description;
    EXPECT_TRUE(driver.DeviceTest(description)) << driver.LastErrorText();
    EXPECT_THAT(user.Problems(), IsEmpty());
    EXPECT_THAT(received, IsEmpty());
    EXPECT_TRUE(driver.KeyboardHook().Active());

    TypeKeys({VK_TAB, '1', '2', VK_RETURN});
    EXPECT_TRUE(PumpUntil([&received] { return !received.empty(); }));
    EXPECT_THAT(received, testing::ElementsAre("@112@2@3"));
    EXPECT_EQ(TextOf(HostEdit), L"");
}

}  // namespace
}  // namespace wedgecard::test
