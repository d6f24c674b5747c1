#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "driver/capture/CapturePlatform.h"
#include "driver/capture/Keys.h"

namespace wedgecard {

// The keys a capture gives back to its thread, replayed one by one through the thread's own
// message retrieval, so that each reaches the focused window with the keyboard state it was
// typed with and the host translates it as it would have.
//
// At most the first item has its replay message in the thread's queue: each replay posts the
// next, so no burst can overrun the queue. The host's TranslateMessage posts a key press's
// WM_CHAR only after the press has been retrieved, behind whatever was posted meanwhile; so a
// press puts a turn of its own first, retrieved before that WM_CHAR, and the next key is posted
// from there, behind it.
class TReplayQueue {
public:
    // Cookie tells the replay messages of this queue from those of others on the thread.
    TReplayQueue(TCapturePlatform& Platform, std::uintptr_t Cookie) noexcept
        : FPlatform(Platform), FCookie(Cookie) {}

    [[nodiscard]] bool Empty() const noexcept { return FItems.empty(); }
    // Whether the next item's message is in the thread's queue.
    [[nodiscard]] bool Posted() const noexcept { return FPosted; }

    // Decided: the key is none of the cards of the thread's captures (it was in a burst all of
    // them read, or no card of theirs can begin there).
    void Add(std::unique_ptr<TKey> Key, bool Decided);

    // Each replay sets the keyboard state of its key, older than that of the keys taken after
    // it: once the keys given back are through, the thread's keyboard state is to be Newest,
    // that of the newest key taken.
    void KeepState(const TKeyboardState& Newest);

    // Posts the next item's message, unless one is posted already. A full queue posts nothing;
    // PostNext is then called again once the thread retrieves messages.
    void PostNext();

    // Whether Message is the replay message of the item next in line; one posted before its
    // capture was switched off, or not posted by this queue at all, is not.
    [[nodiscard]] bool IsNext(const TMsg& Message) const noexcept;

    // The item next in line waits (Message, its replay message, is dropped); PostNext posts it
    // again.
    void Withhold(TMsg& Message) noexcept;

    struct TReplayed {
        bool Key = false;      // Message is now the key, its window still to be set
        bool Decided = false;  // and a decided one
    };
    // Turns Message, the replay message of the item next in line, into what it brings back.
    // Newest: the keyboard state of the newest key taken.
    TReplayed Replay(TMsg& Message, const TKeyboardState& Newest);

    // The last resort: everything still to go leaves the queue. Keys receives its keys, oldest
    // first; the result says whether anything was queued.
    bool TakeAll(std::vector<std::unique_ptr<TKey>>& Keys);

private:
    // What a replay message brings back: a key; the keyboard state of the newest key taken; or
    // nothing, only the turn of the next one, behind the character the host makes of the key
    // press given back before it.
    enum class TKind { Key, State, AfterChar };
    struct TItem {
        TKind Kind = TKind::Key;
        std::unique_ptr<TKey> Key;
        std::uint32_t Serial = 0;
        bool Decided = false;
    };

    TCapturePlatform& FPlatform;
    const std::uintptr_t FCookie;
    std::deque<TItem> FItems;
    bool FPosted = false;
};

}  // namespace wedgecard
