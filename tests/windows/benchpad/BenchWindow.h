#pragma once

// The bench's main window on a user-interface thread of its own, and a tester at the screen
// who drives it from the test's thread with the mouse and the keyboard of the system's input.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>

#include "bench/fmuMain.h"
#include "tests/windows/dialog/UiTest.h"

namespace benchpad::test {

using namespace std::chrono_literals;
using wedgecard::test::TMessageBox;

// The window's thread does what Benchpad.exe does before its window: a COM apartment, the
// classes of the local server registered in it, then the window, shown and in the foreground,
// and its message loop.
class TBenchWindow {
public:
    TBenchWindow();
    TBenchWindow(const TBenchWindow&) = delete;
    TBenchWindow& operator=(const TBenchWindow&) = delete;
    // Destroys the window on its thread, whatever dialog it shows, and waits for the thread.
    ~TBenchWindow();

    [[nodiscard]] DWORD Thread() const noexcept { return FThreadId; }

    // The window once it is shown; null when it did not come within Limit (its creation
    // may wait behind an error box).
    TfmMain* WaitForForm(std::chrono::milliseconds Limit = 10s);
    [[nodiscard]] TfmMain& Form() const { return *FForm.load(); }

    // Runs Body on the window's thread, between two of its messages, and waits for it.
    void OnUiThread(const std::function<void()>& Body) const;

    // --- What a tester does ---------------------------------------------------------------

    // A click in the middle of a control (which must be on the page shown).
    void Click(const char* Control,
               wedgecard::test::TMouseButton Button = wedgecard::test::TMouseButton::Left) const;
    // A click on a tab of pgcTop, by its index, and a wait until its page shows.
    bool ShowTab(int Index) const;
    // A click on the row of a list, in the column "ИДУстройства" (no mark lies there).
    void ClickRow(const TListView& List, int Row,
                  wedgecard::test::TMouseButton Button = wedgecard::test::TMouseButton::Left,
                  int Clicks = 1) const;
    // Clicks into the edit, selects its text and types Keys over it: codes of the US layout
    // without Shift (letters come out in lower case).
    void TypeInto(const char* Edit, std::initializer_list<WORD> Keys) const;
    // Window (of this thread) Right pixels wider and Down pixels taller, in steps painted one
    // after the other, as a drag of its frame makes it.
    void Resize(HWND Window, int Right, int Down = 0) const;
    // The item of the popup menu that shows now, clicked; false when no menu shows.
    bool ChooseMenuItem(HMENU Menu, int Index) const;

    [[nodiscard]] std::wstring TextOf(const char* Control) const;
    [[nodiscard]] bool Checked(const char* Control) const;

    // The message box of the window's thread, read and closed with its button; its Handle is
    // null when none showed.
    TMessageBox TakeMessageBox() const;

private:
    void Run();

    DWORD FThreadId = 0;
    std::atomic<TfmMain*> FForm{nullptr};
    HWND FCaller = nullptr;  // a window of the UI thread that runs OnUiThread bodies
    HANDLE FReady = nullptr;
    std::thread FThread;
};

// The text on the clipboard; empty without text.
[[nodiscard]] std::wstring ClipboardText();

// The width of Text in the font Control draws with.
[[nodiscard]] int TextWidth(HWND Control, const std::wstring& Text);

// A pixel of Window's client area as the screen shows it.
[[nodiscard]] COLORREF PixelOf(HWND Window, POINT Client);

// Whether the screen shows the control as it draws itself now, pixel for pixel.
[[nodiscard]] bool ShowsAsItDraws(HWND Control);

}  // namespace benchpad::test
