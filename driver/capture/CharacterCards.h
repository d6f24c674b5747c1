#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/capture/Keys.h"

namespace wedgecard {

// Cards framed by characters rather than by key codes: each track between the characters a
// reader types before and after it, each character matched as the US layout types it with its
// Shift state (so "%", Shift+5, is not "5"), whatever layout the user has chosen.
struct TCharacterTrack {
    // Characters; an empty prefix: the track begins where the search stands.
    std::string Prefix;
    std::string Suffix;
    // Whether the device hands this track over. A track it does not read is still part of the
    // card when its prefix and suffix are set, so that it does not reach the window.
    bool Read = false;

    // Whether the track is looked for at all: read, or framed on both sides.
    [[nodiscard]] bool Searched() const noexcept {
        return !Suffix.empty() && (Read || !Prefix.empty());
    }
};

// A device framed by characters: its tracks, searched in their order, and what the reader
// types once after the whole card (empty: nothing).
struct TCharacterFrame {
    std::array<TCharacterTrack, 3> Tracks;
    std::string CardSuffix;
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
    // The tracks the device reads that were found, in track order, each with its own prefix
    // and suffix as typed, nothing between them.
    std::string Data;
};

// The cards framed by Frame in Keys, in the order they were typed. A card's tracks come in
// their order, as for the key-code tracks (TKeys::FindTracks): it ends where the prefix of a
// track it already has comes again, and a track after a complete later track belongs to the
// next card. A card runs from its first track's prefix to the suffix of its last track, or to
// the card suffix typed right after it; its keys take in Shift, Ctrl and Alt presses just
// before it and the releases after it up to the next key press. Keys holding none of the
// tracks the device reads, or only empty ones, are no card and go back.
[[nodiscard]] std::vector<TCharacterCard> FindCharacterCards(const TKeys& Keys,
                                                             const TCharacterFrame& Frame);

// What keys typed after Keys can still change of the cards framed by Frame read in them. A
// card is settled by its card suffix, whatever tracks it has, and without a card suffix
// configured, once every track searched for has been found (a track it does not read may still
// come and would otherwise begin a card of its own); anything else waits the quiet time.
[[nodiscard]] TCardState CharacterCardState(const TKeys& Keys, const TCharacterFrame& Frame);

}  // namespace wedgecard
