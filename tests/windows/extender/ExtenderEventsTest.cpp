// A card typed through the system's input reaches the host's IAsyncEvent, handed over with
// IInitDone::Init, and is acknowledged through the extender; and the interactive DeviceTest,
// closed as a user closes it.
#include <memory>

#include "tests/windows/extender/ExtenderHost.h"

namespace wedgecard::extender_test {
namespace {

class ExtenderEvents : public ExtenderTest {
protected:
    void SetUp() override {
        ExtenderTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        Window = std::make_unique<TFocusWindow>();
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
        ASSERT_TRUE(TypeBenchCard("z"));
        ASSERT_TRUE(PumpUntil([&] { return Window->Chars().size() > typed; }))
            << "nothing came back from the swipe";
        EXPECT_EQ(Window->Chars().substr(typed), L"z") << "keys of the card reached the window";
    }

    // EventProcessed through the extender with Flag as the host passes it; its result.
    bool Acknowledge(const std::wstring& DeviceID, const TVar& Flag) {
        THostArray arguments({TVar::Text(DeviceID), Flag});
        TVar result;
        EXPECT_EQ(Call(mEventProcessed, arguments, result), S_OK);
        EXPECT_EQ(result.Get().vt, VT_BOOL);
        EXPECT_TRUE(arguments.Intact());
        return result.Get().vt == VT_BOOL && result.Get().boolVal == VARIANT_TRUE;
    }

    static THostEvent Card(const std::wstring& DeviceID) {
        return {DeviceID, CardRead, BenchCardData};
    }

    std::unique_ptr<TFocusWindow> Window;
};

TEST_F(ExtenderEvents, ACardReachesTheSinkHandedOverWithInit) {
    const auto host = TConnection::Create();
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);
    const std::wstring id = Open(TValuesArray::Bench().Get());

    Swipe();

    ASSERT_EQ(host->Events, std::vector<THostEvent>{Card(id)});
    EXPECT_TRUE(Acknowledge(id, TVar::Bool(true)));
    // Acknowledged, nothing is outstanding any more: the driver says so with an error event.
    EXPECT_FALSE(Acknowledge(id, TVar::Bool(true)));
    EXPECT_EQ(LastError().first, 3);
    EXPECT_EQ(host->Events, (std::vector<THostEvent>{
                                Card(id), {L"0", L"ОшибкаВДрайвере", L"Событие не посылалось"}}));
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, NumericFlagsRepeatTheEventOnZeroAndReleaseItOnOne) {
    const auto host = TConnection::Create();
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);
    const std::wstring id = Open(TValuesArray::Bench().Get());
    Swipe();
    ASSERT_EQ(host->Events.size(), 1u);

    EXPECT_TRUE(Acknowledge(id, TVar::Int(0)));
    EXPECT_EQ(host->Events, (std::vector<THostEvent>{Card(id), Card(id)}));

