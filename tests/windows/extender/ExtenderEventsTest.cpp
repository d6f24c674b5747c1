// A card typed through the system's input reaches the host's IAsyncEvent, handed over with
// IInitDone::Init, and is acknowledged through the extender; and the interactive DeviceTest,
// closed as a user closes it.
#include <memory>

#include "tests/windows/extender/ExtenderHost.h"

namespace wedgecard::test {
namespace {

class ExtenderEvents : public ExtenderTest {
protected:
    void SetUp() override {
        ExtenderTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        Window = std::make_unique<TTestWindow>();
        ASSERT_TRUE(Window->Activate()) << "the test window did not get the keyboard focus";
    }
    void TearDown() override {
        Window.reset();
        ExtenderTest::TearDown();
    }

    // Types the card and a letter right after it. The driver gives the letter back once it
    // has dealt with the card, so when the letter arrives any event has been delivered.
    void Swipe() {
        const std::size_t typed = Window->Chars().size();
        TKeystrokes keys;
        ASSERT_TRUE(keys.BenchCard().Type("z").Send());
        ASSERT_TRUE(PumpUntil([&] { return Window->Chars().size() > typed; }))
            << "nothing came back from the swipe";
        EXPECT_EQ(Window->Chars().substr(typed), L"z") << "keys of the card reached the window";
    }

    // EventProcessed through the extender with Flag as the host passes it; its result.
    bool Acknowledge(const std::wstring& DeviceID, const TValue& Flag) {
        THostArray arguments({TValue::Text(DeviceID), Flag});
        TValue result;
        EXPECT_EQ(Call(mEventProcessed, arguments, result), S_OK);
        EXPECT_EQ(result.Get().vt, VT_BOOL);
        EXPECT_TRUE(arguments.Intact());
        return result.Get().vt == VT_BOOL && result.Get().boolVal == VARIANT_TRUE;
    }

    static THostEvent Card(const std::wstring& DeviceID) {
        return {DeviceID, CardRead, BenchCardData};
    }

    std::unique_ptr<TTestWindow> Window;
};

TEST_F(ExtenderEvents, ACardReachesTheSinkHandedOverWithInit) {
    const auto host = TEventSink::Create();
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);
    const std::wstring id = Open(TSettingsArray::Bench().Get());

    Swipe();

    ASSERT_EQ(host->Events, std::vector<THostEvent>{Card(id)});
    EXPECT_TRUE(Acknowledge(id, TValue::Bool(true)));
    // Acknowledged, nothing is outstanding any more: the driver says so with an error event.
    EXPECT_FALSE(Acknowledge(id, TValue::Bool(true)));
    EXPECT_EQ(LastError().first, 3);
    EXPECT_EQ(host->Events, (std::vector<THostEvent>{
                                Card(id), {L"0", L"ОшибкаВДрайвере", L"Событие не посылалось"}}));
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, NumericFlagsRepeatTheEventOnZeroAndReleaseItOnOne) {
    const auto host = TEventSink::Create();
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);
    const std::wstring id = Open(TSettingsArray::Bench().Get());
    Swipe();
    ASSERT_EQ(host->Events.size(), 1u);

    EXPECT_TRUE(Acknowledge(id, TValue::Int(0)));
    EXPECT_EQ(host->Events, (std::vector<THostEvent>{Card(id), Card(id)}));

