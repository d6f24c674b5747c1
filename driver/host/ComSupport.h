#pragma once

// Small RAII types and the exception boundary of the COM methods.

#include <oaidl.h>
#include <oleauto.h>
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "driver/core/untUtils.h"

namespace wedgecard {

// An owned BSTR.
class TBstr {
public:
    TBstr() noexcept = default;
    explicit TBstr(const std::wstring& Text)
        : FValue(SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()))) {
        if (FValue == nullptr && !Text.empty()) {
            throw std::bad_alloc();
        }
    }
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    TBstr(TBstr&& Other) noexcept : FValue(std::exchange(Other.FValue, nullptr)) {}
    TBstr& operator=(TBstr&& Other) noexcept {
        std::swap(FValue, Other.FValue);
        return *this;
    }
    ~TBstr() { SysFreeString(FValue); }

    [[nodiscard]] BSTR Get() const noexcept { return FValue; }
    // Hands the string over to the caller, who frees it.
    [[nodiscard]] BSTR Detach() noexcept { return std::exchange(FValue, nullptr); }
    BSTR* Put() noexcept {
        SysFreeString(std::exchange(FValue, nullptr));
        return &FValue;
    }

private:
    BSTR FValue = nullptr;
};

// An owned VARIANT, cleared on destruction.
class TVariant {
public:
    TVariant() noexcept { VariantInit(&FValue); }
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;
    ~TVariant() { VariantClear(&FValue); }

    [[nodiscard]] VARIANT& Get() noexcept { return FValue; }
    [[nodiscard]] const VARIANT& Get() const noexcept { return FValue; }
    // Clears it for a callee to fill.
    VARIANT* Put() noexcept {
        VariantClear(&FValue);
        return &FValue;
    }

private:
    VARIANT FValue;
};

// Exception information a callee fills, freed on destruction.
class TExcepInfo {
public:
    TExcepInfo() noexcept = default;
    TExcepInfo(const TExcepInfo&) = delete;
    TExcepInfo& operator=(const TExcepInfo&) = delete;
    ~TExcepInfo() {
        SysFreeString(FValue.bstrSource);
        SysFreeString(FValue.bstrDescription);
        SysFreeString(FValue.bstrHelpFile);
    }

    EXCEPINFO* Put() noexcept { return &FValue; }
    // The description, filled in first when the callee deferred it.
    [[nodiscard]] std::wstring Description() {
        if (FValue.pfnDeferredFillIn != nullptr) {
            FValue.pfnDeferredFillIn(&FValue);
            FValue.pfnDeferredFillIn = nullptr;
        }
        return FValue.bstrDescription == nullptr
                   ? std::wstring()
                   : std::wstring(FValue.bstrDescription, SysStringLen(FValue.bstrDescription));
    }
    [[nodiscard]] HRESULT Status() const noexcept { return FValue.scode; }

private:
    EXCEPINFO FValue{};
};

// A BSTR's text, embedded nulls included; empty for a null BSTR.
[[nodiscard]] inline std::wstring WideOf(BSTR Value) {
    return Value == nullptr ? std::wstring() : std::wstring(Value, SysStringLen(Value));
}

// Whether a host's name is one of the driver's: in any letter case, Latin and Cyrillic alike,
// and ordinally, by the rules of no locale (in a Turkish one "GETVERSION" would not match).
[[nodiscard]] inline bool SameName(std::wstring_view A, std::wstring_view B) noexcept {
    return CompareStringOrdinal(A.data(), static_cast<int>(A.size()), B.data(),
                                static_cast<int>(B.size()), TRUE) == CSTR_EQUAL;
}

// A BSTR's text in Windows-1251, the code page of the driver's own strings.
[[nodiscard]] inline std::string Narrow(BSTR Value) {
    return TKBDUtils::ToAnsi(WideOf(Value));
}

// Holds a reference for the length of a call, so that a host that lets go of the object from
// inside a callback (an event handler, a dialog's message loop) does not pull it away under
// the running method.
class TSelfReference {
public:
    explicit TSelfReference(IUnknown* Object) noexcept : FObject(Object) { FObject->AddRef(); }
    TSelfReference(const TSelfReference&) = delete;
    TSelfReference& operator=(const TSelfReference&) = delete;
    ~TSelfReference() { FObject->Release(); }

private:
    IUnknown* FObject;
};

// Moves Value into element Index of a host's one-dimensional array of variants, clearing what
// the element held; Value is left empty. Written in place: SafeArrayPutElement copies the
// variant only when the array carries the variant flag, which an array made from a bare
// descriptor lacks, and the element would then share a string that the caller frees.
inline HRESULT MoveIntoElement(SAFEARRAY* Array, LONG Index, VARIANT& Value) noexcept {
    HRESULT status = SafeArrayLock(Array);
    if (FAILED(status)) {
        return status;
    }
    VARIANT* element = nullptr;
    status = SafeArrayPtrOfIndex(Array, &Index, reinterpret_cast<void**>(&element));
    if (SUCCEEDED(status)) {
        VariantClear(element);
        *element = Value;
        VariantInit(&Value);
    }
    SafeArrayUnlock(Array);
    return status;
}

// A failure that carries its own COM status.
class EOleError : public std::runtime_error {
public:
    EOleError(HRESULT Code, const std::string& Message)
        : std::runtime_error(Message), FCode(Code) {}
    [[nodiscard]] HRESULT Code() const noexcept { return FCode; }

private:
    HRESULT FCode;
};

// Makes Description the calling thread's error information for a failure of Interface.
void SetErrorDescription(REFIID Interface, const std::wstring& Description) noexcept;

// Objects and server locks alive in the module, for DllCanUnloadNow.
extern std::atomic<long> ModuleUsage;

}  // namespace wedgecard
