#pragma once

// What the tests of the bench's COM objects share: an apartment per test, variants made and read
// in one line, late-bound calls by name, and the thread's error information.

#include <gtest/gtest.h>

#include <windows.h>

#include <oleauto.h>

#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "bench/ComSupport.h"

namespace benchpad::test {

// Every test runs in a single-threaded apartment of its own, as the bench's user-interface
// thread does.
class ComTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override { CoUninitialize(); }
};

inline TVariant Int(LONG Value) {
    TVariant variant;
    VARIANT* target = variant.Put();
    V_VT(target) = VT_I4;
    V_I4(target) = Value;
    return variant;
}

inline TVariant Bool(bool Value) {
    TVariant variant;
    VARIANT* target = variant.Put();
    V_VT(target) = VT_BOOL;
    V_BOOL(target) = Value ? VARIANT_TRUE : VARIANT_FALSE;
    return variant;
}

inline TVariant Text(const wchar_t* Value) {
    TVariant variant;
    VARIANT* target = variant.Put();
    V_VT(target) = VT_BSTR;
    V_BSTR(target) = SysAllocString(Value);
    return variant;
}

inline TVariant Object(IUnknown* Value) {
    TVariant variant;
    VARIANT* target = variant.Put();
    V_VT(target) = VT_UNKNOWN;
    V_UNKNOWN(target) = Value;
    Value->AddRef();
    return variant;
}

// The description in the thread's error information, taken from it; empty without one.
inline std::wstring TakeErrorDescription() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) {
        return {};
    }
    TBstr description;
    static_cast<void>(info->GetDescription(description.Put()));
    return description.Text();
}

// The object's reference count, as AddRef and Release report it.
inline ULONG ReferenceCount(IUnknown* Object) {
    Object->AddRef();
    return Object->Release();
}

struct TDispatchCall {
    HRESULT Result = E_UNEXPECTED;
    TVariant Value;
    // From the exception information, when Result is DISP_E_EXCEPTION.
    HRESULT Code = S_OK;
    std::wstring Description;
};

// A late-bound call by member name, as a script makes it: the names resolved with
// GetIDsOfNames, the arguments given in their declared order.
inline TDispatchCall CallByName(IDispatch* Object, const wchar_t* Name, WORD Flags,
                                std::initializer_list<const TVariant*> Arguments = {}) {
    TDispatchCall call;
    DISPID member = DISPID_UNKNOWN;
    auto* name = const_cast<LPOLESTR>(Name);
    call.Result = Object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &member);
    if (FAILED(call.Result)) {
        return call;
    }
    // DISPPARAMS lists the arguments last first.
    std::vector<VARIANT> arguments;
    for (auto argument = std::rbegin(Arguments); argument != std::rend(Arguments); ++argument) {
        arguments.push_back((*argument)->Get());
    }
    DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
    EXCEPINFO exception{};
    UINT argumentError = 0;
    call.Result = Object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, Flags, &params,
                                 call.Value.Put(), &exception, &argumentError);
    if (call.Result == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn != nullptr) {
            exception.pfnDeferredFillIn(&exception);
        }
        call.Code = exception.scode != 0 ? exception.scode : exception.wCode;
        call.Description = WideOf(exception.bstrDescription);
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return call;
}

}  // namespace benchpad::test
