#include "driver/native/NativeObject.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

#include "driver/capture/MessageHook.h"
#include "driver/capture/WinCapturePlatform.h"
#include "driver/core/EventLogText.h"
#include "driver/core/untUtils.h"
#include "driver/diagnostics/untLogger.h"
#include "driver/host/ComSupport.h"
#include "driver/host/WinDriverServices.h"
#include "driver/native/NativeValues.h"

namespace wedgecard {

namespace {

using native::TChar;
using native::TNativeVariant;

std::mutex& LiveLock() {
    static std::mutex lock;
    return lock;
}

std::vector<TNativeObject*>& LiveObjects() {
    static std::vector<TNativeObject*> objects;
    return objects;
}

}  // namespace

void SetBoolean(TNativeVariant& Value, bool Truth) noexcept {
    Value.Type = native::vtBool;
    Value.Bool = Truth;
}

void SetInteger(TNativeVariant& Value, std::int32_t Number) noexcept {
    Value.Type = native::vtI4;
    Value.I4 = Number;
}

TNativeObject::TCall::TCall(TNativeObject& Object) noexcept : FObject(Object) {
    ++FObject.FCalls;
}

TNativeObject::TCall::~TCall() {
    if (--FObject.FCalls == 0 && FObject.FDestroyed) {
        Delete(&FObject);
    }
}

void TNativeObject::Delete(TNativeObject* Object) noexcept {
    // Its capture may be what is serving the message: the hook goes once that is done.
    if (TMessageHook::Serving()) {
        try {
            TMessageHook::DeferUntilServed([Object] { delete Object; });
        } catch (...) {
            // No room to note the deletion: the object stays, as freeing it under the handler
            // that still uses it would be worse.
        }
    } else {
        delete Object;
    }
}

TNativeObject::TNativeObject(std::wstring_view ClassName, std::span<const TNativeMethod> Methods,
                             std::string LoggerName, TEventDelivery Delivery)
    : FInterfaces(ComponentInterfaces()),
      FClassName(ClassName),
      FMethods(Methods),
      FLoggerName(std::move(LoggerName)),
      FDelivery(Delivery) {
    const std::lock_guard lock(LiveLock());
    LiveObjects().push_back(this);
}

TNativeObject::~TNativeObject() {
    {
        const std::lock_guard lock(LiveLock());
        std::erase(LiveObjects(), this);
    }
    FDriver.reset();
    FLogger.reset();
}

TNativeObject* TNativeObject::Find(const native::TComponentBase* Base) noexcept {
    const std::lock_guard lock(LiveLock());
    for (TNativeObject* object : LiveObjects()) {
        if (object->Base() == Base) {
            return object;
        }
    }
    return nullptr;
}

bool TNativeObject::Destroy(native::TComponentBase* Base) noexcept {
    TNativeObject* object = nullptr;
    {
        const std::lock_guard lock(LiveLock());
        auto& objects = LiveObjects();
        const auto found = std::find_if(objects.begin(), objects.end(),
                                        [Base](TNativeObject* o) { return o->Base() == Base; });
        if (found == objects.end()) {
            return false;
        }
        object = *found;
        objects.erase(found);
    }
    object->FConnection = nullptr;
    if (object->FCalls > 0) {
        object->FDestroyed = true;
    } else {
        Delete(object);
    }
    return true;
}

TLogger& TNativeObject::Logger() {
    if (!FLogger) {
        FLogger = std::make_unique<TLogger>(FLoggerName);
    }
    return *FLogger;
}

TKBDDriver& TNativeObject::Driver() {
    if (!FDriver) {
        FDriver = std::make_unique<TKBDDriver>(WindowsDriverServices(), FDelivery);
        FDriver->OnEvent = [this](const std::string& Source, const std::string& Message,
                                  const std::string& Data) {
            SendExternalEvent(Source, Message, Data);
        };
    }
    return *FDriver;
}

bool TNativeObject::Init(native::TAddInDefBase* Connection) noexcept {
    if (Connection == nullptr || Connection->Table == nullptr) {
        return false;
    }
    FConnection = Connection;
    if (Connection->Table->GetEventBufferDepth(Connection) < HostEventBufferDepth) {
        Connection->Table->SetEventBufferDepth(Connection, HostEventBufferDepth);
    }
    return true;
}

bool TNativeObject::SetMemManager(native::TMemoryManager* MemoryManager) noexcept {
    if (MemoryManager == nullptr || MemoryManager->Table == nullptr) {
        return false;
    }
    FMemory = MemoryManager;
    return true;
}

void TNativeObject::Done() noexcept {
    FConnection = nullptr;
    FMemory = nullptr;
}

TChar* TNativeObject::HostString(std::wstring_view Text) {
    if (FMemory == nullptr || Text.size() >= 0x7FFFFFFF / sizeof(TChar)) {
        return nullptr;
    }
    void* memory = nullptr;
    const auto bytes = static_cast<std::uint32_t>((Text.size() + 1) * sizeof(TChar));
    if (!FMemory->Table->AllocMemory(FMemory, &memory, bytes) || memory == nullptr) {
        return nullptr;
    }
    auto* chars = static_cast<TChar*>(memory);
    std::copy(Text.begin(), Text.end(), chars);
    chars[Text.size()] = L'\0';
    return chars;
}

bool TNativeObject::SetString(TNativeVariant& Value, std::wstring_view Text) {
    TChar* chars = HostString(Text);
    if (chars == nullptr) {
        Refuse(E_OUTOFMEMORY);
        return false;
    }
    Value.Type = native::vtPWStr;
    Value.WideText.Chars = chars;
    Value.WideText.Length = static_cast<std::uint32_t>(Text.size());
    return true;
}

void TNativeObject::FreeString(TNativeVariant& Value) {
    void* old = nullptr;
    if (Value.Type == native::vtPWStr) {
        old = Value.WideText.Chars;
    } else if (Value.Type == native::vtPStr || Value.Type == native::vtBlob) {
        old = Value.Text.Chars;
    }
    if (old != nullptr && FMemory != nullptr) {
        FMemory->Table->FreeMemory(FMemory, &old);
    }
}

bool TNativeObject::ReplaceString(TNativeVariant& Value, std::wstring_view Text) {
    TNativeVariant old = Value;
    if (!SetString(Value, Text)) {
        return false;
    }
    FreeString(old);
    return true;
}

void TNativeObject::ReplaceBoolean(TNativeVariant& Value, bool Truth) {
    FreeString(Value);
    SetBoolean(Value, Truth);
}

bool TNativeObject::RegisterExtensionAs(TChar** Name) {
    if (Name == nullptr) {
        return false;
    }
    TChar* name = HostString(FClassName);
    if (name == nullptr) {
        return false;
    }
    *Name = name;
    return true;
}

std::int32_t TNativeObject::GetNMethods() const noexcept {
    return static_cast<std::int32_t>(FMethods.size());
}

std::int32_t TNativeObject::FindMethod(const TChar* Name) const noexcept {
    if (Name == nullptr) {
        return -1;
    }
    for (std::size_t i = 0; i < FMethods.size(); ++i) {
        for (const std::wstring_view known : {FMethods[i].Name, FMethods[i].Alias}) {
            if (SameName(Name, known)) {
                return static_cast<std::int32_t>(i);
            }
        }
    }
    return -1;
}

const TChar* TNativeObject::GetMethodName(std::int32_t Number, std::int32_t Alias) {
    if (Number < 0 || Number >= GetNMethods()) {
        return nullptr;
    }
    const TNativeMethod& method = FMethods[static_cast<std::size_t>(Number)];
    return HostString(Alias != 0 ? method.Alias : method.Name);
}

std::int32_t TNativeObject::GetNParams(std::int32_t Number) const noexcept {
    return Number >= 0 && Number < GetNMethods()
               ? FMethods[static_cast<std::size_t>(Number)].Parameters
               : 0;
}

bool TNativeObject::HasRetVal(std::int32_t Number) const noexcept {
    return Number >= 0 && Number < GetNMethods();
}

void TNativeObject::Refuse(HRESULT Status) {
    const std::string text = SystemErrorText(static_cast<unsigned long>(Status));
    char code[16];
    std::snprintf(code, sizeof code, "0x%.8lX", static_cast<unsigned long>(Status));
    Logger().Error(std::string("Call refused: ") + code + " (" + text + ")");
    if (FConnection != nullptr) {
        const std::wstring source(FClassName);
        const std::wstring description = TKBDUtils::ToWide(text);
        FConnection->Table->AddError(FConnection, native::AddInErrorFail, source.c_str(),
                                     description.c_str(), Status);
    }
}

bool TNativeObject::CallAsProc(std::int32_t Number, TNativeVariant* Params, std::int32_t Count) {
    return Call(Number, nullptr, Params, Count);
}

bool TNativeObject::CallAsFunc(std::int32_t Number, TNativeVariant* Result, TNativeVariant* Params,
                               std::int32_t Count) {
    if (Result == nullptr) {
        Refuse(E_POINTER);
        return false;
    }
    return Call(Number, Result, Params, Count);
}

bool TNativeObject::Call(std::int32_t Number, TNativeVariant* Result, TNativeVariant* Params,
                         std::int32_t Count) {
    HRESULT refused = S_OK;
    if (Number < 0 || Number >= GetNMethods()) {
        refused = DISP_E_MEMBERNOTFOUND;
    } else if (const TNativeMethod& method = FMethods[static_cast<std::size_t>(Number)];
               Count != method.Parameters) {
        refused = DISP_E_BADPARAMCOUNT;
    } else if (Count > 0 && Params == nullptr) {
        refused = E_POINTER;
    } else if (!std::all_of(Params, Params + Count,
                            [](const TNativeVariant& p) { return IsReadable(p); })) {
        refused = DISP_E_BADVARTYPE;
    } else if (FMemory == nullptr &&
               (method.WritesText || (method.ReturnsText && Result != nullptr))) {
        // Nowhere to put them.
        refused = E_POINTER;
    }
    if (FAILED(refused)) {
        Refuse(refused);
        return false;
    }
    return Invoke(Number, Result, Params);
}

void TNativeObject::SendExternalEvent(const std::string& Source, const std::string& Message,
                                      const std::string& Data) {
    native::TAddInDefBase* connection = FConnection;
    if (connection == nullptr) {
        return;
    }
    Logger().Debug("ExternalEvent(Source:" + Source + ", Message:" + Message +
                   ", Data:" + EventDataLogText(Message, Data) + ")");
    std::wstring source = TKBDUtils::ToWide(Source);
    std::wstring message = TKBDUtils::ToWide(Message);
    std::wstring data = TKBDUtils::ToWide(Data);
    if (!connection->Table->ExternalEvent(connection, source.data(), message.data(), data.data())) {
        // Refused as a COM sink refuses, and handled alike by the driver's event queue.
        throw EOleError(E_FAIL, SystemErrorText(static_cast<unsigned long>(E_FAIL)));
    }
}

}  // namespace wedgecard
