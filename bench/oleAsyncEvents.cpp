#include "bench/oleAsyncEvents.h"

#include <new>

#include "bench/ComServer.h"

namespace benchpad {

namespace {

const TErrorSource EventErrors{IID_IAsyncEvents, L"Benchpad.AsyncEvents"};

}  // namespace

// The window's own sink counts from nothing: its owner holds no reference.
TAsyncEvents::TAsyncEvents() noexcept : TUnknownImpl(0) {}

TAsyncEvents::TAsyncEvents(TCounted) noexcept : TUnknownImpl(1), FFreedByRelease(true) {
    ServerLock();
}

TAsyncEvents::~TAsyncEvents() {
    if (FFreedByRelease) {
        ServerUnlock();
    }
}

HRESULT TAsyncEvents::Create(REFIID Interface, void** Object) noexcept {
    if (Object == nullptr) {
        return E_POINTER;
    }
    *Object = nullptr;
    const ComPtr<TAsyncEvents> events =
        wedgecard::Adopt(new (std::nothrow) TAsyncEvents(TCounted{}));
    if (!events) {
        return E_OUTOFMEMORY;
    }
    return events->QueryInterface(Interface, Object);
}

HRESULT TAsyncEvents::QueryInterface(REFIID Interface, void** Object) {
    auto* events = static_cast<IAsyncEvents*>(this);
    return QueryFound(
        FindInTable(Interface, {{IID_IUnknown, events},
                                {IID_IDispatch, events},
                                {IID_IAsyncEvents, events},
                                {IID_IAsyncEvent, static_cast<IAsyncEvent*>(this)},
                                {IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(this)}}),
        Object);
}

ULONG TAsyncEvents::AddRef() {
    return DoAddRef();
}

ULONG TAsyncEvents::Release() {
    const ULONG count = Drop();
    if (count == 0 && FFreedByRelease) {
        delete this;
    }
    return count;
}

HRESULT TAsyncEvents::GetTypeInfoCount(UINT* Count) {
    return FTypeInfo.GetTypeInfoCount(Count);
}

HRESULT TAsyncEvents::GetTypeInfo(UINT Index, LCID, ITypeInfo** Info) {
    return FTypeInfo.GetTypeInfo(Index, Info);
}

HRESULT TAsyncEvents::GetIDsOfNames(REFIID Reserved, LPOLESTR* Names, UINT Count, LCID,
                                    DISPID* Ids) {
    return FTypeInfo.GetIDsOfNames(Reserved, Names, Count, Ids);
}

HRESULT TAsyncEvents::Invoke(DISPID Member, REFIID Reserved, LCID, WORD Flags, DISPPARAMS* Params,
                             VARIANT* Result, EXCEPINFO* Exception, UINT* ArgumentError) {
    return FTypeInfo.Invoke(static_cast<IAsyncEvents*>(this), Member, Reserved, Flags, Params,
                            Result, Exception, ArgumentError);
}

HRESULT TAsyncEvents::ExternalEvent(BSTR Source, BSTR Message, BSTR Data) {
    return ComMethod(EventErrors, [&] {
        // A copy: the handler may replace or clear OnExternalEvent while it runs, and it may
        // run nested (the window acknowledges inside it, and the driver delivers the next event
        // from within that call).
        if (const TExternalEventHandler handler = OnExternalEvent) {
            handler(WideOf(Source), WideOf(Message), WideOf(Data));
        }
        return S_OK;
    });
}

HRESULT TAsyncEvents::SetEventBufferDepth(LONG) {
    return S_OK;
}

HRESULT TAsyncEvents::GetEventBufferDepth(LONG*) {
    return S_OK;
}

HRESULT TAsyncEvents::CleanBuffer() {
    return S_OK;
}

HRESULT TAsyncEvents::InterfaceSupportsErrorInfo(REFIID Interface) {
    return Interface == IID_IAsyncEvents || Interface == IID_IAsyncEvent ? S_OK : S_FALSE;
}

}  // namespace benchpad
