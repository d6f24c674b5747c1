#include "tests/windows/extender/ExtenderHost.h"

namespace wedgecard::test {

void ExtenderTest::SetUp() {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    FComStarted = true;
    CLSID driverClass{};
    ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(L"Addin.LumMSRKBD1C", &driverClass))
        << "the driver is not registered";
    ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(driverClass, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_ILumMSRKBD1C,
                                              reinterpret_cast<void**>(Driver.GetAddressOf())));
    ASSERT_HRESULT_SUCCEEDED(Driver.As(&Extender));
    ASSERT_HRESULT_SUCCEEDED(Driver.As(&InitDone));
}

void ExtenderTest::TearDown() {
    InitDone.Reset();
    Extender.Reset();
    Driver.Reset();
    if (FComStarted) {
        CoUninitialize();
    }
}

HRESULT ExtenderTest::Call(long Method, THostArray& Arguments, TValue& Result) {
    return Extender->CallAsFunc(Method, Result.Address(), Arguments.Put());
}

std::wstring ExtenderTest::Open(IDispatch* Settings) {
    THostArray arguments({TValue::Object(Settings), TValue()});
    TValue result;
    EXPECT_EQ(Call(mOpen, arguments, result), S_OK);
    EXPECT_TRUE(IsBool(result.Get(), true));
    EXPECT_TRUE(IsDeviceID(arguments[1]));
    return arguments[1].vt == VT_BSTR ? WideOf(arguments[1].bstrVal) : L"";
}

bool ExtenderTest::Close(const std::wstring& DeviceID) {
    THostArray arguments({TValue::Text(DeviceID)});
    TValue result;
    EXPECT_EQ(Call(mClose, arguments, result), S_OK);
    EXPECT_EQ(result.Get().vt, VT_BOOL);
    return result.Get().vt == VT_BOOL && result.Get().boolVal == VARIANT_TRUE;
}

std::pair<LONG, std::wstring> ExtenderTest::LastError() {
    THostArray arguments({TValue()});
    TValue result;
    EXPECT_EQ(Call(mGetLastError, arguments, result), S_OK);
    EXPECT_EQ(result.Get().vt, VT_I4);
    EXPECT_EQ(arguments[0].vt, VT_BSTR);
    return {result.Get().lVal, arguments[0].vt == VT_BSTR ? WideOf(arguments[0].bstrVal) : L""};
}

std::wstring ExtenderTest::Version() {
    THostArray none;
    TValue result;
    EXPECT_EQ(Call(mGetVersion, none, result), S_OK);
    return result.Get().vt == VT_BSTR ? WideOf(result.Get().bstrVal) : L"(not a string)";
}

}  // namespace wedgecard::test
