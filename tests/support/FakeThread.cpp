#include "tests/support/FakeThread.h"

#include <algorithm>
#include <stdexcept>

#include "driver/capture/Keys.h"

namespace wedgecard::test {

namespace {

// Windows never runs a thread timer more often than this.
constexpr std::uint32_t MinimumTimerElapse = 10;

bool IsKeyMessage(std::uint32_t Message) {
    return Message == wm::KeyDown || Message == wm::KeyUp || Message == wm::SysKeyDown ||
           Message == wm::SysKeyUp;
}

TWindowHandle HandleOf(TFakeThread::TWindow* Window) {
    return Window;
}

}  // namespace

std::string TFakeThread::TWindow::Chars() const {
    std::string chars;
    for (const TDelivered& message : Received) {
        if (message.Message == wm::Char) {
            chars += static_cast<char>(message.WParam);
        }
    }
    return chars;
}

std::string TFakeThread::TWindow::KeyStrokes() const {
    std::string strokes;
    for (const TDelivered& message : Received) {
        if (message.Message == wm::KeyDown || message.Message == wm::KeyUp) {
            if (!strokes.empty()) {
                strokes += ' ';
            }
            strokes += message.Message == wm::KeyDown ? '+' : '-';
            strokes += std::to_string(message.WParam);
        }
    }
    return strokes;
}

TFakeThread::TFakeThread() = default;
TFakeThread::~TFakeThread() = default;

TWindowHandle TFakeThread::CreateWindow(const std::string& Name) {
    FWindows.push_back(std::make_unique<TWindow>());
    FWindows.back()->Name = Name;
    TWindowHandle handle = HandleOf(FWindows.back().get());
    if (FFocus == nullptr) {
        FFocus = handle;
    }
    if (FActive == nullptr) {
        FActive = handle;
    }
    return handle;
}

TFakeThread::TWindow& TFakeThread::Window(TWindowHandle Handle) {
    for (const auto& window : FWindows) {
        if (HandleOf(window.get()) == Handle) {
            return *window;
        }
    }
    throw std::logic_error("no such window");
}

void TFakeThread::AddInput(std::uint32_t Message, std::uint8_t Code, std::uint16_t RepeatCount,
                           bool Up) {
    TMsg message;
    message.hwnd = FFocus;
    message.message = Message;
    message.wParam = Code;
    // Repeat count, scan code (the fake uses the virtual-key code), previous state and
    // transition bits as the system sets them.
    std::uintptr_t lParam = RepeatCount | (std::uintptr_t{Code} << 16);
    if (Up) {
        lParam |= 0xC0000000u;
    }
    message.lParam = static_cast<std::intptr_t>(lParam);
    message.time = static_cast<std::uint32_t>(FNow);
    FInput.push_back(message);
}

void TFakeThread::KeyDown(std::uint8_t Code, std::uint16_t RepeatCount) {
    AddInput(wm::KeyDown, Code, RepeatCount, false);
}

void TFakeThread::KeyUp(std::uint8_t Code) {
    AddInput(wm::KeyUp, Code, 1, true);
}

void TFakeThread::SysKeyDown(std::uint8_t Code) {
    AddInput(wm::SysKeyDown, Code, 1, false);
}

void TFakeThread::Tap(std::uint8_t Code, bool Shifted) {
    if (Shifted) {
        KeyDown(vk::Shift);
    }
    KeyDown(Code);
    KeyUp(Code);
    if (Shifted) {
        KeyUp(vk::Shift);
    }
}

void TFakeThread::Type(const std::string& Text) {
    for (const char c : Text) {
        bool typed = false;
        for (int row = 0; row < 2 && !typed; ++row) {
            for (int code = 1; code < 256 && !typed; ++code) {
                // Main keyboard first: the digit row, not the numeric pad.
                if (code >= 96 && code <= 111) {
                    continue;
                }
                if (KeyChar(row, static_cast<std::uint8_t>(code)) == c) {
                    Tap(static_cast<std::uint8_t>(code), row == 1);
                    typed = true;
                }
            }
        }
        if (!typed) {
            throw std::logic_error(std::string("no US key types ") + c);
        }
    }
}

void TFakeThread::TapCodes(const std::string& Codes) {
    for (const char code : Codes) {
        Tap(static_cast<std::uint8_t>(code));
    }
}

bool TFakeThread::Post(TWindowHandle Window, std::uint32_t Message, std::uintptr_t WParam,
                       std::intptr_t LParam) {
    return PostMessageA(Window, Message, WParam, LParam);
}

bool TFakeThread::PostMessageA(TWindowHandle Window, std::uint32_t Message, std::uintptr_t WParam,
                               std::intptr_t LParam) {
    if (FPosted.size() >= PostedLimit) {
        FLastError = "Not enough quota is available to process this command.";
        return false;
    }
    TMsg message;
    message.hwnd = Window;
    message.message = Message;
    message.wParam = WParam;
    message.lParam = LParam;
    message.time = static_cast<std::uint32_t>(FNow);
    FPosted.push_back(message);
    return true;
}

THookHandle TFakeThread::SetWindowsHookExA(TMessageHookProc Proc) {
    if (FailNextHookInstall) {
        FailNextHookInstall = false;
        FLastError = "Access denied.";
        return nullptr;
    }
    auto* handle = reinterpret_cast<THookHandle>(FNextHook++);
    FHooks.push_back(THook{handle, Proc});
    return handle;
}

bool TFakeThread::UnhookWindowsHookEx(THookHandle Hook) {
    if (FailNextUnhook) {
        FailNextUnhook = false;
        FLastError = "Invalid hook handle.";
        return false;
    }
    const auto found = std::find_if(FHooks.begin(), FHooks.end(),
                                    [Hook](const THook& hook) { return hook.Handle == Hook; });
    if (found == FHooks.end()) {
        FLastError = "Invalid hook handle.";
        return false;
    }
    // A hook removed while the chain runs: positions below it stay valid.
    const auto removed = static_cast<std::size_t>(found - FHooks.begin());
    FHooks.erase(found);
    for (std::size_t& position : FChainPosition) {
        if (position > removed) {
            --position;
        }
    }
    return true;
}

std::intptr_t TFakeThread::CallHook(std::size_t Position, int Code, std::uintptr_t WParam,
                                    std::intptr_t LParam) {
    FChainPosition.push_back(Position);
    std::intptr_t result = 0;
    try {
        result = FHooks[Position].Proc(*this, Code, WParam, LParam);
    } catch (...) {
        FChainPosition.pop_back();
        throw;
    }
    FChainPosition.pop_back();
    return result;
}

std::intptr_t TFakeThread::CallNextHookEx(int Code, std::uintptr_t WParam, std::intptr_t LParam) {
    if (FChainPosition.empty()) {
        return 0;
    }
    const std::size_t position = FChainPosition.back();
    if (position == 0 || position > FHooks.size()) {
        return 0;
    }
    return CallHook(position - 1, Code, WParam, LParam);
}

std::uintptr_t TFakeThread::SetTimer(std::uint32_t Elapse) {
    if (FailSetTimer) {
        FLastError = "Not enough storage is available to process this command.";
        return 0;
    }
    const std::uint32_t elapse = std::max(Elapse, MinimumTimerElapse);
    const std::uintptr_t id = FNextTimer++;
    FTimers.push_back(TTimer{id, elapse, FNow + elapse});
    return id;
}

bool TFakeThread::KillTimer(std::uintptr_t TimerID) {
    const auto found = std::find_if(FTimers.begin(), FTimers.end(),
                                    [TimerID](const TTimer& timer) { return timer.ID == TimerID; });
    if (found == FTimers.end()) {
        return false;
    }
    FTimers.erase(found);
    return true;
}

bool TFakeThread::Retrieve(TMsg& Message, bool Remove) {
    bool fromInput = false;
    if (!FPosted.empty()) {
        Message = FPosted.front();
        if (Remove) {
            FPosted.pop_front();
        }
    } else if (!FInput.empty()) {
        Message = FInput.front();
        fromInput = true;
        if (Remove) {
            FInput.pop_front();
        }
    } else {
        auto due = std::min_element(FTimers.begin(), FTimers.end(),
                                    [](const TTimer& a, const TTimer& b) { return a.Due < b.Due; });
        if (due == FTimers.end() || due->Due > FNow) {
            return false;
        }
        Message = TMsg{};
        Message.message = wm::Timer;
        Message.wParam = due->ID;
        Message.time = static_cast<std::uint32_t>(FNow);
        if (Remove) {
            due->Due = FNow + due->Elapse;
        }
    }
    // The thread's key state follows the keyboard input it removes from its queue, before any
    // hook sees the message.
    if (Remove && fromInput) {
        UpdateKeyboardState(Message);
    }
    if (!FHooks.empty()) {
        CallHook(FHooks.size() - 1, hook::Action, Remove ? hook::Remove : hook::NoRemove,
                 reinterpret_cast<std::intptr_t>(&Message));
    }
    return true;
}

void TFakeThread::UpdateKeyboardState(const TMsg& Message) {
    if (!IsKeyMessage(Message.message)) {
        return;
    }
    const std::size_t code = Message.wParam & 0xFF;
    if (Message.message == wm::KeyDown || Message.message == wm::SysKeyDown) {
        if ((FKeyboardState[code] & 0x80) == 0) {
            FKeyboardState[code] ^= 0x01;  // toggle state, as Caps Lock shows it
        }
        FKeyboardState[code] |= 0x80;
    } else {
        FKeyboardState[code] &= 0x7F;
    }
}

bool TFakeThread::PeekOnly(TMsg& Message) {
    return Retrieve(Message, false);
}

void TFakeThread::Pump() {
    // A runaway loop (a message that keeps posting itself) is a failure, not a hang.
    for (int guard = 0; guard < 10'000'000; ++guard) {
        TMsg message;
        if (!Retrieve(message, true)) {
            return;
        }
        if (OnRetrieved) {
            OnRetrieved(message);
        }
        Translate(message);
        Dispatch(message);
    }
    throw std::runtime_error("the message loop never became idle");
}

void TFakeThread::Advance(std::uint32_t Milliseconds) {
    const std::uint64_t target = FNow + Milliseconds;
    Pump();
    while (true) {
        std::uint64_t next = target;
        for (const TTimer& timer : FTimers) {
            next = std::min(next, std::max(timer.Due, FNow));
        }
        FNow = next;
        Pump();
        if (FNow >= target) {
            return;
        }
    }
}

void TFakeThread::Translate(const TMsg& Message) {
    if (Message.hwnd == nullptr ||
        (Message.message != wm::KeyDown && Message.message != wm::SysKeyDown)) {
        return;
    }
    const std::int32_t shiftState = ((FKeyboardState[vk::Shift] & 0x80) != 0 ? 1 : 0) |
                                    ((FKeyboardState[vk::Capital] & 0x01) != 0 ? 2 : 0);
    const char c = KeyChar(shiftState, static_cast<std::uint8_t>(Message.wParam & 0xFF));
    const std::uint32_t charMessage = Message.message == wm::KeyDown ? wm::Char : wm::SysChar;
    if (c != 0) {
        FPosted.push_back(TMsg{Message.hwnd, charMessage,
                               static_cast<std::uintptr_t>(static_cast<unsigned char>(c)),
                               Message.lParam, Message.time, 0, 0});
    } else if (Message.wParam == vk::Return || Message.wParam == vk::Tab) {
        FPosted.push_back(
            TMsg{Message.hwnd, charMessage, Message.wParam, Message.lParam, Message.time, 0, 0});
    }
}

void TFakeThread::Dispatch(const TMsg& Message) {
    if (Message.message == wm::Null) {
        return;
    }
    if (Message.hwnd == nullptr) {
        FThreadMessages.push_back(Message);
        return;
    }
    TWindow& window = Window(Message.hwnd);
    window.Received.push_back(
        TDelivered{Message.message, Message.wParam, Message.lParam, FKeyboardState});
    if (window.OnMessage) {
        window.OnMessage(window.Received.back());
    }
}

}  // namespace wedgecard::test
