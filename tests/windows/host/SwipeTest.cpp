// Swipes typed through the system's input into a focused window of a host that created the
// driver: the events the host receives, the acknowledgement handshake, the keys the window gets
// back, and hosts that refuse events or let go of the driver while it delivers one.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/windows/support/HostFixture.h"

namespace wedgecard::test {
namespace {

// A second reader's settings: its track 1 is the bench card's track 2.
ComPtr<TSettingsArray> Track2Reader() {
    return TSettingsArray::Create(SettingsValues(100, L"#33", L"#34", L"", L"", L"", L"", true));
}

using Swipe = TypingHostTest;

TEST_F(Swipe, DeliversTheCardAsOneEventAndKeepsItsKeysFromTheWindow) {
    // Every track the device reads is there: the card is read at its last key, long before
    // the quiet time has passed.
    const std::wstring id = OpenBenchDevice(60000);
    TKeystrokes keys;
    ASSERT_TRUE(keys.BenchCard().Send());
    ASSERT_TRUE(WaitForEvents(1));
    ASSERT_EQ(Sink->Events.size(), 1u);
    EXPECT_EQ(Sink->Events[0], (THostEvent{id, CardRead, BenchCardData}));

    // A key typed afterwards comes through once the capture has given it back; nothing of the
    // card came before it.
    TypeAndWait(keys.Type("z"), L"z");
    EXPECT_EQ(Window.Chars(), L"z");
    EXPECT_EQ(Sink->Events.size(), 1u);
}

TEST_F(Swipe, GivesOrdinaryTypingBackAroundTheCardInOrder) {
    const std::wstring id = OpenBenchDevice();
    TKeystrokes keys;
    TypeAndWait(keys.Type("ab"), L"ab");

    // A letter before the card passes at once; typing right after it falls into its burst.
    ASSERT_TRUE(keys.Type("x").BenchCard().Type("Y!").Send());
    ASSERT_TRUE(WaitForEvents(1));
    ASSERT_TRUE(Window.WaitForChars(L"Y!")) << Utf8(Window.Chars());
    TypeAndWait(keys.Type("c"), L"c");

    EXPECT_EQ(Window.Chars(), L"abxY!c");
    ASSERT_EQ(Sink->Events.size(), 1u);
    EXPECT_EQ(Sink->Events[0], (THostEvent{id, CardRead, BenchCardData}));
}

TEST_F(Swipe, GivesACharacterBackWithTheShiftStateItWasTypedWith) {
    OpenBenchDevice();
    TKeystrokes keys;
    // Shift may begin a card: it is held, and goes back with its letter, after which Shift is
    // up again.
    TypeAndWait(keys.Down(VK_SHIFT).Tap('Q').Up(VK_SHIFT).Tap('Q').Type("1!"), L"1!");
    EXPECT_EQ(Window.Chars(), L"Qq1!");
}

TEST_F(Swipe, GivesTwoDevicesAnEventEachInTheOrderOfOpening) {
    const std::wstring first = OpenBenchDevice();
    const std::wstring second = OpenWith(Track2Reader().Get());
    ASSERT_NE(first, second);
    TKeystrokes keys;
    ASSERT_TRUE(keys.BenchCard().Type("z").Send());
    ASSERT_TRUE(Window.WaitForChars(L"z"));
    ASSERT_EQ(Sink->Events.size(), 1u) << "the second waits for the first to be acknowledged";
    EXPECT_EQ(Sink->Events[0], (THostEvent{first, CardRead, BenchCardData}));

    EXPECT_TRUE(Acknowledge(Driver.Get(), first, true));
    ASSERT_EQ(Sink->Events.size(), 2u);
    EXPECT_EQ(Sink->Events[1], (THostEvent{second, CardRead, L"@1Track2@2@3"}));
    EXPECT_EQ(Window.Chars(), L"z");
}

// Given-back keys the thread retrieves: a hook installed after the driver's sees each one first,
// as it was posted.
int ReplaysSeen = 0;
LRESULT CALLBACK CountReplays(int Code, WPARAM WParam, LPARAM LParam) {
    if (Code == HC_ACTION && WParam == PM_REMOVE &&
        reinterpret_cast<const MSG*>(LParam)->message == 0x800B) {
        ++ReplaysSeen;
    }
    return CallNextHookEx(nullptr, Code, WParam, LParam);
}

TEST_F(Swipe, TypesALetterStraightIntoTheWindowWhileADeviceIsOpen) {
    OpenBenchDevice(800);
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &CountReplays, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    ReplaysSeen = 0;
    TKeystrokes keys;
    TypeAndWait(keys.Type("a"), L"a");
    EXPECT_EQ(ReplaysSeen, 0);
    TypeAndWait(keys.Tap(VK_TAB), L"\t");  // a prefix key is held and given back
    EXPECT_GT(ReplaysSeen, 0);
    UnhookWindowsHookEx(hook);
}

TEST_F(Swipe, GivesHeldKeysBackToAnEditControlAsTheyWouldComeWithoutTheDriver) {
    // End, track 3's prefix, holds what follows; a typist presses Left before letting go of 2.
    // Each key's character must reach the control before the next key does.
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 200, 20,
                                Window.Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(edit, nullptr);
    auto typeInto = [edit] {
        SetWindowTextW(edit, L"abc");
        SetFocus(edit);
        TKeystrokes keys;
        EXPECT_TRUE(
            keys.Tap(VK_END).Tap('1').Down('2').Down(VK_LEFT).Up('2').Up(VK_LEFT).Tap('3').Send());
        wchar_t text[32] = L"";
        PumpUntil([&] { return GetWindowTextW(edit, text, 32) >= 6; }, 5s);
        PumpFor(50ms);
        GetWindowTextW(edit, text, 32);
        return std::wstring(text);
    };
    const std::wstring withoutDriver = typeInto();
    EXPECT_EQ(withoutDriver, L"abc132");
    OpenBenchDevice();
    EXPECT_EQ(typeInto(), withoutDriver);
    DestroyWindow(edit);
}

TEST_F(Swipe, GivesALongBurstBackWholeAndInOrder) {
    OpenBenchDevice();
    std::string text;
    for (int i = 0; i < 400; ++i) {
        text += static_cast<char>('a' + i % 26);
        text += static_cast<char>('0' + i % 10);
    }
    TKeystrokes keys;
    ASSERT_TRUE(keys.Type(text).Type("!").Send());
    ASSERT_TRUE(Window.WaitForChars(L"!", 20s)) << Window.Chars().size() << " characters came";
    EXPECT_EQ(Window.Chars(), std::wstring(text.begin(), text.end()) + L"!");
}

TEST_F(Swipe, GivesAKeyTypedJustBeforeDeviceTestToTheHostsWindow) {
    OpenBenchDevice(800);
    TKeystrokes keys;
    ASSERT_TRUE(keys.Tap(VK_TAB).Send());  // held: it may begin a card
    PumpFor(100ms);
    const auto settings = TSettingsArray::Bench();
    TBstrArg description(L"");
    VARIANT_BOOL result = VARIANT_FALSE;
    {
        const TDialogCloser user;
        ASSERT_HRESULT_SUCCEEDED(
            Driver->DeviceTest(settings.Get(), description.Address(), &result));
        EXPECT_EQ(TDialogCloser::Closed(), 1);
    }
    EXPECT_EQ(result, VARIANT_TRUE);
    ASSERT_TRUE(Window.WaitForChars(L"\t")) << "the key went to the dialog";
    EXPECT_EQ(Window.Chars(), L"\t");
}

TEST_F(Swipe, TypesStraightIntoTheWindowOnceTheLastDeviceIsClosed) {
    const std::wstring id = OpenBenchDevice();
    ASSERT_TRUE(CloseDevice(Driver.Get(), id));
    TKeystrokes keys;
    TypeAndWait(keys.Tap(VK_TAB).Type("7").Tap(VK_RETURN), L"\t7\r");
    EXPECT_TRUE(Sink->Events.empty());
}

using Handshake = TypingHostTest;

// A one-track card of the bench device: Tab, Data, Enter.
TKeystrokes& ShortCard(TKeystrokes& Keys, const std::string& Data) {
    return Keys.Tap(VK_TAB).Type(Data).Tap(VK_RETURN);
}

TEST_F(Handshake, HoldsEachCardUntilThePreviousOneIsAcknowledged) {
    const std::wstring id = OpenBenchDevice();
    TKeystrokes keys;
    ASSERT_TRUE(ShortCard(keys, "1").Send());
    ASSERT_TRUE(WaitForEvents(1));
    ShortCard(keys, "2").Type("z");
    TypeAndWait(keys, L"z");
    ASSERT_EQ(Sink->Events.size(), 1u);

    // The next card is delivered from within the acknowledgement.
    EXPECT_TRUE(Acknowledge(Driver.Get(), id, true));
    ASSERT_EQ(Sink->Events.size(), 2u);
    EXPECT_EQ(Sink->Events[1], (THostEvent{id, CardRead, L"@12@2@3"}));
    EXPECT_TRUE(Acknowledge(Driver.Get(), id, true));
    EXPECT_EQ(Sink->Events.size(), 2u);

    // Idle now: an acknowledgement of nothing is an error, and an error event.
    EXPECT_FALSE(Acknowledge(Driver.Get(), id, true));
    const TLastError error = LastErrorOf(Driver.Get());
    EXPECT_EQ(error.Code, 3);
    EXPECT_EQ(error.Text, L"Событие не посылалось");
    ASSERT_EQ(Sink->Events.size(), 3u);
    EXPECT_EQ(Sink->Events[2], (THostEvent{L"0", DriverError, L"Событие не посылалось"}));
}

TEST_F(Handshake, DeliversTheSameEventAgainWhenTheHostCouldNotProcessIt) {
    const std::wstring id = OpenBenchDevice();
    TKeystrokes keys;
    ASSERT_TRUE(keys.BenchCard().Send());
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_TRUE(Acknowledge(Driver.Get(), id, false));
    ASSERT_EQ(Sink->Events.size(), 2u);
    EXPECT_EQ(Sink->Events[1], Sink->Events[0]);
    EXPECT_TRUE(Acknowledge(Driver.Get(), id, true));
    EXPECT_EQ(Sink->Events.size(), 2u);
}

TEST_F(Handshake, NestsTheNextDeliveryInAHandlerThatAcknowledges) {
    const std::wstring id = OpenBenchDevice();
    TKeystrokes keys;
    ASSERT_TRUE(ShortCard(keys, "1").Send());
    ASSERT_TRUE(WaitForEvents(1));
    ShortCard(keys, "2").Type("y");
    TypeAndWait(keys, L"y");
    ShortCard(keys, "3").Type("z");
    TypeAndWait(keys, L"z");
    ASSERT_EQ(Sink->Events.size(), 1u);

    int depth = 0;
    std::vector<int> depths;
    Sink->OnEvent = [&](const THostEvent&) {
        ++depth;
        depths.push_back(depth);
        EXPECT_TRUE(Acknowledge(Driver.Get(), id, true));
        --depth;
    };
    EXPECT_TRUE(Acknowledge(Driver.Get(), id, true));

    ASSERT_EQ(Sink->Events.size(), 3u);
    EXPECT_EQ(Sink->Events[1].Data, L"@12@2@3");
    EXPECT_EQ(Sink->Events[2].Data, L"@13@2@3");
    EXPECT_EQ(depths, (std::vector<int>{1, 2}));
    Sink->OnEvent = nullptr;
    EXPECT_FALSE(Acknowledge(Driver.Get(), id, true)) << "nothing is left outstanding";
}

TEST_F(Handshake, LosesNoCardToAHostWithASmallBufferThatAcknowledgesFromItsHandler) {
    // The platform keeps the event its handler is given in its buffer until the handler returns
    // and drops an event that finds the buffer full; the next card, released by the
    // acknowledgement, needs a second place.
    const auto host = TEventSink::Create();
    host->Buffered = true;
    host->DepthLimit = 2;
    ASSERT_HRESULT_SUCCEEDED(InitDoneOf(Driver.Get())->Init(host.Get()));
    EXPECT_EQ(host->Depth, 2);
    const std::wstring id = OpenBenchDevice();
    std::vector<std::wstring> handled;
    host->OnEvent = [&](const THostEvent& Event) {
        handled.push_back(Event.Data);
        EXPECT_TRUE(Acknowledge(Driver.Get(), id, true));
    };
    TKeystrokes keys;
    ShortCard(keys, "1").Type("x");
    TypeAndWait(keys, L"x");
    ShortCard(keys, "2").Type("y");
    TypeAndWait(keys, L"y");
    ShortCard(keys, "3").Type("z");
    TypeAndWait(keys, L"z");

    host->Deliver();

    EXPECT_EQ(handled, (std::vector<std::wstring>{L"@11@2@3", L"@12@2@3", L"@13@2@3"}));
    EXPECT_TRUE(host->Dropped.empty()) << ::testing::PrintToString(host->Dropped);
    host->OnEvent = nullptr;
    EXPECT_FALSE(Acknowledge(Driver.Get(), id, true)) << "nothing is left outstanding";
}

TEST_F(Handshake, CapturesTheNextCardWhileTheHostsHandlerRunsAMessageLoop) {
    // A host that shows a window from its handler retrieves messages there, while the driver is
    // still inside its delivery of the first card. What is typed meanwhile is a burst of its
    // own: its card is queued and its other keys are given back at once; the keys held with
    // the first card follow when the handler returns.
    const std::wstring id = OpenBenchDevice();
    Sink->OnEvent = [&](const THostEvent& Event) {
        if (Event.Data != L"@11@2@3") {
            return;
        }
        TKeystrokes meanwhile;
        ASSERT_TRUE(ShortCard(meanwhile, "2").Type("z").Send());
        EXPECT_TRUE(Window.WaitForChars(L"z")) << Utf8(Window.Chars());
        EXPECT_EQ(Sink->Events.size(), 1u);
    };
    TKeystrokes keys;
    ASSERT_TRUE(ShortCard(keys, "1").Type("y").Send());
    ASSERT_TRUE(Window.WaitForChars(L"y")) << Utf8(Window.Chars());
    EXPECT_EQ(Window.Chars(), L"zy");
    ASSERT_EQ(Sink->Events.size(), 1u);

    EXPECT_TRUE(Acknowledge(Driver.Get(), id, true));
    ASSERT_EQ(Sink->Events.size(), 2u);
    EXPECT_EQ(Sink->Events[1], (THostEvent{id, CardRead, L"@12@2@3"}));
}

using FailingSink = PrivateTypingHostTest;

TEST_F(FailingSink, KeepsTheRefusedCardQueuedAndItsKeysFromTheWindow) {
    TLogTail log(Module.LogFileName());
    const std::wstring id = OpenBenchDevice();
    Sink->Answer = E_FAIL;
    TKeystrokes keys;
    ASSERT_TRUE(keys.Type("a").BenchCard().Type("b").Send());
    ASSERT_TRUE(WaitForEvents(1));
    ASSERT_TRUE(Window.WaitForChars(L"b"));
    EXPECT_EQ(Window.Chars(), L"ab");
    const std::vector<std::string> messages = log.Messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string& Message) {
        return Message.rfind("[ERROR] TKeyboardHook HookProc: ", 0) == 0;
    })) << "the refusal is logged where the capture caught it";

    // The refused card is still the one outstanding: delivering it again fails the same way.
    EXPECT_FALSE(Acknowledge(Driver.Get(), id, false));
    const TLastError error = LastErrorOf(Driver.Get());
    EXPECT_EQ(error.Code, 255);
    EXPECT_FALSE(error.Text.empty());
    ASSERT_EQ(Sink->Events.size(), 2u);
    EXPECT_EQ(Sink->Events[1], (THostEvent{id, CardRead, BenchCardData}));

    // Once the host takes events again, the card is acknowledged and the error event follows.
    Sink->Answer = S_OK;
    EXPECT_TRUE(Acknowledge(Driver.Get(), id, true));
    ASSERT_EQ(Sink->Events.size(), 3u);
    EXPECT_EQ(Sink->Events[2], (THostEvent{L"0", DriverError, error.Text}));
    EXPECT_TRUE(Acknowledge(Driver.Get(), id, true));
    EXPECT_EQ(Sink->Events.size(), 3u);
}

