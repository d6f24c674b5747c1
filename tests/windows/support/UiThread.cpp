#include "tests/windows/support/UiThread.h"

#include <stdexcept>

namespace wedgecard::test {

namespace {

constexpr const wchar_t* WindowClass = L"WedgecardTestWindow";

void RegisterWindowClass(WNDPROC Procedure) {
    static const ATOM atom = [Procedure] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        windowClass.lpszClassName = WindowClass;
        return RegisterClassW(&windowClass);
    }();
    if (atom == 0) {
        throw std::runtime_error("RegisterClassW failed");
    }
}

INPUT KeyInput(WORD Key, bool Release) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = Key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(Key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = Release ? KEYEVENTF_KEYUP : 0;
    switch (Key) {
        case VK_PRIOR:
        case VK_NEXT:
        case VK_END:
        case VK_HOME:
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
        case VK_INSERT:
        case VK_DELETE:
            input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
            break;
        default:
            break;
    }
    return input;
}

// The key of a character on a US keyboard, and whether it needs Shift.
struct TCharKey {
    WORD Key;
    bool Shift;
};

TCharKey KeyOf(char Char) {
    if (Char >= 'a' && Char <= 'z') {
        return {static_cast<WORD>('A' + (Char - 'a')), false};
    }
    if (Char >= 'A' && Char <= 'Z') {
        return {static_cast<WORD>(Char), true};
    }
    if (Char >= '0' && Char <= '9') {
        return {static_cast<WORD>(Char), false};
    }
    switch (Char) {
        case ';':
            return {VK_OEM_1, false};
        case '=':
            return {VK_OEM_PLUS, false};
        case '?':
            return {VK_OEM_2, true};
        case '!':
            return {'1', true};
        case ' ':
            return {VK_SPACE, false};
        default:
            throw std::invalid_argument(std::string("no key for '") + Char + "'");
    }
}

}  // namespace

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) {
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (Done()) {
                return true;
            }
        }
        if (Done()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left.count()) + 1, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

void PumpFor(std::chrono::milliseconds Duration) {
    PumpUntil([] { return false; }, Duration);
}

TTestWindow::TTestWindow() {
    RegisterWindowClass(&WindowProc);
    FHandle = CreateWindowExW(0, WindowClass, L"Wedgecard test", WS_OVERLAPPEDWINDOW, 40, 40, 320,
                              200, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (FHandle == nullptr) {
        throw std::runtime_error("CreateWindowExW failed");
    }
}

TTestWindow::~TTestWindow() {
    if (FHandle != nullptr) {
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
    }
}

bool TTestWindow::Activate() {
    // Not shown: without a window manager on the virtual display, Wine waits two seconds for
    // every shown window to be confirmed withdrawn when it is hidden or destroyed. A window
    // that is not shown takes the foreground and the focus all the same, and typed keys come
    // to it.
    SetForegroundWindow(FHandle);
    SetActiveWindow(FHandle);
    SetFocus(FHandle);
    // The display server activates a window asynchronously; its messages bring the news.
    return PumpUntil(
        [this] {
            if (GetFocus() != FHandle) {
                SetFocus(FHandle);
            }
            return GetForegroundWindow() == FHandle && GetFocus() == FHandle;
        },
        5s);
}

bool TTestWindow::WaitForChars(const std::wstring& Tail, std::chrono::milliseconds Timeout) {
    return PumpUntil(
        [this, &Tail] {
            return FChars.size() >= Tail.size() &&
                   FChars.compare(FChars.size() - Tail.size(), Tail.size(), Tail) == 0;
        },
        Timeout);
}

LRESULT CALLBACK TTestWindow::WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    if (Message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(LParam);
        SetWindowLongPtrW(Window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TTestWindow*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (self != nullptr && Message == WM_CHAR) {
        self->FChars += static_cast<wchar_t>(WParam);
        return 0;
    }
    return DefWindowProcW(Window, Message, WParam, LParam);
}

namespace {

BOOL CALLBACK FindDeviceTestDialog(HWND Window, LPARAM Found) {
    wchar_t caption[64] = L"";
    GetWindowTextW(Window, caption, 64);
    if (IsWindowVisible(Window) && std::wstring(caption) == L"Тест устройства") {
        *reinterpret_cast<HWND*>(Found) = Window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindCloseButton(HWND Window, LPARAM Found) {
    wchar_t caption[64] = L"";
    GetWindowTextW(Window, caption, 64);
    if (std::wstring(caption) == L"Закрыть") {
        *reinterpret_cast<HWND*>(Found) = Window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

TDialogCloser::TDialogCloser() : FTimer(SetTimer(nullptr, 0, 20, &Tick)) {
    FClosed = 0;
    if (FTimer == 0) {
        throw std::runtime_error("SetTimer failed");
    }
}

TDialogCloser::~TDialogCloser() {
    KillTimer(nullptr, FTimer);
}

void CALLBACK TDialogCloser::Tick(HWND, UINT, UINT_PTR, DWORD) {
    // Only this thread's windows: other programs on the display may show theirs.
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindDeviceTestDialog,
                      reinterpret_cast<LPARAM>(&dialog));
    HWND button = nullptr;
    if (dialog != nullptr) {
        EnumChildWindows(dialog, &FindCloseButton, reinterpret_cast<LPARAM>(&button));
    }
    if (button != nullptr) {
        ++FClosed;
        SendMessageW(button, BM_CLICK, 0, 0);
    }
}

TKeystrokes& TKeystrokes::Down(WORD Key) {
    FInputs.push_back(KeyInput(Key, false));
    return *this;
}

TKeystrokes& TKeystrokes::Up(WORD Key) {
    FInputs.push_back(KeyInput(Key, true));
    return *this;
}

TKeystrokes& TKeystrokes::Tap(WORD Key) {
    return Down(Key).Up(Key);
}

TKeystrokes& TKeystrokes::Type(const std::string& Text) {
    for (const char c : Text) {
        const TCharKey key = KeyOf(c);
        if (key.Shift) {
            Down(VK_SHIFT);
        }
        Tap(key.Key);
        if (key.Shift) {
            Up(VK_SHIFT);
        }
    }
    return *this;
}

TKeystrokes& TKeystrokes::BenchCard() {
    return Tap(VK_TAB)
        .Type(";12345=67890?")
        .Tap(VK_RETURN)
        .Tap(VK_PRIOR)
        .Type("Track2")
        .Tap(VK_NEXT)
        .Tap(VK_END)
        .Type("Track3")
        .Tap(VK_HOME);
}

bool TKeystrokes::Send() {
    const auto count = static_cast<UINT>(FInputs.size());
    const UINT sent = count == 0 ? 0 : SendInput(count, FInputs.data(), sizeof(INPUT));
    FInputs.clear();
    return sent == count;
}

}  // namespace wedgecard::test
