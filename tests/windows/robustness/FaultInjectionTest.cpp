// Faults around the driver at run time: a host whose sink refuses events, a log file the driver
// cannot write, hosts that re-enter or let go of the driver from their event handlers, two
// driver objects on one thread, and the module unloaded and loaded again.
//
// What cannot be made to happen here: the system refusing to install or remove the message
// hook. Wine always installs a thread hook; the fake thread of the native tests makes both fail
// (tests/driver/capture/MessageHookTest.cpp, tests/driver/core/KBDDriverTest.cpp).
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/windows/support/ComHost.h"
#include "tests/windows/support/HostFixture.h"
#include "tests/windows/support/PrivateDriver.h"
#include "tests/windows/support/UiThread.h"

namespace wedgecard::test {
namespace {

std::wstring Wide(const std::string& Ascii) {
    return std::wstring(Ascii.begin(), Ascii.end());
}

// A second reader's settings: its track 1 is the bench card's track 2.
ComPtr<TSettingsArray> Track2Reader() {
    return TSettingsArray::Create(SettingsValues(100, L"#33", L"#34", L"", L"", L"", L"", true));
}

// The bench card with tracks that tell the swipes apart.
TKeystrokes& NumberedCard(TKeystrokes& Keys, int Swipe) {
    const std::string n = std::to_string(Swipe);
    return Keys.Tap(VK_TAB)
        .Type(";" + n + "=")
        .Tap(VK_RETURN)
        .Tap(VK_PRIOR)
        .Type("Track" + n)
        .Tap(VK_NEXT)
        .Tap(VK_END)
        .Type("x")
        .Tap(VK_HOME);
}

// What the bench device and the second reader make of the numbered card.
THostEvent BenchRead(const std::wstring& DeviceID, int Swipe) {
    const std::wstring n = std::to_wstring(Swipe);
    return {DeviceID, CardRead, L"@1;" + n + L"=@2Track" + n + L"@3x"};
}

THostEvent Track2Read(const std::wstring& DeviceID, int Swipe) {
    return {DeviceID, CardRead, L"@1Track" + std::to_wstring(Swipe) + L"@2@3"};
}

std::vector<THostEvent> CardReads(const std::vector<THostEvent>& Events) {
    std::vector<THostEvent> reads;
    std::copy_if(Events.begin(), Events.end(), std::back_inserter(reads),
                 [](const THostEvent& Event) { return Event.Message == CardRead; });
    return reads;
}

// ---------------------------------------------------------------------------------------------
// A host whose sink refuses the first offer of every n-th event. It asks for a refused event
// again (EventProcessed with false) and acknowledges every event it takes, from inside its
// handler or later from its message loop.

struct TRefusal {
    int Every;
    bool AcknowledgeInside;
};

void PrintTo(const TRefusal& Refusal, std::ostream* Stream) {
    *Stream << "every " << Refusal.Every << (Refusal.AcknowledgeInside ? ", inside" : ", later");
}

std::string RefusalName(const testing::TestParamInfo<TRefusal>& Info) {
    return "Every" + std::to_string(Info.param.Every) +
           (Info.param.AcknowledgeInside ? "AcknowledgingInside" : "AcknowledgingLater");
}

class RefusingHost : public PrivateTypingHostTest, public testing::WithParamInterface<TRefusal> {
protected:
    void SetUp() override {
        PrivateTypingHostTest::SetUp();
        Sink->OnAnswer = [this](const THostEvent& Event) { return Answer(Event); };
    }

    void TearDown() override {
        Sink->OnAnswer = nullptr;
        PrivateTypingHostTest::TearDown();
    }

