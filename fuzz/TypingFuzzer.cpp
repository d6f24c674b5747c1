// The capture as it ships (typing passes, a complete card ends its burst at once) against what
// the README's rules say the thread shows, computed by a model that shares no code with the
// capture (TypingModel.h: every key held, each burst waiting the quiet time, every device of
// every object reading its cards, the rest given back in order with its keyboard state), over
// the same driver objects, devices, keys and pauses: framings as readers are set up (one key or
// two per prefix and suffix, tracks left out or framed by a suffix alone) and random ones
// (modifiers, framing keys that are also typing keys such as Tab and Enter), random keys, whole
// cards of a device with random data and an extra key after their last suffix, single framed
// tracks, pauses around the quiet time, one or two driver objects. Both must raise the same
// events for each object (order, source, data) and give the window the same key messages and
// characters in the same order (Shift and Caps Lock state included). The host's queue may be
// full for a while, so that keys come while others wait to go back. Devices framed by
// characters are not typed here.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "driver/capture/KeyboardHook.h"
#include "driver/core/KBDDriver.h"
#include "driver/core/LumMSRTypes.h"
#include "driver/diagnostics/LogFile.h"
#include "fuzz/TypingModel.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeThread.h"

using namespace wedgecard;
using namespace wedgecard::test;

