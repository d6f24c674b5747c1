#include "driver/host/oleAddin.h"

#include <cstdio>
#include <vector>

#include "DriverMembers.h"
#include "driver/capture/WinCapturePlatform.h"
#include "driver/core/untUtils.h"
#include "driver/host/ComSupport.h"

namespace wedgecard {

namespace {

// The extender's answer to an exception: E_UNEXPECTED, with the exception's message as the
// error information of the call.
constexpr TComBoundary Extender{&IID_ILanguageExtender, DriverProgID, E_UNEXPECTED};

// The number of the member of Members (the properties or the methods) that Wanted names by its
// name or its alias, or -1. A member without a Russian name has an empty alias, which names
// nothing.
template <class TMembers>
long MemberNamed(const TMembers& Members, const std::wstring& Wanted) {
    for (int i = 0; i < Members.Count(); ++i) {
        const auto& member = *Members.Items(i);
        if (SameName(member.Name, Wanted) ||
            (!member.Alias.empty() && SameName(member.Alias, Wanted))) {
            return i;
        }
    }
    return -1;
}

// The text automation makes of a value; empty when it makes none.
std::string TextOf(const VARIANT& Value) {
    TVariant text;
    if (FAILED(VariantChangeTypeEx(text.Put(), const_cast<VARIANT*>(&Value), LOCALE_USER_DEFAULT, 0,
                                   VT_BSTR))) {
        return {};
    }
    return Narrow(text.Get().bstrVal);
}

std::string Format(const char* Pattern, long A, long B, long C) {
    char text[96];
    std::snprintf(text, sizeof text, Pattern, A, B, C);
    return text;
}

// The host's parameter array, pinned for the call.
class TLockedArray {
public:
    explicit TLockedArray(SAFEARRAY* Array) noexcept : FArray(Array) {
        if (FArray != nullptr && FAILED(SafeArrayLock(FArray))) {
            FArray = nullptr;
        }
    }
    TLockedArray(const TLockedArray&) = delete;
    TLockedArray& operator=(const TLockedArray&) = delete;
    ~TLockedArray() {
        if (FArray != nullptr) {
            SafeArrayUnlock(FArray);
        }
    }
    [[nodiscard]] bool Locked() const noexcept { return FArray != nullptr; }

private:
    SAFEARRAY* FArray;
};

// A host array fit for the arguments: one dimension of VARIANTs.
bool IsVariantVector(SAFEARRAY* Array) {
    VARTYPE type = VT_EMPTY;
    return SafeArrayGetDim(Array) == 1 && SUCCEEDED(SafeArrayGetVartype(Array, &type)) &&
           type == VT_VARIANT && SafeArrayGetElemsize(Array) == sizeof(VARIANT);
}

// The runtime reads a by-reference value through its pointer without a check: a null one, or a
// variant reference to one, would fault inside the host's call.
bool RefersToNothing(const VARIANT& Value) {
    if ((Value.vt & VT_BYREF) == 0) {
        return false;
    }
    if (Value.byref == nullptr) {
        return true;
    }
    const VARIANT& target = *Value.pvarVal;
    return Value.vt == (VT_BYREF | VT_VARIANT) && (target.vt & VT_BYREF) != 0 &&
           target.byref == nullptr;
}

}  // namespace

std::string VariantTypeName(VARTYPE Type) {
    static constexpr const char* Low[] = {
        "VT_EMPTY",   "VT_NULL",    "VT_I2",      "VT_I4",        "VT_R4",     "VT_R8",
        "VT_CY",      "VT_DATE",    "VT_BSTR",    "VT_DISPATCH",  "VT_ERROR",  "VT_BOOL",
        "VT_VARIANT", "VT_UNKNOWN", "VT_DECIMAL", nullptr,        "VT_I1",     "VT_UI1",
        "VT_UI2",     "VT_UI4",     "VT_I8",      "VT_UI8",       "VT_INT",    "VT_UINT",
        "VT_VOID",    "VT_HRESULT", "VT_PTR",     "VT_SAFEARRAY", "VT_CARRAY", "VT_USERDEFINED",
        "VT_LPSTR",   "VT_LPWSTR"};
    static constexpr const char* High[] = {
        "VT_FILETIME",      "VT_BLOB",        "VT_STREAM", "VT_STORAGE", "VT_STREAMED_OBJECT",
        "VT_STORED_OBJECT", "VT_BLOB_OBJECT", "VT_CF",     "VT_CLSID"};
    const unsigned low = Type & 0xFFu;
    const char* name = nullptr;
    if (low < std::size(Low)) {
        name = Low[low];
    } else if (low >= 64 && low < 64 + std::size(High)) {
        name = High[low - 64];
    }
    std::string text;
    if (name != nullptr) {
        text = name;
    } else {
        char unknown[32];
        std::snprintf(unknown, sizeof unknown, "Unknown type: 0x%.4X", static_cast<unsigned>(Type));
        text = unknown;
    }
    switch (Type & 0xF000u) {
        case 0x1000:
            return "VT_VECTOR+" + text;
        case 0x2000:
            return "VT_ARRAY+" + text;
        case 0x4000:
            return "VT_BYREF+" + text;
        case 0x8000:
            return "VT_RESERVED+" + text;
        default:
            return text;
    }
}

ToleAddin::~ToleAddin() {
    FProps.Clear();
    FFuncs.Clear();
    FLogger.reset();
}

HRESULT ToleAddin::Initialize() {
    const HRESULT status = TLumMSRKBD1C::Initialize();
    if (FAILED(status)) {
        return status;
    }
    ComPtr<ITypeInfo> info;
    GetTypeInfo(0, 0, &info);
    LoadMembers(info.Get(), FProps, FFuncs);
    return S_OK;
}

IUnknown* ToleAddin::FindInterface(REFIID Interface) noexcept {
    if (IUnknown* found = FindInTable(
            Interface, {{IID_ILanguageExtender, static_cast<ILanguageExtender*>(this)}})) {
        return found;
    }
    return TLumMSRKBD1C::FindInterface(Interface);
}

TLogger& ToleAddin::AddinLogger() {
    if (!FLogger) {
        FLogger = std::make_unique<TLogger>("Tole1C");
    }
    return *FLogger;
}

HRESULT ToleAddin::RegisterExtensionAs(BSTR* Name) {
    if (Name == nullptr) {
        return E_POINTER;
    }
    return Extender([&] {
        // Made before the host's string goes, which is then never left dangling.
        TBstr name(DriverClassName);
        SysFreeString(*Name);
        *Name = name.Detach();
        return S_OK;
    });
}

HRESULT ToleAddin::GetNProps(long* Count) {
    if (Count == nullptr) {
        return E_POINTER;
    }
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.GetNProps");
        *Count = FProps.Count();
        AddinLogger().Debug(Format("ToleAddin.GetNProps(%ld)=%ld", *Count, S_OK, 0));
        return S_OK;
    });
}