    HRESULT Answer(const THostEvent& Event) {
        const std::size_t call = Sink->Events.size() - 1;
        if (FRedelivery) {
            FRedelivery = false;
        } else if (Refusing && ++FOffers % GetParam().Every == 0) {
            Refused.push_back(call);
            FAskAgain = true;
            return E_FAIL;
        }
        Taken.push_back(Event);
        if (GetParam().AcknowledgeInside) {
            // The next event, if one waits, comes from within this call.
            (void)Acknowledge(Driver.Get(), Event.Source, true);
        } else {
            FAcknowledge = true;
        }
        return S_OK;
    }

    // What the host's loop does between two messages. False when it had nothing to do.
    bool Step() {
        if (FAskAgain) {
            FAskAgain = false;
            FRedelivery = true;
            (void)Acknowledge(Driver.Get(), L"", false);
            return true;
        }
        if (FAcknowledge) {
            FAcknowledge = false;
            (void)Acknowledge(Driver.Get(), L"", true);
            return true;
        }
        return false;
    }

    // Runs the host's loop until Done answers true. A host that refuses the first offer of
    // every event always has something to do: each refusal inside an acknowledgement makes an
    // error event of its own, which is refused at first again. So the loop takes a few steps
    // between its looks at the message queue, not all of them.
    bool RunUntil(const std::function<bool()>& Done) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            const bool done = PumpUntil(
                [&] {
                    for (int step = 0; step < 16 && Step(); ++step) {
                    }
                    return Done();
                },
                5ms);
            if (done) {
                return true;
            }
        }
        return false;
    }

    bool Refusing = true;
    // The events the host took, and the positions of the refused ones among all offered.
    std::vector<THostEvent> Taken;
    std::vector<std::size_t> Refused;

private:
    int FOffers = 0;
    bool FAskAgain = false;
    bool FRedelivery = false;
    bool FAcknowledge = false;
};

