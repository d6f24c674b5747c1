#include "driver/native/NativeValues.h"

#include <oleauto.h>

#include <limits>

#include "driver/host/ComSupport.h"

namespace wedgecard {

namespace {

using native::TNativeVariant;

constexpr std::uint32_t MaxLength = std::numeric_limits<int>::max();

HRESULT FromTm(const native::TTm& Time, VARIANT& Result) {
    const bool valid = Time.Year >= 0 && Time.Year <= 9999 - 1900 && Time.Month >= 0 &&
                       Time.Month < 12 && Time.Day >= 1 && Time.Day <= 31 && Time.Hour >= 0 &&
                       Time.Hour < 24 && Time.Minute >= 0 && Time.Minute < 60 && Time.Second >= 0 &&
                       Time.Second < 62;
    if (!valid) {
        return DISP_E_TYPEMISMATCH;
    }
    SYSTEMTIME system{};
    system.wYear = static_cast<WORD>(Time.Year + 1900);
    system.wMonth = static_cast<WORD>(Time.Month + 1);
    system.wDay = static_cast<WORD>(Time.Day);
    system.wHour = static_cast<WORD>(Time.Hour);
    system.wMinute = static_cast<WORD>(Time.Minute);
    system.wSecond = static_cast<WORD>(Time.Second);
    DOUBLE date = 0;
    if (!SystemTimeToVariantTime(&system, &date)) {
        return DISP_E_TYPEMISMATCH;
    }
    Result.vt = VT_DATE;
    Result.date = date;
    return S_OK;
}

HRESULT FromAnsi(const native::TText& Text, VARIANT& Result) {
    const int size = static_cast<int>(Text.Length);
    const int length = size == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, Text.Chars, size, nullptr, 0);
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (text == nullptr) {
        return E_OUTOFMEMORY;
    }
    if (length > 0) {
        MultiByteToWideChar(CP_ACP, 0, Text.Chars, size, text, length);
    }
    Result.vt = VT_BSTR;
    Result.bstrVal = text;
    return S_OK;
}

HRESULT FromWide(const native::TWideText& Text, VARIANT& Result) {
    BSTR text = SysAllocStringLen(Text.Chars, Text.Length);
    if (text == nullptr) {
        return E_OUTOFMEMORY;
    }
    Result.vt = VT_BSTR;
    Result.bstrVal = text;
    return S_OK;
}

HRESULT Convert(const TNativeVariant& Value, VARTYPE Type, TVariant& Result) {
    TVariant automation;
    HRESULT status = ToAutomation(Value, automation.Get());
    if (SUCCEEDED(status)) {
        status = VariantChangeTypeEx(Result.Put(), &automation.Get(), LOCALE_USER_DEFAULT, 0, Type);
    }
    return status;
}

}  // namespace

bool IsReadable(const TNativeVariant& Value) noexcept {
    switch (Value.Type) {
        case native::vtPStr:
        case native::vtBlob:
            return Value.Text.Length <= MaxLength &&
                   (Value.Text.Chars != nullptr || Value.Text.Length == 0);
        case native::vtPWStr:
            return Value.WideText.Length <= MaxLength &&
                   (Value.WideText.Chars != nullptr || Value.WideText.Length == 0);
        default:
            return Value.Type <= native::vtClsID;
    }
}

HRESULT ToAutomation(const TNativeVariant& Value, VARIANT& Result) {
    VariantInit(&Result);
    switch (Value.Type) {
        case native::vtEmpty:
            break;
        case native::vtNull:
            Result.vt = VT_NULL;
            break;
        case native::vtI2:
            Result.vt = VT_I2;
            Result.iVal = Value.I2;
            break;
        case native::vtI4:
            Result.vt = VT_I4;
            Result.lVal = Value.I4;
            break;
        case native::vtR4:
            Result.vt = VT_R4;
            Result.fltVal = Value.R4;
            break;
        case native::vtR8:
            Result.vt = VT_R8;
            Result.dblVal = Value.R8;
            break;
        case native::vtDate:
            Result.vt = VT_DATE;
            Result.date = Value.Date;
            break;
        case native::vtTm:
            return FromTm(Value.Tm, Result);
        case native::vtError:
        case native::vtHResult:
            Result.vt = VT_ERROR;
            Result.scode = Value.I4;
            break;
        case native::vtBool:
            Result.vt = VT_BOOL;
            // The byte, not the bool: a host's 2 would be no valid bool to read.
            Result.boolVal = Value.UI1 != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case native::vtI1:
            Result.vt = VT_I1;
            Result.cVal = static_cast<CHAR>(Value.I1);
            break;
        case native::vtUI1:
            Result.vt = VT_UI1;
            Result.bVal = Value.UI1;
            break;
        case native::vtUI2:
            Result.vt = VT_UI2;
            Result.uiVal = Value.UI2;
            break;
        case native::vtUI4:
            Result.vt = VT_UI4;
            Result.ulVal = Value.UI4;
            break;
        case native::vtI8:
            Result.vt = VT_I8;
            Result.llVal = Value.I8;
            break;
        case native::vtUI8:
            Result.vt = VT_UI8;
            Result.ullVal = Value.UI8;
            break;
        case native::vtInt:
            Result.vt = VT_INT;
            Result.intVal = Value.I4;
            break;
        case native::vtUInt:
            Result.vt = VT_UINT;
            Result.uintVal = Value.UI4;
            break;
        case native::vtPStr:
            return FromAnsi(Value.Text, Result);
        case native::vtPWStr:
            return FromWide(Value.WideText, Result);
        default:
            return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT ReadText(const TNativeVariant& Value, std::wstring& Result) {
    TVariant text;
    const HRESULT status = Convert(Value, VT_BSTR, text);
    if (SUCCEEDED(status)) {
        Result = WideOf(text.Get().bstrVal);
    }
    return status;
}

HRESULT ReadBoolean(const TNativeVariant& Value, bool& Result) {
    TVariant truth;
    const HRESULT status = Convert(Value, VT_BOOL, truth);
    if (SUCCEEDED(status)) {
        Result = truth.Get().boolVal != VARIANT_FALSE;
    }
    return status;
}

HRESULT ReadInteger(const TNativeVariant& Value, std::int32_t& Result) {
    TVariant number;
    const HRESULT status = Convert(Value, VT_I4, number);
    if (SUCCEEDED(status)) {
        Result = number.Get().lVal;
    }
    return status;
}

HRESULT ReadNumber(const TNativeVariant& Value, double& Result) {
    TVariant number;
    const HRESULT status = Convert(Value, VT_R8, number);
    if (SUCCEEDED(status)) {
        Result = number.Get().dblVal;
    }
    return status;
}

void TNativeValuesArray::GetElement(std::int32_t Index, VARIANT& Element) {
    if (Index < 0 || Index >= Count) {
        RaiseStatus(DISP_E_BADINDEX);
    }
    const HRESULT status = ToAutomation(FValues[Index], Element);
    if (FAILED(status)) {
        RaiseStatus(status);
    }
}

}  // namespace wedgecard
