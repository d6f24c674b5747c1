#include "driver/capture/WinCapturePlatform.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>

namespace wedgecard {

// The capture copies message records in and out of the system's MSG.
static_assert(sizeof(TMsg) == sizeof(MSG));
static_assert(offsetof(TMsg, hwnd) == offsetof(MSG, hwnd));
static_assert(offsetof(TMsg, message) == offsetof(MSG, message));
static_assert(offsetof(TMsg, wParam) == offsetof(MSG, wParam));
static_assert(offsetof(TMsg, lParam) == offsetof(MSG, lParam));
static_assert(offsetof(TMsg, time) == offsetof(MSG, time));
static_assert(offsetof(TMsg, ptX) == offsetof(MSG, pt) + offsetof(POINT, x));
static_assert(offsetof(TMsg, ptY) == offsetof(MSG, pt) + offsetof(POINT, y));

namespace {

class TWinCapturePlatform final : public TCapturePlatform {
public:
    THookHandle SetWindowsHookExA(TMessageHookProc Proc) override {
        FProc = Proc;
        return ::SetWindowsHookExA(WH_GETMESSAGE, &HookProcedure, nullptr, GetCurrentThreadId());
    }

    bool UnhookWindowsHookEx(THookHandle Hook) override {
        return ::UnhookWindowsHookEx(static_cast<HHOOK>(Hook)) != FALSE;
    }

    std::intptr_t CallNextHookEx(int Code, std::uintptr_t WParam, std::intptr_t LParam) override {
        return ::CallNextHookEx(nullptr, Code, WParam, LParam);
    }

    std::uintptr_t SetTimer(std::uint32_t Elapse) override {
        return ::SetTimer(nullptr, 0, Elapse, nullptr);
    }

    bool KillTimer(std::uintptr_t TimerID) override {
        return ::KillTimer(nullptr, TimerID) != FALSE;
    }

    void GetKeyboardState(TKeyboardState& State) override {
        if (!::GetKeyboardState(State.data())) {
            State.fill(0);
        }
    }

    void SetKeyboardState(const TKeyboardState& State) override {
        TKeyboardState copy = State;  // the system's signature takes a writable buffer
        ::SetKeyboardState(copy.data());
    }

    bool PostMessageA(TWindowHandle Window, std::uint32_t Message, std::uintptr_t WParam,
                      std::intptr_t LParam) override {
        return ::PostMessageA(static_cast<HWND>(Window), Message, WParam, LParam) != FALSE;
    }

    TWindowHandle GetFocus() override { return ::GetFocus(); }
    TWindowHandle GetActiveWindow() override { return ::GetActiveWindow(); }

    std::string LastErrorText() override { return SystemErrorText(::GetLastError()); }

private:
    static LRESULT CALLBACK HookProcedure(int Code, WPARAM WParam, LPARAM LParam) {
        return FProc(WindowsCapturePlatform(), Code, WParam, LParam);
    }

    // Every installation registers the same procedure.
    static inline TMessageHookProc FProc = nullptr;
};

}  // namespace

TCapturePlatform& WindowsCapturePlatform() noexcept {
    static TWinCapturePlatform platform;
    return platform;
}

std::string SystemErrorText(unsigned long Code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, Code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text;
    if (length != 0 && buffer != nullptr) {
        const int size = static_cast<int>(length);
        const int narrow = WideCharToMultiByte(1251, WC_NO_BEST_FIT_CHARS, buffer, size, nullptr, 0,
                                               nullptr, nullptr);
        text.resize(static_cast<std::size_t>(narrow));
        WideCharToMultiByte(1251, WC_NO_BEST_FIT_CHARS, buffer, size, text.data(), narrow, nullptr,
                            nullptr);
        LocalFree(buffer);
        while (!text.empty() &&
               (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
            text.pop_back();
        }
    }
    if (text.empty()) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", Code);
        text = hex;
    }
    return text;
}

}  // namespace wedgecard
