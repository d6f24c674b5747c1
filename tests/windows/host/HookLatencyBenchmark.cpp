// Figures of the capture on a real user-interface thread (not a test: it asserts nothing).
//
//  (a) How long after the last key of a three-track swipe the host gets the card-read event, for
//      quiet times of 100 and 500 ms: with a device configured for the card's three tracks (read
//      at its last key: what the capture, the recognition and the delivery take) and with one
//      configured with a track the card lacks (read after the quiet time).
//  (b) What the installed message hook costs every message the host's loop retrieves: posted
//      thread messages that are no keys, retrieved with PeekMessage, without a hook, with an
//      empty hook of the benchmark's own (the system's share of any hook) and with the driver's
//      hook (a device open).
//  (c) Typing: how long after SendInput a letter's WM_CHAR reaches the window, for letters typed
//      one every 50 ms with no device open, with an empty hook of the driver's kind (what the
//      system charges any such hook) and with a device open whose framing keys the letters do
//      not use; a typed framing key; letters while a device frames a track by its suffix alone
//      (every key is held then).
//
// hook_latency_benchmark [--module <path of Wedgecard.dll>] [--runs <n>] [--messages <n>]
//                        [--letters <n>]
// Without --module the driver is created by its ProgID, through the registration.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "tests/windows/support/ComHost.h"
#include "tests/windows/support/UiThread.h"

using namespace wedgecard::test;

