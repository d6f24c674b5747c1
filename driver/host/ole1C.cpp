#include "driver/host/ole1C.h"

#include <string>

#include "driver/capture/WinCapturePlatform.h"
#include "driver/core/EventLogText.h"
#include "driver/core/untUtils.h"
#include "driver/host/ComSupport.h"

namespace wedgecard {

Tole1C::~Tole1C() = default;

void* Tole1C::FindInterface(REFIID Interface) noexcept {
    if (Interface == IID_IInitDone) {
        return static_cast<IInitDone*>(this);
    }
    return ToleAddin::FindInterface(Interface);
}

HRESULT Tole1C::Init(IDispatch* Connection) {
    // Letting go of the old sink runs the host's code, which may let go of this object.
    const TSelfReference self(static_cast<IInitDone*>(this));
    FAsyncEvent.Reset();
    if (Connection != nullptr) {
        Connection->QueryInterface(IID_IAsyncEvent,
                                   reinterpret_cast<void**>(FAsyncEvent.GetAddressOf()));
    }
    if (FAsyncEvent) {
        // The host's code runs in these calls and may hand over another sink meanwhile.
        const Microsoft::WRL::ComPtr<IAsyncEvent> sink = FAsyncEvent;
        RaiseEventBufferDepth(*sink.Get());
    }
    return S_OK;
}

void Tole1C::RaiseEventBufferDepth(IAsyncEvent& Sink) noexcept {
    // Some hosts answer S_OK and write nothing: what stays in the variable is no depth.
    constexpr long Unknown = -1;
    long depth = Unknown;
    if (FAILED(Sink.GetEventBufferDepth(&depth)) || depth < HostEventBufferDepth) {
        Sink.SetEventBufferDepth(HostEventBufferDepth);
        depth = Unknown;
        if (FAILED(Sink.GetEventBufferDepth(&depth))) {
            depth = Unknown;
        }
    }
    try {
        if (depth == Unknown) {
            AddinLogger().Debug("Init(EventBufferDepth:unknown)");
        } else {
            AddinLogger().Debug("Init(EventBufferDepth:" + std::to_string(depth) + ")");
        }
    } catch (...) {
        // A log line the memory has no room for is not worth failing the connection for.
    }
}

HRESULT Tole1C::Done() {
    FAsyncEvent.Reset();
    return S_OK;
}

HRESULT Tole1C::GetInfo(SAFEARRAY** Info) {
    // Only a one-dimensional array of variants can take the answer in element 0.
    if (Info == nullptr || *Info == nullptr || SafeArrayGetDim(*Info) != 1) {
        return S_OK;
    }
    VARTYPE type = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(*Info, &type)) || type != VT_VARIANT ||
        SafeArrayGetElemsize(*Info) != sizeof(VARIANT)) {
        return S_OK;
    }
    VARIANT version;
    VariantInit(&version);
    version.vt = VT_BSTR;
    version.bstrVal = SysAllocString(L"1000");
    MoveIntoElement(*Info, 0, version);
    VariantClear(&version);
    return S_OK;
}

void Tole1C::SendExternalEvent(const std::string& Source, const std::string& Message,
                               const std::string& Data) {
    if (!FAsyncEvent) {
        return;
    }
    AddinLogger().Debug("ExternalEvent(Source:" + Source + ", Message:" + Message +
                        ", Data:" + EventDataLogText(Message, Data) + ")");
    // The host may call Done or Init from inside its handler: keep the sink alive meanwhile.
    const Microsoft::WRL::ComPtr<IAsyncEvent> sink = FAsyncEvent;
    const TBstr source(TKBDUtils::ToWide(Source));
    const TBstr message(TKBDUtils::ToWide(Message));
    const TBstr data(TKBDUtils::ToWide(Data));
    const HRESULT status = sink->ExternalEvent(source.Get(), message.Get(), data.Get());
    if (FAILED(status)) {
        throw EOleError(status, SystemErrorText(static_cast<unsigned long>(status)));
    }
}

}  // namespace wedgecard
