#include "fuzz/TypingModel.h"

#include <algorithm>
#include <optional>

namespace wedgecard::typing_model {

namespace {

// Windows' numbers, spelled out here so that nothing of the capture comes in with a header.
constexpr std::uint32_t KeyDownMessage = 0x0100;
constexpr std::uint32_t CharMessage = 0x0102;
constexpr std::uint32_t SysKeyDownMessage = 0x0104;
constexpr std::uint32_t SysCharMessage = 0x0106;
constexpr std::uint8_t ShiftKey = 16;
constexpr std::uint8_t CapsLockKey = 20;

// One key of a burst: a message of repeat count n is n keys.
struct TKey {
    std::uint32_t Message = 0;
    std::uint8_t Code = 0;
    bool Press = false;
    std::intptr_t High = 0;
    bool Shift = false;
    bool CapsLock = false;
    std::uint64_t Time = 0;
};
using TBurst = std::vector<TKey>;

bool IsModifier(std::uint8_t Code) {
    return Code == 16 || Code == 17 || Code == 18;  // Shift, Ctrl, Alt
}

// The character a US keyboard types with a key, as TranslateMessage makes it; 0 for none. The
// keys the fuzz types: letters, the digit row, ';', Tab and Enter.
char TypedChar(const TKey& Key) {
    const std::uint8_t code = Key.Code;
    if (code >= 'A' && code <= 'Z') {
        return static_cast<char>(Key.Shift != Key.CapsLock ? code : code - 'A' + 'a');
    }
    if (code >= '0' && code <= '9') {
        return Key.Shift ? ")!@#$%^&*("[code - '0'] : static_cast<char>(code);
    }
    if (code == 186) {
        return Key.Shift ? ':' : ';';
    }
    if (code == 9 || code == 13) {
        return static_cast<char>(code);
    }
    return 0;
}

// A track's data as the card's event shows it: printable characters as typed ('#' doubled),
// every other key press as "#code;", releases and Shift, Ctrl and Alt left out.
std::string TrackText(const TBurst& Keys, int First, int Last) {
    std::string text;
    for (int i = std::max(First, 0); i <= Last && i < static_cast<int>(Keys.size()); ++i) {
        const TKey& key = Keys[static_cast<std::size_t>(i)];
        if (!key.Press || IsModifier(key.Code)) {
            continue;
        }
        const char c = TypedChar(key);
        if (static_cast<unsigned char>(c) >= 32) {
            text += c == '#' ? "##" : std::string(1, c);
        } else {
            text += "#" + std::to_string(key.Code) + ";";
        }
    }
    return text;
}

// Whether the presses from At on type Codes, as the track search matches a prefix or suffix:
// Shift, Ctrl and Alt presses are stepped over, a release ends the match before its first code
// and is stepped over after it. Gives the position after the match and the releases that end
// it (the next key press), or nothing.
std::optional<int> Types(const TBurst& Keys, int At, const std::string& Codes) {
    if (Codes.empty()) {
        return std::nullopt;
    }
    std::size_t typed = 0;
    int i = At;
    for (; i < static_cast<int>(Keys.size()); ++i) {
        const TKey& key = Keys[static_cast<std::size_t>(i)];
        if (!key.Press) {
            if (typed == 0) {
                return std::nullopt;
            }
            continue;
        }
        if (typed == Codes.size()) {
            break;
        }
        if (IsModifier(key.Code)) {
            continue;
        }
        if (key.Code != static_cast<std::uint8_t>(Codes[typed])) {
            return std::nullopt;
        }
        ++typed;
    }
    return typed == Codes.size() ? std::optional<int>(i) : std::nullopt;
}

// Where Codes is first typed from From on, beginning before Limit; Limit when nowhere.
int Find(const TBurst& Keys, const std::string& Codes, int From, int Limit) {
    for (int i = std::max(From, 0); i < Limit; ++i) {
        if (Types(Keys, i, Codes)) {
            return i;
        }
    }
    return Limit;
}

struct TTrack {
    int Start = 0;  // its prefix, or where the search stood
    int End = 0;    // past its suffix and the releases after it; the last key without a suffix
    std::string Text;
};

// A track searched from From: it begins at its prefix (before Limit), or where the search
// stands when it has none; it ends at its suffix, wherever that is, or, without one, at Limit.
std::optional<TTrack> FindTrack(const TBurst& Keys, const std::string& Prefix,
                                const std::string& Suffix, int From, int Limit) {
    const int count = static_cast<int>(Keys.size());
    Limit = std::min(Limit, count);
    if (Prefix.empty() && Suffix.empty()) {
        return std::nullopt;
    }
    TTrack track;
    track.Start = std::max(From, 0);
    int data = track.Start;
    if (!Prefix.empty()) {
        track.Start = Find(Keys, Prefix, track.Start, Limit);
        if (track.Start >= Limit) {
            return std::nullopt;
        }
        data = *Types(Keys, track.Start, Prefix);
    }
    if (Suffix.empty()) {
        track.End = Limit - 1;
        track.Text = TrackText(Keys, data, Limit - 1);
        return track;
    }
    const int suffix = Find(Keys, Suffix, data, count);
    if (suffix >= count) {
        return std::nullopt;
    }
    track.End = *Types(Keys, suffix, Suffix);
    track.Text = TrackText(Keys, data, suffix - 1);
    return track;
}

struct TCard {
    int First = 0;
    int Last = 0;
    std::string Data;
    std::string Source;
};

// A device's next card from From on: its tracks in their order. The card ends where the prefix
// of a track it already has comes again, and a track is not this card's when a later track of
// it, framed both ways, is complete before the track begins (that is a card of its own, ahead).
std::optional<TCard> FindCard(const TBurst& Keys, const TDevice& Device, int From) {
    const int count = static_cast<int>(Keys.size());
    TCard card{count - 1, 0, {}, Device.Source};
    int position = std::max(From, 0);
    std::array<std::optional<int>, 3> began;
    std::array<std::string, 3> texts;
    for (std::size_t t = 0; t < 3; ++t) {
        const std::string& prefix = Device.Prefixes[t];
        int limit = count;
        for (std::size_t a = 0; a < t && !prefix.empty(); ++a) {
            if (began[a] && !Device.Prefixes[a].empty() && Device.Prefixes[a] != prefix) {
                limit = Find(Keys, Device.Prefixes[a], std::max(position, *began[a] + 1), limit);
            }
        }
        const std::optional<TTrack> track =
            FindTrack(Keys, prefix, Device.Suffixes[t], position, limit);
        if (!track) {
            continue;
        }
        bool laterFirst = false;
        for (std::size_t l = t + 1; l < 3 && !laterFirst; ++l) {
            if (Device.Prefixes[l].empty() || Device.Suffixes[l].empty()) {
                continue;
            }
            const std::optional<TTrack> later =
                FindTrack(Keys, Device.Prefixes[l], Device.Suffixes[l], position, track->Start);
            laterFirst = later && later->End <= track->Start;
        }
        if (laterFirst) {
            continue;
        }
        began[t] = track->Start;
        texts[t] = track->Text;
        card.First = std::min(card.First, track->Start);
        if (Device.Suffixes[t].empty()) {
            // It runs to the end, and the next track is searched from where it begins.
            card.Last = std::max(card.Last, track->End);
            position = track->Start;
        } else {
            // The suffix's releases are the card's; the next key press is not.
            card.Last = std::max(card.Last, track->End - 1);
            position = track->End;
        }
    }
    if (std::none_of(began.begin(), began.end(), [](const auto& start) { return start; })) {
        return std::nullopt;
    }
    for (std::size_t t = 0; t < 3; ++t) {
        card.Data += "@" + std::to_string(t + 1);
        for (const char c : texts[t]) {
            card.Data += c == '@' ? std::string("@@") : std::string(1, c);
        }
    }
    // Tracks that are all empty are no card, but the search goes on after them.
    if (std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return t.empty(); })) {
        card.Data.clear();
    }
    return card;
}

