#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
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
// The same with the keys Held (VK_CONTROL, VK_SHIFT...) pressed around the whole sequence.
void TypeKeysHolding(std::initializer_list<WORD> Held, std::initializer_list<WORD> Codes);

// Polls Done, without running any messages, until it answers true or Limit passes; Done's
// last answer. For a thread that drives windows of another thread.
bool WaitUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit = 3s);

enum class TMouseButton { Left, Right };

// Presses and releases of a mouse button at a point of the screen (Clicks of them in a row
// make a double click), or in the middle of Window.
void ClickAt(POINT Screen, TMouseButton Button = TMouseButton::Left, int Clicks = 1);
void ClickOn(HWND Window, TMouseButton Button = TMouseButton::Left, int Clicks = 1);

// Safe from any thread while the window's own thread runs its messages.
[[nodiscard]] std::wstring TextOf(HWND Window);

[[nodiscard]] HWND ActiveWindowOf(DWORD Thread);
[[nodiscard]] HWND FocusOf(DWORD Thread);

// A window's place in its parent's client area (in the screen's for a top-level window).
[[nodiscard]] RECT PlaceOf(HWND Window);

// A message box (a system dialog with a text) that a thread shows.
struct TMessageBox {
    HWND Handle = nullptr;
    std::wstring Caption;
    std::wstring Text;
    // An icon beside the text, as the error box has and a plain message has not.
    bool HasIcon = false;
};
// The visible message box of Thread; Handle is null without one.
[[nodiscard]] TMessageBox FindMessageBox(DWORD Thread);
// Waits for one; Handle is null when none came within Limit.
[[nodiscard]] TMessageBox WaitForMessageBox(DWORD Thread, std::chrono::milliseconds Limit = 5s);
// Clicks its first button (OK) and waits until it has gone (pressing the button directly if
// the click was lost); false if it stays.
bool CloseMessageBox(const TMessageBox& Box);

// The pixels of Area (in window coordinates, frame included) as the window shows them on the
// screen, or as it draws itself when asked to print (the whole window); each 0xAARRGGBB as
// the bitmap holds it, top row first. Empty when the system gives none.
[[nodiscard]] std::vector<std::uint32_t> ShownPixels(HWND Window, const RECT& Area);
[[nodiscard]] std::vector<std::uint32_t> PrintedPixels(HWND Window);

// Saves a picture of the window as it is on the screen, frame and caption included (which
// Wine draws only when it does not leave frames to a window manager), as a PNG file.
bool SavePicture(HWND Window, const char* Path);

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
