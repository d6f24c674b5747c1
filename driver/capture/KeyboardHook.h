#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/capture/Burst.h"
#include "driver/capture/CapturePlatform.h"
#include "driver/capture/Keys.h"
#include "driver/capture/MessageHook.h"
#include "driver/capture/PrefixMatcher.h"
#include "driver/capture/ReplayQueue.h"

namespace wedgecard {

class TLogger;

// Takes every key message of the thread that switched it on out of that thread's message
// stream, holds the keys back while they come in a burst, hands the burst to OnKeyboardData
// when no key has come for Sensitivity milliseconds, and gives back to the focused window every
// key the handler did not consume, with the keyboard state of the moment it was taken.
//
// Several captures may be on in one thread (two driver objects, the device test dialog). Each
// key message goes to the latest switched on first; the one that holds a burst holds it for
// all: when it ends (after the longest quiet time of those taking keys), every capture of the
// thread that takes keys reads its own cards in it, the oldest first, and the keys none of them
// consumed go back once, passing the others untouched (so do the keys it gives back because no
// card of any of them can begin there).
//
// Holding every key, as a card needs, would make all typing wait the quiet time while a reader
// is open. So the capture holds keys only from the first one that could begin a card (as
// SetCardPrefixes tells it) until the burst is examined, and lets every other key pass untouched
// at once when nothing of its own is still to be delivered. Events and what reaches the window
// are the same as when holding everything, only sooner: a key it lets pass would have been
// given back in front of the card, and the track search never looks at keys before a prefix.
//
// Waiting the quiet time after a card's last key would make every card wait it, and a slow
// reader's generous quiet time makes that long. So a burst also ends at once at a key press
// after which the keys held contain a card that nothing typed later can change: every capture
// of the thread that takes keys says so through OnCardState (one at least sees a card ending
// at that key, none sees anything still open). What follows is a burst of its own, except the
// key releases that come before the next press within the quiet time: they belong to the card,
// as in the burst that waits. This goes beyond waiting on purpose and changes only when the
// card is read and the keys around it go back, never what arrives; without OnCardState (the
// device test dialog) a capture waits.
class TKeyboardHook {
public:
    // Called with the finished burst; true when it holds card data, Consumed then listing the
    // keys to drop (ranges may overlap and reach past the last key). Every other key goes back.
    using TKeyboardDataHandler = std::function<bool(const TKeys& Keys, TKeyRanges& Consumed)>;
    // Asked, with the keys held so far, after a key press that may end a card (SetCardEnds):
    // what keys typed later can still change of the cards the owner reads in them. It must not
    // call out: the keys are still being taken.
    using TCardStateHandler = std::function<TCardState(const TKeys& Keys)>;

    // Suspends a capture for its lifetime (see SetSuspended).
    class TSuspension {
    public:
        explicit TSuspension(TKeyboardHook& Hook) : FHook(Hook) { FHook.SetSuspended(true); }
        TSuspension(const TSuspension&) = delete;
        TSuspension& operator=(const TSuspension&) = delete;
        ~TSuspension() { FHook.SetSuspended(false); }

    private:
        TKeyboardHook& FHook;
    };

    explicit TKeyboardHook(TCapturePlatform& Platform);
    TKeyboardHook(const TKeyboardHook&) = delete;
    TKeyboardHook& operator=(const TKeyboardHook&) = delete;
    // Switches the capture off (see SetActive) even when the system refuses to remove the hook.
    ~TKeyboardHook();

    // Whether keys are being captured: switched on and not suspended.
    [[nodiscard]] bool Active() const noexcept { return SwitchedOn() && !Suspended(); }

    // Installs or removes the thread's message hook; the errors of TMessageHook pass through.
    // Switching off ends the capture at once: the burst timer stops and an unfinished burst
    // goes back unexamined. Keys still on their way back keep the hook until they are through
    // (only the hook can replay a key with the keyboard state it was typed with); a failure to
    // remove it then is logged, with nobody left to report it to.
    void SetActive(bool Value);

    // Suspended (the calls nest), the capture takes no keys and keeps what it holds, the burst
    // and the keys on their way back; resumed, it ends the burst after the quiet time and goes
    // on giving keys back. Switching it on or off works as usual meanwhile.
    void SetSuspended(bool Value);
    // Suspended by its owner, or by an exclusive capture switched on after it.
    [[nodiscard]] bool Suspended() const noexcept;