TEST_P(RefusingHost, TakesEveryCardReadOnceAndInOrderAndNoKeyOfACard) {
    const std::wstring bench = OpenBenchDevice();
    const std::wstring second = OpenWith(Track2Reader().Get());
    constexpr int Swipes = 6;
    std::vector<THostEvent> expected;
    std::wstring typed;
    for (int swipe = 1; swipe <= Swipes; ++swipe) {
        const std::string after(1, static_cast<char>('a' + swipe));
        TKeystrokes keys;
        ASSERT_TRUE(NumberedCard(keys, swipe).Type(after).Send());
        typed += Wide(after);
        expected.push_back(BenchRead(bench, swipe));
        expected.push_back(Track2Read(second, swipe));
        // The letter typed after the card comes back once the burst is dealt with.
        ASSERT_TRUE(RunUntil([&] { return Window.Chars().size() >= typed.size(); }))
            << "swipe " << swipe;
        ASSERT_EQ(Window.Chars(), typed) << "keys of a card reached the window, or keys were lost";
    }
    ASSERT_TRUE(RunUntil([&] { return CardReads(Taken).size() >= expected.size(); }))
        << CardReads(Taken).size() << " card reads taken";
    // Error events of the refusals may still be on their way: the host takes them all now.
    Refusing = false;
    ASSERT_TRUE(RunUntil([this] { return !Step(); }));
    EXPECT_FALSE(Acknowledge(Driver.Get(), L"", true)) << "an event was still outstanding";
    ASSERT_TRUE(RunUntil([this] { return !Step(); }));

    EXPECT_EQ(CardReads(Taken), expected);
    EXPECT_EQ(Window.Chars(), typed);
    ASSERT_FALSE(Refused.empty());
    for (const std::size_t refused : Refused) {
        ASSERT_LT(refused + 1, Sink->Events.size());
        EXPECT_EQ(Sink->Events[refused + 1], Sink->Events[refused])
            << "a refused event is offered again, and before any other";
    }
    for (const THostEvent& event : Taken) {
        if (event.Message != CardRead) {
            EXPECT_EQ(event.Source, L"0");
            EXPECT_EQ(event.Message, DriverError);
            EXPECT_FALSE(event.Data.empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sink, RefusingHost,
                         testing::Values(TRefusal{1, false}, TRefusal{1, true}, TRefusal{2, false},
                                         TRefusal{2, true}, TRefusal{3, false}, TRefusal{3, true}),
                         RefusalName);

// ---------------------------------------------------------------------------------------------
// Hosts that change the driver from inside their event handler.

using HostReentry = TypingHostTest;

TEST_F(HostReentry, ADeviceOpenedInsideTheHandlerTakesPartFromTheNextSwipe) {
    const std::wstring first = OpenBenchDevice();
    std::wstring second;
    Sink->OnEvent = [&](const THostEvent& Event) {
        EXPECT_TRUE(Acknowledge(Driver.Get(), Event.Source, true));
        if (second.empty()) {
            second = OpenWith(Track2Reader().Get());
        }
    };
    TKeystrokes keys;
    TypeAndWait(NumberedCard(keys, 1).Type("b"), L"b");
    EXPECT_EQ(Sink->Events, std::vector<THostEvent>{BenchRead(first, 1)});

    TypeAndWait(NumberedCard(keys, 2).Type("c"), L"c");
    EXPECT_EQ(Sink->Events, (std::vector<THostEvent>{BenchRead(first, 1), BenchRead(first, 2),
                                                     Track2Read(second, 2)}));
    EXPECT_EQ(Window.Chars(), L"bc");
}

TEST_F(HostReentry, ADeviceClosedAndAnotherOpenedInsideTheHandlerKeepTheCaptureGoing) {
    // Closing the last device switches the capture off while it is still giving keys back;
    // opening the next one switches it on again before it is done.
    const std::wstring first = OpenBenchDevice();
    std::wstring second;
    Sink->OnEvent = [&](const THostEvent& Event) {
        EXPECT_TRUE(Acknowledge(Driver.Get(), Event.Source, true));
        if (second.empty()) {
            EXPECT_TRUE(CloseDevice(Driver.Get(), first));
            second = OpenWith(Track2Reader().Get());
        }
    };
    TKeystrokes keys;
    TypeAndWait(keys.Type("A").Tap(VK_TAB).Type("1").Tap(VK_RETURN).Type("b"), L"b");
    EXPECT_EQ(Window.Chars(), L"Ab");
    ASSERT_EQ(Sink->Events.size(), 1u);
    EXPECT_EQ(Sink->Events[0], (THostEvent{first, CardRead, L"@11@2@3"}));

    // Only the new device's frame is card data now; the rest is typing.
    TypeAndWait(NumberedCard(keys, 2).Type("C"), L"C");
    EXPECT_EQ(Sink->Events.back(), Track2Read(second, 2));
    EXPECT_EQ(Sink->Events.size(), 2u);
    EXPECT_EQ(Window.Chars(), L"Ab\t;2=\rxC");
}

TEST_F(HostReentry, AHostThatLetsGoWithACardStillQueuedLosesNoKeys) {
    OpenBenchDevice();
    OpenWith(Track2Reader().Get());
    ILumMSRKBD1C* driver = Driver.Detach();
    Sink->OnEvent = [&driver](const THostEvent&) {
        if (driver != nullptr) {
            std::exchange(driver, nullptr)->Release();
        }
    };
    TKeystrokes keys;
    TypeAndWait(NumberedCard(keys.Type("W"), 1).Type("y"), L"y");
    // The driver that goes gives the keys it still holds straight to the window, with the
    // keyboard as it is by then: the capital may come without its Shift.
    std::wstring chars = Window.Chars();
    CharLowerBuffW(chars.data(), static_cast<DWORD>(chars.size()));
    EXPECT_EQ(chars, L"wy");
    EXPECT_EQ(Sink->Events.size(), 1u) << "the queued card went with the driver";
    EXPECT_TRUE(PumpUntil([this] { return Sink->References() == 1; }));
    TypeAndWait(keys.Tap(VK_TAB).Type("7").Tap(VK_RETURN), L"\t7\r");
    EXPECT_EQ(Window.Chars().substr(2), L"\t7\r");
}

// ---------------------------------------------------------------------------------------------
// Two driver objects of one module on one thread, each with a device of the same framing (a
// background module and a form that both open the reader): each reads the card, whichever takes
// the keys first; when one goes, the other still does. Neither leaves a hook behind.

enum class TFirstToGo { Older, Newer };

class TwoDrivers : public PrivateTypingHostTest, public testing::WithParamInterface<TFirstToGo> {
protected:
    void SetUp() override {
        PrivateTypingHostTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        Newer = Module.Create();
        ASSERT_HRESULT_SUCCEEDED(InitDoneOf(Newer.Get())->Init(NewerSink.Get()));
    }

    void TearDown() override {
        Newer.Reset();
        PrivateTypingHostTest::TearDown();
    }

    ComPtr<TEventSink> NewerSink = TEventSink::Create();
    ComPtr<ILumMSRKBD1C> Newer;
};

TEST_P(TwoDrivers, ReleasedInEitherOrderLeaveNoHookBehind) {
    const std::wstring older = OpenBenchDevice();
    std::wstring newer;
    ASSERT_TRUE(OpenDevice(Newer.Get(), TSettingsArray::Bench().Get(), newer));

    TKeystrokes keys;
    TypeAndWait(NumberedCard(keys, 1).Type("b"), L"b");
    EXPECT_EQ(Sink->Events, std::vector<THostEvent>{BenchRead(older, 1)});
    EXPECT_EQ(NewerSink->Events, std::vector<THostEvent>{BenchRead(newer, 1)});
    EXPECT_TRUE(Acknowledge(Driver.Get(), older, true));
    EXPECT_TRUE(Acknowledge(Newer.Get(), newer, true));

    // The first to go leaves with its device still open.
    if (GetParam() == TFirstToGo::Newer) {
        Newer.Reset();
        TypeAndWait(NumberedCard(keys, 2).Type("c"), L"c");
        EXPECT_EQ(Sink->Events,
                  (std::vector<THostEvent>{BenchRead(older, 1), BenchRead(older, 2)}));
        Driver.Reset();
    } else {
        Driver.Reset();
        TypeAndWait(NumberedCard(keys, 2).Type("c"), L"c");
        EXPECT_EQ(NewerSink->Events,
                  (std::vector<THostEvent>{BenchRead(newer, 1), BenchRead(newer, 2)}));
        Newer.Reset();
    }
    EXPECT_EQ(Sink->References(), 1u);
    EXPECT_EQ(NewerSink->References(), 1u);

    // Nothing captures any more: a card is typing.
    TypeAndWait(keys.Tap(VK_TAB).Type("7").Tap(VK_RETURN), L"\t7\r");

    // With the module gone, a hook left behind would call into unloaded code at the next key.
    const HMODULE module = Module.Module().Handle();
    EXPECT_EQ(Module.Module().CanUnloadNow(), S_OK);
    ASSERT_TRUE(Module.Module().Unload());
    wchar_t name[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(module, name, MAX_PATH), 0u) << "the module is still loaded";
    TypeAndWait(keys.Tap(VK_TAB).Type("8").Tap(VK_RETURN), L"\t8\r");
    EXPECT_EQ(Window.Chars(), L"bc\t7\r\t8\r");
}

INSTANTIATE_TEST_SUITE_P(FirstToGo, TwoDrivers,
                         testing::Values(TFirstToGo::Older, TFirstToGo::Newer),
                         [](const testing::TestParamInfo<TFirstToGo>& Info) {
                             return Info.param == TFirstToGo::Older ? "TheOlder" : "TheNewer";
                         });

// ---------------------------------------------------------------------------------------------
// The module unloaded when its last object is gone, and loaded again.

// The window procedure of a window class lies in the module that registered it.
::testing::AssertionResult ClassProcedureInside(HMODULE Module, const char* ClassName) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    if (!GetClassInfoExA(Module, ClassName, &windowClass)) {
        return ::testing::AssertionFailure() << ClassName << " is not registered";
    }
    MODULEINFO info{};
    if (!GetModuleInformation(GetCurrentProcess(), Module, &info, sizeof info)) {
        return ::testing::AssertionFailure() << "no module information";
    }
    const auto procedure = reinterpret_cast<std::uintptr_t>(windowClass.lpfnWndProc);
    const auto base = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
    if (procedure >= base && procedure < base + info.SizeOfImage) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << ClassName << "'s procedure lies outside the module";
}

bool ClassRegistered(HMODULE Module, const char* ClassName) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    return GetClassInfoExA(Module, ClassName, &windowClass) != FALSE;
}

using TCanUnloadNow = HRESULT(STDAPICALLTYPE*)();

using ModuleUnload = TypingHostTest;

TEST_F(ModuleUnload, LeavesNothingOfTheModuleBehindAndLoadsAgain) {
    const std::wstring path = WindowsPath(WEDGECARD_DRIVER_DLL);
    const HMODULE first = GetModuleHandleW(path.c_str());
    ASSERT_NE(first, nullptr);
    const auto canUnloadNow = reinterpret_cast<TCanUnloadNow>(ExportOf(first, "DllCanUnloadNow"));
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_TRUE(ClassProcedureInside(first, "TAxView"));

    // The driver in use: capturing, its test dialog shown and closed.
    OpenBenchDevice();
    TKeystrokes keys;
    TypeAndWait(NumberedCard(keys, 1).Type("b"), L"b");
    {
        TDialogCloser user;
        BSTR description = nullptr;
        VARIANT_BOOL result = VARIANT_FALSE;
        EXPECT_EQ(Driver->DeviceTest(nullptr, &description, &result), S_OK);
        EXPECT_EQ(TakeString(description), L"Ошибок нет");
        EXPECT_EQ(TDialogCloser::Closed(), 1);
    }
    ASSERT_TRUE(Window.Activate()) << "the dialog took the focus with it";
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a driver object is alive";

    // Released with its device open: the object takes its hook with it.
    Driver.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
    CoFreeUnusedLibrariesEx(0, 0);
    ASSERT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "the module was not unloaded";
    EXPECT_FALSE(ClassRegistered(first, "TAxView"));
    EXPECT_FALSE(ClassRegistered(first, "WedgecardForm"));
    TypeAndWait(keys.Tap(VK_TAB).Type("7").Tap(VK_RETURN), L"\t7\r");

    // Loaded again, possibly elsewhere: the classes it registers are its own.
    Driver = CreateDriver();
    const HMODULE second = GetModuleHandleW(path.c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(ClassProcedureInside(second, "TAxView"));
    ASSERT_HRESULT_SUCCEEDED(InitDoneOf(Driver.Get())->Init(Sink.Get()));
    const std::wstring id = OpenBenchDevice();
    TypeAndWait(NumberedCard(keys, 2).Type("c"), L"c");
    EXPECT_EQ(Sink->Events.back(), BenchRead(id, 2));
    {
        TDialogCloser user;
        BSTR description = nullptr;
        VARIANT_BOOL result = VARIANT_FALSE;
        EXPECT_EQ(Driver->DeviceTest(nullptr, &description, &result), S_OK);
        SysFreeString(description);
        EXPECT_EQ(TDialogCloser::Closed(), 1);
    }
    EXPECT_EQ(VersionOf(Driver.Get()), DriverVersion);
    EXPECT_EQ(Window.Chars(), L"b\t7\rc");
}

// ---------------------------------------------------------------------------------------------
// A log file the driver cannot open: the driver works all the same and drops its lines.

class UnwritableLog : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(Apartment.Status());
        ASSERT_TRUE(Module.Loaded());
    }

    // A host's session: each call answered as usual, an event delivered and acknowledged.
    void ExpectWorking(ILumMSRKBD1C* Driver, const std::wstring& Tag) {
        const ComPtr<TEventSink> sink = TEventSink::Create();
        ASSERT_EQ(InitDoneOf(Driver)->Init(sink.Get()), S_OK);
        EXPECT_EQ(VersionOf(Driver), DriverVersion);
        std::wstring id;
        EXPECT_TRUE(OpenDevice(Driver, TSettingsArray::Bench().Get(), id));
        EXPECT_FALSE(CloseDevice(Driver, Tag));
        EXPECT_EQ(LastErrorOf(Driver).Code, 1);
        EXPECT_TRUE(CloseDevice(Driver, id));
        EXPECT_FALSE(Acknowledge(Driver, Tag, true));
        EXPECT_EQ(sink->Events.size(), 1u);
        EXPECT_TRUE(Acknowledge(Driver, Tag, true));
        EXPECT_EQ(InitDoneOf(Driver)->Done(), S_OK);
    }

    TComApartment Apartment;
    TPrivateDriver Module{WindowsPath(WEDGECARD_DRIVER_DLL)};
};