// The cards one object's devices read in a burst, in the order they were swiped; a card several
// of its devices read goes to them in the order of their opening.
std::vector<TCard> ReadCards(const TBurst& Keys, const std::vector<const TDevice*>& Devices) {
    std::vector<std::vector<TCard>> read(Devices.size());
    for (std::size_t d = 0; d < Devices.size(); ++d) {
        int position = 0;
        while (position < static_cast<int>(Keys.size())) {
            std::optional<TCard> card = FindCard(Keys, *Devices[d], position);
            if (!card) {
                break;
            }
            position = card->Last + 1;
            if (!card->Data.empty()) {
                read[d].push_back(std::move(*card));
            }
        }
    }
    std::vector<TCard> cards;
    std::vector<std::size_t> next(read.size(), 0);
    auto pending = [&](std::size_t d) { return next[d] < read[d].size(); };
    while (true) {
        std::optional<std::size_t> earliest;
        for (std::size_t d = 0; d < read.size(); ++d) {
            if (pending(d) &&
                (!earliest || read[d][next[d]].First < read[*earliest][next[*earliest]].First)) {
                earliest = d;
            }
        }
        if (!earliest) {
            return cards;
        }
        std::size_t chosen = *earliest;
        const TCard& first = read[*earliest][next[*earliest]];
        for (std::size_t d = 0; d < *earliest; ++d) {
            if (pending(d) && read[d][next[d]].First <= first.Last) {
                chosen = d;
                break;
            }
        }
        cards.push_back(read[chosen][next[chosen]++]);
    }
}

}  // namespace

