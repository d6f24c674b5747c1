#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "driver/capture/KeyboardHook.h"
#include "driver/core/DeviceManager.h"
#include "driver/core/EventManager.h"
#include "driver/core/KBDDriver.h"
#include "driver/core/untUtils.h"
#include "driver/diagnostics/LogFile.h"
#include "driver/diagnostics/untLogger.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeThread.h"
#include "tests/support/TempFolder.h"

namespace wedgecard::test {

// A driver on a fake thread with one focused window, a module in a fresh folder (so its log
// file lands there) and a host that records the events it receives.
class DriverTest : public testing::Test {
protected:
    DriverTest()
        : Window(Thread.CreateWindow("edit")),
          Driver(TDriverServices{Thread, Guids, Module, Dialog}) {
        Module.ModulePath = Folder.File("Wedgecard.dll");
        Driver.OnEvent = [this](const std::string& Source, const std::string& Message,
                                const std::string& Data) {
            Received.push_back(THostEvent{Source, Message, Data});
            if (OnHostEvent) {
                OnHostEvent(Received.back());
            }
        };
    }

    ~DriverTest() override {
        LogFile().SetEnabled(false);
        LogFile().SetFileName("");
    }

    // Opens a device and expects success; the device's identifier.
    std::string Open(IValuesArray& Values) {
        std::wstring id;
        EXPECT_TRUE(Driver.Open(Values, id)) << Driver.LastErrorText();
        return std::string(id.begin(), id.end());
    }
    std::string Open(TFakeValuesArray&& Values) { return Open(static_cast<IValuesArray&>(Values)); }

    // A device framed as the test bench frames its default swipe.
    std::string OpenBenchDevice(std::int32_t Sensitivity = 100) {
        return Open(Settings(Sensitivity, "#9", "#13", "#33", "#34", "#35", "#36"));
    }

    [[nodiscard]] static std::wstring Wide(const std::string& Text) {
        return std::wstring(Text.begin(), Text.end());
    }

    [[nodiscard]] std::string LogText() const { return ReadFile(Folder.File("Wedgecard.log")); }

    [[nodiscard]] std::string Chars() { return Thread.Window(Window).Chars(); }

    TTempFolder Folder;
    TFakeThread Thread;
    TWindowHandle Window;
    TFakeGuids Guids;
    TFakeModule Module;
    TFakeDeviceTestDialog Dialog;
    TKBDDriver Driver;
    std::vector<THostEvent> Received;
    std::function<void(const THostEvent&)> OnHostEvent;
};

// Key records as the capture takes them, built by hand.
class TKeysBuilder {
public:
    explicit TKeysBuilder(TKeys& Keys) : FKeys(Keys) {}

    TKeysBuilder& Down(std::uint8_t Code, std::int32_t ShiftState = 0) {
        return Add(Code, false, ShiftState);
    }
    TKeysBuilder& Up(std::uint8_t Code, std::int32_t ShiftState = 0) {
        return Add(Code, true, ShiftState);
    }
    TKeysBuilder& Tap(std::uint8_t Code, std::int32_t ShiftState = 0) {
        return Down(Code, ShiftState).Up(Code, ShiftState);
    }
    TKeysBuilder& TapCodes(const std::string& Codes) {
        for (const char code : Codes) {
            Tap(static_cast<std::uint8_t>(code));
        }
        return *this;
    }
    // Characters typed on a US keyboard, Shift pressed around the shifted ones.
    TKeysBuilder& Type(const std::string& Text);

private:
    TKeysBuilder& Add(std::uint8_t Code, bool KeyUp, std::int32_t ShiftState) {
        TKey* key = FKeys.Add();
        key->Msg.message = KeyUp ? wm::KeyUp : wm::KeyDown;
        key->Msg.wParam = Code;
        key->Msg.lParam = 1;
        key->KeyUp = KeyUp;
        key->ShiftState = ShiftState;
        return *this;
    }

    TKeys& FKeys;
};

inline TKeysBuilder& TKeysBuilder::Type(const std::string& Text) {
    for (const char c : Text) {
        bool typed = false;
        for (std::int32_t row = 0; row < 2 && !typed; ++row) {
            for (int code = 1; code < 256 && !typed; ++code) {
                if (code >= 96 && code <= 111) {
                    continue;  // the digit row, not the numeric pad
                }
                if (KeyChar(row, static_cast<std::uint8_t>(code)) != c) {
                    continue;
                }
                if (row == 1) {
                    Down(vk::Shift, 1);
                }
                Tap(static_cast<std::uint8_t>(code), row);
                if (row == 1) {
                    Up(vk::Shift, 0);
                }
                typed = true;
            }
        }
        EXPECT_TRUE(typed) << "no US key types " << c;
    }
    return *this;
}

}  // namespace wedgecard::test
