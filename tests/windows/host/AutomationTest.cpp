// The driver's automation face as a host calls it, early and late bound: its version, its errors
// with their Russian texts, the Russian names in its type library, the host connection.
#include <gtest/gtest.h>

#include "tests/windows/support/HostFixture.h"

namespace wedgecard::test {
namespace {

bool StartsWith(const std::wstring& Text, const std::wstring& Prefix) {
    return Text.compare(0, Prefix.size(), Prefix) == 0;
}

using Automation = HostTest;

TEST_F(Automation, ReportsTheModulesFileVersionEarlyAndLateBound) {
    EXPECT_EQ(VersionOf(Driver.Get()), L"1.0.0.8");

    VARIANT result;
    VariantInit(&result);
    ASSERT_HRESULT_SUCCEEDED(InvokeMethod(Driver.Get(), member::GetVersion, {}, &result));
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(TakeString(result.bstrVal), L"1.0.0.8");
}

TEST_F(Automation, FillsAVariableThatALateBoundCallerPassesByReference) {
    VARIANT variable;
    VariantInit(&variable);
    variable.vt = VT_I4;
    variable.lVal = 42;
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_BYREF | VT_VARIANT;
    byReference.pvarVal = &variable;
    ComPtr<TSettingsArray> settings = TSettingsArray::Bench();
    VARIANT array;
    VariantInit(&array);
    array.vt = VT_DISPATCH;
    array.pdispVal = settings.Get();
    VARIANT result;
    VariantInit(&result);

    ASSERT_HRESULT_SUCCEEDED(
        InvokeMethod(Driver.Get(), member::Open, {array, byReference}, &result));
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
    ASSERT_EQ(variable.vt, VT_BSTR);
    const std::wstring id = TakeString(variable.bstrVal);
    EXPECT_EQ(id.size(), 36u);
    EXPECT_TRUE(CloseDevice(Driver.Get(), id));
}

using DriverErrors = HostTest;

TEST_F(DriverErrors, ANewDriverReportsNoError) {
    const TLastError error = LastErrorOf(Driver.Get());
    EXPECT_EQ(error.Code, 0);
    EXPECT_EQ(error.Text, L"Ошибок нет");
}

TEST_F(DriverErrors, AnUnknownDeviceIsReportedUntilTheNextCallSucceeds) {
    EXPECT_FALSE(CloseDevice(Driver.Get(), L"no such device"));
    for (int read = 0; read < 2; ++read) {
        const TLastError error = LastErrorOf(Driver.Get());
        EXPECT_EQ(error.Code, 1);
        EXPECT_EQ(error.Text, L"Неверный идентификатор устройства");
    }
    EXPECT_EQ(VersionOf(Driver.Get()), L"1.0.0.8");
    EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 0);
    EXPECT_EQ(LastErrorOf(Driver.Get()).Text, L"Ошибок нет");
}

TEST_F(DriverErrors, OnlyTheIssuedIdentifierClosesADeviceAndOnlyOnce) {
    const std::wstring id = OpenBenchDevice();
    ASSERT_EQ(id.size(), 36u);
    std::wstring lower = id;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(towlower(c));
    }
    ASSERT_NE(lower, id);
    EXPECT_FALSE(CloseDevice(Driver.Get(), lower));
    EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 1);
    EXPECT_TRUE(CloseDevice(Driver.Get(), id));
    EXPECT_FALSE(CloseDevice(Driver.Get(), id));
    EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 1);
}

