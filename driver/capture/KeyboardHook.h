#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "driver/capture/CapturePlatform.h"
#include "driver/capture/Keys.h"
#include "driver/capture/MessageHook.h"

namespace wedgecard {

class TLogger;

// Takes every key message of the thread that switched it on out of that thread's message
// stream, holds the keys back while they come in a burst, hands the burst to OnKeyboardData
// when no key has come for Sensitivity milliseconds, and gives back to the focused window every
// key the handler did not consume, with the keyboard state of the moment it was taken.
class TKeyboardHook {
public:
    // Called with the finished burst; true when it holds card data, Start..Stop (inclusive) then
    // being the keys to drop. Stop may lie past the last key.
    using TKeyboardDataHandler = std::function<bool(const TKeys& Keys, int& Start, int& Stop)>;

    explicit TKeyboardHook(TCapturePlatform& Platform);
    TKeyboardHook(const TKeyboardHook&) = delete;
    TKeyboardHook& operator=(const TKeyboardHook&) = delete;
    // Switches the capture off (see SetActive) even when the system refuses to remove the hook.
    ~TKeyboardHook();

    // Whether keys are being captured.
    [[nodiscard]] bool Active() const noexcept { return FHook.Active() && !FDraining; }

    // Installs or removes the thread's message hook; the errors of TMessageHook pass through.
    // Switching off ends the capture at once: the burst timer stops and an unfinished burst
    // goes back unexamined. Keys still on their way back keep the hook until they are through
    // (only the hook can replay a key with the keyboard state it was typed with); a failure to
    // remove it then is logged, with nobody left to report it to.
    void SetActive(bool Value);

    [[nodiscard]] std::int32_t Sensitivity() const noexcept { return FSensitivity; }
    void SetSensitivity(std::int32_t Value) noexcept { FSensitivity = Value; }

    TKeyboardDataHandler OnKeyboardData;

    // The keys of the burst being captured.
    [[nodiscard]] const TKeys& Keys() const noexcept { return *FKeys; }

    // The message hook's handler: Message points to the record being retrieved.
    void HookProc(int Code, std::uintptr_t WParam, std::intptr_t Message);

private:
    // A key on its way back to the thread, and the number its replay message carries.
    struct TReplay {
        std::unique_ptr<TKey> Key;
        std::uint32_t Serial = 0;
    };

    void HandleMessage(TMsg& Message);
    void CaptureKey(TMsg& Message);
    void ReplayKey(TMsg& Message);
    void StopTimer();
    void StartTimer();
    void ProcessBuffer();
    void FlushMessages(TKeys& Burst, int First, int Last);
    void PostNextReplay();
    void FinishDraining();
    // The last resort of destruction: whatever is held goes straight to the focused window.
    void ReleaseHeldKeys();
    void PostToFocus(const TKey& Key);
    [[nodiscard]] TWindowHandle FocusWindow();
    [[nodiscard]] std::uintptr_t Cookie() const noexcept;
    TLogger& Logger();

    // Live objects of the calling thread, so that a timer or replay message of one that is
    // shadowed by a later capture still reaches it, and so that a replay message's cookie is
    // checked against live objects before it is trusted.
    [[nodiscard]] static TKeyboardHook* FindOnThread(std::uintptr_t Cookie) noexcept;
    [[nodiscard]] static TKeyboardHook* FindTimerOwner(std::uintptr_t TimerID) noexcept;

    TCapturePlatform& FPlatform;
    std::unique_ptr<TKeys> FKeys;
    TMessageHook FHook;
    std::uintptr_t FTimerID = 0;
    std::int32_t FSensitivity = 100;
    std::unique_ptr<TLogger> FLogger;

    // Keys given back and not yet replayed, oldest first. At most the first of them has its
    // replay message in the thread's queue: each replay posts the next, so a key's WM_CHAR
    // reaches the window before the next key does, and no burst can overrun the queue.
    std::deque<TReplay> FReplay;
    bool FReplayPosted = false;
    std::uint32_t FNextSerial = 1;
    // Switched off, the hook still in place until the keys on their way back are through.
    bool FDraining = false;
    // OnKeyboardData calls in progress: the burst they hold is not in FKeys.
    int FHandlerDepth = 0;

    TKeyboardHook* FNextOnThread = nullptr;
};

}  // namespace wedgecard
