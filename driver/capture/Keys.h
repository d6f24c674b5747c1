#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/capture/CapturePlatform.h"
#include "driver/core/OwnerList.h"

namespace wedgecard {

class TKeys;

// Virtual-key codes the capture cares about (windows.h has the usual names as macros).
namespace vk {
inline constexpr std::uint8_t Tab = 9;
inline constexpr std::uint8_t Return = 13;
inline constexpr std::uint8_t Shift = 16;
inline constexpr std::uint8_t Control = 17;
inline constexpr std::uint8_t Menu = 18;
inline constexpr std::uint8_t Capital = 20;

// Shift, Ctrl and Alt: never part of a text, stepped over by the track search.
[[nodiscard]] constexpr bool IsModifier(std::uint8_t Code) noexcept {
    return Code == Shift || Code == Control || Code == Menu;
}
}  // namespace vk

// What keys typed later can still change of the cards read in the keys held so far.
enum class TCardState {
    Open,      // they could change a card read, or make one of the keys held
    Settled,   // nothing typed later changes what is read in the keys held
    Complete,  // settled, and a card ends at the last key
};

// The state of the keys for two readers of them: open while either can still change, complete
// when a card of either ends at the last key and neither can change any more.
[[nodiscard]] constexpr TCardState JoinCardStates(TCardState A, TCardState B) noexcept {
    if (A == TCardState::Open || B == TCardState::Open) {
        return TCardState::Open;
    }
    if (A == TCardState::Complete || B == TCardState::Complete) {
        return TCardState::Complete;
    }
    return TCardState::Settled;
}

// One captured key message with the keyboard state of the moment it was taken.
class TKey final : public TOwnedItem<TKeys, TKey> {
public:
    explicit TKey(TKeys* Owner = nullptr) : TOwnedItem(Owner) {}

    // Copies the message and the states, not the owner.
    void Assign(const TKey& Source) noexcept;

    [[nodiscard]] std::uint8_t Code() const noexcept {
        return static_cast<std::uint8_t>(Msg.wParam & 0xFF);
    }

    TMsg Msg;
    bool KeyUp = false;
    TKeyboardState KeyboardState{};
    // Bit 0: Shift held; bit 1: Caps Lock on.
    std::int32_t ShiftState = 0;
};

// The keys of one burst, in the order they were taken. Owns them.
class TKeys final : public TOwnerList<TKeys, TKey> {
public:
    TKey* Add() { return new TKey(this); }

    // Text of the keys at First..Last: the characters of the keys, key releases and Shift,
    // Ctrl and Alt presses left out. Escaped, a key without a character shows as "#code;" and
    // "#" as "##". Positions outside the list count as no keys.
    [[nodiscard]] std::string GetText(int First, int Last, bool Escaped) const;

    // The same keys for a person to read: keys without a character as "#code " ("#13 ", and
    // " #9 " after the first key).
    [[nodiscard]] std::string GetDisplayText(int First, int Last) const;

    // Whether the key presses from Index on spell Codes, releases and Shift, Ctrl and Alt
    // presses stepped over. Index ends where the comparison stopped.
    bool MatchCodes(int& Index, std::string_view Codes) const;

    // One track framed by Prefix and Suffix, searched from Start. On success Start is where the
    // track begins, Stop where it ends and Text its escaped data. A configured prefix must be
    // there: only a track without one begins at the search position. The track begins before
    // Limit; a track without a suffix runs up to it, one with a suffix up to its suffix.
    bool FindTrack(std::string_view Prefix, std::string_view Suffix, std::string& Text, int& Stop,
                   int& Start, int Limit = std::numeric_limits<int>::max()) const;

    struct TTrackTemplate {
        std::string Prefix;
        std::string Suffix;
    };
    using TTemplates = std::array<TTrackTemplate, 3>;
    using TTracks = std::array<std::string, 3>;
    // Which tracks a card has (a track found may be empty).
    using TTracksFound = std::array<bool, 3>;

    // Tracks 1 to 3 of one device's first card from Start on (from 0 when Start is negative);
    // Start..Stop (inclusive) are then the keys its tracks cover, from the first prefix to the
    // last suffix and its releases. A card's tracks come in their order: the card ends where a
    // prefix of one of its tracks comes again, and a track that follows a complete later track
    // belongs to the next card. The next card is searched from Stop + 1.
    bool FindTracks(const TTemplates& Templates, int& Start, TTracks& Tracks, int& Stop,
                    TTracksFound* Found = nullptr) const;

    // What keys typed after these could still change of the cards of one device read in them,
    // card after card from the first key (Settled or Complete only where that can be shown, as
    // for a card with every configured track framed by a suffix). Keys typed after a card that
    // ends at the last key are read as a burst of their own; the releases that come first
    // belong to that card.
    [[nodiscard]] TCardState CardState(const TTemplates& Templates) const;

private:
    // Pending: the keys from Index on spell the beginning of Codes and run out; a later key
    // may still complete the match.
    enum class TMatch { No, Yes, Pending };
    TMatch Compare(int& Index, std::string_view Codes) const;
    // Whether Codes may still match from some held key, once more keys come.
    [[nodiscard]] bool MayStillMatch(std::string_view Codes) const;

    template <class TAppend>
    void WalkText(int First, int Last, TAppend&& Append) const;
    // The first position from First up to Limit where the key presses spell Codes; Limit when
    // there is none.
    [[nodiscard]] int FindCodes(std::string_view Codes, int First, int Limit) const;
};

// Keys of a burst, First..Last inclusive.
struct TKeyRange {
    int First = 0;
    int Last = -1;
    bool operator==(const TKeyRange&) const = default;
};
using TKeyRanges = std::vector<TKeyRange>;

// The US layout the driver reads characters with: [ShiftState][virtual-key code], 0 for a key
// without a character.
extern const std::array<std::array<char, 256>, 4> KeyChars;

// Display names of the virtual-key codes; empty for a code without a name.
extern const std::array<std::string_view, 256> KeyNames;

[[nodiscard]] char KeyChar(std::int32_t ShiftState, std::uint8_t Code) noexcept;

// The key-code notation of prefixes and suffixes: "#" and a decimal code from 0 to 255,
// repeated with nothing between ("#9#13"). One byte per code; nothing for malformed text.
[[nodiscard]] std::optional<std::string> ParseKeyCodes(std::string_view Text);

}  // namespace wedgecard