HRESULT ToleAddin::FindProp(BSTR Name, long* Number) {
    if (Number == nullptr) {
        return E_POINTER;
    }
    *Number = -1;
    return Extender([&] {
        const std::wstring name = WideOf(Name);
        *Number = MemberNamed(FProps, name);
        const HRESULT status = *Number == -1 ? S_FALSE : S_OK;
        AddinLogger().Debug("FindProp(" + TKBDUtils::ToAnsi(name) +
                            Format(", %ld)=%ld", *Number, status, 0));
        return status;
    });
}

HRESULT ToleAddin::GetPropName(long Number, long Alias, BSTR* Name) {
    if (Name == nullptr) {
        return E_POINTER;
    }
    *Name = nullptr;
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.GetPropName");
        const TAddinProp* property = FProps.Items(Number);
        if (property == nullptr) {
            return S_FALSE;
        }
        *Name = TBstr(Alias == 0 ? property->Name : property->Alias).Detach();
        return S_OK;
    });
}

HRESULT ToleAddin::GetPropVal(long Number, VARIANT* Value) {
    if (Value == nullptr) {
        return E_POINTER;
    }
    const TSelfReference self(static_cast<ILanguageExtender*>(this));
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.GetPropVal");
        VariantClear(Value);
        const TAddinProp* property = FProps.Items(Number);
        if (property == nullptr) {
            return DISP_E_MEMBERNOTFOUND;
        }
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        TExcepInfo exception;
        const HRESULT status = Invoke(property->DispID, IID_NULL, LOCALE_USER_DEFAULT,
                                      DISPATCH_PROPERTYGET, &none, Value, exception.Put(), nullptr);
        // The host knows no automation booleans or currency.
        if (property->ValueType == VT_BOOL) {
            TVariant truth;
            const bool value = SUCCEEDED(VariantChangeType(truth.Put(), Value, 0, VT_BOOL)) &&
                               truth.Get().boolVal != VARIANT_FALSE;
            VariantClear(Value);
            Value->vt = VT_I4;
            Value->lVal = value ? 1 : 0;
        } else if (property->ValueType == VT_CY) {
            VariantChangeType(Value, Value, 0, VT_R8);
        }
        return status;
    });
}

HRESULT ToleAddin::SetPropVal(long Number, VARIANT* Value) {
    if (Value == nullptr) {
        return E_POINTER;
    }
    const TSelfReference self(static_cast<ILanguageExtender*>(this));
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.SetPropVal");
        const TAddinProp* property = FProps.Items(Number);
        if (property == nullptr) {
            return DISP_E_MEMBERNOTFOUND;
        }
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS arguments{Value, &named, 1, 1};
        TExcepInfo exception;
        return Invoke(property->DispID, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                      &arguments, nullptr, exception.Put(), nullptr);
    });
}