using HostLifetime = TypingHostTest;

TEST_F(HostLifetime, LeavesNoModifierPressedWhenTheDriverGoesWhileGivingKeysBack) {
    OpenBenchDevice();
    TKeystrokes keys;
    // Shift is given back pressed with the first capital; the driver goes before it has given
    // back its release.
    TypeAndWait(keys.Type("AB"), L"A");
    Driver.Reset();
    ASSERT_TRUE(Window.WaitForChars(L"b") || Window.WaitForChars(L"B"));
    EXPECT_EQ(GetKeyState(VK_SHIFT) & 0x8000, 0);
    TypeAndWait(keys.Type("7"), L"7");
}

TEST_F(HostLifetime, DropsTheCardItHoldsWhenTheHostLetsGoOfIt) {
    OpenBenchDevice(800);
    TKeystrokes keys;
    // Without track 3 the card waits the quiet time: a later track 3 could still be its own.
    ASSERT_TRUE(keys.Type("x")
                    .Tap(VK_TAB)
                    .Type(";1=")
                    .Tap(VK_RETURN)
                    .Tap(VK_PRIOR)
                    .Type("Track2")
                    .Tap(VK_NEXT)
                    .Type("y")
                    .Send());
    PumpFor(200ms);  // every key taken, the burst not over
    Driver.Reset();
    TypeAndWait(keys.Type("z"), L"z");
    EXPECT_EQ(Window.Chars(), L"xyz");
    EXPECT_TRUE(Sink->Events.empty());
}

