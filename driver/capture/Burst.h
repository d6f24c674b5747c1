#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "driver/capture/CapturePlatform.h"
#include "driver/capture/Keys.h"

namespace wedgecard {

enum class TBurstPhase {
    // No burst: a key that cannot begin a card passes at once.
    Idle,
    // A burst is on: its keys (perhaps none yet) are held until no key has come for the quiet
    // time. The timer runs, or waits for a suspension to end.
    Holding,
    // A burst ended at its card's last key less than a quiet time ago, and no key press has
    // come since: the key releases that come meanwhile are the card's. The timer runs.
    CardTail,
};

// The burst a capture is taking: the keys it holds, its phase and its timer.
//
// The keys of a burst that has ended are examined (read by the captures' handlers) apart from
// it, and a handler may retrieve messages, which begins the next burst meanwhile and may even
// end it, nested. So examining is counted, beside the phase rather than one of its values.
class TBurst {
public:
    explicit TBurst(TCapturePlatform& Platform)
        : FPlatform(Platform), FKeys(std::make_unique<TKeys>()) {}
    TBurst(const TBurst&) = delete;
    TBurst& operator=(const TBurst&) = delete;
    ~TBurst() { StopTimer(); }

    [[nodiscard]] TBurstPhase Phase() const noexcept { return FPhase; }
    [[nodiscard]] TKeys& Keys() noexcept { return *FKeys; }
    [[nodiscard]] const TKeys& Keys() const noexcept { return *FKeys; }

    [[nodiscard]] bool TimerRunning() const noexcept { return FTimerID != 0; }
    [[nodiscard]] bool IsTimer(std::uintptr_t ID) const noexcept {
        return FTimerID != 0 && ID == FTimerID;
    }

    // Holds the burst for the quiet time from now; false when the system gave no timer, and the
    // burst must end now (it would never end, its keys held forever).
    [[nodiscard]] bool Hold(std::int32_t QuietTime) {
        if (!RestartTimer(QuietTime)) {
            return false;
        }
        FPhase = TBurstPhase::Holding;
        return true;
    }

    // Stops the timer. A burst without keys is over then, and so is a card's tail; one with
    // keys waits to be ended or held again.
    void StopTimer() noexcept {
        if (FTimerID != 0) {
            FPlatform.KillTimer(FTimerID);
            FTimerID = 0;
        }
        if (FPhase == TBurstPhase::CardTail || FKeys->Count() == 0) {
            FPhase = TBurstPhase::Idle;
        }
    }

    // The card just read ended at the burst's last key: its releases are awaited for the quiet
    // time. Nothing when no timer is to be had.
    void StartCardTail(std::int32_t QuietTime) {
        FPhase = RestartTimer(QuietTime) ? TBurstPhase::CardTail : TBurstPhase::Idle;
    }

    // The burst leaves the capture, to be examined or given back; its timer stops first, even
    // when there is no memory for the next burst's keys.
    [[nodiscard]] std::unique_ptr<TKeys> Take() {
        StopTimer();
        std::unique_ptr<TKeys> keys = std::exchange(FKeys, std::make_unique<TKeys>());
        FPhase = TBurstPhase::Idle;
        return keys;
    }

    [[nodiscard]] bool Examining() const noexcept { return FExamining > 0; }
    void BeginExamining() noexcept { ++FExamining; }
    void EndExamining() noexcept { --FExamining; }

private:
    bool RestartTimer(std::int32_t QuietTime) {
        StopTimer();
        FTimerID = FPlatform.SetTimer(static_cast<std::uint32_t>(QuietTime));
        return FTimerID != 0;
    }

    TCapturePlatform& FPlatform;
    std::unique_ptr<TKeys> FKeys;
    TBurstPhase FPhase = TBurstPhase::Idle;
    std::uintptr_t FTimerID = 0;
    int FExamining = 0;
};

}  // namespace wedgecard
