#pragma once

// The host's user-interface thread as a test plays it: a focused window that records the
// characters it receives, a message loop, and keystrokes typed through the system's input.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace wedgecard::test {

using namespace std::chrono_literals;

// Runs the calling thread's messages through TranslateMessage and DispatchMessage, as a host's
// loop does, until Done answers true or Timeout has passed. Returns Done's last answer.
bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout = 10s);
// The same for a while, whatever comes.
void PumpFor(std::chrono::milliseconds Duration);

// A top-level window that takes the keyboard focus and records every WM_CHAR.
class TTestWindow {
public:
    TTestWindow();
    TTestWindow(const TTestWindow&) = delete;
    TTestWindow& operator=(const TTestWindow&) = delete;
    ~TTestWindow();

    [[nodiscard]] HWND Handle() const noexcept { return FHandle; }
    // Makes the window the foreground window with the focus, so that typed keys come to this
    // thread; true once the system says so.
    bool Activate();

    // The characters received so far.
    [[nodiscard]] const std::wstring& Chars() const noexcept { return FChars; }
    // Pumps until the characters received end with Tail.
    bool WaitForChars(const std::wstring& Tail, std::chrono::milliseconds Timeout = 10s);

private:
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

    HWND FHandle = nullptr;
    std::wstring FChars;
};

// The user who closes the driver's device test dialog as soon as it shows: a thread timer that
// clicks its Close button, for as long as the object lives. The dialog runs modally inside a call
// of this thread, whose message loop runs the timer.
class TDialogCloser {
public:
    TDialogCloser();
    TDialogCloser(const TDialogCloser&) = delete;
    TDialogCloser& operator=(const TDialogCloser&) = delete;
    ~TDialogCloser();

    // How many dialogs were closed so far.
    [[nodiscard]] static int Closed() noexcept { return FClosed; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    static inline int FClosed = 0;
    UINT_PTR FTimer = 0;
};

// Keystrokes collected and then typed in one go through SendInput, as a reader types a card.
class TKeystrokes {
public:
    TKeystrokes& Down(WORD Key);
    TKeystrokes& Up(WORD Key);
    // Press and release.
    TKeystrokes& Tap(WORD Key);
    // Letters, digits and ";=?!" of a US keyboard; capitals and shifted signs with Shift.
    TKeystrokes& Type(const std::string& Text);
    // The test bench's default card: three tracks framed by Tab/Enter, PageUp/PageDown and
    // End/Home.
    TKeystrokes& BenchCard();

    // Types everything collected and forgets it; false when the system took fewer inputs.
    bool Send();

    [[nodiscard]] std::size_t Count() const noexcept { return FInputs.size(); }

private:
    std::vector<INPUT> FInputs;
};

}  // namespace wedgecard::test
