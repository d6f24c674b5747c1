#pragma once

#include <windows.h>

#include <oaidl.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "WedgecardLib_TLB.h"
#include "driver/core/DriverCalls.h"
#include "driver/core/KBDDriver.h"
#include "driver/diagnostics/untLogger.h"
#include "driver/host/ComSupport.h"

namespace wedgecard {

class TAxView;

// The name hosts create the driver by, and the source of its error information.
inline constexpr const wchar_t* DriverProgID = L"Addin.LumMSRKBD1C";

// The automation object: the six methods of ILumMSRKBD1C, each logged and forwarded to the
// driver core it owns. IDispatch is served from the type library by the OLE runtime. The
// first of three classes that make up the one COM object (the language extender and the host
// connection derive from it).
class TLumMSRKBD1C : public ILumMSRKBD1C,
                     public ISupportErrorInfo,
                     protected TUnknownImpl<TLumMSRKBD1C> {
public:
    TLumMSRKBD1C();
    virtual ~TLumMSRKBD1C();

    // Runs once after construction, before the object is handed out: loads the type
    // information, points the log file next to the module and switches it on.
    virtual HRESULT Initialize();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT Index, LCID Locale, ITypeInfo** Info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID Interface, LPOLESTR* Names, UINT Count,
                                            LCID Locale, DISPID* IDs) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID Member, REFIID Interface, LCID Locale, WORD Flags,
                                     DISPPARAMS* Arguments, VARIANT* Result, EXCEPINFO* Exception,
                                     UINT* ArgumentError) override;

    // ILumMSRKBD1C
    HRESULT STDMETHODCALLTYPE GetVersion(BSTR* Res) override;
    HRESULT STDMETHODCALLTYPE GetLastError(BSTR* ErrorDescription, LONG* Res) override;
    HRESULT STDMETHODCALLTYPE Open(IDispatch* ValuesArray, BSTR* DeviceID,
                                   VARIANT_BOOL* Res) override;
    HRESULT STDMETHODCALLTYPE Close(BSTR DeviceID, VARIANT_BOOL* Res) override;
    HRESULT STDMETHODCALLTYPE EventProcessed(BSTR DeviceID, VARIANT_BOOL StateFlag,
                                             VARIANT_BOOL* Res) override;
    HRESULT STDMETHODCALLTYPE DeviceTest(IDispatch* ValuesArray, BSTR* AdditionalDescription,
                                         VARIANT_BOOL* Res) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID Interface) override;

protected:
    // The interface of this object that Interface names, or null. Derived classes add theirs.
    virtual IUnknown* FindInterface(REFIID Interface) noexcept;

    // Where the driver core's events go; nothing here.
    virtual void SendExternalEvent(const std::string& Source, const std::string& Message,
                                   const std::string& Data);

    // The last reference went while a hook handler of this thread is still serving a message
    // (the host let go of the driver from inside its event handler): the object is destroyed
    // once the handler has returned, and must not reach the host meanwhile.
    virtual void Detach() noexcept {}

    TLogger& Logger();
    TKBDDriver& Driver();
    // The driver's operations, each logged through this object's logger.
    TDriverCalls Calls();
    [[nodiscard]] ITypeInfo* TypeInfo() const noexcept { return FTypeInfo.Get(); }

    // Runs Body with a reference held on the object, through the automation interface's
    // boundary: S_OK, or the failure an exception becomes.
    template <class TBody>
    HRESULT Guarded(TBody&& Body) noexcept;

private:
    // The [out] string parameters of each method, by position, as the type information
    // declares them (the [retval] result is not a parameter there).
    struct TMethodShape {
        UINT Parameters = 0;
        std::vector<bool> OutString;
    };
    void LoadMethodShapes();

    ComPtr<ITypeInfo> FTypeInfo;
    std::map<DISPID, TMethodShape> FMethods;
    std::unique_ptr<TLogger> FLogger;
    std::unique_ptr<TKBDDriver> FDriver;
    std::unique_ptr<TAxView> FView;
};

}  // namespace wedgecard
