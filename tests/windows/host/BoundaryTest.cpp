// Bad input at the driver's COM boundary: null pointers, arguments of the wrong type, settings
// arrays that fail or answer with odd values. Each is refused with a status or a driver error;
// none may crash the host.
#include <gtest/gtest.h>

#include "tests/windows/support/HostFixture.h"
#include "tests/windows/support/PrivateDriver.h"

namespace wedgecard::test {
namespace {

const std::wstring ReadingFailed = L"Не удалось получить данные из массива значений: ";

bool StartsWith(const std::wstring& Text, const std::wstring& Prefix) {
    return Text.compare(0, Prefix.size(), Prefix) == 0;
}

VARIANT Int(std::int32_t Value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = Value;
    return v;
}

// Borrowed: the caller keeps the string alive.
VARIANT Text(BSTR Value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = Value;
    return v;
}

VARIANT Object(IDispatch* Value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = Value;
    return v;
}

VARIANT OutText(BSTR* Value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_BSTR;
    v.pbstrVal = Value;
    return v;
}

using NullPointers = HostTest;

TEST_F(NullPointers, EveryAutomationMethodRefusesThemAndDoesNothing) {
    ComPtr<TSettingsArray> settings = TSettingsArray::Bench();
    const TBstrArg id(L"id");
    BSTR text = nullptr;
    LONG code = 0;
    VARIANT_BOOL result = VARIANT_FALSE;

    EXPECT_EQ(Driver->GetVersion(nullptr), E_POINTER);
    EXPECT_EQ(Driver->GetLastError(nullptr, &code), E_POINTER);
    EXPECT_EQ(Driver->GetLastError(&text, nullptr), E_POINTER);
    EXPECT_EQ(Driver->Open(settings.Get(), nullptr, &result), E_POINTER);
    EXPECT_EQ(Driver->Open(settings.Get(), &text, nullptr), E_POINTER);
    EXPECT_EQ(Driver->Close(id, nullptr), E_POINTER);
    EXPECT_EQ(Driver->EventProcessed(id, VARIANT_TRUE, nullptr), E_POINTER);
    EXPECT_EQ(Driver->DeviceTest(settings.Get(), nullptr, &result), E_POINTER);
    EXPECT_EQ(Driver->DeviceTest(settings.Get(), &text, nullptr), E_POINTER);

    EXPECT_TRUE(settings->Reads.empty()) << "no device was opened";
    EXPECT_TRUE(Sink->Events.empty()) << "no acknowledgement was handled";
    EXPECT_EQ(text, nullptr);
}

TEST_F(NullPointers, TheDispatchInterfaceRefusesThem) {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(Driver->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(Driver->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(Driver->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
    wchar_t open[] = L"Open";
    LPOLESTR names[] = {open};
    DISPID found = DISPID_UNKNOWN;
    EXPECT_EQ(Driver->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, &found), E_POINTER);
    EXPECT_EQ(Driver->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, nullptr), E_POINTER);

    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(Driver->Invoke(member::GetVersion, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                             nullptr, &result, nullptr, nullptr),
              E_POINTER);
    DISPPARAMS noArray{nullptr, nullptr, 1, 0};
    EXPECT_EQ(Driver->Invoke(member::Close, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                             &noArray, &result, nullptr, nullptr),
              E_POINTER);
    // No place for the result is no fault: the value is dropped.
    EXPECT_HRESULT_SUCCEEDED(InvokeMethod(Driver.Get(), member::GetVersion, {}, nullptr));
}

TEST_F(NullPointers, TheModulesExportsAndClassFactoryRefuseThem) {
    const HMODULE module = GetModuleHandleW(L"Wedgecard.dll");
    ASSERT_NE(module, nullptr);
    using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using TCanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    const auto getClassObject =
        reinterpret_cast<TGetClassObject>(ExportOf(module, "DllGetClassObject"));
    const auto canUnloadNow = reinterpret_cast<TCanUnloadNow>(ExportOf(module, "DllCanUnloadNow"));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);

    EXPECT_EQ(getClassObject(CLSID_LumMSRKBD1C, IID_IClassFactory, nullptr), E_POINTER);
    void* object = &object;
    EXPECT_EQ(getClassObject(IID_IUnknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a driver object is alive";

    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(getClassObject(CLSID_LumMSRKBD1C, IID_IClassFactory,
                                            reinterpret_cast<void**>(factory.GetAddressOf())));
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ILumMSRKBD1C, nullptr), E_POINTER);
    object = &object;
    EXPECT_EQ(factory->CreateInstance(static_cast<IDispatch*>(Sink.Get()), IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    object = &object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(NullPointers, TheHostConnectionIgnoresThem) {
    ComPtr<IInitDone> initDone = InitDoneOf(Driver.Get());
    EXPECT_EQ(initDone->GetInfo(nullptr), S_OK);
    SAFEARRAY* none = nullptr;
    EXPECT_EQ(initDone->GetInfo(&none), S_OK);
    // A connection without a sink: events are dropped.
    EXPECT_EQ(initDone->Init(nullptr), S_OK);
    EXPECT_EQ(Sink->References(), 1u);
    EXPECT_FALSE(Acknowledge(Driver.Get(), L"", true));
    EXPECT_TRUE(Sink->Events.empty());
}

TEST_F(NullPointers, ANullStringIsTheEmptyString) {
    VARIANT_BOOL result = VARIANT_TRUE;
    ASSERT_HRESULT_SUCCEEDED(Driver->Close(nullptr, &result));
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 1);
    ASSERT_HRESULT_SUCCEEDED(Driver->EventProcessed(nullptr, VARIANT_TRUE, &result));
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 3);
}

using LateBoundArguments = HostTest;

TEST_F(LateBoundArguments, OfTheWrongTypeAreConvertedOrRefusedWithoutACall) {
    VARIANT result;
    VariantInit(&result);

    // A number for a device identifier converts to its text, which names no device.
    EXPECT_HRESULT_SUCCEEDED(InvokeMethod(Driver.Get(), member::Close, {Int(42)}, &result));
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_FALSE);
    EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 1);

