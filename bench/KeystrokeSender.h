#pragma once

// The swipe simulator of the bench: a card's three tracks typed as synthetic keystrokes, each
// framed by its prefix and suffix keys. The expansion into key events is plain logic; only
// SendKeyEvents and the functions beside it talk to Windows.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace benchpad {

inline constexpr const char* SInvalidKeyCodeFormat = "Неверный формат строки префикса/суффикса";

// One synthetic keyboard input: a virtual key pressed or released.
struct TKeyEvent {
    std::uint8_t Code = 0;
    bool KeyUp = false;

    friend bool operator==(const TKeyEvent&, const TKeyEvent&) = default;
};
using TKeyEvents = std::vector<TKeyEvent>;

// What VkKeyScanExA answers for a character: the virtual key in the low byte and the shift state
// (1 Shift, 2 Ctrl, 4 Alt, or their sum) in the high byte; -1 for a character without a key.
using TKeyScan = std::function<std::int16_t(char Character)>;

// The texts of one track as the tab "Посылка" holds them.
struct TTrackText {
    std::string Prefix;
    std::string Data;
    std::string Suffix;
};
using TTrackTexts = std::array<TTrackText, 3>;

using TKeySink = std::function<void(const TKeyEvents& Events)>;

// The driver's key-code notation ("#9#13") with the bench's own plain error: std::runtime_error
// with SInvalidKeyCodeFormat, whichever text and track it is.
[[nodiscard]] std::string DecodeKeyCodes(std::string_view Text);

// Press and release of Code, inside a Shift press and release only when ShiftState is exactly 1:
// a character that needs Ctrl or Alt goes out as its bare key.
void PressKey(TKeyEvents& Events, std::uint8_t Code, std::uint8_t ShiftState);

// Every key of one track: the prefix codes, the keys of the data characters, the suffix codes.
// Empty Data gives nothing, and then the prefix and suffix are not even decoded. Both are
// decoded before any key is produced, so a malformed one yields no key of the track.
[[nodiscard]] TKeyEvents ExpandTrack(std::string_view Prefix, std::string_view Suffix,
                                     std::string_view Data, const TKeyScan& KeyScan);

// Tracks 1 to 3 in order, each handed to Send as one batch. All three are expanded before the
// first is sent: a malformed track sends nothing at all. Keys sent before an error would
// reach the box that shows it, and a suffix Enter among them would close it unseen.
void SendTracks(const TTrackTexts& Tracks, const TKeyScan& KeyScan, const TKeySink& Send);

// VkKeyScanExA of the US layout for printable ASCII (what the bench translates data with,
// whatever layout is active); -1 for every other character.
[[nodiscard]] std::int16_t UsLayoutKeyScan(char Character) noexcept;

#ifdef _WIN32
// One SendInput call per event, with the key's scan code. Results are not checked: keys the
// system refuses are lost.
void SendKeyEvents(const TKeyEvents& Events);

// The command "Отправить данные": tracks 1 to 3 typed into the input stream, their characters
// translated with the US layout, nothing of them when one is malformed.
void SendTracks(const TTrackTexts& Tracks);
#endif

}  // namespace benchpad