TEST_F(DriverErrors, OpenNamesTheSettingThatIsWrong) {
    struct TCase {
        std::vector<TValue> Values;
        std::int32_t Code;
        std::wstring Text;
    };
    const std::vector<TCase> cases = {
        {SettingsValues(-1, L"#9", L"#13", L"", L"", L"", L"", true), 6,
         L"Некорректное значение параметра \"Чувствительность\""},
        {SettingsValues(100, L"#9", L"#13", L"#33", L"#65;", L"", L"", true), 6,
         L"СуффиксДрайвера2: Неверный формат строки данных"},
        {SettingsValues(100, L"#9", L"#13", L"#9#", L"", L"", L"", true), 6,
         L"ПрефиксДрайвера2: Неверный формат строки данных"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(Utf8(c.Text));
        std::wstring id;
        EXPECT_FALSE(OpenDevice(Driver.Get(), TSettingsArray::Create(c.Values).Get(), id));
        const TLastError error = LastErrorOf(Driver.Get());
        EXPECT_EQ(error.Code, c.Code);
        EXPECT_EQ(error.Text, c.Text);
    }
}

TEST_F(DriverErrors, OpenReportsAnArrayTooShortAsAReadingError) {
    std::wstring id;
    EXPECT_FALSE(
        OpenDevice(Driver.Get(),
                   TSettingsArray::Create({TValue(100), TValue(L"#9"), TValue(L"#13")}).Get(), id));
    const TLastError error = LastErrorOf(Driver.Get());
    EXPECT_EQ(error.Code, 2);
    const std::wstring prefix = L"Не удалось получить данные из массива значений: ";
    EXPECT_TRUE(StartsWith(error.Text, prefix)) << Utf8(error.Text);
    EXPECT_GT(error.Text.size(), prefix.size()) << "the array's own reason follows";
}

TEST_F(DriverErrors, OpenTakesZeroAndASensitivityGivenAsText) {
    std::wstring id;
    EXPECT_TRUE(OpenDevice(
        Driver.Get(),
        TSettingsArray::Create(SettingsValues(0, L"#9", L"#13", L"", L"", L"", L"", true)).Get(),
        id));
    ComPtr<TSettingsArray> textual = TSettingsArray::Bench();
    textual->Values[0] = L"250";
    EXPECT_TRUE(OpenDevice(Driver.Get(), textual.Get(), id));
    textual->Values[0] = L"двести";
    EXPECT_FALSE(OpenDevice(Driver.Get(), textual.Get(), id));
    EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 2);
}

using TypeLibrary = HostTest;

TEST_F(TypeLibrary, GivesEachMethodItsRussianNameAsHelpString) {
    ComPtr<ITypeInfo> info;
    ASSERT_HRESULT_SUCCEEDED(Driver->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.GetAddressOf()));
    const struct {
        const wchar_t* Name;
        DISPID Member;
        const wchar_t* Russian;
    } methods[] = {
        {L"GetVersion", member::GetVersion, L"ПолучитьНомерВерсии"},
        {L"GetLastError", member::GetLastError, L"ПолучитьОшибку"},
        {L"Open", member::Open, L"Подключить"},
        {L"Close", member::Close, L"Отключить"},
        {L"EventProcessed", member::EventProcessed, L"СобытиеОбработано"},
        {L"DeviceTest", member::DeviceTest, L"ТестУстройства"},
    };
    for (const auto& method : methods) {
        SCOPED_TRACE(Utf8(method.Name));
        LPOLESTR name = const_cast<LPOLESTR>(method.Name);
        DISPID found = DISPID_UNKNOWN;
        EXPECT_HRESULT_SUCCEEDED(
            Driver->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &found));
        EXPECT_EQ(found, method.Member);
        BSTR documentedName = nullptr;
        BSTR help = nullptr;
        ASSERT_HRESULT_SUCCEEDED(
            info->GetDocumentation(method.Member, &documentedName, &help, nullptr, nullptr));
        EXPECT_EQ(TakeString(documentedName), method.Name);
        EXPECT_EQ(TakeString(help), method.Russian);
    }

    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_HRESULT_SUCCEEDED(info->GetContainingTypeLib(library.GetAddressOf(), &index));
    BSTR name = nullptr;
    BSTR help = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetDocumentation(-1, &name, &help, nullptr, nullptr));
    EXPECT_EQ(TakeString(name), L"WedgecardLib");
    EXPECT_EQ(TakeString(help), L"ЖУВЕРТ: Драйвер СМК");
}

using HostConnection = HostTest;

