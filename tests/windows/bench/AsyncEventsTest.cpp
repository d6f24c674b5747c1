#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Benchpad_TLB.h"
#include "bench/ComServer.h"
#include "bench/oleAsyncEvents.h"
#include "tests/windows/bench/ComTestSupport.h"

namespace benchpad::test {
namespace {

struct TEvent {
    std::wstring Source;
    std::wstring Message;
    std::wstring Data;

    friend bool operator==(const TEvent&, const TEvent&) = default;
};

void PrintTo(const TEvent& Event, std::ostream* Stream) {
    *Stream << testing::PrintToString(Event.Source) << " " << testing::PrintToString(Event.Message)
            << " " << testing::PrintToString(Event.Data);
}

const wchar_t* const CardRead = L"ЧтениеКодаМагнитнойКарты";
const wchar_t* const DeviceID = L"0F2C7A51-3B5E-4C6D-9E8F-1A2B3C4D5E6F";

// The window's sink, recording what reaches it.
class AsyncEvents : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        FEvents.OnExternalEvent = [this](const std::wstring& Source, const std::wstring& Message,
                                         const std::wstring& Data) {
            FReceived.push_back({Source, Message, Data});
        };
        ASSERT_HRESULT_SUCCEEDED(FEvents.QueryInterface(IID_IAsyncEvent, &FHost));
        ASSERT_HRESULT_SUCCEEDED(FEvents.QueryInterface(IID_IAsyncEvents, &FDual));
    }
    void TearDown() override {
        FHost.Reset();
        FDual.Reset();
        ComTest::TearDown();
    }

    TAsyncEvents FEvents;
    ComPtr<IAsyncEvent> FHost;
    ComPtr<IAsyncEvents> FDual;
    std::vector<TEvent> FReceived;
};

TEST_F(AsyncEvents, EventReachesTheHandlerAtOnceThroughEveryRoute) {
    const TBstr source(DeviceID);
    const TBstr message(CardRead);
    const TBstr data(L"@1;12345=67890?@2Track2@3Track3");
    const TEvent expected{DeviceID, CardRead, L"@1;12345=67890?@2Track2@3Track3"};

    ASSERT_HRESULT_SUCCEEDED(FHost->ExternalEvent(source.Get(), message.Get(), data.Get()));
    EXPECT_EQ(FReceived, std::vector<TEvent>{expected});

    ASSERT_HRESULT_SUCCEEDED(FDual->ExternalEvent(source.Get(), message.Get(), data.Get()));
    EXPECT_EQ(FReceived, std::vector<TEvent>(2, expected));

    const TVariant sourceArgument = Text(DeviceID);
    const TVariant messageArgument = Text(CardRead);
    const TVariant dataArgument = Text(L"@1;12345=67890?@2Track2@3Track3");
    const TDispatchCall call = CallByName(FDual.Get(), L"ExternalEvent", DISPATCH_METHOD,
                                          {&sourceArgument, &messageArgument, &dataArgument});
    ASSERT_HRESULT_SUCCEEDED(call.Result);
    EXPECT_EQ(FReceived, std::vector<TEvent>(3, expected));
}

TEST_F(AsyncEvents, NullStringsArriveAsEmptyTexts) {
    const TBstr data(L"ошибка");

    ASSERT_HRESULT_SUCCEEDED(FHost->ExternalEvent(nullptr, nullptr, data.Get()));

    EXPECT_EQ(FReceived, (std::vector<TEvent>{{L"", L"", L"ошибка"}}));
}

TEST_F(AsyncEvents, WithoutAHandlerAnEventSucceedsAndDoesNothing) {
    FEvents.OnExternalEvent = nullptr;
    const TBstr text(L"0");

    EXPECT_EQ(FHost->ExternalEvent(text.Get(), text.Get(), text.Get()), S_OK);
    EXPECT_TRUE(FReceived.empty());
}

TEST_F(AsyncEvents, ErrorOfTheHandlerBecomesAFailureWithItsMessage) {
    FEvents.OnExternalEvent = [](const std::wstring&, const std::wstring&, const std::wstring&) {
        throw std::runtime_error("Неверный идентификатор устройства");
    };
    const TBstr text(L"0");

    const HRESULT early = FHost->ExternalEvent(text.Get(), text.Get(), text.Get());
    EXPECT_TRUE(FAILED(early));
    EXPECT_EQ(TakeErrorDescription(), L"Неверный идентификатор устройства");
    ComPtr<ISupportErrorInfo> support;
    ASSERT_HRESULT_SUCCEEDED(FHost.As(&support));
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IAsyncEvent), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IAsyncEvents), S_OK);

    const TVariant argument = Text(L"0");
    const TDispatchCall late = CallByName(FDual.Get(), L"ExternalEvent", DISPATCH_METHOD,
                                          {&argument, &argument, &argument});
    EXPECT_EQ(late.Result, DISP_E_EXCEPTION);
    EXPECT_EQ(late.Code, early);
    EXPECT_EQ(late.Description, L"Неверный идентификатор устройства");
}

