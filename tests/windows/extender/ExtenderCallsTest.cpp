// Every method of the driver called as the 1C host calls it: by number, with the arguments in
// an array of variants, [out] strings coming back in that array.
#include <memory>

#include "tests/windows/extender/ExtenderHost.h"

namespace wedgecard::test {
namespace {

using ExtenderCalls = ExtenderTest;

constexpr const wchar_t* NoError = L"Ошибок нет";
constexpr const wchar_t* InvalidDeviceID = L"Неверный идентификатор устройства";
constexpr const wchar_t* EventNotSent = L"Событие не посылалось";

TEST_F(ExtenderCalls, OpenHandsTheIdentifierBackInAnEmptySecondElement) {
    const auto settings = TSettingsArray::Bench();
    THostArray arguments({TValue::Object(settings.Get()), TValue()});
    TValue result;

    EXPECT_EQ(Call(mOpen, arguments, result), S_OK);

    EXPECT_TRUE(IsBool(result.Get(), true));
    EXPECT_TRUE(IsDeviceID(arguments[1]));
    ASSERT_EQ(arguments[0].vt, VT_DISPATCH);
    EXPECT_EQ(arguments[0].pdispVal, settings.Get());
    EXPECT_TRUE(arguments.Intact());
    ASSERT_EQ(arguments[1].vt, VT_BSTR);
    EXPECT_TRUE(Close(std::wstring(arguments[1].bstrVal)));
}

TEST_F(ExtenderCalls, OpenWritesTheIdentifierOverAStringTheElementHeldWithoutLeakingIt) {
    TAllocationSpy spy;
    ASSERT_TRUE(spy.Registered());
    constexpr std::size_t Large = std::size_t{1} << 20;
    const auto settings = TSettingsArray::Bench();
    const std::size_t before = spy.LiveBlocksOfAtLeast(Large * sizeof(wchar_t));
    auto arguments = std::make_unique<THostArray>(std::vector<TValue>{
        TValue::Object(settings.Get()), TValue::Text(std::wstring(Large, L'x'))});
    ASSERT_EQ(spy.LiveBlocksOfAtLeast(Large * sizeof(wchar_t)), before + 1);
    TValue result;

    EXPECT_EQ(Call(mOpen, *arguments, result), S_OK);

    EXPECT_TRUE(IsBool(result.Get(), true));
    EXPECT_TRUE(IsDeviceID((*arguments)[1]));
    EXPECT_TRUE(arguments->Intact());
    EXPECT_EQ(spy.LiveBlocksOfAtLeast(Large * sizeof(wchar_t)), before) << "the old string leaked";
    const std::wstring id((*arguments)[1].bstrVal);
    arguments.reset();
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderCalls, OpenAsAProcedureStillHandsTheIdentifierBack) {
    const auto settings = TSettingsArray::Bench();
    THostArray arguments({TValue::Object(settings.Get()), TValue()});

    EXPECT_EQ(Extender->CallAsProc(mOpen, arguments.Put()), S_OK);

    EXPECT_TRUE(IsDeviceID(arguments[1]));
    EXPECT_TRUE(arguments.Intact());
    EXPECT_TRUE(Close(std::wstring(arguments[1].bstrVal)));
}

TEST_F(ExtenderCalls, EveryOpenGivesANewIdentifier) {
    const auto settings = TSettingsArray::Bench();
    const std::wstring first = Open(settings.Get());
    const std::wstring second = Open(settings.Get());
    EXPECT_NE(first, second);
    EXPECT_TRUE(Close(first));
    EXPECT_TRUE(Close(second));
}

TEST_F(ExtenderCalls, GetLastErrorReturnsTheCodeAndWritesTheText) {
    EXPECT_FALSE(Close(L"00000000-0000-0000-0000-000000000000"));
    EXPECT_EQ(LastError(), std::make_pair(1L, std::wstring(InvalidDeviceID)));

    // Over a string the element already holds, and again: GetLastError clears nothing.
    THostArray arguments({TValue::Text(L"old text")});
    TValue result;
    EXPECT_EQ(Call(mGetLastError, arguments, result), S_OK);
    EXPECT_TRUE(IsInt(result.Get(), 1));
    EXPECT_TRUE(IsString(arguments[0], InvalidDeviceID));
    EXPECT_TRUE(arguments.Intact());

    EXPECT_EQ(Version(), DriverVersion);
    EXPECT_EQ(LastError(), std::make_pair(0L, std::wstring(NoError)));
}

TEST_F(ExtenderCalls, AnErrorTextKeepsTheDescriptionTheHostsArrayRaised) {
    // The driver's text and the host's, joined in one, both come back as they were.
    const auto settings = TSettingsArray::Bench();
    settings->FailingReads[3] = L"Индекс за границами массива";
    THostArray arguments({TValue::Object(settings.Get()), TValue()});
    TValue result;

    EXPECT_EQ(Call(mOpen, arguments, result), S_OK);

    EXPECT_TRUE(IsBool(result.Get(), false));
    EXPECT_EQ(LastError(),
              std::make_pair(2L, std::wstring(L"Не удалось получить данные из массива значений: "
                                              L"Индекс за границами массива")));
}

TEST_F(ExtenderCalls, CloseAnswersAllBitsSetOnSuccessAndZeroOnFailure) {
    const std::wstring id = Open(TSettingsArray::Bench().Get());
    THostArray arguments({TValue::Text(id)});
    TValue result;

    EXPECT_EQ(Call(mClose, arguments, result), S_OK);
    ASSERT_EQ(result.Get().vt, VT_BOOL);
    EXPECT_EQ(result.Get().boolVal, -1);

    EXPECT_EQ(Call(mClose, arguments, result), S_OK);
    ASSERT_EQ(result.Get().vt, VT_BOOL);
    EXPECT_EQ(result.Get().boolVal, 0);
    EXPECT_EQ(LastError().first, 1);
    EXPECT_TRUE(IsString(arguments[0], id));
    EXPECT_TRUE(arguments.Intact());
}

TEST_F(ExtenderCalls, EventProcessedTakesBooleanAndNumericFlags) {
    // Without a card, the failure to acknowledge is itself the event to acknowledge: a failed
    // EventProcessed queues an error event and sends it.
    const auto host = TEventSink::Create();
    ASSERT_EQ(InitDone->Init(host.Get()), S_OK);
    const std::wstring id = Open(TSettingsArray::Bench().Get());
    const THostEvent driverError{L"0", L"ОшибкаВДрайвере", EventNotSent};
    auto acknowledge = [&](const TValue& Flag) {
        THostArray arguments({TValue::Text(id), Flag});
        TValue result;
        EXPECT_EQ(Call(mEventProcessed, arguments, result), S_OK);
        EXPECT_TRUE(SameValue(arguments[1], Flag.Get()));
        EXPECT_TRUE(arguments.Intact());
        EXPECT_EQ(result.Get().vt, VT_BOOL);
        return result.Get().boolVal;
    };

    EXPECT_EQ(acknowledge(TValue::Bool(true)), VARIANT_FALSE);
    EXPECT_EQ(LastError(), std::make_pair(3L, std::wstring(EventNotSent)));
    EXPECT_EQ(host->Events, std::vector<THostEvent>{driverError});

    // Zero: not processed, so the same event comes again.
    EXPECT_EQ(acknowledge(TValue::Int(0)), VARIANT_TRUE);
    EXPECT_EQ(host->Events, (std::vector<THostEvent>{driverError, driverError}));
    // One: processed, and nothing more is queued.
    EXPECT_EQ(acknowledge(TValue::Int(1)), VARIANT_TRUE);
    EXPECT_EQ(host->Events.size(), 2u);
    EXPECT_EQ(acknowledge(TValue::Bool(false)), VARIANT_FALSE);
    EXPECT_EQ(host->Events.size(), 3u);
    EXPECT_EQ(acknowledge(TValue::Int(-5)), VARIANT_TRUE);
    EXPECT_EQ(host->Events.size(), 3u);
    EXPECT_TRUE(Close(id));
}

TEST_F(ExtenderCalls, GetVersionNeedsNoArrayAtAll) {
    THostArray empty;
    TValue result = TValue::Int(5);
    EXPECT_EQ(Call(mGetVersion, empty, result), S_OK);
    EXPECT_TRUE(IsString(result.Get(), DriverVersion));
    EXPECT_TRUE(empty.Intact());

    SAFEARRAY* none = nullptr;
    TValue fromNone;
    EXPECT_EQ(Extender->CallAsFunc(mGetVersion, fromNone.Address(), &none), S_OK);
    EXPECT_TRUE(IsString(fromNone.Get(), DriverVersion));
    EXPECT_EQ(none, nullptr);
}

TEST_F(ExtenderCalls, GetVersionAsAProcedureSucceedsAndHandsNothingBack) {
    THostArray empty;
    EXPECT_EQ(Extender->CallAsProc(mGetVersion, empty.Put()), S_OK);
    EXPECT_TRUE(empty.Intact());
    SAFEARRAY* none = nullptr;
    EXPECT_EQ(Extender->CallAsProc(mGetVersion, &none), S_OK);
    EXPECT_EQ(none, nullptr);
}

TEST_F(ExtenderCalls, TheRussianNamesLeadToTheSameCalls) {
    TBstrArg name(L"ПОЛУЧИТЬНОМЕРВЕРСИИ");
    long number = -1;
    ASSERT_EQ(Extender->FindMethod(name.Get(), &number), S_OK);
    THostArray none;
    TValue result;
    EXPECT_EQ(Call(number, none, result), S_OK);
    EXPECT_TRUE(IsString(result.Get(), DriverVersion));
}

}  // namespace
}  // namespace wedgecard::test
