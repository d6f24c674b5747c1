#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "driver/core/DriverCalls.h"
#include "driver/native/NativeApi.h"

namespace wedgecard {

class TLogger;

// The four tables the host calls a component through, one per base of IComponentBase.
[[nodiscard]] native::TComponentBase ComponentInterfaces() noexcept;

// The driver as a 1C Native API component, the sibling of Tole1C: one object of the class
// LumMSRKBD1C, made by GetClassObject. It turns the host's calls, values and strings into the
// driver core's and back: the six methods of the COM binding by number, with the same names,
// results, error codes and texts, and the core's events through the host connection's
// ExternalEvent. Every string it hands the host is allocated with the host's memory manager.
class TNativeComponent {
public:
    // Points the log file next to the module and switches it on, as the COM object does.
    TNativeComponent();
    TNativeComponent(const TNativeComponent&) = delete;
    TNativeComponent& operator=(const TNativeComponent&) = delete;
    ~TNativeComponent();

    // What the host holds: the address it knows as IComponentBase.
    [[nodiscard]] native::TComponentBase* Base() noexcept { return &FInterfaces; }

    // The live object whose interfaces Base is; null for anything else, a destroyed object or a
    // pointer that was never ours, which is not even read.
    [[nodiscard]] static TNativeComponent* Find(const native::TComponentBase* Base) noexcept;

    // DestroyObject. The object stops being live at once and lets go of the connection; it is
    // deleted now, or after the calls into it have returned and the message the capture is
    // serving has been served (a host may destroy it from inside its event handler). False when
    // Base is not a live object.
    static bool Destroy(native::TComponentBase* Base) noexcept;

    // IInitDoneBase
    bool Init(native::TAddInDefBase* Connection) noexcept;
    bool SetMemManager(native::TMemoryManager* MemoryManager) noexcept;
    void Done() noexcept;

    // ILanguageExtenderBase, the members with something to do
    bool RegisterExtensionAs(native::TChar** Name);
    [[nodiscard]] static std::int32_t GetNMethods() noexcept;
    [[nodiscard]] static std::int32_t FindMethod(const native::TChar* Name) noexcept;
    const native::TChar* GetMethodName(std::int32_t Number, std::int32_t Alias);
    [[nodiscard]] static std::int32_t GetNParams(std::int32_t Number) noexcept;
    [[nodiscard]] static bool HasRetVal(std::int32_t Number) noexcept;
    // False, with the reason given to the host's AddError, only for what the host got wrong: a
    // driver operation that fails answers true with the result false, as through COM.
    bool CallAsProc(std::int32_t Number, native::TNativeVariant* Params, std::int32_t Count);
    bool CallAsFunc(std::int32_t Number, native::TNativeVariant* Result,
                    native::TNativeVariant* Params, std::int32_t Count);

    // Marks a call from the host as running, for Destroy.
    class TCall {
    public:
        explicit TCall(TNativeComponent& Component) noexcept;
        TCall(const TCall&) = delete;
        TCall& operator=(const TCall&) = delete;
        ~TCall();

    private:
        TNativeComponent& FComponent;
    };

private:
    // Now, or once the message being served on this thread has been served.
    static void Delete(TNativeComponent* Component) noexcept;
    TLogger& Logger();
    TKBDDriver& Driver();
    // The driver's operations, each logged through this object's logger.
    TDriverCalls Calls();
    void SendExternalEvent(const std::string& Source, const std::string& Message,
                           const std::string& Data);
    // Result is null for CallAsProc.
    bool Call(std::int32_t Number, native::TNativeVariant* Result, native::TNativeVariant* Params,
              std::int32_t Count);
    // The reason a call failed, for the exception the host raises in its program.
    void Refuse(HRESULT Status);

    // Strings in the host's memory; null when there is no memory manager or no memory.
    native::TChar* HostString(std::wstring_view Text);
    bool SetString(native::TNativeVariant& Value, std::wstring_view Text);
    // An out parameter written in place: its old string goes back to the host's memory.
    bool ReplaceString(native::TNativeVariant& Value, std::wstring_view Text);

    native::TComponentBase FInterfaces;
    native::TAddInDefBase* FConnection = nullptr;
    native::TMemoryManager* FMemory = nullptr;
    int FCalls = 0;
    bool FDestroyed = false;
    std::unique_ptr<TLogger> FLogger;
    std::unique_ptr<TKBDDriver> FDriver;
};

}  // namespace wedgecard