namespace {

using TClock = std::chrono::steady_clock;

struct TOptions {
    std::wstring Module;
    int Runs = 5;
    long Messages = 20000;
    int Letters = 200;
};

TOptions ParseOptions(int Count, wchar_t** Arguments) {
    TOptions options;
    for (int i = 1; i + 1 < Count; i += 2) {
        const std::wstring name = Arguments[i];
        if (name == L"--module") {
            options.Module = Arguments[i + 1];
        } else if (name == L"--runs") {
            options.Runs = std::max(1, _wtoi(Arguments[i + 1]));
        } else if (name == L"--letters") {
            options.Letters = std::max(20, _wtoi(Arguments[i + 1]));
        } else if (name == L"--messages") {
            options.Messages = std::max(1000L, static_cast<long>(_wtol(Arguments[i + 1])));
        }
    }
    return options;
}

// The driver, from the module named on the command line or through the registration.
class TDriverSource {
public:
    explicit TDriverSource(const std::wstring& Module) {
        if (!Module.empty()) {
            FModule = std::make_unique<TDriverModule>(Module);
            if (!FModule->Loaded()) {
                throw std::runtime_error("the module could not be loaded");
            }
        }
    }
    ComPtr<ILumMSRKBD1C> Create() { return FModule ? FModule->Create() : CreateDriver(); }

private:
    std::unique_ptr<TDriverModule> FModule;
};

struct TSummary {
    double Median = 0;
    double Min = 0;
    double Max = 0;
};

TSummary Summarize(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    const std::size_t n = Values.size();
    const double median = n % 2 == 1 ? Values[n / 2] : (Values[n / 2 - 1] + Values[n / 2]) / 2;
    return {median, Values.front(), Values.back()};
}

double Milliseconds(TClock::duration Duration) {
    return std::chrono::duration<double, std::milli>(Duration).count();
}

// When the thread last retrieved the press of Home, the swipe's last key press (track 3's suffix):
// a hook installed after the driver's is called before it, with the key as typed.
TClock::time_point LastKeyRetrieved;
LRESULT CALLBACK WatchLastKey(int Code, WPARAM WParam, LPARAM LParam) {
    const MSG* message = reinterpret_cast<const MSG*>(LParam);
    if (Code == HC_ACTION && WParam == PM_REMOVE && message->message == WM_KEYDOWN &&
        message->wParam == VK_HOME) {
        LastKeyRetrieved = TClock::now();
    }
    return CallNextHookEx(nullptr, Code, WParam, LParam);
}

void MeasureSwipeLatency(TDriverSource& Source, const TOptions& Options) {
    std::printf("(a) From the last key of a three-track swipe to the card-read event\n");
    std::printf(
        "    the bench card typed with SendInput in one go; time to ExternalEvent from the "
        "retrieval of its last key press (Home) and from SendInput's return; %d runs each\n",
        Options.Runs);
    TTestWindow window;
    if (!window.Activate()) {
        throw std::runtime_error("the window did not get the keyboard focus");
    }
    struct TCase {
        std::int32_t Quiet;
        bool Lacking;
    };
    for (const TCase& test :
         {TCase{100, false}, TCase{500, false}, TCase{100, true}, TCase{500, true}}) {
        const std::int32_t quiet = test.Quiet;
        ComPtr<ILumMSRKBD1C> driver = Source.Create();
        ComPtr<TEventSink> sink = TEventSink::Create();
        TClock::time_point delivered;
        sink->OnEvent = [&delivered](const THostEvent&) { delivered = TClock::now(); };
        InitDoneOf(driver.Get())->Init(sink.Get());
        std::wstring id;
        // The log stays off: the figures are the capture's, not the disk's. The device that
        // lacks a track frames its track 3 with F1 and F2, which the card does not type.
        const ComPtr<TSettingsArray> settings =
            test.Lacking ? TSettingsArray::Create(SettingsValues(quiet, L"#9", L"#13", L"#33",
                                                                 L"#34", L"#112", L"#113", false))
                         : TSettingsArray::Bench(quiet, false);
        if (!OpenDevice(driver.Get(), settings.Get(), id)) {
            throw std::runtime_error("Open failed");
        }
        HHOOK watch =
            SetWindowsHookExW(WH_GETMESSAGE, &WatchLastKey, nullptr, GetCurrentThreadId());
        if (watch == nullptr) {
            throw std::runtime_error("SetWindowsHookExW failed");
        }
        std::vector<double> sinceLastKey;
        std::vector<double> latencies;
        for (int run = 0; run < Options.Runs; ++run) {
            const std::size_t before = sink->Events.size();
            TKeystrokes keys;
            keys.BenchCard();
            const std::size_t keyCount = keys.Count();
            if (!keys.Send()) {
                throw std::runtime_error("SendInput failed");
            }
            const TClock::time_point sent = TClock::now();
            if (!PumpUntil([&] { return sink->Events.size() > before; }, 10s)) {
                throw std::runtime_error("no event within 10 s");
            }
            latencies.push_back(Milliseconds(delivered - sent));
            sinceLastKey.push_back(Milliseconds(delivered - LastKeyRetrieved));
            if (!Acknowledge(driver.Get(), id, true)) {
                throw std::runtime_error("EventProcessed failed");
            }
            if (run == 0 && quiet == 100 && !test.Lacking) {
                std::printf("    (%zu key events per swipe)\n", keyCount);
            }
        }
        UnhookWindowsHookEx(watch);
        const TSummary total = Summarize(latencies);
        const TSummary last = Summarize(sinceLastKey);
        std::printf(
            "    %-37s quiet time %3d ms: after the last key median %7.2f ms (min %7.2f, max "
            "%7.2f); after SendInput median %7.2f ms (min %7.2f, max %7.2f)\n",
            test.Lacking ? "a device with a track the card lacks,"
                         : "a device for the card's 3 tracks,",
            quiet, last.Median, last.Min, last.Max, total.Median, total.Min, total.Max);
        if (!CloseDevice(driver.Get(), id)) {
            throw std::runtime_error("Close failed");
        }
    }
}

// Posts Count thread messages that are no keys, in batches the queue takes, and retrieves
// them; the nanoseconds per retrieved message.
double RetrievalCost(long Count) {
    constexpr long Batch = 5000;  // below the system's limit of posted messages per queue
    const DWORD thread = GetCurrentThreadId();
    TClock::duration spent{};
    long retrieved = 0;
    for (long posted = 0; posted < Count;) {
        const long batch = std::min(Batch, Count - posted);
        for (long i = 0; i < batch; ++i) {
            PostThreadMessageW(thread, WM_USER + 1, static_cast<WPARAM>(i), 0);
        }
        posted += batch;
        MSG message;
        const TClock::time_point start = TClock::now();
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ++retrieved;
        }
        spent += TClock::now() - start;
    }
    return std::chrono::duration<double, std::nano>(spent).count() /
           static_cast<double>(std::max(retrieved, 1L));
}

