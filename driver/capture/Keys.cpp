#include "driver/capture/Keys.h"

#include <algorithm>

#include "driver/capture/PrefixMatcher.h"

namespace wedgecard {

namespace {

constexpr std::array<std::array<char, 256>, 4> MakeKeyChars() {
    std::array<std::array<char, 256>, 4> table{};
    auto both = [&table](std::size_t code, char plain, char shifted) {
        table[0][code] = table[2][code] = plain;
        table[1][code] = table[3][code] = shifted;
    };
    auto all = [&table](std::size_t code, char c) {
        for (auto& row : table) {
            row[code] = c;
        }
    };
    all(32, ' ');
    constexpr const char* digits = "0123456789";
    constexpr const char* shiftedDigits = ")!@#$%^&*(";
    for (std::size_t i = 0; i < 10; ++i) {
        both(48 + i, digits[i], shiftedDigits[i]);
        all(96 + i, digits[i]);
    }
    // Caps Lock swaps the case of letters only.
    for (std::size_t i = 0; i < 26; ++i) {
        const char lower = static_cast<char>('a' + i);
        const char upper = static_cast<char>('A' + i);
        table[0][65 + i] = lower;
        table[1][65 + i] = upper;
        table[2][65 + i] = upper;
        table[3][65 + i] = lower;
    }
    all(106, '*');
    all(107, '+');
    all(109, '-');
    all(110, '.');
    all(111, '/');
    both(186, ';', ':');
    both(187, '=', '+');
    both(188, ',', '<');
    both(189, '-', '_');
    both(190, '.', '>');
    both(191, '/', '?');
    both(192, '`', '~');
    both(219, '[', '{');
    both(220, '\\', '|');
    both(221, ']', '}');
    both(222, '\'', '"');
    return table;
}

constexpr std::array<std::string_view, 256> MakeKeyNames() {
    std::array<std::string_view, 256> names{};
    names[8] = "BackSpace";
    names[9] = "Tab";
    names[12] = "Clear";
    names[13] = "Enter";
    names[16] = "Shift";
    names[17] = "Ctrl";
    names[18] = "Alt";
    names[19] = "Pause";
    names[20] = "Caps lock";
    names[27] = "Escape";
    names[32] = "Space";
    names[33] = "PageUp";
    names[34] = "PageDown";
    names[35] = "End";
    names[36] = "Home";
    names[37] = "Left";
    names[38] = "Up";
    names[39] = "Right";
    names[40] = "Down";
    names[41] = "Select";
    names[43] = "Execute";
    names[44] = "Print screen";
    names[45] = "Insert";
    names[46] = "Delete";
    names[47] = "Help";
    constexpr std::string_view digitNames[] = {"0 )", "1 !", "2 @", "3 #", "4 $",
                                               "5 %", "6 ^", "7 &", "8 *", "9 ("};
    constexpr std::string_view letterNames[] = {
        "a A", "b B", "c C", "d D", "e E", "f F", "g G", "h H", "i I", "j J", "k K", "l L", "m M",
        "n N", "o O", "p P", "q Q", "r R", "s S", "t T", "u U", "v V", "w W", "x X", "y Y", "z Z"};
    constexpr std::string_view padNames[] = {"NumPad 0", "NumPad 1", "NumPad 2", "NumPad 3",
                                             "NumPad 4", "NumPad 5", "NumPad 6", "NumPad 7",
                                             "NumPad 8", "NumPad 9", "NumPad *", "NumPad +",
                                             "",         "NumPad -", "NumPad .", "NumPad /"};
    constexpr std::string_view functionNames[] = {
        "F1",  "F2",  "F3",  "F4",  "F5",  "F6",  "F7",  "F8",  "F9",  "F10", "F11", "F12",
        "F13", "F14", "F15", "F16", "F17", "F18", "F19", "F20", "F21", "F22", "F23", "F24"};
    for (std::size_t i = 0; i < 10; ++i) {
        names[48 + i] = digitNames[i];
    }
    for (std::size_t i = 0; i < 26; ++i) {
        names[65 + i] = letterNames[i];
    }
    for (std::size_t i = 0; i < 16; ++i) {
        names[96 + i] = padNames[i];
    }
    for (std::size_t i = 0; i < 24; ++i) {
        names[112 + i] = functionNames[i];
    }
    names[144] = "Num lock";
    names[145] = "Scroll lock";
    constexpr std::string_view extendedNames[] = {
        "Left SHIFT",      "Rigth SHIFT",  "Left CONTROL",   "Right CONTROL",
        "Left MENU",       "Right MENU",   "Browser Back",   "Browser Forward",
        "Browser Refresh", "Browser Stop", "Browser Search", "Browser Favorites",
        "Browser Home",    "Volume Mute",  "Volume Down",    "Volume UP",
        "Next Track",      "Prev Track",   "Stop Media",     "Play/Pause Media",
        "Start Mail",      "Select Media", "App 1",          "App 2"};
    for (std::size_t i = 0; i < 24; ++i) {
        names[160 + i] = extendedNames[i];
    }
    names[186] = "; :";
    names[187] = "= +";
    names[188] = ", <";
    names[189] = "- _";
    names[190] = ". >";
    names[191] = "/ ?";
    names[192] = "` ~";
    names[219] = "[ {";
    names[220] = "\\ |";
    names[221] = "] }";
    names[222] = "' \"";
    names[246] = "Attn";
    names[247] = "CrSel";
    names[248] = "ExSel";
    names[249] = "Erase EOF";
    names[250] = "Play";
    names[251] = "Zoom";
    names[254] = "OEM Clear";
    return names;
}

}  // namespace

const std::array<std::array<char, 256>, 4> KeyChars = MakeKeyChars();
const std::array<std::string_view, 256> KeyNames = MakeKeyNames();

char KeyChar(std::int32_t ShiftState, std::uint8_t Code) noexcept {
    return KeyChars[static_cast<std::size_t>(ShiftState & 3)][Code];
}

void TKey::Assign(const TKey& Source) noexcept {
    Msg = Source.Msg;
    ShiftState = Source.ShiftState;
    KeyUp = Source.KeyUp;
    KeyboardState = Source.KeyboardState;
}

// Calls Append(key, character) for every key of First..Last that a text shows.
template <class TAppend>
void TKeys::WalkText(int First, int Last, TAppend&& Append) const {
    First = std::max(First, 0);
    Last = std::min(Last, Count() - 1);
    for (int i = First; i <= Last; ++i) {
        const TKey& key = *Items(i);
        if (key.KeyUp || vk::IsModifier(key.Code())) {
            continue;
        }
        Append(key, KeyChar(key.ShiftState, key.Code()));
    }
}

std::string TKeys::GetText(int First, int Last, bool Escaped) const {
    std::string text;
    WalkText(First, Last, [&text, Escaped](const TKey& key, char c) {
        if (!Escaped) {
            if (c != 0) {
                text += c;
            }
        } else if (c == 0) {
            text += '#';
            text += std::to_string(key.Code());
            text += ';';
        } else if (c == '#') {
            text += "##";
        } else {
            text += c;
        }
    });
    return text;
}

std::string TKeys::GetDisplayText(int First, int Last) const {
    std::string text;
    int shown = 1;
    WalkText(First, Last, [&text, &shown](const TKey& key, char c) {
        if (c != 0) {
            text += c;
        } else {
            text += shown == 1 ? "#" : " #";
            text += std::to_string(key.Code());
            text += ' ';
        }
        ++shown;
    });
    return text;
}

bool TKeys::MatchCodes(int& Index, std::string_view Codes) const {
    return Compare(Index, Codes) == TMatch::Yes;
}

TKeys::TMatch TKeys::Compare(int& Index, std::string_view Codes) const {
    if (Codes.empty() || Index < 0) {
        return TMatch::No;
    }
    std::size_t matched = 0;
    for (; Index < Count(); ++Index) {
        const TKey& key = *Items(Index);
        const TCodeStep step = StepCodes(Codes, matched, key.KeyUp, key.Code());
        if (step == TCodeStep::Stop) {
            return matched == Codes.size() ? TMatch::Yes : TMatch::No;
        }
        if (step == TCodeStep::Advance) {
            ++matched;
        }
    }
    return matched == Codes.size() ? TMatch::Yes : TMatch::Pending;
}

bool TKeys::MayStillMatch(std::string_view Codes) const {
    if (Codes.empty()) {
        return false;
    }
    // Only from the last presses, fewer than Codes has: from further back the keys held decide.
    std::size_t presses = 0;
    for (int i = Count() - 1; i >= 0; --i) {
        const TKey& key = *Items(i);
        if (!key.KeyUp && !vk::IsModifier(key.Code()) && ++presses >= Codes.size()) {
            break;
        }
        int index = i;
        if (Compare(index, Codes) == TMatch::Pending) {
            return true;
        }
    }
    return false;
}

int TKeys::FindCodes(std::string_view Codes, int First, int Limit) const {
    for (int i = std::max(First, 0); i < Limit; ++i) {
        int matchEnd = i;
        if (MatchCodes(matchEnd, Codes)) {
            return i;
        }
    }
    return Limit;
}

bool TKeys::FindTrack(std::string_view Prefix, std::string_view Suffix, std::string& Text,
                      int& Stop, int& Start, int Limit) const {
    const int limit = std::min(Limit, Count());
    const int searchFrom = std::max(Start, 0);
    Text.clear();
    if (Prefix.empty() && Suffix.empty()) {
        return false;
    }

    int trackStart = searchFrom;
    int dataStart = searchFrom;
    if (!Prefix.empty()) {
        // Without its prefix there is no track: keys that merely end in the suffix key (a word
        // typed and Enter) would make one.
        trackStart = FindCodes(Prefix, searchFrom, limit);
        if (trackStart >= limit) {
            return false;
        }
        dataStart = trackStart;
        MatchCodes(dataStart, Prefix);
    }

    if (Suffix.empty()) {
        Text = GetText(dataStart, limit - 1, true);
        Start = trackStart;
        Stop = limit - 1;
        return true;
    }

    // Past Limit too: once its prefix is there, a track's data are whatever keys come before
    // its suffix. An earlier track's prefix key among them (the 5 of a track 1 framed by its %,
    // Shift+5, in the digits of track 2) begins no next card there.
    const int suffixStart = FindCodes(Suffix, dataStart, Count());
    if (suffixStart >= Count()) {
        return false;
    }
    int suffixEnd = suffixStart;
    MatchCodes(suffixEnd, Suffix);
    Start = trackStart;
    Stop = suffixEnd;
    Text = GetText(dataStart, suffixStart - 1, true);
    return true;
}

bool TKeys::FindTracks(const TTemplates& Templates, int& Start, TTracks& Tracks, int& Stop,
                       TTracksFound* Found) const {
    for (auto& track : Tracks) {
        track.clear();
    }
    int position = std::max(Start, 0);
    Start = Count() - 1;
    Stop = 0;
    bool found = false;
    std::array<int, 3> starts{};
    std::array<bool, 3> taken{};
    for (std::size_t t = 0; t < Templates.size(); ++t) {
        const TTrackTemplate& frame = Templates[t];
        // The card ends where the prefix of a track it already has comes again: that is the
        // next card. A prefix shared with this track tells nothing; the order decides then.
        // A track without a prefix matches from the search position whatever follows.
        int limit = Count();
        for (std::size_t a = 0; a < t && !frame.Prefix.empty(); ++a) {
            const std::string& prefix = Templates[a].Prefix;
            if (taken[a] && !prefix.empty() && prefix != frame.Prefix) {
                limit = FindCodes(prefix, std::max(position, starts[a] + 1), limit);
            }
        }
        int trackStart = position;
        int trackEnd = 0;
        std::string text;
        if (!FindTrack(frame.Prefix, frame.Suffix, text, trackEnd, trackStart, limit)) {
            continue;
        }
        // A later track complete before this one is a card without this track, ahead of it.
        bool laterCardFirst = false;
        for (std::size_t l = t + 1; l < Templates.size() && !laterCardFirst; ++l) {
            const TTrackTemplate& later = Templates[l];
            if (later.Prefix.empty() || later.Suffix.empty()) {
                continue;
            }
            int laterStart = position;
            int laterEnd = 0;
            std::string laterText;
            laterCardFirst = FindTrack(later.Prefix, later.Suffix, laterText, laterEnd, laterStart,
                                       trackStart) &&
                             laterEnd <= trackStart;
        }
        if (laterCardFirst) {
            continue;
        }
        Tracks[t] = std::move(text);
        taken[t] = true;
        starts[t] = trackStart;
        found = true;
        Start = std::min(Start, trackStart);
        if (frame.Suffix.empty()) {
            // An unframed track runs to the end, and the search stays at its start.
            Stop = std::max(Stop, trackEnd);
            position = trackStart;
        } else {
            // A framed track ends with its suffix keys and their releases; trackEnd is the
            // first key press after them, which a person may already have typed and which is
            // not the card's. The next track is searched from there.
            Stop = std::max(Stop, trackEnd - 1);
            position = trackEnd;
        }
    }
    if (Found != nullptr) {
        *Found = taken;
    }
    return found;
}

TCardState TKeys::CardState(const TTemplates& Templates) const {
    // Held keys H, keys still to come C. Every comparison at a held key is decided by H once no
    // code string may still match from one of the last keys; every search that found what it
    // sought in H finds the same in H followed by C. What C can still change: a search that
    // found nothing, or a track without a suffix (it runs to the last key). So each card read
    // in H must have every track configured, each with its suffix; and the keys after the last
    // card, if any, must be unable to begin a track. Then H followed by C reads as H's cards
    // (the last one taking C's leading releases, which come before the next press) and then
    // as C on its own.
    bool configured = false;
    for (const TTrackTemplate& frame : Templates) {
        if (frame.Prefix.empty() && frame.Suffix.empty()) {
            continue;
        }
        configured = true;
        if (frame.Suffix.empty() || MayStillMatch(frame.Prefix) || MayStillMatch(frame.Suffix)) {
            return TCardState::Open;
        }
    }
    if (!configured) {
        return TCardState::Settled;
    }
    const int count = Count();
    int position = 0;
    bool endsAtLastKey = false;
    while (position < count) {
        TTracks tracks;
        TTracksFound found{};
        int start = position;
        int stop = 0;
        if (!FindTracks(Templates, start, tracks, stop, &found)) {
            break;
        }
        for (std::size_t t = 0; t < Templates.size(); ++t) {
            if (!found[t] && !(Templates[t].Prefix.empty() && Templates[t].Suffix.empty())) {
                return TCardState::Open;  // a later track can still be this card's
            }
        }
        endsAtLastKey =
            stop == count - 1 && std::any_of(tracks.begin(), tracks.end(),
                                             [](const std::string& text) { return !text.empty(); });
        position = stop + 1;
    }
    for (int i = position; i < count; ++i) {
        for (const TTrackTemplate& frame : Templates) {
            int index = i;
            // A track without a prefix would begin where the search stands.
            if (frame.Prefix.empty() ? !frame.Suffix.empty() : MatchCodes(index, frame.Prefix)) {
                return TCardState::Open;
            }
        }
    }
    return endsAtLastKey ? TCardState::Complete : TCardState::Settled;
}

std::optional<std::string> ParseKeyCodes(std::string_view Text) {
    std::string codes;
    if (Text.empty()) {
        return codes;
    }
    if (Text.front() != '#') {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    bool haveDigits = false;
    auto flush = [&]() {
        if (!haveDigits || value > 255) {
            return false;
        }
        codes += static_cast<char>(value);
        value = 0;
        haveDigits = false;
        return true;
    };
    for (std::size_t i = 1; i < Text.size(); ++i) {
        const char c = Text[i];
        const bool last = i + 1 == Text.size();
        if (c == '#') {
            if (last || !flush()) {
                return std::nullopt;
            }
        } else if (c >= '0' && c <= '9') {
            // Anything above 255 fails anyway; stop growing before it could overflow.
            value = std::min<std::uint32_t>(value * 10 + static_cast<std::uint32_t>(c - '0'), 256);
            haveDigits = true;
            if (last && !flush()) {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    }
    return codes;
}

}  // namespace wedgecard
