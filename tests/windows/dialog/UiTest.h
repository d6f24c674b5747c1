#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wedgecard::test {

using namespace std::chrono_literals;

// Runs the calling thread's messages until Done answers true or Limit passes; Done's last
// answer.
bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 3s);

// Key strokes through the system's input, as a keyboard would make them: each code is pressed
// and released in turn. With Shift the whole sequence is typed with Shift held.
void TypeKeys(std::initializer_list<WORD> Codes, bool Shift = false);

// A press and release of the left mouse button at a point of the screen, or in the middle of
// Window.
void ClickAt(POINT Screen);
void ClickOn(HWND Window);

// Safe from any thread while the window's own thread runs its messages.
[[nodiscard]] std::wstring TextOf(HWND Window);

[[nodiscard]] HWND ActiveWindowOf(DWORD Thread);
[[nodiscard]] HWND FocusOf(DWORD Thread);

// A window's place in its parent's client area (in the screen's for a top-level window).
[[nodiscard]] RECT PlaceOf(HWND Window);

// A user at the keyboard while the calling thread sits in a modal loop: Body runs on a
// second thread and records what it finds wrong. When Body is done, Dialog (set by Body) is
// given a few seconds to close, and is closed with a problem recorded if it is still open, so
// that the loop always ends.
class TUser {
public:
    explicit TUser(std::function<void(TUser&)> Body);
    TUser(const TUser&) = delete;
    TUser& operator=(const TUser&) = delete;
    ~TUser();

    // What went wrong, for the test's thread to assert on after the modal loop.
    std::vector<std::string> Problems();

    // Records a problem when Condition is false.
    bool Check(bool Condition, const std::string& What);
    // Polls Done until it answers true; records a problem on timeout.
    bool WaitFor(const std::function<bool()>& Done, const std::string& What,
                 std::chrono::milliseconds Limit = 3s);
    // Waits until the test thread's active window is a visible window with this caption, it
    // is in the foreground, and sets Dialog to it.
    bool WaitForDialog(const std::wstring& Caption);

    const DWORD UiThread;
    HWND Dialog = nullptr;

private:
    std::mutex FLock;
    std::vector<std::string> FProblems;
    std::thread FThread;
};

}  // namespace wedgecard::test
