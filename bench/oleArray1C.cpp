#include "bench/oleArray1C.h"

#include <climits>
#include <utility>

#include "bench/ComServer.h"

namespace benchpad {

namespace {

const TErrorSource ArrayErrors{IID_IArray1C, L"Benchpad.Array1C"};

}  // namespace

HRESULT TArray1C::Create(REFIID Interface, void** Object) noexcept {
    if (Object == nullptr) {
        return E_POINTER;
    }
    *Object = nullptr;
    const ComPtr<TArray1C> array = wedgecard::Adopt(new (std::nothrow) TArray1C());
    if (!array) {
        return E_OUTOFMEMORY;
    }
    return array->QueryInterface(Interface, Object);
}

TArray1C::TArray1C() {
    ServerLock();
}

TArray1C::~TArray1C() {
    ServerUnlock();
}

HRESULT TArray1C::QueryInterface(REFIID Interface, void** Object) {
    auto* array = static_cast<IArray1C*>(this);
    return QueryFound(
        FindInTable(Interface, {{IID_IUnknown, array},
                                {IID_IDispatch, array},
                                {IID_IArray1C, array},
                                {IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(this)}}),
        Object);
}

ULONG TArray1C::AddRef() {
    return DoAddRef();
}

ULONG TArray1C::Release() {
    return DoRelease();
}

HRESULT TArray1C::GetTypeInfoCount(UINT* Count) {
    return FTypeInfo.GetTypeInfoCount(Count);
}

HRESULT TArray1C::GetTypeInfo(UINT Index, LCID, ITypeInfo** Info) {
    return FTypeInfo.GetTypeInfo(Index, Info);
}

HRESULT TArray1C::GetIDsOfNames(REFIID Reserved, LPOLESTR* Names, UINT Count, LCID, DISPID* Ids) {
    return FTypeInfo.GetIDsOfNames(Reserved, Names, Count, Ids);
}

HRESULT TArray1C::Invoke(DISPID Member, REFIID Reserved, LCID, WORD Flags, DISPPARAMS* Params,
                         VARIANT* Result, EXCEPINFO* Exception, UINT* ArgumentError) {
    return FTypeInfo.Invoke(static_cast<IArray1C*>(this), Member, Reserved, Flags, Params, Result,
                            Exception, ArgumentError);
}

TVariant& TArray1C::Element(LONG Index) {
    if (Index < 0 || static_cast<std::size_t>(Index) >= FValues.size()) {
        throw EOleError(DISP_E_BADINDEX, SInvalidArrayIndex);
    }
    return FValues[static_cast<std::size_t>(Index)];
}

HRESULT TArray1C::get_Count(LONG* Value) {
    return ComMethod(ArrayErrors, [&] {
        if (Value == nullptr) {
            return E_POINTER;
        }
        *Value = static_cast<LONG>(FValues.size());
        return S_OK;
    });
}

HRESULT TArray1C::Get(LONG Index, VARIANT* Res) {
    if (Res != nullptr) {
        VariantInit(Res);
    }
    return ComMethod(ArrayErrors, [&] {
        if (Res == nullptr) {
            return E_POINTER;
        }
        Element(Index).CopyTo(Res);
        return S_OK;
    });
}

HRESULT TArray1C::Put(LONG Index, VARIANT Value) {
    return ComMethod(ArrayErrors, [&] {
        TVariant& element = Element(Index);
        TVariant copy = TVariant::CopyOf(Value);
        // The old value is released only after the new one is in place: releasing an interface
        // may run code that reads this array again.
        std::swap(element, copy);
        return S_OK;
    });
}

HRESULT TArray1C::Add(VARIANT Value) {
    return ComMethod(ArrayErrors, [&] {
        // Count must stay representable.
        if (FValues.size() >= static_cast<std::size_t>(LONG_MAX)) {
            return E_OUTOFMEMORY;
        }
        FValues.push_back(TVariant::CopyOf(Value));
        return S_OK;
    });
}

HRESULT TArray1C::Clear() {
    return ComMethod(ArrayErrors, [&] {
        // Emptied before the values are released, for the same reason as in Put.
        std::vector<TVariant> old = std::exchange(FValues, {});
        return S_OK;
    });
}

HRESULT TArray1C::InterfaceSupportsErrorInfo(REFIID Interface) {
    return Interface == IID_IArray1C ? S_OK : S_FALSE;
}

}  // namespace benchpad
