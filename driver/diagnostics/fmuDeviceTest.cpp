#include "driver/diagnostics/fmuDeviceTest.h"

#include "driver/capture/WinCapturePlatform.h"

namespace wedgecard {

namespace {

// The system's capture platform, except that no key is ever handed to a window. The dialog
// consumes every burst, so its capture hands keys to a window only when it is switched off in
// the middle of a burst, as the dialog closes: they would go to the host's window, which has
// the focus by then, or wait in the queue until the driver's own capture takes them as typing.
// Keys typed into the test dialog must never reach the host.
class TSwallowingPlatform final : public TCapturePlatform {
public:
    THookHandle SetWindowsHookExA(TMessageHookProc Proc) override {
        return FSystem.SetWindowsHookExA(Proc);
    }
    bool UnhookWindowsHookEx(THookHandle Hook) override {
        return FSystem.UnhookWindowsHookEx(Hook);
    }
    std::intptr_t CallNextHookEx(int Code, std::uintptr_t WParam, std::intptr_t LParam) override {
        return FSystem.CallNextHookEx(Code, WParam, LParam);
    }
    std::uintptr_t SetTimer(std::uint32_t Elapse) override { return FSystem.SetTimer(Elapse); }
    bool KillTimer(std::uintptr_t TimerID) override { return FSystem.KillTimer(TimerID); }
    void GetKeyboardState(TKeyboardState& State) override { FSystem.GetKeyboardState(State); }
    void SetKeyboardState(const TKeyboardState& State) override { FSystem.SetKeyboardState(State); }
    bool PostMessageA(TWindowHandle Window, std::uint32_t Message, std::uintptr_t WParam,
                      std::intptr_t LParam) override {
        if (Window != nullptr) {
            return true;
        }
        return FSystem.PostMessageA(Window, Message, WParam, LParam);
    }
    TWindowHandle GetFocus() override { return FSystem.GetFocus(); }
    TWindowHandle GetActiveWindow() override { return FSystem.GetActiveWindow(); }
    std::string LastErrorText() override { return FSystem.LastErrorText(); }

private:
    TCapturePlatform& FSystem = WindowsCapturePlatform();
};

}  // namespace

TFormDescription DeviceTestForm() {
    return TFormDescription{
        .Name = "fmDeviceTest",
        .Caption = "Тест устройства",
        .Width = 427,
        .Height = 179,
        .ClientWidth = 419,
        .ClientHeight = 152,
        .Constraints = {.MinHeight = 179, .MaxHeight = 179},
        // Owned and modal: minimised, it would leave the host disabled with nothing to click.
        .MinimizeBox = false,
        .MaximizeBox = false,
        .Controls =
            {
                {.Name = "lblInfo",
                 .ClassName = L"STATIC",
                 .Caption = "Считайте магнитную карту",
                 .Left = 9,
                 .Top = 16},
                {.Name = "lblResult",
                 .ClassName = L"STATIC",
                 .Caption = "Результат:",
                 .Left = 9,
                 .Top = 48},
                {.Name = "edtTestInput",
                 .ClassName = L"EDIT",
                 .Left = 9,
                 .Top = 64,
                 .Width = 401,
                 .Height = 21,
                 .Anchors = akLeft | akTop | akRight,
                 .TabOrder = 0,
                 .Style = ES_READONLY | ES_AUTOHSCROLL,
                 .ExStyle = WS_EX_CLIENTEDGE},
                {.Name = "btnClose",
                 .ClassName = L"BUTTON",
                 .Caption = "Закрыть",
                 .Left = 335,
                 .Top = 118,
                 .Width = 75,
                 .Height = 25,
                 .Anchors = akRight | akBottom,
                 .TabOrder = 1,
                 .Style = BS_PUSHBUTTON,
                 .ModalResult = mrOk},
            },
    };
}

TfmDeviceTest::TfmDeviceTest(HWND Owner)
    : TSizeableForm(DeviceTestForm(), Owner), FPlatform(std::make_unique<TSwallowingPlatform>()) {
    KeyboardHook().SetActive(true);
}

TfmDeviceTest::~TfmDeviceTest() {
    FKeyboardHook.reset();
}

TKeyboardHook& TfmDeviceTest::KeyboardHook() {
    if (!FKeyboardHook) {
        FKeyboardHook = std::make_unique<TKeyboardHook>(*FPlatform);
        FKeyboardHook->SetSensitivity(Sensitivity);
        // Other captures of the thread (other driver objects) would give keys back into the
        // dialog meanwhile.
        FKeyboardHook->SetExclusive(true);
        FKeyboardHook->OnKeyboardData = [this](const TKeys& Keys, TKeyRanges& Consumed) {
            return KeyboardData(Keys, Consumed);
        };
    }
    return *FKeyboardHook;
}

bool TfmDeviceTest::KeyboardData(const TKeys& Keys, TKeyRanges& Consumed) {
    Consumed.push_back(TKeyRange{0, Keys.Count()});
    SetText("edtTestInput", Keys.GetDisplayText(0, Keys.Count() - 1));
    return true;
}

void ShowDeviceTest() {
    HWND owner = GetActiveWindow();
    {
        TfmDeviceTest form(owner);
        form.ShowModal();
    }
    // Keys typed into the host before the dialog go back to it once the dialog is gone. Without
    // a window manager (Wine) the owner is not always activated again when its dialog closes.
    if (owner != nullptr && IsWindow(owner) && GetActiveWindow() == nullptr) {
        SetActiveWindow(owner);
    }
}

void TWinDeviceTestDialog::ShowDeviceTest() {
    wedgecard::ShowDeviceTest();
}

}  // namespace wedgecard
