#pragma once

#include "driver/host/LanguageExtender.h"
#include "driver/host/oleAddin.h"

namespace wedgecard {

// The class COM creates: the automation object and language extender plus the host
// connection. The host hands over its connection object through IInitDone::Init; the driver's
// events then go to the host's IAsyncEvent.
class Tole1C final : public ToleAddin, public IInitDone {
public:
    Tole1C() = default;
    ~Tole1C() override;

    // IUnknown, for every interface of the object
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override {
        return ToleAddin::QueryInterface(Interface, Object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ToleAddin::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ToleAddin::Release(); }

    // IInitDone
    HRESULT STDMETHODCALLTYPE Init(IDispatch* Host) override;
    HRESULT STDMETHODCALLTYPE Done() override;
    HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** Info) override;

protected:
    IUnknown* FindInterface(REFIID Interface) noexcept override;
    void SendExternalEvent(const std::string& Source, const std::string& Message,
                           const std::string& Data) override;
    void Detach() noexcept override { FAsyncEvent.Reset(); }

private:
    // Asks the host for the depth the event handshake needs and logs the depth it reports.
    void RaiseEventBufferDepth(IAsyncEvent& Sink);

    ComPtr<IAsyncEvent> FAsyncEvent;
};

}  // namespace wedgecard
