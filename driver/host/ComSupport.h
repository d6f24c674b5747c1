#pragma once

// The project's one family of COM types, shared by the driver and the bench: the owning
// pointer, BSTR and VARIANT, and the exception boundary of the COM methods.

#include <oaidl.h>
#include <oleauto.h>
#include <windows.h>
#include <wrl/client.h>

#include <atomic>
#include <climits>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "driver/capture/WinCapturePlatform.h"
#include "driver/core/untUtils.h"

namespace wedgecard {

// The one owning interface pointer of the project.
using Microsoft::WRL::ComPtr;

// An owner of the first reference of a new object, which the object is created with. Not Attach:
// this WRL's Attach adds a reference of its own, which would keep the object alive for good.
template <class T>
[[nodiscard]] ComPtr<T> Adopt(T* Object) noexcept {
    ComPtr<T> owner;
    *owner.ReleaseAndGetAddressOf() = Object;
    return owner;
}

// A GUID as the registry writes it, braces included.
inline std::wstring GuidText(REFGUID Guid) {
    wchar_t text[40];
    StringFromGUID2(Guid, text, 40);
    return text;
}

// A BSTR's text, embedded nulls included; empty for a null BSTR.
[[nodiscard]] inline std::wstring WideOf(BSTR Value) {
    return Value == nullptr ? std::wstring() : std::wstring(Value, SysStringLen(Value));
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

// Throws a failing status: std::bad_alloc for E_OUTOFMEMORY, an EOleError with the system's text
// for anything else.
inline void CheckStatus(HRESULT Status) {
    if (FAILED(Status)) {
        if (Status == E_OUTOFMEMORY) {
            throw std::bad_alloc();
        }
        throw EOleError(Status, SystemErrorText(static_cast<unsigned long>(Status)));
    }
}

// An owned BSTR.
class TBstr {
public:
    TBstr() noexcept = default;
    // A null string stands for the empty text, so only a text of some length can fail.
    explicit TBstr(std::wstring_view Text) {
        if (Text.size() > UINT_MAX) {
            throw std::bad_alloc();
        }
        FValue = SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()));
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
    [[nodiscard]] std::wstring Text() const { return WideOf(FValue); }

private:
    BSTR FValue = nullptr;
};

// An owned VARIANT, cleared on destruction; copies are deep (VariantCopy).
class TVariant {
public:
    TVariant() noexcept { VariantInit(&FValue); }
    TVariant(const TVariant& Other) : TVariant() { Other.CopyTo(&FValue); }
    TVariant(TVariant&& Other) noexcept : TVariant() { std::swap(FValue, Other.FValue); }
    TVariant& operator=(TVariant Other) noexcept {
        std::swap(FValue, Other.FValue);
        return *this;
    }
    ~TVariant() { VariantClear(&FValue); }

    // A copy of Source that owns what it holds: strings, arrays and records copied, interfaces
    // add-referenced, and a reference (VT_BYREF) replaced by the value it points at, which the
    // caller may free as soon as the call returns.
    [[nodiscard]] static TVariant CopyOf(const VARIANT& Source) {
        TVariant copy;
        CheckStatus(VariantCopyInd(&copy.FValue, const_cast<VARIANT*>(&Source)));
        return copy;
    }
    // Target must be empty (VariantInit); it receives a deep copy.
    void CopyTo(VARIANT* Target) const {
        CheckStatus(VariantCopy(Target, const_cast<VARIANT*>(&FValue)));
    }

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

// Makes Description the calling thread's error information for a failure of Interface, coming
// from Source (a ProgID). False when no error object could be made: the thread's error
// information is then as it was.
inline bool SetErrorDescription(REFIID Interface, const wchar_t* Source,
                                const wchar_t* Description) noexcept {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) {
        return false;
    }
    create->SetGUID(Interface);
    create->SetSource(const_cast<LPOLESTR>(Source));
    create->SetDescription(const_cast<LPOLESTR>(Description));
    ComPtr<IErrorInfo> info;
    if (FAILED(create.As(&info))) {
        return false;
    }
    SetErrorInfo(0, info.Get());
    return true;
}

// The same with the 8-bit text of an exception.
inline bool SetErrorDescription(REFIID Interface, const wchar_t* Source,
                                const char* Description) noexcept {
    try {
        return SetErrorDescription(Interface, Source, TKBDUtils::ToWide(Description).c_str());
    } catch (...) {
        // No room for the text: the failure is still reported, without a description.
        return SetErrorDescription(Interface, Source, L"");
    }
}

// The one boundary every COM method of the module goes through, in the manner of CATCH_RETURN:
// the body's status is the method's answer, and nothing it throws reaches the caller. An
// exception becomes Failure, or the status an EOleError carries, and where the interface has
// error information (Interface not null) the exception's message becomes the thread's error
// information for that interface. An interface whose methods answer success whatever happens
// (IInitDone) passes S_OK as Failure and no Interface.
struct TComBoundary {
    const IID* Interface;
    const wchar_t* Source;
    HRESULT Failure;