TEST_F(UnwritableLog, AFolderInThePlaceOfTheLogFile) {
    const std::string log = Module.LogFileName();
    ASSERT_TRUE(CreateDirectoryA(log.c_str(), nullptr));
    ComPtr<ILumMSRKBD1C> driver = Module.Create();
    ExpectWorking(driver.Get(), L"while blocked");
    EXPECT_NE(GetFileAttributesA(log.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

    // Each line tries again: once the way is clear, the lines come.
    ASSERT_TRUE(RemoveDirectoryA(log.c_str()));
    ExpectWorking(driver.Get(), L"after");
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("Close(DeviceID: after)"), std::string::npos);
    EXPECT_EQ(text.find("while blocked"), std::string::npos);
}

TEST_F(UnwritableLog, TheModulesFolderGone) {
    ComPtr<ILumMSRKBD1C> driver = Module.Create();
    // Moved away with the module loaded from it (Windows refuses that; Wine does not).
    const std::string folder = Module.Folder();
    const std::string moved = folder + "-moved";
    if (!MoveFileA(folder.c_str(), moved.c_str())) {
        GTEST_SKIP() << "the system keeps the folder of a loaded module in place";
    }
    ExpectWorking(driver.Get(), L"while gone");
    const bool back = MoveFileA(moved.c_str(), folder.c_str());
    ASSERT_TRUE(back);
    EXPECT_FALSE(FileExists(Module.LogFileName()));

    ExpectWorking(driver.Get(), L"after");
    const std::string text = ReadFile(Module.LogFileName());
    EXPECT_NE(text.find("Close(DeviceID: after)"), std::string::npos);
    EXPECT_EQ(text.find("while gone"), std::string::npos);
}

// The other process of these tests (LogHolder.cpp), with the events it meets the test by.
class TLogHolder {
public:
    TLogHolder(const std::wstring& Arguments, bool Hold) {
        const std::wstring tag =
            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
        FReadyName = L"wedgecard-log-ready-" + tag;
        FReleaseName = L"wedgecard-log-release-" + tag;
        FReady = CreateEventW(nullptr, TRUE, FALSE, FReadyName.c_str());
        FRelease = CreateEventW(nullptr, TRUE, FALSE, FReleaseName.c_str());
        std::wstring command = L"\"" + WindowsPath(WEDGECARD_LOG_HOLDER) + L"\" " + Arguments;
        if (Hold) {
            command += L" " + FReadyName + L" " + FReleaseName;
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        FStarted = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &FProcess) != FALSE;
    }
    TLogHolder(const TLogHolder&) = delete;
    TLogHolder& operator=(const TLogHolder&) = delete;
    ~TLogHolder() {
        SetEvent(FRelease);
        if (FStarted) {
            if (WaitForSingleObject(FProcess.hProcess, 30000) != WAIT_OBJECT_0) {
                TerminateProcess(FProcess.hProcess, 9);
            }
            CloseHandle(FProcess.hThread);
            CloseHandle(FProcess.hProcess);
        }
        CloseHandle(FReady);
        CloseHandle(FRelease);
    }

    // The holder has the file open.
    [[nodiscard]] bool Ready() const {
        HANDLE waits[] = {FReady, FProcess.hProcess};
        return FStarted && WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
    }
    // Lets the holder close the file and end; its exit code.
    [[nodiscard]] DWORD Finish() {
        SetEvent(FRelease);
        DWORD code = 99;
        if (FStarted && WaitForSingleObject(FProcess.hProcess, 30000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(FProcess.hProcess, &code);
        }
        return code;
    }

private:
    std::wstring FReadyName;
    std::wstring FReleaseName;
    HANDLE FReady = nullptr;
    HANDLE FRelease = nullptr;
    PROCESS_INFORMATION FProcess{};
    bool FStarted = false;
};

class HeldLog : public UnwritableLog, public testing::WithParamInterface<const wchar_t*> {};

TEST_P(HeldLog, KeepsTheDriversLinesOutAndTheHoldersIntact) {
    const std::string log = Module.LogFileName();
    const std::string earlier = "[01.01.2020 00:00:00.000] [00000001] [DEBUG] earlier run\r\n";
    WriteFile(log, earlier);
    const std::wstring sharing = GetParam();
    TLogHolder holder(L"hold " + sharing + L" \"" + std::wstring(log.begin(), log.end()) + L"\"",
                      true);
    ASSERT_TRUE(holder.Ready());

    ComPtr<ILumMSRKBD1C> driver = Module.Create();
    ExpectWorking(driver.Get(), L"while held");

    ASSERT_EQ(holder.Finish(), 0u);
    const std::string held = earlier + (sharing == L"reader" ? "" : "holder's line\r\n");
    EXPECT_EQ(ReadFile(log), held) << "the driver wrote to a file another process held";
    ExpectWorking(driver.Get(), L"after");
    const std::string text = ReadFile(log);
    EXPECT_EQ(text.substr(0, held.size()), held);
    EXPECT_NE(text.find("Close(DeviceID: after)", held.size()), std::string::npos);
    EXPECT_EQ(text.find("while held"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Sharing, HeldLog, testing::Values(L"none", L"read", L"reader"),
                         [](const testing::TestParamInfo<const wchar_t*>& Info) {
                             const std::wstring name = Info.param;
                             return name == L"none"   ? std::string("WithoutSharing")
                                    : name == L"read" ? std::string("SharingReading")
                                                      : std::string("ReadingAndSharingReading");
                         });

TEST_F(UnwritableLog, ASecondProcessOfTheSameModuleDropsItsLinesAndLeavesTheFirstOnesIntact) {
    ComPtr<ILumMSRKBD1C> driver = Module.Create();
    // From its first line on, this process's driver keeps the log open, sharing it for reading.
    ExpectWorking(driver.Get(), L"first process");
    const std::string first = ReadFile(Module.LogFileName());
    ASSERT_NE(first.find("Close(DeviceID: first process)"), std::string::npos);

    TLogHolder second(L"driver \"" + Module.ModulePath() + L"\"", false);
    EXPECT_EQ(second.Finish(), 0u) << "the second process's calls were not answered as usual";

    ExpectWorking(driver.Get(), L"first process again");
    const std::string text = ReadFile(Module.LogFileName());
    EXPECT_EQ(text.substr(0, first.size()), first);
    EXPECT_NE(text.find("Close(DeviceID: first process again)", first.size()), std::string::npos);
    EXPECT_EQ(text.find("second process"), std::string::npos);
}

}  // namespace
}  // namespace wedgecard::test