    // An exclusive capture (the device test dialog's) suspends every other capture of its
    // thread while it is switched on, so that none of them gives a key back meanwhile.
    void SetExclusive(bool Value);

    // Ends the burst being captured now, as if its quiet time had passed.
    void EndBurst();

    // The key codes that open a track of a card this capture is to find, for it to tell typing
    // from a card being swiped; none (the default) when any key can begin a card and every key
    // is to be held. Prefixes naming Shift, Ctrl or Alt never match and are left out. Keys pass
    // only if they cannot begin a prefix of any capture of the thread: keys one capture holds
    // reach the ones after it together, as their own cards need.
    void SetCardPrefixes(std::optional<std::vector<std::string>> Prefixes);

    // The key codes whose press can end a card of this capture (the last code of each suffix),
    // after which OnCardState is asked; none (the default) when no key can, std::nullopt when
    // any key can. A key is asked about if it can end a card of any capture of the thread.
    void SetCardEnds(std::optional<std::string> Codes);

    [[nodiscard]] std::int32_t Sensitivity() const noexcept { return FSensitivity; }
    void SetSensitivity(std::int32_t Value) noexcept { FSensitivity = Value; }

    TKeyboardDataHandler OnKeyboardData;
    TCardStateHandler OnCardState;

    // The keys of the burst being captured.
    [[nodiscard]] const TKeys& Keys() const noexcept { return FBurst.Keys(); }

    // The message hook's handler: Message points to the record being retrieved.
    void HookProc(int Code, std::uintptr_t WParam, std::intptr_t Message);

private:
    friend class TThreadCaptures;
    using TCardEnds = std::optional<std::string>;

    [[nodiscard]] bool SwitchedOn() const noexcept { return FHook.Active() && !FDraining; }
    // Decided: a key another capture of the thread gave back as none of their cards. True when
    // Message has become a decided key.
    bool HandleMessage(TMsg& Message, bool Decided);
    void TakeKey(TMsg& Message, bool Decided);
    // Adds the keys of Message to Into with the keyboard state of now.
    void AddKeys(TKeys& Into, const TMsg& Message);
    void CaptureKey(TMsg& Message);
    // Brings the prefixes followed and the codes that can end a card up to date with every
    // capture of the thread that takes keys.
    void UpdateCardKeys();
    // Whether the burst ends at the key press just held, as every capture taking keys sees it.
    [[nodiscard]] bool CardEndsHere();
    // After a burst that ended at its card's last key: the releases that follow are the card's.
    void StartCardTail();
    // Gives back the held keys in front of every match that can still succeed.
    void GiveBackEarly();
    [[nodiscard]] std::unique_ptr<TKeys> TakeBurst();
    void HoldBurst();
    // LastKeyConsumed, when given, tells whether the burst's last key was consumed.
    void ProcessBuffer(bool* LastKeyConsumed = nullptr);
    // Gives back the keys of Burst not marked in Dropped, and drops the others.
    void GiveBack(TKeys& Burst, const std::vector<bool>& Dropped, bool Decided);
    void ReplayKey(TMsg& Message, bool& Decided);
    void PostNextReplay();
    void FinishDraining();
    // Picks up where a suspension left off.
    void Resume();
    // The last resort of destruction: whatever is held goes straight to the focused window.
    void ReleaseHeldKeys();
    void PostToFocus(const TKey& Key);
    [[nodiscard]] TWindowHandle FocusWindow();
    [[nodiscard]] std::uintptr_t Cookie() const noexcept;
    TLogger& Logger();

    TCapturePlatform& FPlatform;
    TBurst FBurst;
    TPrefixMatcher FMatcher;
    TReplayQueue FReplay;
    TMessageHook FHook;
    std::int32_t FSensitivity = 100;
    std::unique_ptr<TLogger> FLogger;
    // The keyboard state of the newest key taken.
    TKeyboardState FNewestState{};

    // This capture's own.
    TPrefixMatcher::TPrefixes FCardPrefixes;
    TCardEnds FCardEnds{std::in_place};
    // The codes that can end a card of any capture of the thread that takes keys.
    TCardEnds FEnds{std::in_place};
    // What FMatcher's prefixes and FEnds were made from.
    std::uint64_t FStartsEpoch = 0;

    // Switched off, the hook still in place until the keys on their way back are through.
    bool FDraining = false;
    int FSuspensions = 0;
    bool FExclusive = false;

    // The next of the thread's captures (TThreadCaptures).
    TKeyboardHook* FNextOnThread = nullptr;
};

}  // namespace wedgecard
