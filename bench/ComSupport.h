#pragma once

// Small COM helpers of the bench: owning pointers, strings and variants, and the boundary that
// keeps every exception inside a COM method.

#include <windows.h>

#include <oleauto.h>

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace benchpad {

// Owns one reference to an interface.
template <class T>
class TComPtr {
public:
    TComPtr() noexcept = default;
    TComPtr(std::nullptr_t) noexcept {}
    // Takes a reference of its own; the caller keeps its reference.
    explicit TComPtr(T* Pointer) noexcept : FPointer(Pointer) {
        if (FPointer != nullptr) {
            FPointer->AddRef();
        }
    }
    TComPtr(const TComPtr& Other) noexcept : TComPtr(Other.FPointer) {}
    TComPtr(TComPtr&& Other) noexcept : FPointer(std::exchange(Other.FPointer, nullptr)) {}
    TComPtr& operator=(TComPtr Other) noexcept {
        std::swap(FPointer, Other.FPointer);
        return *this;
    }
    ~TComPtr() { Reset(); }

    void Reset() noexcept {
        if (T* old = std::exchange(FPointer, nullptr)) {
            old->Release();
        }
    }
    // For an out parameter that hands over a reference: whatever was held is released first.
    [[nodiscard]] T** Put() noexcept {
        Reset();
        return &FPointer;
    }
    [[nodiscard]] void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    // Takes over a reference the caller owns (a new object's first one).
    void Attach(T* Pointer) noexcept {
        Reset();
        FPointer = Pointer;
    }
    [[nodiscard]] T* Detach() noexcept { return std::exchange(FPointer, nullptr); }

    [[nodiscard]] T* Get() const noexcept { return FPointer; }
    T* operator->() const noexcept { return FPointer; }
    explicit operator bool() const noexcept { return FPointer != nullptr; }

    template <class U>
    HRESULT As(TComPtr<U>& Other) const noexcept {
        return FPointer->QueryInterface(__uuidof(U), Other.PutVoid());
    }

private:
    T* FPointer = nullptr;
};

// Owns one BSTR.
class TBstr {
public:
    TBstr() noexcept = default;
    explicit TBstr(std::wstring_view Text);
    TBstr(const TBstr&) = delete;
    TBstr& operator=(const TBstr&) = delete;
    TBstr(TBstr&& Other) noexcept : FValue(std::exchange(Other.FValue, nullptr)) {}
    TBstr& operator=(TBstr&& Other) noexcept {
        std::swap(FValue, Other.FValue);
        return *this;
    }
    ~TBstr() { SysFreeString(FValue); }

    [[nodiscard]] BSTR Get() const noexcept { return FValue; }
    [[nodiscard]] BSTR* Put() noexcept {
        SysFreeString(std::exchange(FValue, nullptr));
        return &FValue;
    }
    [[nodiscard]] BSTR Detach() noexcept { return std::exchange(FValue, nullptr); }
    [[nodiscard]] std::wstring Text() const;

private:
    BSTR FValue = nullptr;
};

// The text of a BSTR, which may be null (the empty text) and may hold null characters.
[[nodiscard]] std::wstring BstrText(BSTR Value);

// Owns one VARIANT; copies are deep (VariantCopy).
class TVariant {
public:
    TVariant() noexcept { VariantInit(&FValue); }
    TVariant(const TVariant& Other);
    TVariant(TVariant&& Other) noexcept : TVariant() { std::swap(FValue, Other.FValue); }
    TVariant& operator=(TVariant Other) noexcept {
        std::swap(FValue, Other.FValue);
        return *this;
    }
    ~TVariant() { VariantClear(&FValue); }

    // A copy of Source that owns what it holds: strings, arrays and records copied,
    // interfaces add-referenced, and a reference (VT_BYREF) replaced by the value it points at,
    // which the caller may free as soon as the call returns.
    [[nodiscard]] static TVariant CopyOf(const VARIANT& Source);

    // Target must be empty (VariantInit); it receives a deep copy.
    void CopyTo(VARIANT* Target) const;

    [[nodiscard]] const VARIANT& Get() const noexcept { return FValue; }
    [[nodiscard]] VARIANT* Put() noexcept {
        VariantClear(&FValue);
        return &FValue;
    }

private:
    VARIANT FValue;
};

// A failure with its HRESULT; the message is text in Windows-1251, like the bench's own texts.
class EComError : public std::runtime_error {
public:
    EComError(HRESULT Code, const std::string& Message)
        : std::runtime_error(Message), FCode(Code) {}

    [[nodiscard]] HRESULT Code() const noexcept { return FCode; }

private:
    HRESULT FCode;
};

// The system's text for an HRESULT, in Windows-1251 whatever the system's code page.
[[nodiscard]] std::string SystemErrorText(HRESULT Code);

// Throws EComError with the system's text for a failing HRESULT (std::bad_alloc for
// E_OUTOFMEMORY).
void CheckHResult(HRESULT Result);

// Where a COM method's error information says the error came from.
struct TErrorSource {
    const GUID& Interface;
    const wchar_t* Name;
};

// Fill the thread's error information (IErrorInfo) and return Code. The second takes a message
// in Windows-1251.
HRESULT SetComError(const TErrorSource& Source, HRESULT Code, const wchar_t* Message) noexcept;
HRESULT SetComErrorAnsi(const TErrorSource& Source, HRESULT Code, const char* Message) noexcept;

// The whole body of a COM method: whatever escapes becomes a failing HRESULT with its message
// in the thread's error information. A failure the body returns itself clears that information,
// so a caller never reads the description of an earlier error.
template <class TBody>
HRESULT ComMethod(const TErrorSource& Source, TBody&& Body) noexcept {
    try {
        const HRESULT result = std::forward<TBody>(Body)();
        if (FAILED(result)) {
            SetErrorInfo(0, nullptr);
        }
        return result;
    } catch (const EComError& error) {
        return SetComErrorAnsi(Source, error.Code(), error.what());
    } catch (const std::bad_alloc&) {
        return SetComError(Source, E_OUTOFMEMORY, L"Out of memory");
    } catch (const std::exception& error) {
        return SetComErrorAnsi(Source, E_FAIL, error.what());
    } catch (...) {
        return SetComError(Source, E_UNEXPECTED, L"Unexpected error");
    }
}

// The full path of the module this code is linked into.
[[nodiscard]] std::wstring ThisModulePath();

// IDispatch of one dual interface of the bench's type library, served by the OLE runtime from
// the type information that the module itself carries (TYPELIB resource 1), so names and
// DISPIDs are exactly the library's. Loaded on first use: early-bound callers never pay for it.
class TDispatchTypeInfo {
public:
    explicit TDispatchTypeInfo(const IID& Interface) noexcept : FInterface(Interface) {}

    HRESULT GetTypeInfoCount(UINT* Count) noexcept;
    HRESULT GetTypeInfo(UINT Index, ITypeInfo** Info) noexcept;
    HRESULT GetIDsOfNames(REFIID Reserved, LPOLESTR* Names, UINT Count, DISPID* Ids) noexcept;
    // Object: the object's pointer of the interface the type information describes.
    HRESULT Invoke(void* Object, DISPID Member, REFIID Reserved, WORD Flags, DISPPARAMS* Params,
                   VARIANT* Result, EXCEPINFO* Exception, UINT* ArgumentError) noexcept;

private:
    HRESULT Load() noexcept;

    const IID& FInterface;
    // What clients read: the seven IDispatch functions, then the members.
    TComPtr<ITypeInfo> FDispatch;
    // What the runtime calls through: the vtable part of the dual interface.
    TComPtr<ITypeInfo> FVtable;
};

}  // namespace benchpad
