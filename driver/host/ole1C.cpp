#include "driver/host/ole1C.h"

#include <string>

#include "driver/capture/WinCapturePlatform.h"
#include "driver/core/EventLogText.h"
#include "driver/core/untUtils.h"
#include "driver/host/ComSupport.h"

namespace wedgecard {

namespace {

// The host connection answers S_OK whatever happens inside it, and sets no error information.
constexpr TComBoundary Connection{nullptr, nullptr, S_OK};

}  // namespace

Tole1C::~Tole1C() = default;

IUnknown* Tole1C::FindInterface(REFIID Interface) noexcept {
    if (IUnknown* found =
            FindInTable(Interface, {{IID_IInitDone, static_cast<IInitDone*>(this)}})) {
        return found;
    }
    return ToleAddin::FindInterface(Interface);
}

HRESULT Tole1C::Init(IDispatch* Host) {
    // Letting go of the old sink runs the host's code, which may let go of this object.
    const TSelfReference self(static_cast<IInitDone*>(this));
    return Connection([&] {
        FAsyncEvent.Reset();
        if (Host != nullptr) {
            Host->QueryInterface(IID_IAsyncEvent,
                                 reinterpret_cast<void**>(FAsyncEvent.GetAddressOf()));
        }
        if (FAsyncEvent) {
            // The host's code runs in these calls and may hand over another sink meanwhile.
            const ComPtr<IAsyncEvent> sink = FAsyncEvent;
            RaiseEventBufferDepth(*sink.Get());
        }
        return S_OK;
    });
}

void Tole1C::RaiseEventBufferDepth(IAsyncEvent& Sink) {
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
    // A log line the memory has no room for fails nothing: Init answers S_OK all the same.
    if (depth == Unknown) {
        AddinLogger().Debug("Init(EventBufferDepth:unknown)");
    } else {
        AddinLogger().Debug("Init(EventBufferDepth:" + std::to_string(depth) + ")");
    }
}

HRESULT Tole1C::Done() {
    return Connection([&] {
        FAsyncEvent.Reset();
        return S_OK;
    });
}

HRESULT Tole1C::GetInfo(SAFEARRAY** Info) {
    return Connection([&] {
        // Only a one-dimensional array of variants can take the answer in element 0.
        if (Info == nullptr || *Info == nullptr || SafeArrayGetDim(*Info) != 1) {
            return S_OK;
        }
        VARTYPE type = VT_EMPTY;
        if (FAILED(SafeArrayGetVartype(*Info, &type)) || type != VT_VARIANT ||
            SafeArrayGetElemsize(*Info) != sizeof(VARIANT)) {
            return S_OK;
        }
        TVariant version;
        version.Get().vt = VT_BSTR;
        version.Get().bstrVal = SysAllocString(L"1000");
        MoveIntoElement(*Info, 0, version.Get());
        return S_OK;
    });
}

void Tole1C::SendExternalEvent(const std::string& Source, const std::string& Message,
                               const std::string& Data) {
    if (!FAsyncEvent) {
        return;
    }
    AddinLogger().Debug("ExternalEvent(Source:" + Source + ", Message:" + Message +
                        ", Data:" + EventDataLogText(Message, Data) + ")");
    // The host may call Done or Init from inside its handler: keep the sink alive meanwhile.
    const ComPtr<IAsyncEvent> sink = FAsyncEvent;
    const TBstr source(TKBDUtils::ToWide(Source));
    const TBstr message(TKBDUtils::ToWide(Message));
    const TBstr data(TKBDUtils::ToWide(Data));
    const HRESULT status = sink->ExternalEvent(source.Get(), message.Get(), data.Get());
    if (FAILED(status)) {
        throw EOleError(status, SystemErrorText(static_cast<unsigned long>(status)));
    }
}

}  // namespace wedgecard
