#include "bench/KeystrokeSender.h"

#include <array>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "driver/capture/Keys.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace benchpad {

namespace {

constexpr std::uint8_t ShiftKey = 16;

// The numeric pad repeats digits and operators; VkKeyScanExA answers with the main keys.
[[nodiscard]] constexpr bool IsNumericPad(int Code) noexcept {
    return Code >= 96 && Code <= 111;
}

using TScanTable = std::array<std::int16_t, 128>;

TScanTable MakeUsScanTable() {
    TScanTable table;
    table.fill(-1);
    // Rows 0 and 1 of the driver's layout: the plain key wins over the same character with
    // Shift, as in the real layout.
    for (int shift = 1; shift >= 0; --shift) {
        for (int code = 255; code > 0; --code) {
            const auto character =
                static_cast<unsigned char>(wedgecard::KeyChars[static_cast<std::size_t>(shift)]
                                                              [static_cast<std::size_t>(code)]);
            if (character >= 0x20 && character < 0x7F && !IsNumericPad(code)) {
                table[character] = static_cast<std::int16_t>((shift << 8) | code);
            }
        }
    }
    return table;
}

}  // namespace

std::string DecodeKeyCodes(std::string_view Text) {
    std::optional<std::string> codes = wedgecard::ParseKeyCodes(Text);
    if (!codes) {
        throw std::runtime_error(SInvalidKeyCodeFormat);
    }
    return *std::move(codes);
}

void PressKey(TKeyEvents& Events, std::uint8_t Code, std::uint8_t ShiftState) {
    const bool shifted = ShiftState == 1;
    if (shifted) {
        Events.push_back({ShiftKey, false});
    }
    Events.push_back({Code, false});
    Events.push_back({Code, true});
    if (shifted) {
        Events.push_back({ShiftKey, true});
    }
}

TKeyEvents ExpandTrack(std::string_view Prefix, std::string_view Suffix, std::string_view Data,
                       const TKeyScan& KeyScan) {
    TKeyEvents events;
    if (Data.empty()) {
        return events;
    }
    const std::string prefix = DecodeKeyCodes(Prefix);
    const std::string suffix = DecodeKeyCodes(Suffix);
    for (const char code : prefix) {
        PressKey(events, static_cast<std::uint8_t>(code), 0);
    }
    for (const char character : Data) {
        const auto scan = static_cast<std::uint16_t>(KeyScan(character));
        PressKey(events, static_cast<std::uint8_t>(scan & 0xFF),
                 static_cast<std::uint8_t>(scan >> 8));
    }
    for (const char code : suffix) {
        PressKey(events, static_cast<std::uint8_t>(code), 0);
    }
    return events;
}

void SendTracks(const TTrackTexts& Tracks, const TKeyScan& KeyScan, const TKeySink& Send) {
    std::array<TKeyEvents, std::tuple_size_v<TTrackTexts>> expanded;
    for (std::size_t track = 0; track < Tracks.size(); ++track) {
        expanded[track] =
            ExpandTrack(Tracks[track].Prefix, Tracks[track].Suffix, Tracks[track].Data, KeyScan);
    }
    for (const TKeyEvents& events : expanded) {
        if (!events.empty()) {
            Send(events);
        }
    }
}

std::int16_t UsLayoutKeyScan(char Character) noexcept {
    static const TScanTable table = MakeUsScanTable();
    const auto index = static_cast<unsigned char>(Character);
    return index < table.size() ? table[index] : std::int16_t{-1};
}

#ifdef _WIN32

void SendKeyEvents(const TKeyEvents& Events) {
    for (const TKeyEvent& event : Events) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = event.Code;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(event.Code, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = event.KeyUp ? KEYEVENTF_KEYUP : 0;
        SendInput(1, &input, sizeof input);
    }
}

void SendTracks(const TTrackTexts& Tracks) {
    // Loaded, not activated: it only translates the data, whatever layout the user has on.
    // The handle is never unloaded; loading it again gives the same one. Without it, the
    // table of the same layout stands in.
    HKL layout = LoadKeyboardLayoutA("00000409", 0);
    TKeyScan keyScan = UsLayoutKeyScan;
    if (layout != nullptr) {
        keyScan = [layout](char Character) {
            return static_cast<std::int16_t>(VkKeyScanExA(Character, layout));
        };
    }
    SendTracks(Tracks, keyScan, SendKeyEvents);
}

#endif

}  // namespace benchpad
