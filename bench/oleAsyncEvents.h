#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "Benchpad_TLB.h"
#include "bench/ComSupport.h"
#include "driver/host/LanguageExtender.h"

namespace benchpad {

// The host's event sink as the bench plays it: the driver reaches it as IAsyncEvent (early
// bound, after IInitDone::Init) or as IAsyncEvents through IDispatch; both lead to the same
// four operations. There is no event buffer: each event goes to OnExternalEvent at once.
//
// The window creates its sink directly and owns it: AddRef and Release only count, so the
// reference the driver keeps can never free it. Sinks made by the class factory are ordinary
// COM objects instead, freed at their last Release.
class TAsyncEvents final : public IAsyncEvents,
                           public IAsyncEvent,
                           public ISupportErrorInfo,
                           private TUnknownImpl<TAsyncEvents> {
public:
    using TExternalEventHandler = std::function<void(
        const std::wstring& Source, const std::wstring& Message, const std::wstring& Data)>;

    TAsyncEvents() noexcept;
    ~TAsyncEvents();

    // A sink freed at its last Release; what the class factory hands out.
    static HRESULT Create(REFIID Interface, void** Object) noexcept;

    // Called by ExternalEvent on the caller's thread, may be empty. An exception it throws
    // becomes the failure of ExternalEvent, with the exception's message (Windows-1251) as
    // the error description the driver reads.
    TExternalEventHandler OnExternalEvent;

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

    // IAsyncEvents and IAsyncEvent: the same names and signatures, so one implementation
    // serves both tables.
    HRESULT STDMETHODCALLTYPE ExternalEvent(BSTR Source, BSTR Message, BSTR Data) override;
    HRESULT STDMETHODCALLTYPE SetEventBufferDepth(LONG lDepth) override;
    HRESULT STDMETHODCALLTYPE GetEventBufferDepth(LONG* lDepth) override;
    HRESULT STDMETHODCALLTYPE CleanBuffer() override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID Interface) override;

private:
    struct TCounted {};
    explicit TAsyncEvents(TCounted) noexcept;

    const bool FFreedByRelease = false;
    TDispatchTypeInfo FTypeInfo{IID_IAsyncEvents};
};

}  // namespace benchpad
