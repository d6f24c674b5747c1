#include "driver/capture/CharacterCards.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace wedgecard {

namespace {

// The rows of KeyChars without and with Shift (the Caps Lock rows type the same characters).
constexpr std::int32_t Plain = 0;
constexpr std::int32_t Shifted = 1;

bool IsModifierPress(const TKey& Key) noexcept {
    return !Key.KeyUp && vk::IsModifier(Key.Code());
}

}  // namespace

char TypedCharacter(const TKey& Key) noexcept {
    if (Key.KeyUp || vk::IsModifier(Key.Code())) {
        return 0;
    }
    switch (Key.Code()) {
        case vk::Return:
            return '\r';
        case vk::Tab:
            return '\t';
        default:
            return KeyChar(Key.ShiftState, Key.Code());
    }
}

bool IsTypable(std::int32_t Code) noexcept {
    if (Code == '\r' || Code == '\t') {
        return true;
    }
    if (Code <= 0 || Code > 127) {
        return false;
    }
    for (const std::int32_t row : {Plain, Shifted}) {
        for (int key = 0; key < 256; ++key) {
            if (KeyChar(row, static_cast<std::uint8_t>(key)) == static_cast<char>(Code)) {
                return true;
            }
        }
    }
    return false;
}

std::string KeysTyping(char Character) {
    if (Character == '\r') {
        return std::string(1, static_cast<char>(vk::Return));
    }
    if (Character == '\t') {
        return std::string(1, static_cast<char>(vk::Tab));
    }
    std::string keys;
    for (int key = 1; key < 256 && Character != 0; ++key) {
        const auto code = static_cast<std::uint8_t>(key);
        if (KeyChar(Plain, code) == Character || KeyChar(Shifted, code) == Character) {
            keys += static_cast<char>(code);
        }
    }
    return keys;
}

std::string DescribeTyping(char Character) {
    switch (Character) {
        case '\r':
            return "Enter";
        case '\t':
            return "Tab";
        case ' ':
            return "Space";
        default:
            break;
    }
    for (const char key : KeysTyping(Character)) {
        const auto code = static_cast<std::uint8_t>(key);
        const char plain = KeyChar(Plain, code);
        if (KeyChar(Shifted, code) == Character && plain != Character) {
            return std::string("Shift+") +
                   static_cast<char>(std::toupper(static_cast<unsigned char>(plain)));
        }
    }
    return std::string(1, Character);
}