HRESULT ToleAddin::IsPropReadable(long Number, BOOL* Readable) {
    if (Readable == nullptr) {
        return E_POINTER;
    }
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.IsPropReadable");
        const TAddinProp* property = FProps.Items(Number);
        if (property == nullptr) {
            return S_FALSE;
        }
        *Readable = property->Readable ? 1 : 0;
        return S_OK;
    });
}

HRESULT ToleAddin::IsPropWritable(long Number, BOOL* Writable) {
    if (Writable == nullptr) {
        return E_POINTER;
    }
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.IsPropWritable");
        const TAddinProp* property = FProps.Items(Number);
        if (property == nullptr) {
            return S_FALSE;
        }
        *Writable = property->Writable ? 1 : 0;
        return S_OK;
    });
}

HRESULT ToleAddin::GetNMethods(long* Count) {
    if (Count == nullptr) {
        return E_POINTER;
    }
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.GetNMethods");
        *Count = FFuncs.Count();
        AddinLogger().Debug(Format("ToleAddin.GetNMethods(%ld)=%ld", *Count, S_OK, 0));
        return S_OK;
    });
}

HRESULT ToleAddin::FindMethod(BSTR Name, long* Number) {
    if (Number == nullptr) {
        return E_POINTER;
    }
    *Number = -1;
    return Extender([&] {
        const std::wstring name = WideOf(Name);
        *Number = MemberNamed(FFuncs, name);
        const HRESULT status = *Number == -1 ? S_FALSE : S_OK;
        AddinLogger().Debug("FindMethod(" + TKBDUtils::ToAnsi(name) +
                            Format(", %ld)=%ld", *Number, status, 0));
        return status;
    });
}

HRESULT ToleAddin::GetMethodName(long Number, long Alias, BSTR* Name) {
    if (Name == nullptr) {
        return E_POINTER;
    }
    *Name = nullptr;
    return Extender([&] {
        HRESULT status = S_FALSE;
        std::wstring name;
        TBstr answer;
        if (const TAddinFunc* method = FFuncs.Items(Number)) {
            name = Alias != 0 ? method->Alias : method->Name;
            answer = TBstr(name);
            status = S_OK;
        }
        AddinLogger().Debug(Format("ToleAddin.GetMethodName(%ld,%ld,", Number, Alias, 0) +
                            TKBDUtils::ToAnsi(name) + Format(")=%ld", status, 0, 0));
        // Handed over only now: a failing call leaves the host no string to free.
        *Name = answer.Detach();
        return status;
    });
}

HRESULT ToleAddin::GetNParams(long Number, long* Count) {
    if (Count == nullptr) {
        return E_POINTER;
    }
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.GetNParams");
        HRESULT status = S_FALSE;
        if (const TAddinFunc* method = FFuncs.Items(Number)) {
            *Count = method->Params.Count();
            status = S_OK;
        }
        AddinLogger().Debug(Format("ToleAddin.GetNParams(%ld, %ld)=%ld", Number, *Count, status));
        return status;
    });
}

HRESULT ToleAddin::GetParamDefValue(long /*Method*/, long /*Param*/, VARIANT* Value) {
    if (Value == nullptr) {
        return E_POINTER;
    }
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.GetParamDefValue");
        return S_OK;
    });
}

HRESULT ToleAddin::HasRetVal(long Number, BOOL* HasValue) {
    if (HasValue == nullptr) {
        return E_POINTER;
    }
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.HasRetVal");
        if (const TAddinFunc* method = FFuncs.Items(Number)) {
            *HasValue = method->ResultType != VT_VOID ? 1 : 0;
        }
        return S_OK;
    });
}

HRESULT ToleAddin::CallAsProc(long Number, SAFEARRAY** Params) {
    // Logs after the call, which may deliver events to a host that lets go of the object.
    const TSelfReference self(static_cast<ILanguageExtender*>(this));
    return Extender([&] {
        TVariant discarded;
        discarded.Get().vt = VT_I4;
        discarded.Get().lVal = 0;
        const HRESULT status = CallAsFunc(Number, &discarded.Get(), Params);
        AddinLogger().Debug(Format("ToleAddin.CallAsProc(%ld)=%ld", Number, status, 0));
        return status;
    });
}

