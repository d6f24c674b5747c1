#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace wedgecard {

// A message record as the thread's message retrieval hands it out. Same members, order and
// sizes as the system's MSG on the platform it is built for; the Windows layer checks that.
struct TMsg {
    void* hwnd = nullptr;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::uint32_t time = 0;
    std::int32_t ptX = 0;
    std::int32_t ptY = 0;
};

// Message identifiers (windows.h defines the usual names as macros, hence the namespace).
namespace wm {
inline constexpr std::uint32_t Null = 0x0000;
inline constexpr std::uint32_t KeyDown = 0x0100;
inline constexpr std::uint32_t KeyUp = 0x0101;
inline constexpr std::uint32_t Char = 0x0102;
inline constexpr std::uint32_t SysKeyDown = 0x0104;
inline constexpr std::uint32_t SysKeyUp = 0x0105;
inline constexpr std::uint32_t SysChar = 0x0106;
inline constexpr std::uint32_t Timer = 0x0113;
}  // namespace wm

// A key handed back to the thread (WM_APP + 11). Reserved on a thread while its keys are
// captured.
inline constexpr std::uint32_t WM_REPLAYKEY = 0x800B;

// Hook codes and the retrieval flag a WH_GETMESSAGE hook receives in WParam.
namespace hook {
inline constexpr int Action = 0;
inline constexpr std::uintptr_t NoRemove = 0;
inline constexpr std::uintptr_t Remove = 1;
}  // namespace hook

using TKeyboardState = std::array<std::uint8_t, 256>;
using THookHandle = void*;
using TWindowHandle = void*;

class TCapturePlatform;

// The procedure the system calls for every message the hooked thread retrieves; the platform
// that installed it passes itself along.
using TMessageHookProc = std::intptr_t (*)(TCapturePlatform& Platform, int Code,
                                           std::uintptr_t WParam, std::intptr_t LParam);

// What the capture needs of one Windows user-interface thread. The Windows implementation
// passes each call straight to the function of the same name; tests use a fake thread.
class TCapturePlatform {
public:
    TCapturePlatform() = default;
    TCapturePlatform(const TCapturePlatform&) = delete;
    TCapturePlatform& operator=(const TCapturePlatform&) = delete;
    virtual ~TCapturePlatform() = default;

    // WH_GETMESSAGE hook on the calling thread, no module. Null on failure.
    virtual THookHandle SetWindowsHookExA(TMessageHookProc Proc) = 0;
    virtual bool UnhookWindowsHookEx(THookHandle Hook) = 0;
    virtual std::intptr_t CallNextHookEx(int Code, std::uintptr_t WParam, std::intptr_t LParam) = 0;

    // Thread timer without a window: posts WM_TIMER with the returned identifier every
    // Elapse milliseconds until killed. Zero on failure.
    virtual std::uintptr_t SetTimer(std::uint32_t Elapse) = 0;
    virtual bool KillTimer(std::uintptr_t TimerID) = 0;

    virtual void GetKeyboardState(TKeyboardState& State) = 0;
    virtual void SetKeyboardState(const TKeyboardState& State) = 0;

    // Window null: a message to the calling thread's own queue.
    virtual bool PostMessageA(TWindowHandle Window, std::uint32_t Message, std::uintptr_t WParam,
                              std::intptr_t LParam) = 0;

    virtual TWindowHandle GetFocus() = 0;
    virtual TWindowHandle GetActiveWindow() = 0;

    // The system's text for the calling thread's last error.
    virtual std::string LastErrorText() = 0;
};

}  // namespace wedgecard
