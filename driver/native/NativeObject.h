#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "driver/core/KBDDriver.h"
#include "driver/native/NativeApi.h"

namespace wedgecard {

class TLogger;

// One method of a component class, as the host finds and calls it by number.
struct TNativeMethod {
    std::wstring_view Name;   // English
    std::wstring_view Alias;  // Russian
    std::int32_t Parameters = 0;
    // A string written into a parameter, or returned when the host asks for a result: both
    // need the host's memory manager.
    bool WritesText = false;
    bool ReturnsText = false;
};

// The four tables the host calls a component through, one per base of IComponentBase.
[[nodiscard]] native::TComponentBase ComponentInterfaces() noexcept;

// What every component class of the module is made of: the address the host knows as
// IComponentBase, the list of live objects that the exports check every pointer against, the
// calls in progress (so that DestroyObject from inside an event handler waits for them), the
// connection and the memory manager, the member table (names found in any letter case), strings
// in the host's memory, the reasons given for refused calls, and the driver core behind it all.
class TNativeObject {
public:
    TNativeObject(const TNativeObject&) = delete;
    TNativeObject& operator=(const TNativeObject&) = delete;
    virtual ~TNativeObject();

    [[nodiscard]] native::TComponentBase* Base() noexcept { return &FInterfaces; }

    // The live object whose interfaces Base is; null for anything else, a destroyed object or a
    // pointer that was never ours, which is not even read.
    [[nodiscard]] static TNativeObject* Find(const native::TComponentBase* Base) noexcept;

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
    [[nodiscard]] std::int32_t GetNMethods() const noexcept;
    [[nodiscard]] std::int32_t FindMethod(const native::TChar* Name) const noexcept;
    const native::TChar* GetMethodName(std::int32_t Number, std::int32_t Alias);
    [[nodiscard]] std::int32_t GetNParams(std::int32_t Number) const noexcept;
    [[nodiscard]] bool HasRetVal(std::int32_t Number) const noexcept;
    // False, with the reason given to the host's AddError, only for what the host got wrong: a
    // driver operation that fails answers true with the result false.
    bool CallAsProc(std::int32_t Number, native::TNativeVariant* Params, std::int32_t Count);
    bool CallAsFunc(std::int32_t Number, native::TNativeVariant* Result,
                    native::TNativeVariant* Params, std::int32_t Count);

    // Marks a call from the host as running, for Destroy.
    class TCall {
    public:
        explicit TCall(TNativeObject& Object) noexcept;
        TCall(const TCall&) = delete;
        TCall& operator=(const TCall&) = delete;
        ~TCall();

    private:
        TNativeObject& FObject;
    };

protected:
    // Every method of the class returns a value. The object is live from here on.
    TNativeObject(std::wstring_view ClassName, std::span<const TNativeMethod> Methods,
                  std::string LoggerName, TEventDelivery Delivery);

    // Method Number, its parameters checked: as many as it takes, each readable, and a memory
    // manager there when it hands back text. Result is null for CallAsProc. Returns what
    // CallAsFunc does, calling Refuse first when it fails.
    virtual bool Invoke(std::int32_t Number, native::TNativeVariant* Result,
                        native::TNativeVariant* Params) = 0;

    TLogger& Logger();
    TKBDDriver& Driver();
    // The reason a call failed, for the exception the host raises in its program.
    void Refuse(HRESULT Status);

    // Strings in the host's memory; null when there is no memory manager or no memory.
    native::TChar* HostString(std::wstring_view Text);
    // A result or out parameter set to Text; false, with the call refused (E_OUTOFMEMORY), when
    // the host's memory has no room for it.
    bool SetString(native::TNativeVariant& Value, std::wstring_view Text);
    // An out parameter written in place: its old string goes back to the host's memory. Fails as
    // SetString does.
    bool ReplaceString(native::TNativeVariant& Value, std::wstring_view Text);
    void ReplaceBoolean(native::TNativeVariant& Value, bool Truth);

private:
    // Now, or once the message being served on this thread has been served.
    static void Delete(TNativeObject* Object) noexcept;
    bool Call(std::int32_t Number, native::TNativeVariant* Result, native::TNativeVariant* Params,
              std::int32_t Count);
    void SendExternalEvent(const std::string& Source, const std::string& Message,
                           const std::string& Data);
    // The string an out parameter holds goes back to the host's memory.
    void FreeString(native::TNativeVariant& Value);

    native::TComponentBase FInterfaces;
    const std::wstring_view FClassName;
    const std::span<const TNativeMethod> FMethods;
    const std::string FLoggerName;
    const TEventDelivery FDelivery;
    native::TAddInDefBase* FConnection = nullptr;
    native::TMemoryManager* FMemory = nullptr;
    int FCalls = 0;
    bool FDestroyed = false;
    std::unique_ptr<TLogger> FLogger;
    std::unique_ptr<TKBDDriver> FDriver;
};

void SetBoolean(native::TNativeVariant& Value, bool Truth) noexcept;
void SetInteger(native::TNativeVariant& Value, std::int32_t Number) noexcept;

}  // namespace wedgecard