    template <class TBody>
    HRESULT operator()(TBody&& Body) const noexcept {
        try {
            return Body();
        } catch (const EOleError& error) {
            return Fail(FAILED(Failure) ? error.Code() : Failure, error.what());
        } catch (const std::exception& error) {
            return Fail(Failure, error.what());
        } catch (...) {
            return Fail(Failure, "");
        }
    }

private:
    HRESULT Fail(HRESULT Status, const char* Message) const noexcept {
        if (Interface != nullptr) {
            SetErrorDescription(*Interface, Source, Message);
        }
        return Status;
    }
};

// One row of an object's interface table: an interface and the object's pointer of it.
struct TInterfaceEntry {
    const IID& Interface;
    IUnknown* Pointer;
};

// The object's pointer of Interface from its table; null when the object has none.
[[nodiscard]] inline IUnknown* FindInTable(REFIID Interface,
                                           std::initializer_list<TInterfaceEntry> Table) noexcept {
    for (const TInterfaceEntry& entry : Table) {
        if (entry.Interface == Interface) {
            return entry.Pointer;
        }
    }
    return nullptr;
}

// QueryInterface's answer for what FindInTable found.
inline HRESULT QueryFound(IUnknown* Found, void** Object) noexcept {
    if (Object == nullptr) {
        return E_POINTER;
    }
    *Object = Found;
    if (Found == nullptr) {
        return E_NOINTERFACE;
    }
    Found->AddRef();
    return S_OK;
}

// The reference count of a COM object, from its creator's reference: AddRef and Release of the
// object are one line each. Release deletes TObject at the last reference; an object that must
// put its deletion off, or is not freed by its count, uses Drop instead.
template <class TObject>
class TUnknownImpl {
public:
    TUnknownImpl(const TUnknownImpl&) = delete;
    TUnknownImpl& operator=(const TUnknownImpl&) = delete;

protected:
    explicit TUnknownImpl(ULONG References = 1) noexcept : FReferences(References) {}
    ~TUnknownImpl() = default;

    ULONG DoAddRef() noexcept { return ++FReferences; }
    ULONG DoRelease() noexcept {
        const ULONG remaining = Drop();
        if (remaining == 0) {
            delete static_cast<TObject*>(this);
        }
        return remaining;
    }
    // The references left once this one is gone.
    ULONG Drop() noexcept { return --FReferences; }

private:
    std::atomic<ULONG> FReferences;
};

// The class object of a server's class. Create makes an object and hands out the interface asked
// for; Lock counts a lock of the server up or down (LockServer). In an in-process server each
// reference to the class object is such a lock as well (ReferencesLock), so that the module stays
// loaded while a client holds it; a local server's class objects are held by COM while they are
// registered, and must not keep it running. Lives as long as the server: nothing frees it.
template <HRESULT (*Create)(REFIID, void**) noexcept, void (*Lock)(bool) noexcept,
          bool ReferencesLock>
class TClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override {
        return QueryFound(FindInTable(Interface, {{IID_IUnknown, this}, {IID_IClassFactory, this}}),
                          Object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        if constexpr (ReferencesLock) {
            Lock(true);
        }
        return ++FReferences;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        if constexpr (ReferencesLock) {
            Lock(false);
        }
        return --FReferences;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* Outer, REFIID Interface,
                                             void** Object) override {
        if (Object == nullptr) {
            return E_POINTER;
        }
        *Object = nullptr;
        if (Outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return Create(Interface, Object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL Locked) override {
        Lock(Locked != FALSE);
        return S_OK;
    }

private:
    std::atomic<ULONG> FReferences{0};
};

// A new object of class TObject, initialised (Initialize) and handed out as Interface, through
// the boundary Creation: the object is held from its construction on, so that an initialisation
// that fails or throws frees it on the way out.
template <class TObject>
HRESULT CreateInitialized(const TComBoundary& Creation, REFIID Interface, void** Object) noexcept {
    return Creation([&] {
        const ComPtr<TObject> object = Adopt(new TObject());
        HRESULT status = object->Initialize();
        if (SUCCEEDED(status)) {
            status = object->QueryInterface(Interface, Object);
        }
        return status;
    });
}

// Objects and server locks alive in the module, for DllCanUnloadNow.
extern std::atomic<long> ModuleUsage;

}  // namespace wedgecard