TEST_F(AsyncEvents, BufferOperationsSucceedTouchNothingAndBufferNothing) {
    for (const LONG depth : {0, -5, 10}) {
        EXPECT_EQ(FHost->SetEventBufferDepth(depth), S_OK);
        EXPECT_EQ(FDual->SetEventBufferDepth(depth), S_OK);
    }
    LONG depth = 77;
    EXPECT_EQ(FHost->GetEventBufferDepth(&depth), S_OK);
    EXPECT_EQ(FDual->GetEventBufferDepth(&depth), S_OK);
    EXPECT_EQ(depth, 77);
    EXPECT_EQ(FHost->GetEventBufferDepth(nullptr), S_OK);
    EXPECT_EQ(FHost->CleanBuffer(), S_OK);

    const TBstr text(L"1");
    ASSERT_HRESULT_SUCCEEDED(FHost->ExternalEvent(text.Get(), text.Get(), text.Get()));
    EXPECT_EQ(FReceived.size(), 1U);
}

TEST_F(AsyncEvents, HandlerMayRunNestedAndClearItself) {
    const TBstr first(L"1");
    const TBstr second(L"2");
    FEvents.OnExternalEvent = [&](const std::wstring& Source, const std::wstring&,
                                  const std::wstring&) {
        FReceived.push_back({Source, L"", L""});
        if (Source == L"1") {
            // As the window does when it acknowledges inside the handler and the driver
            // delivers its next event from within that call.
            ASSERT_HRESULT_SUCCEEDED(FHost->ExternalEvent(second.Get(), nullptr, nullptr));
        } else {
            FEvents.OnExternalEvent = nullptr;
        }
    };

    ASSERT_HRESULT_SUCCEEDED(FHost->ExternalEvent(first.Get(), nullptr, nullptr));
    ASSERT_HRESULT_SUCCEEDED(FHost->ExternalEvent(first.Get(), nullptr, nullptr));

    EXPECT_EQ(FReceived, (std::vector<TEvent>{{L"1", L"", L""}, {L"2", L"", L""}}));
}

TEST_F(AsyncEvents, EveryInterfaceAnswersWithTheSameIdentity) {
    ComPtr<IUnknown> fromHost;
    ComPtr<IUnknown> fromDual;
    ASSERT_HRESULT_SUCCEEDED(FHost.As(&fromHost));
    ASSERT_HRESULT_SUCCEEDED(FDual.As(&fromDual));
    EXPECT_EQ(fromHost.Get(), fromDual.Get());
    ComPtr<IDispatch> dispatch;
    ASSERT_HRESULT_SUCCEEDED(FHost.As(&dispatch));
    EXPECT_EQ(static_cast<IUnknown*>(dispatch.Get()), static_cast<IUnknown*>(FDual.Get()));
}

// The driver keeps the IAsyncEvent it took at Init and releases it when it goes; the window's
// sink must survive that.
TEST_F(AsyncEvents, ReleaseNeverFreesTheWindowsSink) {
    FHost.Reset();
    FDual.Reset();
    IAsyncEvent* driversReference = nullptr;
    ASSERT_HRESULT_SUCCEEDED(
        FEvents.QueryInterface(IID_IAsyncEvent, reinterpret_cast<void**>(&driversReference)));
    EXPECT_EQ(driversReference->Release(), 0U);

    const TBstr text(L"after");
    EXPECT_EQ(FEvents.ExternalEvent(text.Get(), text.Get(), text.Get()), S_OK);
    EXPECT_EQ(FReceived.size(), 1U);
}

TEST(AsyncEventsFromTheClassFactory, AreFreedByTheirLastRelease) {
    const long before = ServerLockCount();
    ComPtr<IAsyncEvent> events;
    ASSERT_HRESULT_SUCCEEDED(TAsyncEvents::Create(IID_IAsyncEvent, &events));
    EXPECT_EQ(ServerLockCount(), before + 1);

    events.Reset();

    EXPECT_EQ(ServerLockCount(), before);
}

}  // namespace
}  // namespace benchpad::test
