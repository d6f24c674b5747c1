#pragma once

#include <windows.h>

#include <atomic>
#include <vector>

#include "Benchpad_TLB.h"
#include "bench/ComSupport.h"

namespace benchpad {

inline constexpr const char* SInvalidArrayIndex = "Invalid array index";

// The settings array the bench hands the driver: a growable list of VARIANTs read and written by
// 0-based index, late bound through the type library or early bound through IArray1C. Freed at
// its last Release; every live array keeps a local server running (ServerLock).
class TArray1C final : public IArray1C, public ISupportErrorInfo, private TUnknownImpl<TArray1C> {
public:
    // A new, empty array; what the class factory hands out.
    static HRESULT Create(REFIID Interface, void** Object) noexcept;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT Index, LCID Locale, ITypeInfo** Info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID Reserved, LPOLESTR* Names, UINT Count,
                                            LCID Locale, DISPID* Ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID Member, REFIID Reserved, LCID Locale, WORD Flags,
                                     DISPPARAMS* Params, VARIANT* Result, EXCEPINFO* Exception,
                                     UINT* ArgumentError) override;

    // IArray1C
    HRESULT STDMETHODCALLTYPE get_Count(LONG* Value) override;
    HRESULT STDMETHODCALLTYPE Get(LONG Index, VARIANT* Res) override;
    HRESULT STDMETHODCALLTYPE Put(LONG Index, VARIANT Value) override;
    HRESULT STDMETHODCALLTYPE Add(VARIANT Value) override;
    HRESULT STDMETHODCALLTYPE Clear() override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID Interface) override;

private:
    friend TUnknownImpl<TArray1C>;

    TArray1C();
    ~TArray1C();

    // The element at Index; the failure "Invalid array index" outside 0..Count-1.
    [[nodiscard]] TVariant& Element(LONG Index);

    TDispatchTypeInfo FTypeInfo{IID_IArray1C};
    std::vector<TVariant> FValues;
};

}  // namespace benchpad
