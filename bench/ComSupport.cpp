#include "bench/ComSupport.h"

// The linker's symbol for the start of the image this code is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace benchpad {

std::wstring ThisModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase),
                                                path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

HRESULT TDispatchTypeInfo::Load() noexcept {
    if (FVtable) {
        return S_OK;
    }
    try {
        ComPtr<ITypeLib> library;
        HRESULT result = LoadTypeLibEx(ThisModulePath().c_str(), REGKIND_NONE, &library);
        ComPtr<ITypeInfo> dispatch;
        if (SUCCEEDED(result)) {
            result = library->GetTypeInfoOfGuid(FInterface, &dispatch);
        }
        // A dual interface is listed as its dispatch part; the runtime has to call through the
        // vtable part it refers to as implemented type -1.
        HREFTYPE vtableReference = 0;
        if (SUCCEEDED(result)) {
            result = dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableReference);
        }
        ComPtr<ITypeInfo> vtable;
        if (SUCCEEDED(result)) {
            result = dispatch->GetRefTypeInfo(vtableReference, &vtable);
        }
        if (SUCCEEDED(result)) {
            FDispatch = std::move(dispatch);
            FVtable = std::move(vtable);
        }
        return result;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT TDispatchTypeInfo::GetTypeInfoCount(UINT* Count) noexcept {
    if (Count == nullptr) {
        return E_POINTER;
    }
    *Count = 1;
    return S_OK;
}

HRESULT TDispatchTypeInfo::GetTypeInfo(UINT Index, ITypeInfo** Info) noexcept {
    if (Info == nullptr) {
        return E_POINTER;
    }
    *Info = nullptr;
    if (Index != 0) {
        return DISP_E_BADINDEX;
    }
    const HRESULT result = Load();
    if (FAILED(result)) {
        return result;
    }
    return FDispatch.CopyTo(Info);
}

HRESULT TDispatchTypeInfo::GetIDsOfNames(REFIID Reserved, LPOLESTR* Names, UINT Count,
                                         DISPID* Ids) noexcept {
    if (Reserved != IID_NULL) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    const HRESULT result = Load();
    if (FAILED(result)) {
        return result;
    }
    return DispGetIDsOfNames(FVtable.Get(), Names, Count, Ids);
}

HRESULT TDispatchTypeInfo::Invoke(void* Object, DISPID Member, REFIID Reserved, WORD Flags,
                                  DISPPARAMS* Params, VARIANT* Result, EXCEPINFO* Exception,
                                  UINT* ArgumentError) noexcept {
    if (Reserved != IID_NULL) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    const HRESULT result = Load();
    if (FAILED(result)) {
        return result;
    }
    return DispInvoke(Object, FVtable.Get(), Member, Flags, Params, Result, Exception,
                      ArgumentError);
}

}  // namespace benchpad
