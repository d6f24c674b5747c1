#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "driver/capture/Keys.h"

namespace wedgecard {

// Cards framed by characters rather than by key codes: a reader set up to type a prefix
// character, the tracks and a suffix character, each character matched as the US layout types
// it with its Shift state (so "%", Shift+5, is not "5"), whatever layout the user has chosen.
struct TCharacterFrame {
    // None: a card begins where the search stands.
    std::optional<char> Prefix;
    // None: a card runs to the end of the burst.
    std::optional<char> Suffix;
};

// The character a key press types on the US layout with its shift state, Enter as 13 and Tab
// as 9; 0 for a release, Shift, Ctrl, Alt and a key without a character.
[[nodiscard]] char TypedCharacter(const TKey& Key) noexcept;

// Whether some key types Code (a character code) on the US layout, with or without Shift.
[[nodiscard]] bool IsTypable(std::int32_t Code) noexcept;

// The virtual-key codes of the keys that type Character with or without Shift, one byte each.
[[nodiscard]] std::string KeysTyping(char Character);

// How Character is typed, for a person: "Shift+5" for "%", "Enter", or the character itself.
[[nodiscard]] std::string DescribeTyping(char Character);

struct TCharacterCard {
    TKeyRange Keys;
    // The characters typed, framing characters included.
    std::string Text;
};

// The card framed by Frame in Keys: from the first prefix character (the first key without a
// prefix) to the last suffix character after it (the last key without a suffix). The last,
// not the first: a card's tracks often all end in the same character ("?", or Enter), and the
// one suffix the card is framed by is that of its last track. So two swipes within one quiet
// time make one card, whose first swipe a host that splits the tracks reads. The card's keys
// take in Shift, Ctrl and Alt presses just before the prefix and the releases after the
// suffix up to the next key press. None without a prefix and a suffix after it, without
// either framing, or when the card holds nothing but framing characters, Enter and Tab (a
// person pressing Enter, with Enter as the suffix).
[[nodiscard]] std::optional<TCharacterCard> FindCharacterCard(const TKeys& Keys,
                                                              const TCharacterFrame& Frame);

// What keys typed after Keys can still change of the card framed by Frame read in them: Open
// once a card may have begun (a key typing the prefix character, or any key without a prefix),
// since the card runs to the last suffix the quiet time lets come; Settled otherwise. Never
// Complete: only the quiet time ends such a card.
[[nodiscard]] TCardState CharacterCardState(const TKeys& Keys, const TCharacterFrame& Frame);

}  // namespace wedgecard
