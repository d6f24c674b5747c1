// The capture that lets typing pass, against the same capture holding every key (its card
// prefixes left unset), over the same devices and the same keys and pauses on the fake thread:
// random framings (multi-key prefixes, modifiers, framing keys that are also typing keys such as
// Tab and Enter), random keys, whole framed tracks, pauses around the quiet time. Both must
// raise the same events (order, source, data) and give the window the same characters and the
// same key messages (order, Shift and Caps Lock state). The host's queue may be full for a
// while, so that keys come while others wait to go back.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "driver/capture/KeyboardHook.h"
#include "driver/core/KBDDriver.h"
#include "driver/diagnostics/LogFile.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeThread.h"

using namespace wedgecard;
using namespace wedgecard::test;

namespace {

// Framing and typing keys: Tab, Enter, PageUp, PageDown, letters, a digit, ';', Shift, Ctrl,
// Alt, Caps Lock.
constexpr std::uint8_t KeyAlphabet[] = {9, 13, 33, 34, 'A', 'B', 'C', '1', 186, 16, 17, 18, 20};
// Codes of prefixes and suffixes; Shift in a prefix never matches.
constexpr std::uint8_t CodeAlphabet[] = {9, 13, 33, 'A', 'B', '1', 186, 16};

struct TDeviceSettings {
    std::int32_t Sensitivity = 100;
    std::array<std::string, 6> Codes;  // prefix and suffix of tracks 1 to 3, one byte a code
};

struct TStep {
    enum EKind { Down, Up, SysDown, Frame, Wait, QueueFull, QueueRoom } Kind;
    std::uint8_t Code = 0;
    std::uint16_t Repeat = 1;
    std::size_t Device = 0;
    std::size_t Track = 0;
    std::uint32_t Milliseconds = 0;
};

struct TScript {
    std::vector<TDeviceSettings> Devices;
    std::vector<TStep> Steps;
};

std::string PickCodes(FuzzedDataProvider& Input, int Most) {
    std::string codes;
    const int count = Input.ConsumeIntegralInRange(0, Most);
    for (int i = 0; i < count; ++i) {
        codes += static_cast<char>(CodeAlphabet[Input.ConsumeIntegralInRange<std::size_t>(
            0, std::size(CodeAlphabet) - 1)]);
    }
    return codes;
}

TScript ReadScript(FuzzedDataProvider& Input) {
    TScript script;
    const int devices = Input.ConsumeIntegralInRange(1, 3);
    for (int d = 0; d < devices; ++d) {
        TDeviceSettings& device = script.Devices.emplace_back();
        device.Sensitivity = Input.ConsumeIntegralInRange(20, 150);
        for (std::size_t t = 0; t < 3; ++t) {
            device.Codes[2 * t] = PickCodes(Input, 3);
            device.Codes[2 * t + 1] = PickCodes(Input, 2);
        }
    }
    const std::uint32_t quiet = static_cast<std::uint32_t>(script.Devices.back().Sensitivity);
    const int steps = Input.ConsumeIntegralInRange(0, 120);
    for (int s = 0; s < steps && Input.remaining_bytes() > 0; ++s) {
        TStep step{};
        switch (Input.ConsumeIntegralInRange(0, 11)) {
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
                step.Kind = Input.ConsumeBool() ? TStep::QueueFull : TStep::QueueRoom;
                break;
            default: {
                step.Kind = TStep::Wait;
                const std::uint32_t around[] = {0,     1,         quiet / 2, quiet - 1,
                                                quiet, quiet + 1, 2 * quiet};
                step.Milliseconds = Input.ConsumeBool()
                                        ? around[Input.ConsumeIntegralInRange<std::size_t>(
                                              0, std::size(around) - 1)]
                                        : Input.ConsumeIntegralInRange<std::uint32_t>(0, 3 * quiet);
                break;
            }
        }
        step.Code =
            KeyAlphabet[Input.ConsumeIntegralInRange<std::size_t>(0, std::size(KeyAlphabet) - 1)];
        script.Steps.push_back(step);
    }
    return script;
}

// What a run showed: events, and the window's characters and key messages, each one message
// per repeat.
struct TOutcome {
    std::vector<THostEvent> Events;
    std::vector<std::tuple<std::uint32_t, std::uintptr_t>> Chars;
    std::vector<std::tuple<std::uint32_t, std::uintptr_t, std::intptr_t, int>> Strokes;
    int Held = 0;
};

std::string Text(const std::string& Codes) {
    std::string text;
    for (const char code : Codes) {
        text += "#" + std::to_string(static_cast<std::uint8_t>(code));
    }
    return text;
}

TOutcome Play(const TScript& Script, bool HoldEverything) {
    TFakeThread thread;
    const TWindowHandle window = thread.CreateWindow("edit");
    TFakeGuids guids;
    TFakeModule module;
    TFakeDeviceTestDialog dialog;
    TKBDDriver driver(TDriverServices{thread, guids, module, dialog});
    TOutcome outcome;
    driver.OnEvent = [&](const std::string& Source, const std::string& Message,
                         const std::string& Data) {
        outcome.Events.push_back(THostEvent{Source, Message, Data});
        driver.EventProcessed(std::wstring(Source.begin(), Source.end()), true);
    };
    for (const TDeviceSettings& device : Script.Devices) {
        const auto& c = device.Codes;
        auto values = Settings(device.Sensitivity, Text(c[0]), Text(c[1]), Text(c[2]), Text(c[3]),
                               Text(c[4]), Text(c[5]), false);
        std::wstring id;
        if (!driver.Open(values, id)) {
            std::abort();
        }
    }
    if (HoldEverything) {
        driver.KeyboardHook().SetCardPrefixes(std::nullopt);
    }

    for (const TStep& step : Script.Steps) {
        switch (step.Kind) {
            case TStep::Down:
                thread.KeyDown(step.Code, step.Repeat);
                break;
            case TStep::Up:
                thread.KeyUp(step.Code);
                break;
            case TStep::SysDown:
                thread.SysKeyDown(step.Code);
                break;
            case TStep::Frame: {
                const auto& codes = Script.Devices[step.Device].Codes;
                thread.TapCodes(codes[2 * step.Track]);
                thread.Tap(step.Code);
                thread.TapCodes(codes[2 * step.Track + 1]);
                break;
            }
            case TStep::Wait:
                thread.Advance(step.Milliseconds);
                break;
            case TStep::QueueFull:
                thread.PostedLimit = 0;
                break;
            case TStep::QueueRoom:
                thread.PostedLimit = 10000;
                thread.Post(nullptr, 0x400);  // a message of the host's own
                break;
        }
    }
    thread.PostedLimit = 10000;
    thread.Post(nullptr, 0x400);
    thread.Advance(2000);

    for (const auto& message : thread.Window(window).Received) {
        const int repeat = static_cast<int>(message.LParam & 0xFFFF);
        for (int i = 0; i < repeat; ++i) {
            if (message.Message == wm::Char || message.Message == wm::SysChar) {
                outcome.Chars.emplace_back(message.Message, message.WParam);
            } else {
                const int state =
                    (message.State[vk::Shift] & 0x80) | (message.State[vk::Capital] & 1);
                outcome.Strokes.emplace_back(message.Message, message.WParam, message.LParam >> 16,
                                             state);
            }
        }
    }
    outcome.Held = driver.KeyboardHook().Keys().Count();
    return outcome;
}

void PrintScript(const TScript& Script) {
    for (const TDeviceSettings& device : Script.Devices) {
        std::fprintf(stderr, "device %d ms:", device.Sensitivity);
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
                std::fprintf(stderr, " card(%zu,%zu,%u)", step.Device, step.Track + 1, step.Code);
                break;
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

[[noreturn]] void Differ(const char* What, const TScript& Script, const TOutcome& Passing,
                         const TOutcome& Holding) {
    std::fprintf(stderr, "The captures differ in %s\n", What);
    PrintScript(Script);
    for (const auto* outcome : {&Passing, &Holding}) {
        std::fprintf(stderr,
                     outcome == &Passing ? "letting typing pass:\n" : "holding every key:\n");
        for (const THostEvent& event : outcome->Events) {
            std::fprintf(stderr, "  event %s %s\n", event.Source.c_str(), event.Data.c_str());
        }
        std::string chars;
        for (const auto& [message, code] : outcome->Chars) {
            chars += " " + std::to_string(code);
        }
        std::fprintf(stderr, "  chars:%s\n  keys:", chars.c_str());
        for (const auto& [message, code, high, state] : outcome->Strokes) {
            std::fprintf(stderr, " %x/%u/%d", message, static_cast<unsigned>(code), state);
        }
        std::fprintf(stderr, "\n");
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    FuzzedDataProvider input(Data, Size);
    LogFile().SetEnabled(false);
    const TScript script = ReadScript(input);

    const TOutcome passing = Play(script, false);
    const TOutcome holding = Play(script, true);
    if (passing.Events != holding.Events) {
        Differ("events", script, passing, holding);
    }
    if (passing.Chars != holding.Chars) {
        Differ("characters", script, passing, holding);
    }
    if (passing.Strokes != holding.Strokes) {
        Differ("key messages", script, passing, holding);
    }
    if (passing.Held != 0 || holding.Held != 0) {
        Differ("keys left held", script, passing, holding);
    }
    return 0;
}