namespace {

// Framing and typing keys: Tab, Enter, PageUp, PageDown, End, F1, letters, a digit, ';', Shift,
// Ctrl, Alt, Caps Lock.
constexpr std::uint8_t KeyAlphabet[] = {9, 13, 33, 34, 35, 112, 'A', 'B', '1', 186, 16, 17, 18, 20};
// Codes of random prefixes and suffixes; Shift in a prefix never matches.
constexpr std::uint8_t CodeAlphabet[] = {9, 13, 33, 'A', 'B', '1', 186, 16};
// Keys that readers frame tracks with.
constexpr std::uint8_t FramingKeys[] = {9, 13, 33, 34, 35, 36, 112, 113};

struct TDeviceSettings {
    std::size_t Object = 0;
    std::int32_t Sensitivity = 100;
    std::array<std::string, 6> Codes;  // prefix and suffix of tracks 1 to 3, one byte a code
};

struct TStep {
    enum EKind { Down, Up, SysDown, Frame, Card, Wait, QueueFull, QueueRoom } Kind;
    std::uint8_t Code = 0;
    std::uint16_t Repeat = 1;
    std::size_t Device = 0;
    std::size_t Track = 0;
    std::uint32_t Milliseconds = 0;
    std::vector<std::uint8_t> Data;  // of each track of a card
    int Extra = 0;                   // after a card: nothing, its last suffix key again, Code
};

struct TScript {
    std::size_t Objects = 1;
    std::vector<TDeviceSettings> Devices;
    std::vector<TStep> Steps;
};

template <std::size_t N>
std::uint8_t Pick(FuzzedDataProvider& Input, const std::uint8_t (&Alphabet)[N]) {
    return Alphabet[Input.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
}

std::string PickCodes(FuzzedDataProvider& Input, int Most) {
    std::string codes;
    const int count = Input.ConsumeIntegralInRange(0, Most);
    for (int i = 0; i < count; ++i) {
        codes += static_cast<char>(Pick(Input, CodeAlphabet));
    }
    return codes;
}

// A track as readers frame it: left out, prefix and suffix, suffix alone, or two keys each.
void PickFraming(FuzzedDataProvider& Input, std::string& Prefix, std::string& Suffix) {
    const int kind = Input.ConsumeIntegralInRange(0, 4);
    const int keys = kind == 4 ? 2 : 1;
    for (int i = 0; kind != 0 && i < keys; ++i) {
        if (kind != 3) {
            Prefix += static_cast<char>(Pick(Input, FramingKeys));
        }
        Suffix += static_cast<char>(Pick(Input, FramingKeys));
    }
}

TScript ReadScript(FuzzedDataProvider& Input) {
    TScript script;
    script.Objects = Input.ConsumeIntegralInRange<std::size_t>(1, 2);
    const int devices = Input.ConsumeIntegralInRange(1, 3);
    std::int32_t quiet = 0;
    for (int d = 0; d < devices; ++d) {
        TDeviceSettings& device = script.Devices.emplace_back();
        device.Object = Input.ConsumeIntegralInRange<std::size_t>(0, script.Objects - 1);
        device.Sensitivity = Input.ConsumeIntegralInRange(20, 150);
        quiet = std::max(quiet, device.Sensitivity);
        const bool framed = Input.ConsumeBool();
        for (std::size_t t = 0; t < 3; ++t) {
            if (framed) {
                PickFraming(Input, device.Codes[2 * t], device.Codes[2 * t + 1]);
            } else {
                device.Codes[2 * t] = PickCodes(Input, 3);
                device.Codes[2 * t + 1] = PickCodes(Input, 2);
            }
        }
    }
    const auto longest = static_cast<std::uint32_t>(quiet);
    const int steps = Input.ConsumeIntegralInRange(0, 120);
    for (int s = 0; s < steps && Input.remaining_bytes() > 0; ++s) {
        TStep step{};
        switch (Input.ConsumeIntegralInRange(0, 12)) {
            case 0:
            case 1:
            case 2:
                step.Kind = TStep::Down;
                step.Repeat = Input.ConsumeIntegralInRange<std::uint16_t>(1, 3);
                break;
            case 3:
            case 4:
            case 5:
                step.Kind = TStep::Up;
                break;
            case 6:
                step.Kind = TStep::SysDown;
                break;
            case 7:
                step.Kind = TStep::Frame;
                step.Device =
                    Input.ConsumeIntegralInRange<std::size_t>(0, script.Devices.size() - 1);
                step.Track = Input.ConsumeIntegralInRange<std::size_t>(0, 2);
                break;
            case 8:
                step.Kind = TStep::Card;
                step.Device =
                    Input.ConsumeIntegralInRange<std::size_t>(0, script.Devices.size() - 1);
                for (int i = Input.ConsumeIntegralInRange(0, 4); i > 0; --i) {
                    step.Data.push_back(Pick(Input, KeyAlphabet));
                }
                step.Extra = Input.ConsumeIntegralInRange(0, 2);
                break;
            case 9:
                step.Kind = Input.ConsumeBool() ? TStep::QueueFull : TStep::QueueRoom;
                break;
            default: {
                step.Kind = TStep::Wait;
                const std::uint32_t around[] = {0,       1,           longest / 2, longest - 1,
                                                longest, longest + 1, 2 * longest};
                step.Milliseconds =
                    Input.ConsumeBool()
                        ? around[Input.ConsumeIntegralInRange<std::size_t>(0,
                                                                           std::size(around) - 1)]
                        : Input.ConsumeIntegralInRange<std::uint32_t>(0, 3 * longest);
                break;
            }
        }
        step.Code = Pick(Input, KeyAlphabet);
        script.Steps.push_back(std::move(step));
    }
    return script;
}

// What a run showed: each object's events, and the window's key messages and characters in the
// order it received them, one message per repeat.
struct TOutcome {
    std::vector<std::vector<THostEvent>> Events;
    std::vector<typing_model::TWindowMessage> Window;
    int Held = 0;
};

std::string Text(const std::string& Codes) {
    std::string text;
    for (const char code : Codes) {
        text += "#" + std::to_string(static_cast<std::uint8_t>(code));
    }
    return text;
}

// The keys of a script as the thread's input queue hands them over, for the model: each is
// retrieved at the time it was typed, since the thread pumps before it moves its clock. Repeat
// count, scan code and flags as the fake thread sets them.
class TTypist {
public:
    void KeyDown(std::uint8_t Code, std::uint16_t Repeat = 1) { Add(wm::KeyDown, Code, Repeat); }
    void KeyUp(std::uint8_t Code) { Add(wm::KeyUp, Code, 1); }
    void SysKeyDown(std::uint8_t Code) { Add(wm::SysKeyDown, Code, 1); }
    void Tap(std::uint8_t Code) {
        KeyDown(Code);
        KeyUp(Code);
    }
    void TapCodes(const std::string& Codes) {
        for (const char code : Codes) {
            Tap(static_cast<std::uint8_t>(code));
        }
    }
    void Advance(std::uint32_t Milliseconds) { FNow += Milliseconds; }

    std::vector<typing_model::TKeyMessage> Typed;

private:
    void Add(std::uint32_t Message, std::uint8_t Code, std::uint16_t Repeat) {
        std::uintptr_t lParam = Repeat | (std::uintptr_t{Code} << 16);
        if (Message == wm::KeyUp) {
            lParam |= 0xC0000000u;
        }
        Typed.push_back(
            typing_model::TKeyMessage{Message, Code, static_cast<std::intptr_t>(lParam), FNow});
    }
    std::uint64_t FNow = 0;
};

// A whole card of a device: each configured track's prefix, data and suffix, in track order.
template <class TKeyboard>
void TypeCard(TKeyboard& Keyboard, const TDeviceSettings& Device, const TStep& Step) {
    std::string lastSuffix;
    for (std::size_t t = 0; t < 3; ++t) {
        const std::string& prefix = Device.Codes[2 * t];
        const std::string& suffix = Device.Codes[2 * t + 1];
        if (prefix.empty() && suffix.empty()) {
            continue;
        }
        Keyboard.TapCodes(prefix);
        for (const std::uint8_t code : Step.Data) {
            Keyboard.Tap(code);
        }
        Keyboard.TapCodes(suffix);
        if (!suffix.empty()) {
            lastSuffix = suffix;
        }
    }
    if (Step.Extra == 1 && !lastSuffix.empty()) {
        Keyboard.Tap(static_cast<std::uint8_t>(lastSuffix.back()));
    } else if (Step.Extra == 2) {
        Keyboard.Tap(Step.Code);
    }
}

// Types the script's keys and pauses; QueueRoom(false) fills the host's queue, QueueRoom(true)
// makes room in it again. Every burst ends at the close.
template <class TKeyboard, class TQueueRoom>
void TypeScript(const TScript& Script, TKeyboard& Keyboard, TQueueRoom&& QueueRoom) {
    for (const TStep& step : Script.Steps) {
        switch (step.Kind) {
            case TStep::Down:
                Keyboard.KeyDown(step.Code, step.Repeat);
                break;
            case TStep::Up:
                Keyboard.KeyUp(step.Code);
                break;
            case TStep::SysDown:
                Keyboard.SysKeyDown(step.Code);
                break;
            case TStep::Frame: {
                const auto& codes = Script.Devices[step.Device].Codes;
                Keyboard.TapCodes(codes[2 * step.Track]);
                Keyboard.Tap(step.Code);
                Keyboard.TapCodes(codes[2 * step.Track + 1]);
                break;
            }
            case TStep::Card:
                TypeCard(Keyboard, Script.Devices[step.Device], step);
                break;
            case TStep::Wait:
                Keyboard.Advance(step.Milliseconds);
                break;
            case TStep::QueueFull:
                QueueRoom(false);
                break;
            case TStep::QueueRoom:
                QueueRoom(true);
                break;
        }
    }
    QueueRoom(true);
    Keyboard.Advance(2000);
}

// The capture as it ships; Sources receives each device's identifier, in the order opened.
TOutcome Play(const TScript& Script, std::vector<std::string>& Sources) {
    TFakeThread thread;
    const TWindowHandle window = thread.CreateWindow("edit");
    TFakeGuids guids;
    TFakeModule module;
    TFakeDeviceTestDialog dialog;
    TOutcome outcome;
    outcome.Events.resize(Script.Objects);
    std::vector<std::unique_ptr<TKBDDriver>> drivers;
    for (std::size_t o = 0; o < Script.Objects; ++o) {
        TKBDDriver& driver = *drivers.emplace_back(
            std::make_unique<TKBDDriver>(TDriverServices{thread, guids, module, dialog}));
        driver.OnEvent = [&outcome, &driver, o](const std::string& Source,
                                                const std::string& Message,
                                                const std::string& Data) {
            outcome.Events[o].push_back(THostEvent{Source, Message, Data});
            driver.EventProcessed(std::wstring(Source.begin(), Source.end()), true);
        };
    }
    for (const TDeviceSettings& device : Script.Devices) {
        const auto& c = device.Codes;
        auto values = Settings(device.Sensitivity, Text(c[0]), Text(c[1]), Text(c[2]), Text(c[3]),
                               Text(c[4]), Text(c[5]), false);
        std::wstring id;
        if (!drivers[device.Object]->Open(values, id)) {
            std::abort();
        }
        Sources.emplace_back(id.begin(), id.end());
    }

    TypeScript(Script, thread, [&thread](bool Room) {
        thread.PostedLimit = Room ? 10000 : 0;
        if (Room) {
            thread.Post(nullptr, 0x400);  // a message of the host's own
        }
    });

    // A key pressed with a repeat count brings one character message with the same count: as
    // often the press, then its character.
    const auto& received = thread.Window(window).Received;
    for (std::size_t m = 0; m < received.size(); ++m) {
        const auto& message = received[m];
        const auto* character = m + 1 < received.size() &&
                                        (received[m + 1].Message == wm::Char ||
                                         received[m + 1].Message == wm::SysChar) &&
                                        received[m + 1].LParam == message.LParam
                                    ? &received[m + 1]
                                    : nullptr;
        const int repeat = static_cast<int>(message.LParam & 0xFFFF);
        for (int i = 0; i < repeat; ++i) {
            for (const auto* item : {&message, character}) {
                if (item != nullptr) {
                    const int state =
                        (item->State[vk::Shift] & 0x80) | (item->State[vk::Capital] & 1);
                    outcome.Window.emplace_back(item->Message, item->WParam, item->LParam >> 16,
                                                state);
                }
            }
        }
        m += character != nullptr ? 1 : 0;
    }
    for (const auto& driver : drivers) {
        outcome.Held += driver->KeyboardHook().Keys().Count();
    }
    return outcome;
}

// What the README's rules say the same script shows.
TOutcome Predict(const TScript& Script, const std::vector<std::string>& Sources) {
    std::vector<typing_model::TDevice> devices;
    for (std::size_t d = 0; d < Script.Devices.size(); ++d) {
        const TDeviceSettings& settings = Script.Devices[d];
        typing_model::TDevice& device = devices.emplace_back();
        device.Object = settings.Object;
        device.Sensitivity = settings.Sensitivity;
        for (std::size_t t = 0; t < 3; ++t) {
            device.Prefixes[t] = settings.Codes[2 * t];
            device.Suffixes[t] = settings.Codes[2 * t + 1];
        }
        device.Source = Sources[d];
    }
    TTypist typist;
    TypeScript(Script, typist, [](bool) {});
    const typing_model::TPrediction prediction =
        typing_model::Predict(Script.Objects, devices, typist.Typed);
    TOutcome outcome;
    for (const auto& events : prediction.Events) {
        auto& expected = outcome.Events.emplace_back();
        for (const typing_model::TCardEvent& event : events) {
            expected.push_back(
                THostEvent{event.Source, EventNames[static_cast<std::size_t>(TEventKind::CardRead)],
                           event.Data});
        }
    }
    outcome.Window = prediction.Window;
    return outcome;
}

void PrintScript(const TScript& Script) {
    for (const TDeviceSettings& device : Script.Devices) {
        std::fprintf(stderr, "object %zu device %d ms:", device.Object, device.Sensitivity);
        for (const std::string& codes : device.Codes) {
            std::fprintf(stderr, " [%s]", Text(codes).c_str());
        }
        std::fprintf(stderr, "\n");
    }
    for (const TStep& step : Script.Steps) {
        switch (step.Kind) {
            case TStep::Down:
                std::fprintf(stderr, " +%u*%u", step.Code, step.Repeat);
                break;
            case TStep::Up:
                std::fprintf(stderr, " -%u", step.Code);
                break;
            case TStep::SysDown:
                std::fprintf(stderr, " sys+%u", step.Code);
                break;
            case TStep::Frame:
                std::fprintf(stderr, " track(%zu,%zu,%u)", step.Device, step.Track + 1, step.Code);
                break;
            case TStep::Card: {
                std::string data;
                for (const std::uint8_t code : step.Data) {
                    data += "#" + std::to_string(code);
                }
                std::fprintf(stderr, " card(%zu,%s,extra %d/%u)", step.Device, data.c_str(),
                             step.Extra, step.Code);
                break;
            }
            case TStep::Wait:
                std::fprintf(stderr, " wait%u", step.Milliseconds);
                break;
            case TStep::QueueFull:
                std::fprintf(stderr, " full");
                break;
            case TStep::QueueRoom:
                std::fprintf(stderr, " room");
                break;
        }
    }
    std::fprintf(stderr, "\n");
}

[[noreturn]] void Differ(const char* What, const TScript& Script, const TOutcome& Shipped,
                         const TOutcome& Rules) {
    std::fprintf(stderr, "The capture differs from the rules in %s\n", What);
    PrintScript(Script);
    std::size_t same = 0;
    while (same < Shipped.Window.size() && same < Rules.Window.size() &&
           Shipped.Window[same] == Rules.Window[same]) {
        ++same;
    }
    std::fprintf(stderr, "the window's messages differ from the %zu-th on\n", same + 1);
    for (const auto* outcome : {&Shipped, &Rules}) {
        std::fprintf(stderr, outcome == &Shipped ? "as shipped:\n" : "as the rules say:\n");
        for (std::size_t o = 0; o < outcome->Events.size(); ++o) {
            for (const THostEvent& event : outcome->Events[o]) {
                std::fprintf(stderr, "  object %zu event %s %s\n", o, event.Source.c_str(),
                             event.Data.c_str());
            }
        }
        std::fprintf(stderr, "  window:");
        for (const auto& [message, code, high, state] : outcome->Window) {
            if (message == wm::Char || message == wm::SysChar) {
                std::fprintf(stderr, " '%u'/%d", static_cast<unsigned>(code), state);
            } else {
                std::fprintf(stderr, " %x/%u/%d/%lx", message, static_cast<unsigned>(code), state,
                             static_cast<long>(high));
            }
        }
        std::fprintf(stderr, "\n  held: %d\n", outcome->Held);
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    FuzzedDataProvider input(Data, Size);
    LogFile().SetEnabled(false);
    const TScript script = ReadScript(input);

    std::vector<std::string> sources;
    const TOutcome shipped = Play(script, sources);
    const TOutcome rules = Predict(script, sources);
    if (shipped.Events != rules.Events) {
        Differ("events", script, shipped, rules);
    }
    if (shipped.Window != rules.Window) {
        Differ("what reached the window", script, shipped, rules);
    }
    if (shipped.Held != 0) {
        Differ("keys left held", script, shipped, rules);
    }
    return 0;
}