namespace {

// The key presses of a burst as the characters they type, Shift, Ctrl and Alt left out and a
// key without a character as 0 (which no framing holds), with the key each came from.
struct TTypedText {
    std::string Text;
    std::vector<int> Keys;
};

TTypedText TypedText(const TKeys& Keys) {
    TTypedText typed;
    for (int i = 0; i < Keys.Count(); ++i) {
        const TKey& key = *Keys.Items(i);
        if (!key.KeyUp && !vk::IsModifier(key.Code())) {
            typed.Text += TypedCharacter(key);
            typed.Keys.push_back(i);
        }
    }
    return typed;
}

// Positions in the typed text; End is one past the last character.
struct TSpan {
    std::size_t Start = 0;
    std::size_t End = 0;
};

// A track framed by Track from Position on, beginning before Limit. A track without a prefix
// begins at Position.
std::optional<TSpan> FindTrack(const std::string& Text, const TCharacterTrack& Track,
                               std::size_t Position, std::size_t Limit) {
    std::size_t start = Position;
    std::size_t data = Position;
    if (!Track.Prefix.empty()) {
        start = Text.find(Track.Prefix, Position);
        if (start == std::string::npos || start >= Limit) {
            return std::nullopt;
        }
        data = start + Track.Prefix.size();
    }
    const std::size_t suffix = Text.find(Track.Suffix, data);
    if (suffix == std::string::npos) {
        return std::nullopt;
    }
    return TSpan{start, suffix + Track.Suffix.size()};
}

struct TFoundCard {
    std::array<std::optional<TSpan>, 3> Tracks;
    TSpan Span;
    // Ended by the card suffix.
    bool Terminated = false;
};

// The first card from Position on, in the order TKeys::FindTracks reads key-code tracks.
std::optional<TFoundCard> FindCard(const std::string& Text, const TCharacterFrame& Frame,
                                   std::size_t Position) {
    TFoundCard card;
    bool found = false;
    for (std::size_t t = 0; t < Frame.Tracks.size(); ++t) {
        const TCharacterTrack& track = Frame.Tracks[t];
        if (!track.Searched()) {
            continue;
        }
        // The card ends where the prefix of a track it already has comes again: that is the
        // next card. A prefix shared with this track tells nothing; the order decides then.
        std::size_t limit = Text.size();
        for (std::size_t a = 0; a < t && !track.Prefix.empty(); ++a) {
            const std::string& prefix = Frame.Tracks[a].Prefix;
            if (card.Tracks[a] && !prefix.empty() && prefix != track.Prefix) {
                limit = std::min(limit,
                                 Text.find(prefix, std::max(Position, card.Tracks[a]->Start + 1)));
            }
        }
        const std::optional<TSpan> span = FindTrack(Text, track, Position, limit);
        if (!span) {
            continue;
        }
        // A later track complete before this one is a card without this track, ahead of it.
        bool laterCardFirst = false;
        for (std::size_t l = t + 1; l < Frame.Tracks.size() && !laterCardFirst; ++l) {
            const TCharacterTrack& later = Frame.Tracks[l];
            if (later.Searched() && !later.Prefix.empty()) {
                const std::optional<TSpan> first = FindTrack(Text, later, Position, span->Start);
                laterCardFirst = first && first->End <= span->Start;
            }
        }
        if (laterCardFirst) {
            continue;
        }
        card.Tracks[t] = span;
        card.Span.Start = found ? card.Span.Start : span->Start;
        found = true;
        Position = span->End;
    }
    if (!found) {
        return std::nullopt;
    }
    card.Span.End = Position;
    if (!Frame.CardSuffix.empty() &&
        Text.compare(Position, Frame.CardSuffix.size(), Frame.CardSuffix) == 0) {
        card.Span.End += Frame.CardSuffix.size();
        card.Terminated = true;
    }
    return card;
}

// The tracks the device reads, each as typed; empty when none of them holds data.
std::string CardData(const std::string& Text, const TCharacterFrame& Frame,
                     const TFoundCard& Card) {
    std::string data;
    bool holdsData = false;
    for (std::size_t t = 0; t < Frame.Tracks.size(); ++t) {
        const TCharacterTrack& track = Frame.Tracks[t];
        if (track.Read && Card.Tracks[t]) {
            const TSpan span = *Card.Tracks[t];
            data.append(Text, span.Start, span.End - span.Start);
            holdsData =
                holdsData || span.End - span.Start > track.Prefix.size() + track.Suffix.size();
        }
    }
    return holdsData ? data : std::string();
}

// Whether the text ends in the beginning of Framing, which a later key may complete.
bool MayStillMatch(const std::string& Text, const std::string& Framing) {
    for (std::size_t length = 1; length < Framing.size() && length <= Text.size(); ++length) {
        if (Text.compare(Text.size() - length, length, Framing, 0, length) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<TCharacterCard> FindCharacterCards(const TKeys& Keys, const TCharacterFrame& Frame) {
    const TTypedText typed = TypedText(Keys);
    std::vector<TCharacterCard> cards;
    std::size_t position = 0;
    while (position < typed.Text.size()) {
        const std::optional<TFoundCard> found = FindCard(typed.Text, Frame, position);
        if (!found) {
            break;
        }
        position = found->Span.End;
        std::string data = CardData(typed.Text, Frame, *found);
        if (data.empty()) {
            continue;
        }
        int first = typed.Keys[found->Span.Start];
        while (first > 0 && IsModifierPress(*Keys.Items(first - 1))) {
            --first;
        }
        int last = typed.Keys[found->Span.End - 1];
        while (last + 1 < Keys.Count() && Keys.Items(last + 1)->KeyUp) {
            ++last;
        }
        cards.push_back(TCharacterCard{TKeyRange{first, last}, std::move(data)});
    }
    return cards;
}

TCardState CharacterCardState(const TKeys& Keys, const TCharacterFrame& Frame) {
    const std::string text = TypedText(Keys).Text;
    if (MayStillMatch(text, Frame.CardSuffix)) {
        return TCardState::Open;
    }
    for (const TCharacterTrack& track : Frame.Tracks) {
        if (track.Searched() &&
            (MayStillMatch(text, track.Prefix) || MayStillMatch(text, track.Suffix))) {
            return TCardState::Open;
        }
    }
    std::size_t position = 0;
    bool endsAtLastKey = false;
    while (position < text.size()) {
        const std::optional<TFoundCard> card = FindCard(text, Frame, position);
        if (!card) {
            break;
        }
        if (!card->Terminated) {
            if (!Frame.CardSuffix.empty() && card->Span.End == text.size()) {
                return TCardState::Open;  // its card suffix may still come
            }
            for (std::size_t t = 0; t < Frame.Tracks.size(); ++t) {
                if (Frame.Tracks[t].Searched() && !card->Tracks[t]) {
                    return TCardState::Open;  // a later track can still be this card's
                }
            }
        }
        endsAtLastKey = card->Span.End == text.size() && !CardData(text, Frame, *card).empty();
        position = card->Span.End;
    }
    for (const TCharacterTrack& track : Frame.Tracks) {
        if (track.Searched() && position < text.size() &&
            (track.Prefix.empty() || text.find(track.Prefix, position) != std::string::npos)) {
            return TCardState::Open;
        }
    }
    return endsAtLastKey ? TCardState::Complete : TCardState::Settled;
}

}  // namespace wedgecard
