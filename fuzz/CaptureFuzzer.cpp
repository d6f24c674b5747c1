// A burst of keys through the real capture and recognition on the fake thread, with random
// devices. Whatever the keys and templates: nothing crashes, the consumed ranges lie inside
// the burst, and every key outside them reaches the window exactly once and in order.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/capture/KeyboardHook.h"
#include "driver/core/KBDDriver.h"
#include "driver/diagnostics/LogFile.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeThread.h"

using namespace wedgecard;
using namespace wedgecard::test;

namespace {

// Codes that frame tracks, characters, and the modifiers the search steps over.
constexpr std::uint8_t Alphabet[] = {9, 13, 33, 34, 'A', 'B', '1', 186, vk::Shift, vk::Control};

std::uint8_t PickCode(FuzzedDataProvider& Input) {
    return Alphabet[Input.ConsumeIntegralInRange<std::size_t>(0, std::size(Alphabet) - 1)];
}

std::string PickCodes(FuzzedDataProvider& Input) {
    std::string text;
    const int count = Input.ConsumeIntegralInRange(0, 2);
    for (int i = 0; i < count; ++i) {
        text += "#" + std::to_string(PickCode(Input));
    }
    return text;
}

struct TStroke {
    std::uint8_t Code;
    bool Up;
    bool operator==(const TStroke&) const = default;
};

[[noreturn]] void Broken() {
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    FuzzedDataProvider input(Data, Size);
    LogFile().SetEnabled(false);

    TFakeThread thread;
    const TWindowHandle window = thread.CreateWindow("edit");
    TFakeGuids guids;
    TFakeModule module;
    TFakeDeviceTestDialog dialog;
    TKBDDriver driver(TDriverServices{thread, guids, module, dialog});
    driver.OnEvent = [&driver](const std::string& Source, const std::string&, const std::string&) {
        driver.EventProcessed(std::wstring(Source.begin(), Source.end()), true);
    };

    const int devices = input.ConsumeIntegralInRange(1, 3);
    for (int d = 0; d < devices; ++d) {
        auto values = Settings(100, PickCodes(input), PickCodes(input), PickCodes(input),
                               PickCodes(input), PickCodes(input), PickCodes(input), false);
        std::wstring id;
        if (!driver.Open(values, id)) {
            Broken();
        }
    }

    // Every key held and every burst waiting its quiet time, so that the bursts handed over are
    // all the keys typed; TypingFuzzer shows that letting typing pass and reading a complete card
    // at once change nothing of what the window and the host get.
    driver.KeyboardHook().SetCardPrefixes(std::nullopt);
    driver.KeyboardHook().OnCardState = nullptr;

    // What the capture handed over, and what the recognition made of it.
    std::vector<std::vector<TStroke>> bursts;
    std::vector<std::vector<bool>> consumed;
    driver.KeyboardHook().OnKeyboardData = [&](const TKeys& Keys, TKeyRanges& Ranges) {
        std::vector<TStroke> burst;
        for (int i = 0; i < Keys.Count(); ++i) {
            burst.push_back(TStroke{Keys.Items(i)->Code(), Keys.Items(i)->KeyUp});
        }
        const bool card = driver.ReceiveKeyboardData(Keys, Ranges);
        if (card == Ranges.empty()) {
            Broken();
        }
        std::vector<bool> dropped(burst.size(), false);
        for (const TKeyRange& range : Ranges) {
            if (range.First < 0 || range.First > range.Last || range.Last > Keys.Count() - 1) {
                Broken();
            }
            for (int i = range.First; i <= range.Last; ++i) {
                dropped[static_cast<std::size_t>(i)] = true;
            }
        }
        bursts.push_back(std::move(burst));
        consumed.push_back(std::move(dropped));
        return card;
    };

    // One or two bursts, the second after the quiet time.
    const int burstCount = input.ConsumeIntegralInRange(1, 2);
    for (int b = 0; b < burstCount; ++b) {
        const int strokes = input.ConsumeIntegralInRange(0, 60);
        for (int s = 0; s < strokes; ++s) {
            const std::uint8_t code = PickCode(input);
            if (input.ConsumeBool()) {
                thread.KeyUp(code);
            } else {
                thread.KeyDown(code, input.ConsumeIntegralInRange<std::uint16_t>(0, 2));
            }
        }
        thread.Advance(150);
    }
    thread.Advance(500);

    std::vector<TStroke> expected;
    for (std::size_t b = 0; b < bursts.size(); ++b) {
        for (std::size_t i = 0; i < bursts[b].size(); ++i) {
            if (!consumed[b][i]) {
                expected.push_back(bursts[b][i]);
            }
        }
    }
    std::vector<TStroke> received;
    for (const auto& message : thread.Window(window).Received) {
        if (message.Message == wm::KeyDown || message.Message == wm::KeyUp) {
            received.push_back(
                TStroke{static_cast<std::uint8_t>(message.WParam), message.Message == wm::KeyUp});
        }
    }
    if (received != expected || driver.KeyboardHook().Keys().Count() != 0) {
        Broken();
    }
    return 0;
}
