#pragma once

#include <memory>

#include "driver/capture/KeyboardHook.h"
#include "driver/core/LumMSRTypes.h"
#include "driver/diagnostics/SizeableForm.h"

namespace wedgecard {

// The window DeviceTest shows: it takes over the keyboard of its thread, swallows every key
// typed while it is open and shows each burst in edtTestInput as the reader typed it.
class TfmDeviceTest final : public TSizeableForm {
public:
    // Keys closer together than this belong to one swipe.
    static constexpr int Sensitivity = 300;

    // Creates the window, hidden, and switches its keyboard capture on (FormCreate). Raises
    // std::runtime_error when the window or the capture cannot be made.
    explicit TfmDeviceTest(HWND Owner = nullptr);
    // The capture goes first (FormDestroy), then the window.
    ~TfmDeviceTest() override;

    // The capture's OnKeyboardData: the whole burst is card data, and it replaces the text
    // shown.
    bool KeyboardData(const TKeys& Keys, TKeyRanges& Consumed);

    TKeyboardHook& KeyboardHook();

private:
    std::unique_ptr<TCapturePlatform> FPlatform;
    std::unique_ptr<TKeyboardHook> FKeyboardHook;
};

// The stored form of TfmDeviceTest.
[[nodiscard]] TFormDescription DeviceTestForm();

// Shows the device test dialog modally, owned by the calling thread's active window, and
// returns when the user closes it. Raises std::runtime_error when the window or its keyboard
// capture cannot be made.
void ShowDeviceTest();

// The driver's way to the dialog.
class TWinDeviceTestDialog final : public IDeviceTestDialog {
public:
    void ShowDeviceTest() override;
};

}  // namespace wedgecard
