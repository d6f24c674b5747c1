#include "tests/windows/robustness/VariantZoo.h"

namespace wedgecard::test {

TVariantZoo::TVariantZoo(IDispatch* Object, IDispatch* Driver) : FObject(Object) {
    FText = SysAllocString(L"by reference");
    VariantInit(&FNumber);
    FNumber.vt = VT_I4;
    FNumber.lVal = 7;
    VariantInit(&FString);
    FString.vt = VT_BSTR;
    FString.bstrVal = SysAllocString(L"referenced");
    VariantInit(&FEmpty);
    VariantInit(&FInner);
    FInner.vt = VT_BYREF | VT_I4;
    FInner.plVal = &FLong;

    Add("VT_EMPTY", VT_EMPTY, [](VARIANT&) {});
    Add("VT_NULL", VT_NULL, [](VARIANT&) {});
    Add("VT_I2", VT_I2, [](VARIANT& V) { V.iVal = -7; });
    Add("VT_I4", VT_I4, [](VARIANT& V) { V.lVal = 1; });
    Add("VT_R8", VT_R8, [](VARIANT& V) { V.dblVal = 2.5; });
    Add("VT_CY", VT_CY, [](VARIANT& V) { V.cyVal.int64 = 123456; });
    Add("VT_DATE", VT_DATE, [](VARIANT& V) { V.date = 45000.5; });
    Add("VT_BSTR", VT_BSTR, [](VARIANT& V) { V.bstrVal = SysAllocString(L"text"); });
    Add("VT_BSTR null", VT_BSTR, [](VARIANT& V) { V.bstrVal = nullptr; });
    Add("VT_BSTR with nulls", VT_BSTR, [](VARIANT& V) {
        V.bstrVal =
            SysAllocStringLen(TextWithNulls.data(), static_cast<UINT>(TextWithNulls.size()));
    });
    Add("VT_BSTR outside 1251", VT_BSTR, [](VARIANT& V) {
        V.bstrVal = SysAllocStringLen(ForeignText.data(), static_cast<UINT>(ForeignText.size()));
    });
    Add("VT_BSTR 1 MB", VT_BSTR, [](VARIANT& V) {
        const std::wstring huge(HugeLength, L'#');
        V.bstrVal = SysAllocStringLen(huge.data(), static_cast<UINT>(huge.size()));
    });
    Add("VT_DISPATCH null", VT_DISPATCH, [](VARIANT& V) { V.pdispVal = nullptr; });
    Add("VT_DISPATCH object", VT_DISPATCH, [Object](VARIANT& V) {
        V.pdispVal = Object;
        Object->AddRef();
    });
    Add("VT_DISPATCH driver", VT_DISPATCH, [Driver](VARIANT& V) {
        V.pdispVal = Driver;
        Driver->AddRef();
    });
    Add("VT_ERROR missing", VT_ERROR, [](VARIANT& V) { V.scode = DISP_E_PARAMNOTFOUND; });
    Add("VT_ERROR failure", VT_ERROR, [](VARIANT& V) { V.scode = E_FAIL; });
    Add("VT_BOOL true", VT_BOOL, [](VARIANT& V) { V.boolVal = VARIANT_TRUE; });
    Add("VT_BOOL false", VT_BOOL, [](VARIANT& V) { V.boolVal = VARIANT_FALSE; });
    Add("VT_UNKNOWN object", VT_UNKNOWN, [Object](VARIANT& V) {
        V.punkVal = Object;
        Object->AddRef();
    });
    Add("VT_UNKNOWN null", VT_UNKNOWN, [](VARIANT& V) { V.punkVal = nullptr; });
    Add("VT_DECIMAL", VT_DECIMAL, [](VARIANT& V) {
        DECIMAL value{};
        value.scale = 2;
        value.Lo64 = 12345;
        V.decVal = value;
        V.vt = VT_DECIMAL;  // the decimal's own first field overlays vt
    });
    Add("VT_I1", VT_I1, [](VARIANT& V) { V.cVal = -3; });
    Add("VT_UI1", VT_UI1, [](VARIANT& V) { V.bVal = 200; });
    Add("VT_UI2", VT_UI2, [](VARIANT& V) { V.uiVal = 60000; });
    Add("VT_UI4", VT_UI4, [](VARIANT& V) { V.ulVal = 4000000000u; });
    Add("VT_I8", VT_I8, [](VARIANT& V) { V.llVal = -5000000000LL; });
    Add("VT_UI8", VT_UI8, [](VARIANT& V) { V.ullVal = 18000000000000000000ULL; });
    Add("VT_INT", VT_INT, [](VARIANT& V) { V.intVal = 100; });
    Add("VT_UINT", VT_UINT, [](VARIANT& V) { V.uintVal = 100; });
    Add("VT_ARRAY|VT_VARIANT", VT_ARRAY | VT_VARIANT,
        [](VARIANT& V) { V.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2); });
    Add("VT_ARRAY|VT_BSTR", VT_ARRAY | VT_BSTR,
        [](VARIANT& V) { V.parray = SafeArrayCreateVector(VT_BSTR, 0, 1); });
    Add(
        "VT_BYREF|VT_I4", VT_BYREF | VT_I4, [this](VARIANT& V) { V.plVal = &FLong; }, true);
    Add(
        "VT_BYREF|VT_BOOL", VT_BYREF | VT_BOOL, [this](VARIANT& V) { V.pboolVal = &FFlag; }, true);
    Add(
        "VT_BYREF|VT_BSTR", VT_BYREF | VT_BSTR, [this](VARIANT& V) { V.pbstrVal = &FText; }, true);
    Add(
        "VT_BYREF|VT_DISPATCH", VT_BYREF | VT_DISPATCH,
        [this](VARIANT& V) { V.ppdispVal = &FObject; }, true);
    Add(
        "VT_BYREF|VT_VARIANT to VT_I4", VT_BYREF | VT_VARIANT,
        [this](VARIANT& V) { V.pvarVal = &FNumber; }, true);
    Add(
        "VT_BYREF|VT_VARIANT to VT_BSTR", VT_BYREF | VT_VARIANT,
        [this](VARIANT& V) { V.pvarVal = &FString; }, true);
    Add(
        "VT_BYREF|VT_VARIANT to VT_EMPTY", VT_BYREF | VT_VARIANT,
        [this](VARIANT& V) { V.pvarVal = &FEmpty; }, true);
    Add(
        "VT_BYREF|VT_VARIANT to VT_BYREF|VT_I4", VT_BYREF | VT_VARIANT,
        [this](VARIANT& V) { V.pvarVal = &FInner; }, true);
    Add(
        "VT_BYREF|VT_I4 to nothing", VT_BYREF | VT_I4, [](VARIANT& V) { V.plVal = nullptr; }, true);
    Add(
        "VT_BYREF|VT_BSTR to nothing", VT_BYREF | VT_BSTR, [](VARIANT& V) { V.pbstrVal = nullptr; },
        true);
    Add(
        "VT_BYREF|VT_DISPATCH to nothing", VT_BYREF | VT_DISPATCH,
        [](VARIANT& V) { V.ppdispVal = nullptr; }, true);
    Add(
        "VT_BYREF|VT_VARIANT to nothing", VT_BYREF | VT_VARIANT,
        [](VARIANT& V) { V.pvarVal = nullptr; }, true);
}

TVariantZoo::~TVariantZoo() {
    FSamples.clear();
    SysFreeString(FText);
    VariantClear(&FNumber);
    VariantClear(&FString);
    VariantClear(&FEmpty);
}

void TVariantZoo::Add(const char* Name, VARTYPE Type, const std::function<void(VARIANT&)>& Fill,
                      bool Reference) {
    VARIANT value;
    VariantInit(&value);
    value.vt = Type;
    Fill(value);
    FSamples.push_back({Name, TValue::Adopt(value), Reference});
}

bool TVariantZoo::TargetsUnchanged() const {
    return FLong == 42 && FFlag == VARIANT_TRUE && WideOf(FText) == L"by reference" &&
           FNumber.vt == VT_I4 && FNumber.lVal == 7 && FString.vt == VT_BSTR &&
           WideOf(FString.bstrVal) == L"referenced" && FEmpty.vt == VT_EMPTY &&
           FInner.vt == (VT_BYREF | VT_I4) && FInner.plVal == &FLong;
}

}  // namespace wedgecard::test