TEST_F(HostLifetime, AHostMayLetGoOfTheDriverInsideItsEventHandler) {
    OpenBenchDevice();
    ILumMSRKBD1C* driver = Driver.Detach();
    Sink->OnEvent = [&driver](const THostEvent&) {
        if (driver != nullptr) {
            std::exchange(driver, nullptr)->Release();
        }
    };
    TKeystrokes keys;
    ASSERT_TRUE(keys.Type("x").BenchCard().Type("y").Send());
    ASSERT_TRUE(WaitForEvents(1));
    ASSERT_TRUE(Window.WaitForChars(L"y")) << Utf8(Window.Chars());
    // The driver is gone once the message it was serving is done; it let go of the sink.
    EXPECT_TRUE(PumpUntil([this] { return Sink->References() == 1; }));

    // No capture any more: a card types into the window.
    TypeAndWait(keys.Tap(VK_TAB).Type("7").Tap(VK_RETURN), L"\t7\r");
    EXPECT_EQ(Window.Chars(), L"xy\t7\r");
    EXPECT_EQ(Sink->Events.size(), 1u);
}

TEST_F(HostLifetime, AHostMayCloseEveryDeviceInsideItsEventHandler) {
    const std::wstring first = OpenBenchDevice();
    const std::wstring second = OpenWith(Track2Reader().Get());
    Sink->OnEvent = [&](const THostEvent& Event) {
        EXPECT_TRUE(Acknowledge(Driver.Get(), Event.Source, true));
        EXPECT_TRUE(CloseDevice(Driver.Get(), second));
        EXPECT_TRUE(CloseDevice(Driver.Get(), first));
    };
    TKeystrokes keys;
    ASSERT_TRUE(keys.Type("X").BenchCard().Type("Y").Send());
    ASSERT_TRUE(WaitForEvents(1));
    ASSERT_TRUE(Window.WaitForChars(L"Y")) << Utf8(Window.Chars());

    // The keys around the card go back with the Shift they were typed with, although the
    // capture was switched off while they were held.
    TypeAndWait(keys.Tap(VK_TAB).Type("7").Tap(VK_RETURN), L"\t7\r");
    EXPECT_EQ(Window.Chars(), L"XY\t7\r");
    ASSERT_EQ(Sink->Events.size(), 1u) << "the second device was closed before its turn";
    EXPECT_EQ(Sink->Events[0].Source, first);
}