    // A flag that is no boolean, and a settings array that is no object, stop the call.
    const TBstrArg abc(L"abc");
    const TBstrArg id(L"id");
    EXPECT_EQ(InvokeMethod(Driver.Get(), member::EventProcessed, {Text(id), Text(abc)}, &result),
              DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(Sink->Events.empty()) << "EventProcessed did not run";
    BSTR out = nullptr;
    EXPECT_EQ(InvokeMethod(Driver.Get(), member::Open, {Int(5), OutText(&out)}, &result),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(out, nullptr);
    ComPtr<TSettingsArray> settings = TSettingsArray::Bench();
    EXPECT_TRUE(
        FAILED(InvokeMethod(Driver.Get(), member::Close, {Object(settings.Get())}, &result)));
}

TEST_F(LateBoundArguments, ThatAreMissingTooManyOrNamedAreRefused) {
    VARIANT result;
    VariantInit(&result);
    const TBstrArg id(L"id");
    EXPECT_TRUE(FAILED(InvokeMethod(Driver.Get(), member::Close, {}, &result)));
    EXPECT_TRUE(
        FAILED(InvokeMethod(Driver.Get(), member::Close, {Text(id), Text(id), Text(id)}, &result)));
    EXPECT_EQ(InvokeMethod(Driver.Get(), 202, {}, &result), DISP_E_MEMBERNOTFOUND);

    VARIANT argument = Text(id);
    DISPID named = 1;
    DISPPARAMS put{&argument, &named, 1, 1};
    EXPECT_TRUE(FAILED(Driver->Invoke(member::Close, IID_NULL, LOCALE_USER_DEFAULT,
                                      DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr)));
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(Driver->Invoke(member::GetVersion, IID_IUnknown, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                             &none, &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(LateBoundArguments, ANullSettingsObjectOrOutPlaceFailsWithoutACrash) {
    VARIANT result;
    VariantInit(&result);
    BSTR out = nullptr;
    EXPECT_HRESULT_SUCCEEDED(
        InvokeMethod(Driver.Get(), member::Open, {Object(nullptr), OutText(&out)}, &result));
    EXPECT_EQ(result.boolVal, VARIANT_FALSE);
    const TLastError error = LastErrorOf(Driver.Get());
    EXPECT_EQ(error.Code, 2);
    EXPECT_TRUE(StartsWith(error.Text, ReadingFailed)) << Utf8(error.Text);
    SysFreeString(out);
    std::wstring id;
    EXPECT_FALSE(OpenDevice(Driver.Get(), nullptr, id));
    EXPECT_EQ(LastErrorOf(Driver.Get()).Code, 2);

    ComPtr<TSettingsArray> settings = TSettingsArray::Bench();
    // The method's E_POINTER reaches a late-bound caller as an exception of the call.
    EXPECT_EQ(InvokeMethod(Driver.Get(), member::Open, {Object(settings.Get()), OutText(nullptr)},
                           &result),
              DISP_E_EXCEPTION);
    EXPECT_TRUE(settings->Reads.empty());
}

using SettingsArrays = HostTest;

TEST_F(SettingsArrays, ThatRaiseAnErrorHaveItsDescriptionReported) {
    ComPtr<TSettingsArray> settings = TSettingsArray::Bench();
    settings->OnGet = [](std::int32_t Index, VARIANT*, EXCEPINFO* Exception) {
        return RaiseException(Exception, L"Индекс " + std::to_wstring(Index) + L" вне границ");
    };
    std::wstring id;
    EXPECT_FALSE(OpenDevice(Driver.Get(), settings.Get(), id));
    const TLastError error = LastErrorOf(Driver.Get());
    EXPECT_EQ(error.Code, 2);
    EXPECT_EQ(error.Text, ReadingFailed + L"Индекс 0 вне границ");
}

TEST_F(SettingsArrays, WithoutAGetMethodFailTheReading) {
    // The event sink is an automation object without members.
    std::wstring id;
    EXPECT_FALSE(OpenDevice(Driver.Get(), Sink.Get(), id));
    const TLastError error = LastErrorOf(Driver.Get());
    EXPECT_EQ(error.Code, 2);
    EXPECT_TRUE(StartsWith(error.Text, ReadingFailed)) << Utf8(error.Text);
}

// A settings value of a type no setting converts from, at Index.
struct TOddValue {
    const char* What;
    std::int32_t Index;
    std::function<TValue(IDispatch* Other)> Make;
    std::int32_t Code;
};

TEST_F(SettingsArrays, AnsweringOddTypesFailTheReadingOrTheCheck) {
    ComPtr<TSettingsArray> object = TSettingsArray::Bench();
    const std::vector<TOddValue> cases = {
        {"null sensitivity", 0, [](IDispatch*) { return TValue::Null(); }, 2},
        {"null prefix", 1, [](IDispatch*) { return TValue::Null(); }, 2},
        {"null log switch", 7, [](IDispatch*) { return TValue::Null(); }, 2},
        {"object without a value as sensitivity", 0,
         [](IDispatch* Other) {
             VARIANT v = Object(Other);
             Other->AddRef();
             return TValue::Adopt(v);
         },
         2},
        {"object without a value as suffix", 4,
         [](IDispatch* Other) {
             VARIANT v = Object(Other);
             Other->AddRef();
             return TValue::Adopt(v);
         },
         2},
        {"array as sensitivity", 0,
         [](IDispatch*) {
             VARIANT v;
             VariantInit(&v);
             v.vt = VT_ARRAY | VT_VARIANT;
             v.parray = SafeArrayCreateVector(VT_VARIANT, 0, 3);
             return TValue::Adopt(v);
         },
         2},
        {"array as prefix", 3,
         [](IDispatch*) {
             VARIANT v;
             VariantInit(&v);
             v.vt = VT_ARRAY | VT_I4;
             v.parray = SafeArrayCreateVector(VT_I4, 0, 2);
             return TValue::Adopt(v);
         },
         2},
        {"sensitivity past the 32-bit range", 0,
         [](IDispatch*) { return TValue(L"99999999999999999999"); }, 2},
        {"negative sensitivity as text", 0, [](IDispatch*) { return TValue(L"-1"); }, 6},
        {"log switch that is no boolean", 7, [](IDispatch*) { return TValue(L"maybe"); }, 2},
    };
    for (const TOddValue& c : cases) {
        SCOPED_TRACE(c.What);
        ComPtr<TSettingsArray> settings = TSettingsArray::Bench();
        settings->Values[static_cast<std::size_t>(c.Index)] = c.Make(object.Get());
        std::wstring id;
        EXPECT_FALSE(OpenDevice(Driver.Get(), settings.Get(), id));
        EXPECT_EQ(LastErrorOf(Driver.Get()).Code, c.Code) << Utf8(LastErrorOf(Driver.Get()).Text);
    }
}

TEST(HugeSettings, AreReadWhole) {
    // A module of its own, so that the settings' text in its call lines stays out of the log
    // other tests read.
    TComApartment apartment;
    TPrivateDriver module(WindowsPath(WEDGECARD_DRIVER_DLL));
    ComPtr<ILumMSRKBD1C> driver = module.Create();
    std::wstring tabs;
    for (int i = 0; i < 250000; ++i) {
        tabs += L"#9";
    }
    const std::wstring letters(1000000, L'x');
    const std::wstring digits(1000000, L'7');
    std::wstring id;

    EXPECT_TRUE(OpenDevice(
        driver.Get(),
        TSettingsArray::Create(SettingsValues(100, tabs, L"#13", L"", L"", L"", L"", true)).Get(),
        id));
    EXPECT_TRUE(CloseDevice(driver.Get(), id));

    EXPECT_FALSE(OpenDevice(
        driver.Get(),
        TSettingsArray::Create(SettingsValues(100, L"#9", letters, L"", L"", L"", L"", true)).Get(),
        id));
    TLastError error = LastErrorOf(driver.Get());
    EXPECT_EQ(error.Code, 6);
    EXPECT_EQ(error.Text, L"СуффиксДрайвера1: Неверный формат строки данных");

    ComPtr<TSettingsArray> settings = TSettingsArray::Bench();
    settings->Values[0] = digits;
    EXPECT_FALSE(OpenDevice(driver.Get(), settings.Get(), id));
    EXPECT_EQ(LastErrorOf(driver.Get()).Code, 2);
    driver.Reset();
}

}  // namespace
}  // namespace wedgecard::test