TEST_F(HostConnection, DeclaresItsComponentVersionInElementZeroOnly) {
    SAFEARRAY* info = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_NE(info, nullptr);
    VARIANT seven;
    VariantInit(&seven);
    seven.vt = VT_I4;
    seven.lVal = 7;
    LONG second = 1;
    ASSERT_HRESULT_SUCCEEDED(SafeArrayPutElement(info, &second, &seven));

    EXPECT_EQ(InitDoneOf(Driver.Get())->GetInfo(&info), S_OK);

    VARIANT element;
    VariantInit(&element);
    LONG first = 0;
    ASSERT_HRESULT_SUCCEEDED(SafeArrayGetElement(info, &first, &element));
    ASSERT_EQ(element.vt, VT_BSTR);
    EXPECT_EQ(TakeString(element.bstrVal), L"1000");
    ASSERT_HRESULT_SUCCEEDED(SafeArrayGetElement(info, &second, &element));
    EXPECT_EQ(element.vt, VT_I4);
    EXPECT_EQ(element.lVal, 7);
    SafeArrayDestroy(info);
}

TEST_F(HostConnection, ASecondInitReplacesTheSinkAndLetsTheFirstGo) {
    EXPECT_EQ(Sink->References(), 2u);
    ComPtr<TEventSink> second = TEventSink::Create();
    ASSERT_HRESULT_SUCCEEDED(InitDoneOf(Driver.Get())->Init(second.Get()));
    EXPECT_EQ(Sink->References(), 1u);

    // An acknowledgement of nothing makes an error event, which goes to the new sink.
    EXPECT_FALSE(Acknowledge(Driver.Get(), L"", true));
    EXPECT_TRUE(Sink->Events.empty());
    ASSERT_EQ(second->Events.size(), 1u);
    EXPECT_EQ(second->Events[0], (THostEvent{L"0", DriverError, L"Событие не посылалось"}));
}

TEST_F(HostConnection, DropsEventsAfterDoneButStillAwaitsTheirAcknowledgement) {
    ASSERT_EQ(InitDoneOf(Driver.Get())->Done(), S_OK);
    EXPECT_EQ(Sink->References(), 1u);
    EXPECT_FALSE(Acknowledge(Driver.Get(), L"", true));
    EXPECT_TRUE(Sink->Events.empty());
    // The dropped error event counts as delivered: acknowledging it succeeds.
    EXPECT_TRUE(Acknowledge(Driver.Get(), L"", true));
}

TEST_F(HostConnection, AHostMayLetGoOfTheDriverInsideAHandlerItsOwnCallRuns) {
    ILumMSRKBD1C* driver = Driver.Detach();  // the host's only reference
    Sink->OnEvent = [&driver](const THostEvent&) { std::exchange(driver, nullptr)->Release(); };
    // The error event of an acknowledgement of nothing is delivered from within that call.
    ILumMSRKBD1C* calling = driver;
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_HRESULT_SUCCEEDED(calling->EventProcessed(TBstrArg(L""), VARIANT_TRUE, &result));
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_EQ(driver, nullptr);
    ASSERT_EQ(Sink->Events.size(), 1u);
    EXPECT_EQ(Sink->References(), 1u) << "the driver is gone and let go of the sink";
}

TEST_F(HostConnection, AHostMayDisconnectInsideItsEventHandler) {
    Sink->OnEvent = [this](const THostEvent&) {
        EXPECT_EQ(InitDoneOf(Driver.Get())->Done(), S_OK);
    };
    EXPECT_FALSE(Acknowledge(Driver.Get(), L"", true));
    ASSERT_EQ(Sink->Events.size(), 1u);
    EXPECT_EQ(Sink->References(), 1u) << "the driver let go of the sink";
    // Delivered again, the event has nowhere to go.
    EXPECT_TRUE(Acknowledge(Driver.Get(), L"", false));
    EXPECT_EQ(Sink->Events.size(), 1u);
}

}  // namespace
}  // namespace wedgecard::test