LRESULT CALLBACK EmptyHook(int Code, WPARAM WParam, LPARAM LParam) {
    return CallNextHookEx(nullptr, Code, WParam, LParam);
}

void MeasureHookCost(TDriverSource& Source, const TOptions& Options) {
    std::printf("\n(b) What an installed hook adds to every retrieved message\n");
    std::printf(
        "    %ld posted WM_USER thread messages retrieved with PeekMessage(PM_REMOVE) "
        "in batches of 5000; %d rounds, alternating, median of the rounds\n",
        Options.Messages, Options.Runs);
    ComPtr<ILumMSRKBD1C> driver = Source.Create();
    ComPtr<TEventSink> sink = TEventSink::Create();
    InitDoneOf(driver.Get())->Init(sink.Get());
    RetrievalCost(Options.Messages / 10);  // warm-up

    std::vector<double> none;
    std::vector<double> empty;
    std::vector<double> driverHook;
    for (int round = 0; round < Options.Runs; ++round) {
        none.push_back(RetrievalCost(Options.Messages));

        HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, &EmptyHook, nullptr, GetCurrentThreadId());
        if (hook == nullptr) {
            throw std::runtime_error("SetWindowsHookExW failed");
        }
        empty.push_back(RetrievalCost(Options.Messages));
        UnhookWindowsHookEx(hook);

        std::wstring id;
        if (!OpenDevice(driver.Get(), TSettingsArray::Bench(100, false).Get(), id)) {
            throw std::runtime_error("Open failed");
        }
        driverHook.push_back(RetrievalCost(Options.Messages));
        if (!CloseDevice(driver.Get(), id)) {
            throw std::runtime_error("Close failed");
        }
    }
    const TSummary off = Summarize(none);
    const TSummary system = Summarize(empty);
    const TSummary on = Summarize(driverHook);
    auto row = [](const char* What, const TSummary& Summary) {
        std::printf("    %-38s median %9.1f ns/message (min %9.1f, max %9.1f)\n", What,
                    Summary.Median, Summary.Min, Summary.Max);
    };
    row("no hook:", off);
    row("an empty hook of the benchmark's own:", system);
    row("the driver's hook (a device open):", on);
    std::printf(
        "    added by the driver's hook: %.1f ns/message over no hook, %.1f ns/message "
        "over an empty hook\n",
        on.Median - off.Median, on.Median - system.Median);
}

// The value below which a Share of Values lie (nearest rank).
double Percentile(std::vector<double> Values, double Share) {
    std::sort(Values.begin(), Values.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(Share * static_cast<double>(Values.size())));
    return Values[std::max<std::size_t>(rank, 1) - 1];
}

// Types Keys with SendInput, one stroke every Interval, and the time from each SendInput to the
// WM_CHAR it brings to the focused Window, in milliseconds.
std::vector<double> TypingLatencies(TTestWindow& Window, const std::string& Text,
                                    std::chrono::milliseconds Interval) {
    std::vector<double> latencies;
    for (const char c : Text) {
        TKeystrokes keys;
        if (c == '\t') {
            keys.Tap(VK_TAB);
        } else {
            keys.Type(std::string(1, c));
        }
        const std::size_t before = Window.Chars().size();
        if (!keys.Send()) {
            throw std::runtime_error("SendInput failed");
        }
        const TClock::time_point sent = TClock::now();
        if (!PumpUntil([&] { return Window.Chars().size() > before; }, 10s)) {
            throw std::runtime_error("a typed key did not come within 10 s");
        }
        latencies.push_back(Milliseconds(TClock::now() - sent));
        PumpUntil([] { return false; }, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            Interval - (TClock::now() - sent)));
    }
    return latencies;
}