    EXPECT_TRUE(Acknowledge(id, TValue::Int(1)));
    EXPECT_EQ(host->Events.size(), 2u);
    EXPECT_FALSE(Acknowledge(id, TValue::Int(1)));
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, AHostThatAcknowledgesInsideItsHandlerGetsTheNextCard) {
    const auto host = TEventSink::Create();
    const std::wstring id = Open(TSettingsArray::Bench().Get());
    host->OnEvent = [&](const THostEvent& Event) {
        EXPECT_TRUE(Acknowledge(Event.Source, TValue::Bool(true)));
    };
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);

    Swipe();
    Swipe();

    EXPECT_EQ(host->Events, (std::vector<THostEvent>{Card(id), Card(id)}));
    host->OnEvent = nullptr;
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, ASecondInitReplacesTheFirstSinkAndLetsItGo) {
    const auto first = TEventSink::Create();
    const auto second = TEventSink::Create();
    ASSERT_EQ(InitDone->Init(first.Get()), S_OK);
    EXPECT_EQ(first->References(), 2u);
    ASSERT_EQ(InitDone->Init(second.Get()), S_OK);
    EXPECT_EQ(first->References(), 1u);
    EXPECT_EQ(second->References(), 2u);
    const std::wstring id = Open(TSettingsArray::Bench().Get());

    Swipe();

    EXPECT_TRUE(first->Events.empty());
    EXPECT_EQ(second->Events, std::vector<THostEvent>{Card(id)});
    EXPECT_TRUE(Acknowledge(id, TValue::Bool(true)));
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, AfterDoneCardsAreDroppedButStillAwaitTheirAcknowledgement) {
    const auto host = TEventSink::Create();
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);
    ASSERT_EQ(InitDone->Done(), S_OK);
    EXPECT_EQ(host->References(), 1u);
    const std::wstring id = Open(TSettingsArray::Bench().Get());

    Swipe();

    EXPECT_TRUE(host->Events.empty());
    // The dropped card counts as sent: the next one waits for it to be acknowledged.
    const auto again = TEventSink::Create();
    ASSERT_EQ(InitDone->Init(again.Get()), S_OK);
    Swipe();
    EXPECT_TRUE(again->Events.empty());
    EXPECT_TRUE(Acknowledge(id, TValue::Bool(true)));
    EXPECT_EQ(again->Events, std::vector<THostEvent>{Card(id)});
    EXPECT_TRUE(Acknowledge(id, TValue::Bool(true)));
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, AConnectionWithoutAsyncEventIsAcceptedAndGetsNothing) {
    const auto plain = TEventSink::Create(false);
    EXPECT_EQ(InitDone->Init(plain.Get()), S_OK);
    EXPECT_EQ(plain->References(), 1u);
    const std::wstring id = Open(TSettingsArray::Bench().Get());

    Swipe();

    EXPECT_TRUE(plain->Events.empty());
    EXPECT_TRUE(Acknowledge(id, TValue::Bool(true)));
    EXPECT_TRUE(Close(id));
    EXPECT_EQ(Version(), DriverVersion);
}

TEST_F(ExtenderEvents, AHostMayLetGoOfTheDriverInAnEventDeliveredDuringItsCall) {
    // Run with Wine's heap checking: a use of the freed object then faults.
    const auto host = TEventSink::Create();
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);
    const std::wstring id = Open(TSettingsArray::Bench().Get());
    Open(TSettingsArray::Bench().Get());
    Swipe();
    ASSERT_EQ(host->Events.size(), 1u) << "the second device's card waits";

    // The host's call is the last thing that holds the driver once the handler is done.
    ILanguageExtender* extender = Extender.Detach();
    host->OnEvent = [this, extender](const THostEvent&) {
        InitDone->Done();
        InitDone.Reset();
        Driver.Reset();
        extender->Release();
    };
    THostArray arguments({TValue::Text(id), TValue::Bool(true)});
    TValue result;
    EXPECT_EQ(extender->CallAsFunc(mEventProcessed, result.Address(), arguments.Put()), S_OK);
    EXPECT_TRUE(IsBool(result.Get(), true));
    EXPECT_EQ(host->Events.size(), 2u);
    EXPECT_EQ(host->References(), 1u) << "the driver still holds the sink";
}

// DeviceTest runs its dialog modally; a thread timer plays the user who closes it.
using ExtenderDeviceTest = ExtenderTest;

TEST_F(ExtenderDeviceTest, ShowsTheDialogUntilTheUserClosesItAndReportsNoError) {
    const auto settings = TSettingsArray::Bench();
    THostArray arguments({TValue::Object(settings.Get()), TValue()});
    TValue result;
    {
        const TDialogCloser user;
        EXPECT_EQ(Call(mDeviceTest, arguments, result), S_OK);
        EXPECT_EQ(TDialogCloser::Closed(), 1) << "the dialog was not found";
    }
    EXPECT_TRUE(IsBool(result.Get(), true));
    EXPECT_TRUE(IsString(arguments[1], L"Ошибок нет"));
    EXPECT_TRUE(arguments.Intact());
    EXPECT_EQ(Version(), DriverVersion);
}

}  // namespace
}  // namespace wedgecard::test
