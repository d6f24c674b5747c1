#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/capture/CapturePlatform.h"

namespace wedgecard::test {

// A state-based stand-in for one Windows user-interface thread, as far as the capture can see
// it: a queue of posted messages and a queue of keyboard input (posted messages are retrieved
// first, timer messages only when both are empty), WH_GETMESSAGE hooks called on retrieval
// and chained through CallNextHookEx, thread timers that fire as the test advances a clock, the
// thread's keyboard state (updated when keyboard input is retrieved), and windows that record
// what the host's loop dispatches to them after TranslateMessage has added WM_CHAR.
class TFakeThread final : public TCapturePlatform {
public:
    // One message a window received, with the thread's keyboard state at that moment.
    struct TDelivered {
        std::uint32_t Message = 0;
        std::uintptr_t WParam = 0;
        std::intptr_t LParam = 0;
        TKeyboardState State{};
    };

    struct TWindow {
        std::string Name;
        std::vector<TDelivered> Received;
        // Called as each message is dispatched to the window (a host's window procedure).
        std::function<void(const TDelivered&)> OnMessage;

        // The characters of the WM_CHAR messages it received, in order.
        [[nodiscard]] std::string Chars() const;
        // Its WM_KEYDOWN/WM_KEYUP messages as "+65 -65 ..." (press, release, code).
        [[nodiscard]] std::string KeyStrokes() const;
    };

    TFakeThread();
    ~TFakeThread() override;

    // --- The test's side ---------------------------------------------------------------------

    TWindowHandle CreateWindow(const std::string& Name);
    [[nodiscard]] TWindow& Window(TWindowHandle Handle);
    void SetFocus(TWindowHandle Handle) { FFocus = Handle; }
    void SetActiveWindow(TWindowHandle Handle) { FActive = Handle; }

    // Keyboard input for the focused window, as a keyboard or a reader produces it.
    void KeyDown(std::uint8_t Code, std::uint16_t RepeatCount = 1);
    void KeyUp(std::uint8_t Code);
    void SysKeyDown(std::uint8_t Code);
    // Press and release; with Shift around it when Shifted.
    void Tap(std::uint8_t Code, bool Shifted = false);
    // Press and release the keys of a text typed on a US keyboard (Shift where needed).
    void Type(const std::string& Text);
    // Press and release each code of a key-code string (prefixes and suffixes).
    void TapCodes(const std::string& Codes);

    // Retrieves and dispatches every message that is there now, as the host's loop does.
    void Pump();
    // Moves the clock on, firing timers when they fall due and pumping at each step.
    void Advance(std::uint32_t Milliseconds);
    // Looks at the next message without removing it (PeekMessage with PM_NOREMOVE).
    bool PeekOnly(TMsg& Message);
    // Posts a message of the host's own (a thread message when Window is null).
    bool Post(TWindowHandle Window, std::uint32_t Message, std::uintptr_t WParam = 0,
              std::intptr_t LParam = 0);

    [[nodiscard]] std::uint64_t Now() const noexcept { return FNow; }
    [[nodiscard]] int InstalledHooks() const noexcept { return static_cast<int>(FHooks.size()); }
    [[nodiscard]] int PendingTimers() const noexcept { return static_cast<int>(FTimers.size()); }
    [[nodiscard]] std::size_t QueuedMessages() const noexcept {
        return FPosted.size() + FInput.size();
    }
    // Thread messages the host's loop received (hook left them unchanged, window null).
    [[nodiscard]] const std::vector<TMsg>& ThreadMessages() const noexcept {
        return FThreadMessages;
    }

    // Failure switches: the next such call fails, with LastErrorText set.
    bool FailNextHookInstall = false;
    bool FailNextUnhook = false;
    bool FailSetTimer = false;
    // Posted messages the queue holds at most (Windows' default quota).
    std::size_t PostedLimit = 10000;
    // The host's loop calls this for each message it retrieves, before dispatching it.
    std::function<void(const TMsg&)> OnRetrieved;

    // --- TCapturePlatform ---------------------------------------------------------------------

    THookHandle SetWindowsHookExA(TMessageHookProc Proc) override;
    bool UnhookWindowsHookEx(THookHandle Hook) override;
    std::intptr_t CallNextHookEx(int Code, std::uintptr_t WParam, std::intptr_t LParam) override;
    std::uintptr_t SetTimer(std::uint32_t Elapse) override;
    bool KillTimer(std::uintptr_t TimerID) override;
    void GetKeyboardState(TKeyboardState& State) override { State = FKeyboardState; }
    void SetKeyboardState(const TKeyboardState& State) override { FKeyboardState = State; }
    bool PostMessageA(TWindowHandle Window, std::uint32_t Message, std::uintptr_t WParam,
                      std::intptr_t LParam) override;
    TWindowHandle GetFocus() override { return FFocus; }
    TWindowHandle GetActiveWindow() override { return FActive; }
    std::string LastErrorText() override { return FLastError; }

private:
    struct THook {
        THookHandle Handle;
        TMessageHookProc Proc;
    };
    struct TTimer {
        std::uintptr_t ID;
        std::uint32_t Elapse;
        std::uint64_t Due;
    };

    void AddInput(std::uint32_t Message, std::uint8_t Code, std::uint16_t RepeatCount, bool Up);
    bool Retrieve(TMsg& Message, bool Remove);
    std::intptr_t CallHook(std::size_t Position, int Code, std::uintptr_t WParam,
                           std::intptr_t LParam);
    void Dispatch(const TMsg& Message);
    void Translate(const TMsg& Message);
    void UpdateKeyboardState(const TMsg& Message);

    std::deque<std::unique_ptr<TWindow>> FWindows;
    TWindowHandle FFocus = nullptr;
    TWindowHandle FActive = nullptr;
    std::deque<TMsg> FPosted;
    std::deque<TMsg> FInput;
    std::vector<TMsg> FThreadMessages;
    std::vector<THook> FHooks;  // in order of installation; the last is called first
    std::vector<std::size_t> FChainPosition;
    std::uintptr_t FNextHook = 0x1000;
    std::vector<TTimer> FTimers;
    std::uintptr_t FNextTimer = 0x7FF0;
    TKeyboardState FKeyboardState{};
    std::uint64_t FNow = 1000;
    std::string FLastError;
};

}  // namespace wedgecard::test
