#pragma once

// What the README's rules say a thread with open readers shows, computed from the keys typed
// alone: every key is held, a burst ends when no key has come for the quiet time, every open
// device of every driver object reads its cards in the burst, and the keys no card consumed go
// back to the window in the order they were typed, each with the keyboard state it was typed
// with. It is the reference TypingFuzzer holds the capture to, so it shares no code with the
// capture: it reads cards (by the track rules the README and the track search's interface in
// driver/capture/Keys.h state), keeps time and keyboard state, and makes the window's
// characters itself. Devices framed by characters are not modelled.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace wedgecard::typing_model {

// A key message as the thread's input queue hands it over, with the time it was retrieved.
struct TKeyMessage {
    std::uint32_t Message = 0;  // WM_KEYDOWN, WM_KEYUP or WM_SYSKEYDOWN
    std::uintptr_t WParam = 0;  // the virtual-key code
    std::intptr_t LParam = 0;   // repeat count, scan code and flags
    std::uint64_t Time = 0;
};

// One open key-code device: its driver object (by creation order), the quiet time it was opened
// with, its tracks' prefixes and suffixes (one byte a key code) and its identifier.
struct TDevice {
    std::size_t Object = 0;
    std::int32_t Sensitivity = 0;
    std::array<std::string, 3> Prefixes;
    std::array<std::string, 3> Suffixes;
    std::string Source;
};

// A message the window receives: message, code, the high word of its lParam, and the Shift
// (0x80) and Caps Lock (1) bits of the thread's keyboard state as it is dispatched.
using TWindowMessage = std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t, int>;

struct TCardEvent {
    std::string Source;
    std::string Data;
    bool operator==(const TCardEvent&) const = default;
};

struct TPrediction {
    std::vector<std::vector<TCardEvent>> Events;  // of each driver object, in order
    std::vector<TWindowMessage> Window;           // one message per repeat
};

// Devices in the order they were opened; Typed in the order the thread retrieves it.
[[nodiscard]] TPrediction Predict(std::size_t Objects, const std::vector<TDevice>& Devices,
                                  const std::vector<TKeyMessage>& Typed);

}  // namespace wedgecard::typing_model
