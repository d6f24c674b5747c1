#include "driver/host/DispatchValuesArray.h"

#include <stdexcept>

#include "driver/capture/WinCapturePlatform.h"
#include "driver/core/untUtils.h"
#include "driver/host/ComSupport.h"

namespace wedgecard {

namespace {

[[noreturn]] void Fail(HRESULT Status) {
    throw std::runtime_error(SystemErrorText(static_cast<unsigned long>(Status)));
}

}  // namespace

void TDispatchValuesArray::Get(std::int32_t Index, VARTYPE Type, VARIANT& Result) {
    if (FArray == nullptr) {
        Fail(E_POINTER);
    }
    if (FGet == DISPID_UNKNOWN) {
        wchar_t name[] = L"Get";
        LPOLESTR names[] = {name};
        DISPID id = DISPID_UNKNOWN;
        const HRESULT found = FArray->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(found)) {
            Fail(found);
        }
        FGet = id;
    }

    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = Index;
    DISPPARAMS arguments{&index, nullptr, 1, 0};
    TVariant answer;
    TExcepInfo exception;
    const HRESULT called =
        FArray->Invoke(FGet, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                       &arguments, answer.Put(), exception.Put(), nullptr);
    if (FAILED(called)) {
        const std::wstring description = exception.Description();
        if (!description.empty()) {
            throw std::runtime_error(TKBDUtils::ToAnsi(description));
        }
        Fail(called == DISP_E_EXCEPTION && FAILED(exception.Status()) ? exception.Status()
                                                                      : called);
    }

    const HRESULT converted =
        VariantChangeTypeEx(&Result, &answer.Get(), LOCALE_USER_DEFAULT, 0, Type);
    if (FAILED(converted)) {
        Fail(converted);
    }
}

std::int32_t TDispatchValuesArray::GetInteger(std::int32_t Index) {
    TVariant value;
    Get(Index, VT_I4, value.Get());
    return value.Get().lVal;
}

std::string TDispatchValuesArray::GetText(std::int32_t Index) {
    TVariant value;
    Get(Index, VT_BSTR, value.Get());
    return TKBDUtils::ToAnsi(WideOf(value.Get().bstrVal));
}

bool TDispatchValuesArray::GetBoolean(std::int32_t Index) {
    TVariant value;
    Get(Index, VT_BOOL, value.Get());
    return value.Get().boolVal != VARIANT_FALSE;
}

}  // namespace wedgecard
