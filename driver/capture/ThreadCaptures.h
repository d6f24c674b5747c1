#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wedgecard {

class TKeyboardHook;
class TMessageHook;

// What the captures of one thread and their message hooks share. A capture and its hook live
// and run on the thread that made them, so each thread has its own, and nothing here needs a
// lock. Plain members only: nothing to destroy when the thread exits.
//
// Both lists run latest first, as the system calls hooks: the hook installed last is called
// first, so a key message is served to the hook switched on last first, and reaches the capture
// switched on last first. Reading cards goes the other way: the captures read a burst the
// oldest first, so that a card several devices read goes to them in the order they were
// opened; TakingKeys walks the list backwards for that.
class TThreadCaptures {
public:
    // The calling thread's.
    [[nodiscard]] static TThreadCaptures& Current() noexcept;

    // The captures of the thread, the latest created first.
    void Add(TKeyboardHook& Capture) noexcept;
    void Remove(TKeyboardHook& Capture) noexcept;
    // Compares addresses only: Capture may have been destroyed.
    [[nodiscard]] bool Has(const TKeyboardHook* Capture) const noexcept;

    // What the captures that take keys (switched on and not suspended, and the one asking)
    // agree on: who reads a burst, the oldest first; how long a burst waits, the longest quiet
    // time; which keys can begin a card (none when any key can), and which can end one.
    [[nodiscard]] std::vector<TKeyboardHook*> TakingKeys(const TKeyboardHook& Asking) const;
    [[nodiscard]] std::int32_t QuietTime(const TKeyboardHook& Asking) const noexcept;
    void CardKeys(const TKeyboardHook& Asking, std::optional<std::vector<std::string>>& Starts,
                  std::optional<std::string>& Ends) const;

    // The latest exclusive capture that is switched on; it suspends all others.
    [[nodiscard]] const TKeyboardHook* Exclusive() const noexcept;
    // Resumes every capture but Except, the latest first. A capture's handler may let go of
    // others meanwhile: each is looked up again before its turn.
    void ResumeAll(const TKeyboardHook* Except) noexcept;

    // The active message hooks of the thread, the latest activated first.
    void Link(TMessageHook& Hook) noexcept;
    void Unlink(TMessageHook& Hook) noexcept;
    // Compares addresses only: Hook may have been destroyed.
    [[nodiscard]] bool IsLinked(const TMessageHook* Hook) const noexcept;
    [[nodiscard]] TMessageHook* LatestHook() const noexcept { return FLatestHook; }

    // Numbers the replay messages of every capture of the thread, so that a message left in the
    // queue by a capture that is gone never passes for one of a later capture.
    [[nodiscard]] std::uint32_t NewSerial() noexcept { return FNextSerial++; }

    // Changes whenever what can begin a card on this thread may have changed: a capture's
    // prefixes, or which captures take keys.
    [[nodiscard]] std::uint64_t StartsEpoch() const noexcept { return FStartsEpoch; }
    void StartsChanged() noexcept { ++FStartsEpoch; }

    // The message record a capture made a decided key of, for the captures served the same
    // message after it.
    struct TDecidedKey {
        std::intptr_t Message = 0;
        std::uint64_t Number = 0;
    };
    TDecidedKey DecidedKey;

    // How deep the thread is inside CallNextHookEx of the hook procedure. With several of our
    // hooks installed, the system calls the procedure once per hook, each call nested inside
    // the previous one's CallNextHookEx; only the outermost call serves the message.
    int ChainDepth = 0;
    // How many messages the thread's handlers are serving, nested, and what waits for them to
    // finish.
    int ServingDepth = 0;
    std::vector<std::function<void()>>* Deferred = nullptr;
    // The messages served so far.
    std::uint64_t Served = 0;

private:
    TKeyboardHook* FLatestCapture = nullptr;
    TMessageHook* FLatestHook = nullptr;
    std::uint32_t FNextSerial = 1;
    std::uint64_t FStartsEpoch = 1;
};

}  // namespace wedgecard