TPrediction Predict(std::size_t Objects, const std::vector<TDevice>& Devices,
                    const std::vector<TKeyMessage>& Typed) {
    // Each object waits the quiet time it was last opened with; the burst, held for all of them,
    // the longest of those.
    std::vector<std::optional<std::int32_t>> quiet(Objects);
    std::vector<std::vector<const TDevice*>> devices(Objects);
    for (const TDevice& device : Devices) {
        quiet[device.Object] = device.Sensitivity;
        devices[device.Object].push_back(&device);
    }
    std::uint64_t longest = 0;
    for (const auto& q : quiet) {
        longest = std::max<std::uint64_t>(longest, static_cast<std::uint64_t>(q.value_or(0)));
    }

    // The keyboard state follows the keys as they are typed: Caps Lock toggles on a press that
    // finds it released.
    std::array<std::uint8_t, 256> state{};
    std::vector<TBurst> bursts;
    for (const TKeyMessage& message : Typed) {
        const auto code = static_cast<std::uint8_t>(message.WParam & 0xFF);
        const bool press =
            message.Message == KeyDownMessage || message.Message == SysKeyDownMessage;
        if (press) {
            if ((state[code] & 0x80) == 0) {
                state[code] ^= 1;
            }
            state[code] |= 0x80;
        } else {
            state[code] &= 0x7F;
        }
        if (bursts.empty() || message.Time >= bursts.back().back().Time + longest) {
            bursts.emplace_back();
        }
        const TKey key{message.Message,
                       code,
                       press,
                       message.LParam >> 16,
                       (state[ShiftKey] & 0x80) != 0,
                       (state[CapsLockKey] & 1) != 0,
                       message.Time};
        bursts.back().insert(bursts.back().end(), static_cast<std::size_t>(message.LParam & 0xFFFF),
                             key);
        if (bursts.back().empty()) {
            bursts.pop_back();
        }
    }

    TPrediction prediction;
    prediction.Events.resize(Objects);
    for (const TBurst& burst : bursts) {
        std::vector<bool> consumed(burst.size(), false);
        for (std::size_t o = 0; o < Objects; ++o) {
            for (const TCard& card : ReadCards(burst, devices[o])) {
                prediction.Events[o].push_back(TCardEvent{card.Source, card.Data});
                for (int i = card.First; i <= card.Last && i < static_cast<int>(burst.size());
                     ++i) {
                    consumed[static_cast<std::size_t>(i)] = true;
                }
            }
        }
        for (std::size_t i = 0; i < burst.size(); ++i) {
            if (consumed[i]) {
                continue;
            }
            const TKey& key = burst[i];
            const int shown = (key.Shift ? 0x80 : 0) | (key.CapsLock ? 1 : 0);
            prediction.Window.emplace_back(key.Message, key.Code, key.High, shown);
            if (const char c = key.Press ? TypedChar(key) : 0; c != 0) {
                prediction.Window.emplace_back(
                    key.Message == KeyDownMessage ? CharMessage : SysCharMessage,
                    static_cast<unsigned char>(c), key.High, shown);
            }
        }
    }
    return prediction;
}

}  // namespace wedgecard::typing_model
