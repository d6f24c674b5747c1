#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wedgecard {

class TKeys;

// What a key does to a match of a code string (a prefix or a suffix) that has Matched of its
// codes so far. A release before the first code ends the match, and is stepped over after it;
// Shift, Ctrl and Alt presses are stepped over; any other press must be the next code; a press
// after the last code is no longer the match's. The track search and the capture both match
// codes this way, and only this way.
enum class TCodeStep { Stop, Skip, Advance };
[[nodiscard]] TCodeStep StepCodes(std::string_view Codes, std::size_t Matched, bool KeyUp,
                                  std::uint8_t Code) noexcept;

// Follows the prefixes of the cards of the thread over the keys of a burst as they are held,
// to tell where typing ends and a card may begin: the held keys in front of every match that
// can still succeed are no card's.
class TPrefixMatcher {
public:
    // None when any key can begin a card.
    using TPrefixes = std::optional<std::vector<std::string>>;

    // The prefixes that can tell typing from a card: each once, none empty. A prefix naming
    // Shift, Ctrl or Alt never matches (they are stepped over) and is left out.
    [[nodiscard]] static TPrefixes Usable(TPrefixes Prefixes);

    [[nodiscard]] const TPrefixes& Prefixes() const noexcept { return FPrefixes; }
    // KeysHeld: a burst is under way, whose matches were of the old prefixes; it is then held
    // whole.
    void SetPrefixes(TPrefixes Prefixes, bool KeysHeld);

    // Whether the keys of the burst are followed: there are prefixes, and they have not
    // changed since the burst began.
    [[nodiscard]] bool Following() const noexcept { return FPrefixes && !FHoldWhole; }

    // Whether a key not yet held can begin a prefix; any key can without prefixes.
    [[nodiscard]] bool CanBegin(bool KeyUp, std::uint8_t Code) const;

    // Follows the matches over the held key at Position, the newest.
    void Follow(const TKeys& Keys, int Position);

    // How many of the Count held keys, from the front, no match can take any more: they are in
    // front of every match that can still succeed and of the earliest complete prefix.
    [[nodiscard]] int Decided(int Count) const noexcept;

    // The first Count held keys have gone.
    void Drop(int Count) noexcept;

    // A new burst begins.
    void Reset() noexcept;

private:
    // A match of prefix Prefix begun at the held key Start, Matched codes long.
    struct TMatch {
        std::size_t Prefix = 0;
        std::size_t Matched = 0;
        int Start = 0;
    };

    TPrefixes FPrefixes;
    // In the order they began, one per prefix and length (the earliest: a later one would go
    // on exactly as it does).
    std::vector<TMatch> FMatches;
    // The held key where the earliest complete prefix begins.
    std::optional<int> FCardStart;
    bool FHoldWhole = false;
};

}  // namespace wedgecard
