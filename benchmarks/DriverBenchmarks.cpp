// How long the driver's hot paths take: the end of a swipe, the hook on every message of the
// host's thread, and a burst of a key held down for minutes. Figures, not tests.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "driver/capture/CharacterCards.h"
#include "driver/capture/KeyboardHook.h"
#include "driver/capture/MessageHook.h"
#include "driver/core/DeviceManager.h"
#include "driver/core/EventManager.h"
#include "driver/core/KBDDriver.h"
#include "driver/diagnostics/LogFile.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeThread.h"

namespace wedgecard::test {
namespace {

// A driver on a fake thread whose host acknowledges every event at once; no log file.
struct TBench {
    TBench() : Driver(TDriverServices{Thread, Guids, Module, Dialog}) {
        LogFile().SetEnabled(false);
        Thread.CreateWindow("edit");
        Driver.OnEvent = [this](const std::string& Source, const std::string&, const std::string&) {
            ++Events;
            Driver.EventProcessed(std::wstring(Source.begin(), Source.end()), true);
        };
    }

    void OpenDevices(int Count) {
        for (int i = 0; i < Count; ++i) {
            auto values = Settings(100, "#9", "#13", "#33", "#34", "#35", "#36", false);
            std::wstring id;
            Driver.Open(values, id);
        }
    }

    TFakeThread Thread;
    TFakeGuids Guids;
    TFakeModule Module;
    TFakeDeviceTestDialog Dialog;
    TKBDDriver Driver;
    std::int64_t Events = 0;
};

void AddKey(TKeys& Keys, std::uint8_t Code, bool Up, std::int32_t ShiftState) {
    TKey* key = Keys.Add();
    key->Msg.message = Up ? wm::KeyUp : wm::KeyDown;
    key->Msg.wParam = Code;
    key->KeyUp = Up;
    key->ShiftState = ShiftState;
}

void AddText(TKeys& Keys, const std::string& Text) {
    for (const char c : Text) {
        for (std::int32_t row = 0; row < 2; ++row) {
            int code = 1;
            while (code < 256 && ((code >= 96 && code <= 111) ||
                                  KeyChar(row, static_cast<std::uint8_t>(code)) != c)) {
                ++code;
            }
            if (code == 256) {
                continue;
            }
            if (row == 1) {
                AddKey(Keys, vk::Shift, false, 1);
            }
            AddKey(Keys, static_cast<std::uint8_t>(code), false, row);
            AddKey(Keys, static_cast<std::uint8_t>(code), true, row);
            if (row == 1) {
                AddKey(Keys, vk::Shift, true, 0);
            }
            break;
        }
    }
}

void AddFramedTrack(TKeys& Keys, std::uint8_t Prefix, const std::string& Data,
                    std::uint8_t Suffix) {
    AddKey(Keys, Prefix, false, 0);
    AddKey(Keys, Prefix, true, 0);
    AddText(Keys, Data);
    AddKey(Keys, Suffix, false, 0);
    AddKey(Keys, Suffix, true, 0);
}

// A three-track card as a reader types it: about 300 key records.
void AddSwipe(TKeys& Keys) {
    AddFramedTrack(Keys, 9, "%B4000001234567899^DOE/JOHN^2512101?", 13);
    AddFramedTrack(Keys, 33, ";4000001234567899=25121010000000000000?", 34);
    AddFramedTrack(Keys, 35, ";011234567890123445=000000000000000000000?", 36);
}

void ReceiveKeyboardData(benchmark::State& State) {
    TBench bench;
    bench.OpenDevices(static_cast<int>(State.range(0)));
    TKeys keys;
    AddSwipe(keys);
    TKeyRanges consumed;
    for (auto _ : State) {
        consumed.clear();
        benchmark::DoNotOptimize(bench.Driver.ReceiveKeyboardData(keys, consumed));
    }
    State.counters["records"] = keys.Count();
    State.counters["events/swipe"] =
        static_cast<double>(bench.Events) / static_cast<double>(State.iterations());
}
BENCHMARK(ReceiveKeyboardData)->Arg(1)->Arg(16)->Unit(benchmark::kMicrosecond);

// The card of a device framed by characters: a three-track swipe typed with its framing
// characters and Enter after each track, and 64 of them in one burst.
void CharacterCardOfASwipe(benchmark::State& State) {
    TKeys keys;
    for (std::int64_t i = 0; i < State.range(0); ++i) {
        for (const char* track :
             {"%B4000001234567899^DOE/JOHN^2512101?", ";4000001234567899=25121010000000000000?",
              ";011234567890123445=000000000000000000000?"}) {
            AddText(keys, track);
            AddKey(keys, vk::Return, false, 0);
            AddKey(keys, vk::Return, true, 0);
        }
    }
    const TCharacterFrame frame{{{{"%", "?\r", true}, {";", "?\r", true}, {";", "?\r", true}}}, ""};
    for (auto _ : State) {
        benchmark::DoNotOptimize(FindCharacterCards(keys, frame));
    }
    State.counters["records"] = keys.Count();
}
BENCHMARK(CharacterCardOfASwipe)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);

// The path every message of the host's thread takes while the capture is on.
void HookProcOnAMessageThatIsNotAKey(benchmark::State& State) {
    TBench bench;
    bench.OpenDevices(1);
    TMsg message;
    message.message = 0x0200;  // WM_MOUSEMOVE
    for (auto _ : State) {
        benchmark::DoNotOptimize(TMessageHook::MessageHookProc(
            bench.Thread, hook::Action, hook::Remove, reinterpret_cast<std::intptr_t>(&message)));
    }
}
BENCHMARK(HookProcOnAMessageThatIsNotAKey);

// A key held down for minutes after a prefix key: 10,000 repeats and releases captured through
// the hook, the burst examined by one device and every record given back through the thread's
// queue.
void LongBurst(benchmark::State& State) {
    const int records = static_cast<int>(State.range(0));
    for (auto _ : State) {
        State.PauseTiming();
        TBench bench;
        bench.OpenDevices(1);
        bench.Thread.KeyDown(vk::Tab);  // may begin a card: everything after it is held
        for (int i = 0; i < records / 2; ++i) {
            bench.Thread.KeyDown('A');
            bench.Thread.KeyUp('A');
        }
        State.ResumeTiming();
        bench.Thread.Advance(150);
        State.PauseTiming();
        if (bench.Thread.Window(bench.Thread.GetFocus()).Chars().size() !=
            static_cast<std::size_t>(records / 2 + 1)) {
            State.SkipWithError("keys were lost");
        }
        State.ResumeTiming();
    }
    State.counters["records"] = records;
}
BENCHMARK(LongBurst)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace wedgecard::test
