#include "tests/windows/dialog/UiTest.h"

#include <utility>

namespace wedgecard::test {

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit) {
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return Done();
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

namespace {

INPUT Key(WORD Code, bool Up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = Code;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(Code, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = Up ? KEYEVENTF_KEYUP : 0;
    return input;
}

void Send(std::vector<INPUT>& Inputs) {
    SendInput(static_cast<UINT>(Inputs.size()), Inputs.data(), sizeof(INPUT));
}

}  // namespace

void TypeKeys(std::initializer_list<WORD> Codes, bool Shift) {
    std::vector<INPUT> inputs;
    if (Shift) {
        inputs.push_back(Key(VK_SHIFT, false));
    }
    for (const WORD code : Codes) {
        inputs.push_back(Key(code, false));
        inputs.push_back(Key(code, true));
    }
    if (Shift) {
        inputs.push_back(Key(VK_SHIFT, true));
    }
    Send(inputs);
}

void ClickAt(POINT Screen) {
    std::vector<INPUT> inputs(3);
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = MulDiv(Screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
        input.mi.dy = MulDiv(Screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    Send(inputs);
}

void ClickOn(HWND Window) {
    RECT place{};
    GetWindowRect(Window, &place);
    ClickAt(POINT{(place.left + place.right) / 2, (place.top + place.bottom) / 2});
}

std::wstring TextOf(HWND Window) {
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(Window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer),
                        SMTO_BLOCK, 2000, &copied);
    return std::wstring(buffer, copied);
}

HWND ActiveWindowOf(DWORD Thread) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(Thread, &info) ? info.hwndActive : nullptr;
}

HWND FocusOf(DWORD Thread) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(Thread, &info) ? info.hwndFocus : nullptr;
}

RECT PlaceOf(HWND Window) {
    RECT place{};
    GetWindowRect(Window, &place);
    if (HWND parent = GetAncestor(Window, GA_PARENT); parent != GetDesktopWindow()) {
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
    }
    return place;
}

TUser::TUser(std::function<void(TUser&)> Body) : UiThread(GetCurrentThreadId()) {
    FThread = std::thread([this, Body = std::move(Body)] {
        try {
            Body(*this);
        } catch (const std::exception& error) {
            Check(false, std::string("the user's script failed: ") + error.what());
        }
        // The script's last input may be what closes the dialog: it has its time first. A
        // message posted now would overtake it, the queue serving posted messages before input.
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (Dialog != nullptr && IsWindowVisible(Dialog) &&
               std::chrono::steady_clock::now() < deadline) {
            Sleep(10);
        }
        if (Dialog != nullptr && IsWindowVisible(Dialog)) {
            Check(false, "the dialog was still open at the end");
            PostMessageW(Dialog, WM_CLOSE, 0, 0);
        }
    });
}

TUser::~TUser() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

std::vector<std::string> TUser::Problems() {
    if (FThread.joinable()) {
        FThread.join();
    }
    const std::lock_guard lock(FLock);
    return FProblems;
}

bool TUser::Check(bool Condition, const std::string& What) {
    if (!Condition) {
        const std::lock_guard lock(FLock);
        FProblems.push_back(What);
    }
    return Condition;
}

bool TUser::WaitFor(const std::function<bool()>& Done, const std::string& What,
                    std::chrono::milliseconds Limit) {
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    while (!Done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return Check(Done(), "timed out waiting until " + What);
        }
        Sleep(10);
    }
    return true;
}

bool TUser::WaitForDialog(const std::wstring& Caption) {
    return WaitFor(
        [this, &Caption] {
            HWND active = ActiveWindowOf(UiThread);
            if (active == nullptr || !IsWindowVisible(active) || TextOf(active) != Caption ||
                GetForegroundWindow() != active) {
                return false;
            }
            Dialog = active;
            return true;
        },
        "the dialog is open and in the foreground");
}

}  // namespace wedgecard::test