TEST_F(HostLifetime, EveryDriverOnTheThreadReadsTheCardsOfItsOwnDevices) {
    ComPtr<ILumMSRKBD1C> other = CreateDriver();
    ComPtr<TEventSink> otherSink = TEventSink::Create();
    ASSERT_HRESULT_SUCCEEDED(InitDoneOf(other.Get())->Init(otherSink.Get()));
    const std::wstring first = OpenBenchDevice();
    std::wstring second;
    const auto functionKeys =
        TSettingsArray::Create(SettingsValues(100, L"#112", L"#113", L"", L"", L"", L"", true));
    ASSERT_TRUE(OpenDevice(other.Get(), functionKeys.Get(), second));

    // The driver opened first reads its card although the other one captures too.
    TKeystrokes keys;
    ASSERT_TRUE(keys.BenchCard().Type("y").Send());
    ASSERT_TRUE(Window.WaitForChars(L"y"));
    ASSERT_TRUE(WaitForEvents(1));
    EXPECT_EQ(Sink->Events[0], (THostEvent{first, CardRead, BenchCardData}));
    EXPECT_TRUE(otherSink->Events.empty());

    ASSERT_TRUE(keys.Tap(VK_F1).Type("77").Tap(VK_F2).Type("z").Send());
    ASSERT_TRUE(Window.WaitForChars(L"z"));
    ASSERT_EQ(otherSink->Events.size(), 1u);
    EXPECT_EQ(otherSink->Events[0], (THostEvent{second, CardRead, L"@177@2@3"}));
    EXPECT_EQ(Window.Chars(), L"yz");
    EXPECT_EQ(Sink->Events.size(), 1u);
    ASSERT_TRUE(CloseDevice(other.Get(), second));
}

