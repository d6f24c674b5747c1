#include "driver/host/oleMain.h"

#include <exception>

#include "driver/capture/MessageHook.h"
#include "driver/core/untUtils.h"
#include "driver/diagnostics/LogFile.h"
#include "driver/diagnostics/ModuleInfo.h"
#include "driver/host/AxView.h"
#include "driver/host/ComSupport.h"
#include "driver/host/DispatchValuesArray.h"
#include "driver/host/LanguageExtender.h"
#include "driver/host/WinDriverServices.h"

namespace wedgecard {

namespace {

VARIANT_BOOL AutomationBoolean(bool Value) {
    return Value ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

// The automation interface's answer to an exception: E_UNEXPECTED, or the status the exception
// carries, with its message as the error information of the call.
constexpr TComBoundary Automation{&IID_ILumMSRKBD1C, DriverProgID, E_UNEXPECTED};

template <class TBody>
HRESULT TLumMSRKBD1C::Guarded(TBody&& Body) noexcept {
    const TSelfReference self(static_cast<ILumMSRKBD1C*>(this));
    return Automation([&] {
        Body();
        return S_OK;
    });
}

TLumMSRKBD1C::TLumMSRKBD1C() {
    ++ModuleUsage;
}

TLumMSRKBD1C::~TLumMSRKBD1C() {
    FDriver.reset();
    FLogger.reset();
    FView.reset();
    FTypeInfo.Reset();
    --ModuleUsage;
}

HRESULT TLumMSRKBD1C::Initialize() {
    ComPtr<ITypeLib> library;
    const std::wstring path = GetModulePathWide();
    HRESULT status = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (SUCCEEDED(status)) {
        status = library->GetTypeInfoOfGuid(IID_ILumMSRKBD1C, &FTypeInfo);
    }
    if (FAILED(status)) {
        return status;
    }
    LoadMethodShapes();
    LogFile().SetFileName(LogFileNameFor(GetModulePath()));
    LogFile().SetEnabled(true);
    FView = TAxView::Create();
    return S_OK;
}

HRESULT TLumMSRKBD1C::QueryInterface(REFIID Interface, void** Object) {
    return QueryFound(FindInterface(Interface), Object);
}

IUnknown* TLumMSRKBD1C::FindInterface(REFIID Interface) noexcept {
    auto* automation = static_cast<ILumMSRKBD1C*>(this);
    return FindInTable(Interface, {{IID_IUnknown, automation},
                                   {IID_IDispatch, automation},
                                   {IID_ILumMSRKBD1C, automation},
                                   {IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(this)}});
}

ULONG TLumMSRKBD1C::AddRef() {
    return DoAddRef();
}

ULONG TLumMSRKBD1C::Release() {
    // Deleted now, or once the hook handler of this thread that is still serving a message has
    // returned.
    const ULONG remaining = Drop();
    if (remaining == 0) {
        if (TMessageHook::Serving()) {
            Detach();
            try {
                TMessageHook::DeferUntilServed([this] { delete this; });
            } catch (...) {
                // No room to note the deletion: the object stays, as freeing it under the
                // handler that still uses it would be worse.
            }
        } else {
            delete this;
        }
    }
    return remaining;
}

HRESULT TLumMSRKBD1C::GetTypeInfoCount(UINT* Count) {
    if (Count == nullptr) {
        return E_POINTER;
    }
    *Count = 1;
    return S_OK;
}

HRESULT TLumMSRKBD1C::GetTypeInfo(UINT Index, LCID /*Locale*/, ITypeInfo** Info) {
    if (Info == nullptr) {
        return E_POINTER;
    }
    *Info = nullptr;
    if (Index != 0) {
        return DISP_E_BADINDEX;
    }
    return FTypeInfo.CopyTo(Info);
}

HRESULT TLumMSRKBD1C::GetIDsOfNames(REFIID /*Interface*/, LPOLESTR* Names, UINT Count,
                                    LCID /*Locale*/, DISPID* IDs) {
    if (Names == nullptr || IDs == nullptr) {
        return E_POINTER;
    }
    return DispGetIDsOfNames(FTypeInfo.Get(), Names, Count, IDs);
}

void TLumMSRKBD1C::LoadMethodShapes() {
    TYPEATTR* attributes = nullptr;
    if (FAILED(FTypeInfo->GetTypeAttr(&attributes))) {
        return;
    }
    for (UINT i = 0; i < attributes->cFuncs; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(FTypeInfo->GetFuncDesc(i, &function))) {
            continue;
        }
        if (function->invkind == INVOKE_FUNC) {
            TMethodShape shape;
            shape.Parameters = static_cast<UINT>(function->cParams);
            for (SHORT p = 0; p < function->cParams; ++p) {
                const ELEMDESC& parameter = function->lprgelemdescParam[p];
                const bool out = (parameter.paramdesc.wParamFlags & PARAMFLAG_FOUT) != 0 &&
                                 (parameter.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) == 0;
                shape.OutString.push_back(out && parameter.tdesc.vt == VT_PTR &&
                                          parameter.tdesc.lptdesc->vt == VT_BSTR);
            }
            FMethods[function->memid] = std::move(shape);
        }
        FTypeInfo->ReleaseFuncDesc(function);
    }
    FTypeInfo->ReleaseTypeAttr(attributes);
}

HRESULT TLumMSRKBD1C::Invoke(DISPID Member, REFIID Interface, LCID /*Locale*/, WORD Flags,
                             DISPPARAMS* Arguments, VARIANT* Result, EXCEPINFO* Exception,
                             UINT* ArgumentError) {
    if (Interface != IID_NULL) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    // The runtime reads the named arguments' identifiers and values without a check.
    if (Arguments == nullptr || (Arguments->cArgs > 0 && Arguments->rgvarg == nullptr) ||
        (Arguments->cNamedArgs > 0 && Arguments->rgdispidNamedArgs == nullptr)) {
        return E_POINTER;
    }
    if (Arguments->cNamedArgs > Arguments->cArgs) {
        return DISP_E_BADPARAMCOUNT;
    }
    const TSelfReference self(static_cast<ILumMSRKBD1C*>(this));
    return Automation([&] {
        // Script clients cannot pass what an [out] string parameter needs. VBScript passes its
        // variable as a variant by reference, which the runtime will not turn into a string by
        // reference; JScript passes values, or leaves the parameter out. Give the runtime the
        // string by reference it wants: inside the script's variable where there is one, in a
        // holder of this call otherwise.
        const auto method = FMethods.find(Member);
        if (method == FMethods.end() || (Flags & DISPATCH_METHOD) == 0 ||
            Arguments->cNamedArgs != 0 || Arguments->cArgs > method->second.Parameters) {
            return DispInvoke(static_cast<ILumMSRKBD1C*>(this), FTypeInfo.Get(), Member, Flags,
                              Arguments, Result, Exception, ArgumentError);
        }
        const TMethodShape& shape = method->second;
        const UINT given = Arguments->cArgs;
        for (UINT p = given; p < shape.Parameters; ++p) {
            if (!shape.OutString[p]) {
                // A missing [in] parameter is the runtime's to report.
                return DispInvoke(static_cast<ILumMSRKBD1C*>(this), FTypeInfo.Get(), Member, Flags,
                                  Arguments, Result, Exception, ArgumentError);
            }
        }
        std::vector<VARIANTARG> slots(shape.Parameters);
        std::vector<TBstr> holders(shape.Parameters);
        for (UINT p = 0; p < shape.Parameters; ++p) {
            VARIANTARG& slot = slots[shape.Parameters - 1 - p];
            if (p < given) {
                slot = Arguments->rgvarg[given - 1 - p];
            } else {
                VariantInit(&slot);
            }
            if (!shape.OutString[p] || slot.vt == (VT_BYREF | VT_BSTR)) {
                continue;
            }
            if (slot.vt == (VT_BYREF | VT_VARIANT) && slot.pvarVal != nullptr &&
                (slot.pvarVal->vt & VT_BYREF) == 0) {
                VARIANT* variable = slot.pvarVal;
                VariantClear(variable);
                variable->vt = VT_BSTR;
                variable->bstrVal = nullptr;
                slot.vt = VT_BYREF | VT_BSTR;
                slot.pbstrVal = &variable->bstrVal;
            } else {
                slot.vt = VT_BYREF | VT_BSTR;
                slot.pbstrVal = holders[p].Put();
            }
        }
        DISPPARAMS prepared{slots.data(), nullptr, shape.Parameters, 0};
        return DispInvoke(static_cast<ILumMSRKBD1C*>(this), FTypeInfo.Get(), Member, Flags,
                          &prepared, Result, Exception, ArgumentError);
    });
}

HRESULT TLumMSRKBD1C::InterfaceSupportsErrorInfo(REFIID Interface) {
    return Interface == IID_ILumMSRKBD1C || Interface == IID_ILanguageExtender ? S_OK : S_FALSE;
}

TLogger& TLumMSRKBD1C::Logger() {
    if (!FLogger) {
        FLogger = std::make_unique<TLogger>("Tole1C");
    }
    return *FLogger;
}

TDriverCalls TLumMSRKBD1C::Calls() {
    return TDriverCalls(Driver(), Logger());
}

TKBDDriver& TLumMSRKBD1C::Driver() {
    if (!FDriver) {
        FDriver = std::make_unique<TKBDDriver>(WindowsDriverServices());
        FDriver->OnEvent = [this](const std::string& Source, const std::string& Message,
                                  const std::string& Data) {
            SendExternalEvent(Source, Message, Data);
        };
    }
    return *FDriver;
}

void TLumMSRKBD1C::SendExternalEvent(const std::string& /*Source*/, const std::string& /*Message*/,
                                     const std::string& /*Data*/) {}

HRESULT TLumMSRKBD1C::GetVersion(BSTR* Res) {
    if (Res == nullptr) {
        return E_POINTER;
    }
    *Res = nullptr;
    return Guarded([&] { *Res = TBstr(Calls().GetVersion()).Detach(); });
}

HRESULT TLumMSRKBD1C::GetLastError(BSTR* ErrorDescription, LONG* Res) {
    if (ErrorDescription == nullptr || Res == nullptr) {
        return E_POINTER;
    }
    *ErrorDescription = nullptr;
    return Guarded([&] {
        std::string text;
        *Res = Calls().GetLastError(text);
        *ErrorDescription = TBstr(TKBDUtils::ToWide(text)).Detach();
    });
}

HRESULT TLumMSRKBD1C::Open(IDispatch* ValuesArray, BSTR* DeviceID, VARIANT_BOOL* Res) {
    if (DeviceID == nullptr || Res == nullptr) {
        return E_POINTER;
    }
    *DeviceID = nullptr;
    return Guarded([&] {
        TDispatchValuesArray values(ValuesArray);
        std::wstring id;
        const bool opened = Calls().Open(values, id);
        *DeviceID = TBstr(id).Detach();
        *Res = AutomationBoolean(opened);
    });
}

HRESULT TLumMSRKBD1C::Close(BSTR DeviceID, VARIANT_BOOL* Res) {
    if (Res == nullptr) {
        return E_POINTER;
    }
    return Guarded([&] { *Res = AutomationBoolean(Calls().Close(WideOf(DeviceID))); });
}

HRESULT TLumMSRKBD1C::EventProcessed(BSTR DeviceID, VARIANT_BOOL StateFlag, VARIANT_BOOL* Res) {
    if (Res == nullptr) {
        return E_POINTER;
    }
    return Guarded([&] {
        *Res =
            AutomationBoolean(Calls().EventProcessed(WideOf(DeviceID), StateFlag != VARIANT_FALSE));
    });
}

HRESULT TLumMSRKBD1C::DeviceTest(IDispatch* ValuesArray, BSTR* AdditionalDescription,
                                 VARIANT_BOOL* Res) {
    if (AdditionalDescription == nullptr || Res == nullptr) {
        return E_POINTER;
    }
    *AdditionalDescription = nullptr;
    return Guarded([&] {
        TDispatchValuesArray values(ValuesArray);
        std::wstring description;
        const bool tested = Calls().DeviceTest(values, description);
        *AdditionalDescription = TBstr(description).Detach();
        *Res = AutomationBoolean(tested);
    });
}

}  // namespace wedgecard