    EXPECT_TRUE(Acknowledge(id, TVar::Int(1)));
    EXPECT_EQ(host->Events.size(), 2u);
    EXPECT_FALSE(Acknowledge(id, TVar::Int(1)));
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, AHostThatAcknowledgesInsideItsHandlerGetsTheNextCard) {
    const auto host = TConnection::Create();
    const std::wstring id = Open(TValuesArray::Bench().Get());
    host->OnEvent = [&](const THostEvent& Event) {
        EXPECT_TRUE(Acknowledge(Event.Source, TVar::Bool(true)));
    };
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);

    Swipe();
    Swipe();

    EXPECT_EQ(host->Events, (std::vector<THostEvent>{Card(id), Card(id)}));
    host->OnEvent = nullptr;
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, ASecondInitReplacesTheFirstSinkAndLetsItGo) {
    const auto first = TConnection::Create();
    const auto second = TConnection::Create();
    ASSERT_EQ(InitDone->Init(first.Get()), S_OK);
    EXPECT_EQ(first->References(), 2u);
    ASSERT_EQ(InitDone->Init(second.Get()), S_OK);
    EXPECT_EQ(first->References(), 1u);
    EXPECT_EQ(second->References(), 2u);
    const std::wstring id = Open(TValuesArray::Bench().Get());

    Swipe();

    EXPECT_TRUE(first->Events.empty());
    EXPECT_EQ(second->Events, std::vector<THostEvent>{Card(id)});
    EXPECT_TRUE(Acknowledge(id, TVar::Bool(true)));
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, AfterDoneCardsAreDroppedButStillAwaitTheirAcknowledgement) {
    const auto host = TConnection::Create();
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);
    ASSERT_EQ(InitDone->Done(), S_OK);
    EXPECT_EQ(host->References(), 1u);
    const std::wstring id = Open(TValuesArray::Bench().Get());

    Swipe();

    EXPECT_TRUE(host->Events.empty());
    // The dropped card counts as sent: the next one waits for it to be acknowledged.
    const auto again = TConnection::Create();
    ASSERT_EQ(InitDone->Init(again.Get()), S_OK);
    Swipe();
    EXPECT_TRUE(again->Events.empty());
    EXPECT_TRUE(Acknowledge(id, TVar::Bool(true)));
    EXPECT_EQ(again->Events, std::vector<THostEvent>{Card(id)});
    EXPECT_TRUE(Acknowledge(id, TVar::Bool(true)));
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderEvents, AConnectionWithoutAsyncEventIsAcceptedAndGetsNothing) {
    const auto plain = TConnection::Create(false);
    EXPECT_EQ(InitDone->Init(plain.Get()), S_OK);
    EXPECT_EQ(plain->References(), 1u);
    const std::wstring id = Open(TValuesArray::Bench().Get());

    Swipe();

    EXPECT_TRUE(plain->Events.empty());
    EXPECT_TRUE(Acknowledge(id, TVar::Bool(true)));
    EXPECT_TRUE(Close(id));
    EXPECT_EQ(Version(), DriverVersion);
}

// DeviceTest runs its dialog modally; a thread timer plays the user who closes it.
class ExtenderDeviceTest : public ExtenderTest {
protected:
    static BOOL CALLBACK FindDialog(HWND Window, LPARAM Found) {
        wchar_t caption[64] = L"";
        GetWindowTextW(Window, caption, 64);
        if (IsWindowVisible(Window) && std::wstring(caption) == L"Тест устройства") {
            *reinterpret_cast<HWND*>(Found) = Window;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK FindCloseButton(HWND Window, LPARAM Found) {
        wchar_t caption[64] = L"";
        GetWindowTextW(Window, caption, 64);
        if (std::wstring(caption) == L"Закрыть") {
            *reinterpret_cast<HWND*>(Found) = Window;
            return FALSE;
        }
        return TRUE;
    }
    static void CALLBACK CloseDialog(HWND, UINT, UINT_PTR Timer, DWORD) {
        // Only this thread's windows: other programs on the display may show theirs.
        HWND dialog = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&dialog));
        HWND button = nullptr;
        if (dialog != nullptr) {
            EnumChildWindows(dialog, &FindCloseButton, reinterpret_cast<LPARAM>(&button));
        }
        if (button != nullptr) {
            KillTimer(nullptr, Timer);
            Closed = true;
            SendMessageW(button, BM_CLICK, 0, 0);
        }
    }
    static inline bool Closed = false;
};

TEST_F(ExtenderDeviceTest, ShowsTheDialogUntilTheUserClosesItAndReportsNoError) {
    const auto settings = TValuesArray::Bench();
    THostArray arguments({TVar::Object(settings.Get()), TVar()});
    TVar result;
    Closed = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &CloseDialog);
    ASSERT_NE(timer, 0u);

    EXPECT_EQ(Call(mDeviceTest, arguments, result), S_OK);

    KillTimer(nullptr, timer);
    EXPECT_TRUE(Closed) << "the dialog was not found";
    EXPECT_TRUE(IsBool(result.Get(), true));
    EXPECT_TRUE(IsString(arguments[1], L"Ошибок нет"));
    EXPECT_TRUE(arguments.Intact());
    EXPECT_EQ(Version(), DriverVersion);
}

}  // namespace
}  // namespace wedgecard::extender_test