HRESULT ToleAddin::CallAsFunc(long Number, VARIANT* Result, SAFEARRAY** Params) {
    if (Result == nullptr || Params == nullptr) {
        return E_POINTER;
    }
    // Invoke may deliver events (EventProcessed) or run a dialog (DeviceTest), and the host may
    // let go of the object there; the rest of this call still uses it.
    const TSelfReference self(static_cast<ILanguageExtender*>(this));
    return Extender([&] {
        AddinLogger().Debug("ToleAddin.CallAsFunc(" + std::to_string(Number) + ")");
        const TAddinFunc* method = FFuncs.Items(Number);
        // The inherited IUnknown and IDispatch entries are listed but not for calling: a
        // script's Release would drop a reference the host still counts on.
        if (method == nullptr || method->Restricted) {
            return DISP_E_MEMBERNOTFOUND;
        }
        SAFEARRAY* array = *Params;
        if (array != nullptr && !IsVariantVector(array)) {
            return E_INVALIDARG;
        }
        const TLockedArray pinned(array);
        if (array != nullptr && !pinned.Locked()) {
            return E_INVALIDARG;
        }

        LONG lower = 0;
        LONG upper = -1;
        if (array != nullptr) {
            SafeArrayGetLBound(array, 1, &lower);
            SafeArrayGetUBound(array, 1, &upper);
        }
        const long count = static_cast<long>(upper) - static_cast<long>(lower) + 1;
        if (count > method->Params.Count()) {
            return DISP_E_BADPARAMCOUNT;
        }
        const auto n = static_cast<std::size_t>(count);

        // Slots hold the arguments in reverse order; an [out] string goes by reference into
        // the host's element, or into a holder of this call when the element is empty.
        std::vector<VARIANTARG> slots(n);
        std::vector<TBstr> holders(n);
        std::string line = array != nullptr ? "CallAsFunc params:" : "";
        for (std::size_t p = 0; p < n; ++p) {
            LONG index = lower + static_cast<LONG>(p);
            VARIANT* element = nullptr;
            if (FAILED(SafeArrayPtrOfIndex(array, &index, reinterpret_cast<void**>(&element)))) {
                return E_INVALIDARG;
            }
            if (RefersToNothing(*element)) {
                return E_INVALIDARG;
            }
            line += " " + VariantTypeName(element->vt) + ":" + TextOf(*element) + ",";
            const TAddinParam& param = *method->Params.Items(static_cast<int>(p));
            VARIANTARG& slot = slots[n - 1 - p];
            VariantInit(&slot);
            if ((param.Flags & PARAMFLAG_FOUT) != 0 && param.ValueType != VT_VARIANT) {
                if (element->vt == VT_EMPTY && param.ValueType == VT_BSTR) {
                    slot.vt = VT_BYREF | VT_BSTR;
                    slot.pbstrVal = holders[p].Put();
                } else if (element->vt == param.ValueType && param.ValueType == VT_BSTR) {
                    // Written in place: the method puts a new string where the old one was.
                    SysFreeString(element->bstrVal);
                    element->bstrVal = nullptr;
                    slot.vt = VT_BYREF | VT_BSTR;
                    slot.pbstrVal = &element->bstrVal;
                } else {
                    return DISP_E_TYPEMISMATCH;
                }
            } else {
                slot.vt = VT_BYREF | VT_VARIANT;
                slot.pvarVal = element;
            }
        }
        if (!line.empty()) {
            line.pop_back();
        }
        AddinLogger().Debug(line);
        AddinLogger().Debug("Invoke  " + TKBDUtils::ToAnsi(method->Name) + " " +
                            TKBDUtils::ToAnsi(method->Alias));

        VariantClear(Result);
        DISPPARAMS arguments{slots.data(), nullptr, static_cast<UINT>(n), 0};
        TExcepInfo exception;
        const HRESULT status =
            Invoke(method->DispID, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &arguments,
                   Result, exception.Put(), nullptr);

        for (std::size_t s = 0; s < n; ++s) {
            if (slots[s].vt != (VT_BYREF | VT_BSTR)) {
                continue;
            }
            VARIANT copy;
            VariantInit(&copy);
            copy.vt = VT_BSTR;
            copy.bstrVal = SysAllocStringLen(*slots[s].pbstrVal, SysStringLen(*slots[s].pbstrVal));
            MoveIntoElement(array, lower + static_cast<LONG>(n - 1 - s), copy);
            VariantClear(&copy);
        }
        if (method->ResultType == VT_BOOL) {
            TVariant truth;
            const bool value = SUCCEEDED(VariantChangeType(truth.Put(), Result, 0, VT_BOOL)) &&
                               truth.Get().boolVal != VARIANT_FALSE;
            VariantClear(Result);
            Result->vt = VT_BOOL;
            Result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        }
        AddinLogger().Debug("RetValue:" + TextOf(*Result));
        char outcome[32];
        std::snprintf(outcome, sizeof outcome, "Invoke: 0x%.8lX (",
                      static_cast<unsigned long>(status));
        const std::string message =
            outcome + SystemErrorText(static_cast<unsigned long>(status)) + ")";
        if (status == S_OK) {
            AddinLogger().Debug(message);
        } else {
            AddinLogger().Error(message);
        }
        return status;
    });
}

}  // namespace wedgecard
