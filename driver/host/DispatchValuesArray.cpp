#include "driver/host/DispatchValuesArray.h"

#include <stdexcept>

#include "driver/capture/WinCapturePlatform.h"
#include "driver/core/untUtils.h"
#include "driver/host/ComSupport.h"

namespace wedgecard {

void RaiseStatus(HRESULT Status) {
    throw std::runtime_error(SystemErrorText(static_cast<unsigned long>(Status)));
}

void TAutomationValues::Get(std::int32_t Index, VARTYPE Type, VARIANT& Result) {
    TVariant element;
    GetElement(Index, element.Get());
    const HRESULT converted =
        VariantChangeTypeEx(&Result, &element.Get(), LOCALE_USER_DEFAULT, 0, Type);
    if (FAILED(converted)) {
        RaiseStatus(converted);
    }
}

std::int32_t TAutomationValues::GetInteger(std::int32_t Index) {
    TVariant value;
    Get(Index, VT_I4, value.Get());
    return value.Get().lVal;
}

std::string TAutomationValues::GetText(std::int32_t Index) {
    TVariant value;
    Get(Index, VT_BSTR, value.Get());
    return TKBDUtils::ToAnsi(WideOf(value.Get().bstrVal));
}

bool TAutomationValues::GetBoolean(std::int32_t Index) {
    TVariant value;
    Get(Index, VT_BOOL, value.Get());
    return value.Get().boolVal != VARIANT_FALSE;
}

void TDispatchValuesArray::GetElement(std::int32_t Index, VARIANT& Element) {
    if (FArray == nullptr) {
        RaiseStatus(E_POINTER);
    }
    if (FGet == DISPID_UNKNOWN) {
        wchar_t name[] = L"Get";
        LPOLESTR names[] = {name};
        DISPID id = DISPID_UNKNOWN;
        const HRESULT found = FArray->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(found)) {
            RaiseStatus(found);
        }
        FGet = id;
    }

    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = Index;
    DISPPARAMS arguments{&index, nullptr, 1, 0};
    TExcepInfo exception;
    const HRESULT called =
        FArray->Invoke(FGet, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                       &arguments, &Element, exception.Put(), nullptr);
    if (FAILED(called)) {
        const std::wstring description = exception.Description();
        if (!description.empty()) {
            throw std::runtime_error(TKBDUtils::ToAnsi(description));
        }
        RaiseStatus(called == DISP_E_EXCEPTION && FAILED(exception.Status()) ? exception.Status()
                                                                             : called);
    }
}

}  // namespace wedgecard
