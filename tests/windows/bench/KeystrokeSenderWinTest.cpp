// The sending half of the swipe simulator on a real window system: the US layout stand-in
// against VkKeyScanExA, and synthetic keys arriving at the focused window.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/KeystrokeSender.h"

namespace benchpad::test {
namespace {

TEST(UsLayoutKeyScanOnWindows, AnswersAsVkKeyScanExAWithTheUsLayout) {
    HKL layout = LoadKeyboardLayoutA("00000409", 0);
    ASSERT_NE(layout, nullptr);
    for (int character = 0x20; character < 0x7F; ++character) {
        // Wine takes its layout from the X server's keymap, and the virtual display's keymap
        // has no "(" or ")" and puts "<" on the extra key of 102-key keyboards.
        if (std::strchr("()<", character) != nullptr) {
            continue;
        }
        EXPECT_EQ(UsLayoutKeyScan(static_cast<char>(character)),
                  VkKeyScanExA(static_cast<CHAR>(character), layout))
            << static_cast<char>(character);
    }
}

// A top-level window that records the key messages it receives.
class KeyWindow : public testing::Test {
protected:
    struct TKeyMessage {
        bool KeyUp;
        WPARAM Code;
        UINT ScanCode;

        friend bool operator==(const TKeyMessage&, const TKeyMessage&) = default;
    };

    void SetUp() override {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = &KeyWindow::WindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"BenchpadKeyWindowTest";
        RegisterClassW(&windowClass);
        FWindow = CreateWindowExW(0, windowClass.lpszClassName, L"keys", WS_OVERLAPPEDWINDOW, 0, 0,
                                  200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(FWindow, nullptr);
        SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ShowWindow(FWindow, SW_SHOW);
        SetForegroundWindow(FWindow);
        SetFocus(FWindow);
        Pump(200);
        FReceived.clear();
    }
    void TearDown() override { DestroyWindow(FWindow); }

    // Runs the message loop until Count key messages have arrived or Milliseconds have passed.
    void Pump(DWORD Milliseconds, std::size_t Count = SIZE_MAX) {
        const ULONGLONG end = GetTickCount64() + Milliseconds;
        while (FReceived.size() < Count && GetTickCount64() < end) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }

    static TKeyMessage Key(bool KeyUp, BYTE Code) {
        return {KeyUp, Code, MapVirtualKeyA(Code, MAPVK_VK_TO_VSC)};
    }

    HWND FWindow = nullptr;
    std::vector<TKeyMessage> FReceived;

private:
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
        auto* self = reinterpret_cast<KeyWindow*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
        if (self != nullptr && (Message == WM_KEYDOWN || Message == WM_KEYUP)) {
            self->FReceived.push_back(
                {Message == WM_KEYUP, WParam, static_cast<UINT>((LParam >> 16) & 0xFF)});
            return 0;
        }
        return DefWindowProcW(Window, Message, WParam, LParam);
    }
};

TEST_F(KeyWindow, TrackArrivesAsKeysWithScanCodesInTheOrderSent) {
    SendTracks(TTrackTexts{{{"#9", "aA", "#13"}, {}, {}}});

    const std::vector<TKeyMessage> expected = {
        Key(false, VK_TAB),    Key(true, VK_TAB),   Key(false, 'A'), Key(true, 'A'),
        Key(false, VK_SHIFT),  Key(false, 'A'),     Key(true, 'A'),  Key(true, VK_SHIFT),
        Key(false, VK_RETURN), Key(true, VK_RETURN)};
    Pump(5000, expected.size());
    EXPECT_EQ(FReceived, expected);
}

TEST_F(KeyWindow, MalformedSuffixOfTrack3SendsNothingOfAnyTrack) {
    EXPECT_THROW(SendTracks(TTrackTexts{{{"#9", "abc", "#13"}, {}, {"#35", "x", "#36#"}}}),
                 std::runtime_error);

    Pump(300);
    EXPECT_TRUE(FReceived.empty());
}

}  // namespace
}  // namespace benchpad::test
