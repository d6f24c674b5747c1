#include "bench/ComSupport.h"

#include <climits>

#include "driver/core/untUtils.h"

// The linker's symbol for the start of the image this code is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace benchpad {

TBstr::TBstr(std::wstring_view Text) {
    if (Text.size() > UINT_MAX) {
        throw std::bad_alloc();
    }
    FValue = SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()));
    if (FValue == nullptr) {
        throw std::bad_alloc();
    }
}

std::wstring TBstr::Text() const {
    return BstrText(FValue);
}

std::wstring BstrText(BSTR Value) {
    return Value == nullptr ? std::wstring() : std::wstring(Value, SysStringLen(Value));
}

TVariant::TVariant(const TVariant& Other) : TVariant() {
    Other.CopyTo(&FValue);
}

void TVariant::CopyTo(VARIANT* Target) const {
    CheckHResult(VariantCopy(Target, const_cast<VARIANT*>(&FValue)));
}

TVariant TVariant::CopyOf(const VARIANT& Source) {
    TVariant copy;
    CheckHResult(VariantCopyInd(&copy.FValue, const_cast<VARIANT*>(&Source)));
    return copy;
}

std::string SystemErrorText(HRESULT Code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(Code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text =
        wedgecard::TKBDUtils::ToAnsi(std::wstring(buffer != nullptr ? buffer : L"", length));
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        char code[32];
        wsprintfA(code, "Error 0x%08lX", static_cast<unsigned long>(Code));
        text = code;
    }
    return text;
}

void CheckHResult(HRESULT Result) {
    if (FAILED(Result)) {
        if (Result == E_OUTOFMEMORY) {
            throw std::bad_alloc();
        }
        throw EComError(Result, SystemErrorText(Result));
    }
}

HRESULT SetComError(const TErrorSource& Source, HRESULT Code, const wchar_t* Message) noexcept {
    TComPtr<ICreateErrorInfo> created;
    TComPtr<IErrorInfo> info;
    if (SUCCEEDED(CreateErrorInfo(created.Put())) &&
        SUCCEEDED(created->SetGUID(Source.Interface)) &&
        SUCCEEDED(created->SetSource(const_cast<LPOLESTR>(Source.Name))) &&
        SUCCEEDED(created->SetDescription(const_cast<LPOLESTR>(Message))) &&
        SUCCEEDED(created.As(info))) {
        SetErrorInfo(0, info.Get());
    } else {
        SetErrorInfo(0, nullptr);
    }
    return Code;
}

HRESULT SetComErrorAnsi(const TErrorSource& Source, HRESULT Code, const char* Message) noexcept {
    try {
        return SetComError(Source, Code, wedgecard::TKBDUtils::ToWide(Message).c_str());
    } catch (...) {
        return SetComError(Source, Code, L"");
    }
}

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
        TComPtr<ITypeLib> library;
        HRESULT result = LoadTypeLibEx(ThisModulePath().c_str(), REGKIND_NONE, library.Put());
        TComPtr<ITypeInfo> dispatch;
        if (SUCCEEDED(result)) {
            result = library->GetTypeInfoOfGuid(FInterface, dispatch.Put());
        }
        // A dual interface is listed as its dispatch part; the runtime has to call through the
        // vtable part it refers to as implemented type -1.
        HREFTYPE vtableReference = 0;
        if (SUCCEEDED(result)) {
            result = dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableReference);
        }
        TComPtr<ITypeInfo> vtable;
        if (SUCCEEDED(result)) {
            result = dispatch->GetRefTypeInfo(vtableReference, vtable.Put());
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
    *Info = TComPtr<ITypeInfo>(FDispatch).Detach();
    return S_OK;
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