void MeasureTyping(TDriverSource& Source, const TOptions& Options) {
    constexpr std::int32_t Quiet = 100;
    std::printf("\n(c) Typing: from SendInput to the WM_CHAR in the focused window\n");
    std::printf(
        "    %d letters a-z one every 50 ms each: no device open, an empty hook, a device open "
        "(quiet time %d ms, the bench's framing: Tab/Enter, PageUp/PageDown, End/Home); 4 "
        "alternating rounds\n",
        Options.Letters, Quiet);
    TTestWindow window;
    if (!window.Activate()) {
        throw std::runtime_error("the window did not get the keyboard focus");
    }
    ComPtr<ILumMSRKBD1C> driver = Source.Create();
    ComPtr<TEventSink> sink = TEventSink::Create();
    InitDoneOf(driver.Get())->Init(sink.Get());
    auto open = [&driver](TSettingsArray* Settings) {
        std::wstring id;
        if (!OpenDevice(driver.Get(), Settings, id)) {
            throw std::runtime_error("Open failed");
        }
        return id;
    };
    auto close = [&driver](const std::wstring& Id) {
        if (!CloseDevice(driver.Get(), Id)) {
            throw std::runtime_error("Close failed");
        }
    };
    std::string letters;
    for (int i = 0; i < Options.Letters / 4; ++i) {
        letters += static_cast<char>('a' + i % 26);
    }
    std::vector<double> none;
    std::vector<double> emptyHook;
    std::vector<double> device;
    for (int round = 0; round < 4; ++round) {
        const std::vector<double> off = TypingLatencies(window, letters, 50ms);
        none.insert(none.end(), off.begin(), off.end());

        HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &EmptyHook, nullptr, GetCurrentThreadId());
        if (hook == nullptr) {
            throw std::runtime_error("SetWindowsHookExW failed");
        }
        const std::vector<double> system = TypingLatencies(window, letters, 50ms);
        emptyHook.insert(emptyHook.end(), system.begin(), system.end());
        UnhookWindowsHookEx(hook);

        const std::wstring id = open(TSettingsArray::Bench(Quiet, false).Get());
        const std::vector<double> on = TypingLatencies(window, letters, 50ms);
        device.insert(device.end(), on.begin(), on.end());
        close(id);
    }
    auto row = [](const char* What, const std::vector<double>& Latencies) {
        std::printf("    %-38s p50 %7.3f ms, p99 %7.3f ms, max %7.3f ms (%zu letters)\n", What,
                    Percentile(Latencies, 0.5), Percentile(Latencies, 0.99),
                    Percentile(Latencies, 1.0), Latencies.size());
    };
    row("no device open:", none);
    row("an empty ANSI hook of the benchmark's:", emptyHook);
    row("a device open:", device);
    std::printf(
        "    a device open / no device: p50 %.2fx, p99 %.2fx; / the empty hook: p50 %.2fx, p99 "
        "%.2fx\n",
        Percentile(device, 0.5) / Percentile(none, 0.5),
        Percentile(device, 0.99) / Percentile(none, 0.99),
        Percentile(device, 0.5) / Percentile(emptyHook, 0.5),
        Percentile(device, 0.99) / Percentile(emptyHook, 0.99));

    const std::wstring id = open(TSettingsArray::Bench(Quiet, false).Get());
    const TSummary framing = Summarize(TypingLatencies(window, std::string(20, '\t'), 300ms));
    close(id);
    std::printf(
        "    a typed framing key (Tab, track 1's prefix), 20 one every 300 ms: median %.2f ms, "
        "min %.2f ms, max %.2f ms\n",
        framing.Median, framing.Min, framing.Max);

    const std::wstring suffixOnly =
        open(TSettingsArray::Create(SettingsValues(Quiet, L"", L"#13", L"", L"", L"", L"", false))
                 .Get());
    const std::vector<double> held = TypingLatencies(window, "abcdefghijklmnopqrst", 50ms);
    close(suffixOnly);
    std::printf(
        "    a device whose track 1 has a suffix and no prefix (every key held), 20 letters one "
        "every 50 ms: p50 %.2f ms, max %.2f ms\n",
        Percentile(held, 0.5), Percentile(held, 1.0));
}

}  // namespace

int wmain(int Count, wchar_t** Arguments) {
    try {
        const TOptions options = ParseOptions(Count, Arguments);
        TComApartment apartment;
        if (FAILED(apartment.Status())) {
            throw std::runtime_error("CoInitializeEx failed");
        }
        TDriverSource source(options.Module);
        MeasureSwipeLatency(source, options);
        MeasureHookCost(source, options);
        MeasureTyping(source, options);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "hook_latency_benchmark: %s\n", error.what());
        return 1;
    }
}