using SwipeLog = PrivateTypingHostTest;

TEST_F(SwipeLog, ShowsTheBurstTheEventAndTheKeysGivenBackButNothingTyped) {
    // The burst ends at the card's last key; the letter typed after it passes.
    TLogTail log(Module.LogFileName());
    const std::wstring id = OpenBenchDevice();
    char narrowID[40] = {};
    WideCharToMultiByte(CP_ACP, 0, id.c_str(), -1, narrowID, sizeof narrowID, nullptr, nullptr);
    const std::string device = narrowID;
    TKeystrokes keys;
    ASSERT_TRUE(keys.BenchCard().Type("a").Send());
    ASSERT_TRUE(WaitForEvents(1));
    ASSERT_TRUE(Window.WaitForChars(L"a"));

    // Characters as stars, the framing keys by their codes, the tracks by their lengths.
    const std::string lengths = "@1[13]@2[6]@3[6]";
    const std::vector<std::string> expected = {
        "[DEBUG] TKBDDriver ReceiveKeyboardData "
        "<-#9;*************#13;#33;******#34;#35;******#36;",
        "[DEBUG] TKBDDriver AddDataEvent(" + device + "; ЧтениеКодаМагнитнойКарты; " + lengths +
            ")",
        "[DEBUG] TKBDDriver FireEvent",
        "[DEBUG] Tole1C ExternalEvent(Source:" + device +
            ", Message:ЧтениеКодаМагнитнойКарты, Data:" + lengths + ")",
        "[DEBUG] TKeyboardHook FlushMessages: ",
    };
    // In this order, among the call lines of Open.
    const std::vector<std::string> messages = log.Messages();
    auto next = messages.begin();
    for (const std::string& line : expected) {
        next = std::find(next, messages.end(), line);
        ASSERT_NE(next, messages.end()) << "missing or out of order: " << line;
    }
    const std::string text = log.Text();
    for (const char* typed : {"12345", "67890", "Track"}) {
        EXPECT_EQ(text.find(typed), std::string::npos) << typed << " in the log";
    }
}

}  // namespace
}  // namespace wedgecard::test
