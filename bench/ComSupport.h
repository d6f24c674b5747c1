#pragma once

// The bench's COM boundary and type information, on the driver's COM types (its owning pointer,
// BSTR and VARIANT), which the bench shares.

#include <windows.h>

#include <oleauto.h>

#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "driver/host/ComSupport.h"

namespace benchpad {

using wedgecard::ComPtr;
using wedgecard::EOleError;
using wedgecard::FindInTable;
using wedgecard::GuidText;
using wedgecard::QueryFound;
using wedgecard::TBstr;
using wedgecard::TClassFactory;
using wedgecard::TUnknownImpl;
using wedgecard::TVariant;
using wedgecard::WideOf;

// Where a COM method's error information says the error came from.
struct TErrorSource {
    const GUID& Interface;
    const wchar_t* Name;
};

// Fills the thread's error information (IErrorInfo) and returns Code. Message is UTF-16, or
// Windows-1251 as an exception's. Without memory for an error object the thread is left with
// none, so that a caller never reads the description of an earlier error.
template <class TChar>
HRESULT SetComError(const TErrorSource& Source, HRESULT Code, const TChar* Message) noexcept {
    if (!wedgecard::SetErrorDescription(Source.Interface, Source.Name, Message)) {
        SetErrorInfo(0, nullptr);
    }
    return Code;
}

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
    } catch (const EOleError& error) {
        return SetComError(Source, error.Code(), error.what());
    } catch (const std::bad_alloc&) {
        return SetComError(Source, E_OUTOFMEMORY, L"Out of memory");
    } catch (const std::exception& error) {
        return SetComError(Source, E_FAIL, error.what());
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
    ComPtr<ITypeInfo> FDispatch;
    // What the runtime calls through: the vtable part of the dual interface.
    ComPtr<ITypeInfo> FVtable;
};

}  // namespace benchpad
