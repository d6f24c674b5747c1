#include "driver/capture/CharacterCards.h"

#include <algorithm>
#include <cctype>

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

std::optional<TCharacterCard> FindCharacterCard(const TKeys& Keys, const TCharacterFrame& Frame) {
    if (!Frame.Prefix && !Frame.Suffix) {
        return std::nullopt;
    }
    const int count = Keys.Count();
    auto typed = [&Keys](int Index) { return TypedCharacter(*Keys.Items(Index)); };

    int first = 0;
    int start = 0;
    if (Frame.Prefix) {
        while (first < count && typed(first) != *Frame.Prefix) {
            ++first;
        }
        if (first == count) {
            return std::nullopt;
        }
        start = first;
        while (start > 0 && IsModifierPress(*Keys.Items(start - 1))) {
            --start;
        }
    }

    int last = count - 1;
    int stop = count - 1;
    if (Frame.Suffix) {
        // After the prefix key itself, which may type the same character.
        const int lowest = Frame.Prefix ? first + 1 : 0;
        while (last >= lowest && typed(last) != *Frame.Suffix) {
            --last;
        }
        if (last < lowest) {
            return std::nullopt;
        }
        stop = last;
        while (stop + 1 < count && Keys.Items(stop + 1)->KeyUp) {
            ++stop;
        }
    }

    TCharacterCard card{TKeyRange{start, stop}, {}};
    bool holdsData = false;
    for (int i = first; i <= last; ++i) {
        const char c = typed(i);
        if (c == 0) {
            continue;
        }
        card.Text += c;
        holdsData = holdsData || (c != '\r' && c != '\t' && c != Frame.Prefix.value_or(0) &&
                                  c != Frame.Suffix.value_or(0));
    }
    if (!holdsData) {
        return std::nullopt;
    }
    return card;
}

TCardState CharacterCardState(const TKeys& Keys, const TCharacterFrame& Frame) {
    for (int i = 0; i < Keys.Count(); ++i) {
        if (!Frame.Prefix || TypedCharacter(*Keys.Items(i)) == *Frame.Prefix) {
            return TCardState::Open;
        }
    }
    return TCardState::Settled;
}

}  // namespace wedgecard
