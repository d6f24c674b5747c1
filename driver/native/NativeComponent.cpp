#include "driver/native/NativeComponent.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>
#include <vector>

#include "DriverMembers.h"
#include "driver/capture/MessageHook.h"
#include "driver/capture/WinCapturePlatform.h"
#include "driver/core/EventLogText.h"
#include "driver/core/KBDDriver.h"
#include "driver/core/untUtils.h"
#include "driver/diagnostics/LogFile.h"
#include "driver/diagnostics/ModuleInfo.h"
#include "driver/diagnostics/untLogger.h"
#include "driver/host/ComSupport.h"
#include "driver/host/WinDriverServices.h"
#include "driver/native/NativeValues.h"

namespace wedgecard {

namespace {

using native::TChar;
using native::TNativeVariant;

// The methods by the host's numbers: the interface's order, which the names come in.
enum TMethod : std::int32_t {
    mGetVersion,
    mGetLastError,
    mOpen,
    mClose,
    mEventProcessed,
    mDeviceTest,
    MethodCount
};
static_assert(DriverMethods.size() == MethodCount);
static_assert(DriverMethods[mGetVersion].Name == L"GetVersion");
static_assert(DriverMethods[mGetLastError].Name == L"GetLastError");
static_assert(DriverMethods[mOpen].Name == L"Open");
static_assert(DriverMethods[mClose].Name == L"Close");
static_assert(DriverMethods[mEventProcessed].Name == L"EventProcessed");
static_assert(DriverMethods[mDeviceTest].Name == L"DeviceTest");

// The host cannot pass its value array: the settings come as eight parameters in its order.
constexpr std::int32_t SettingsAndOut = TNativeValuesArray::Count + 1;
constexpr std::array<std::int32_t, MethodCount> ParameterCounts = {0, 1, SettingsAndOut,
                                                                   1, 2, SettingsAndOut};

// The host keeps each object's events in a queue of one until told otherwise, and drops what
// does not fit. The driver hands out the next event only when the host acknowledges one, so a
// host that acknowledges from its handler needs room for two (the event it handles and the one
// its acknowledgement releases); code that acknowledges from elsewhere can release them faster
// than they are handled.
constexpr std::int32_t EventBufferDepth = 64;

std::mutex& LiveLock() {
    static std::mutex lock;
    return lock;
}

std::vector<TNativeComponent*>& LiveObjects() {
    static std::vector<TNativeComponent*> objects;
    return objects;
}

void SetBoolean(TNativeVariant& Value, bool Truth) {
    Value.Type = native::vtBool;
    Value.Bool = Truth;
}

void SetInteger(TNativeVariant& Value, std::int32_t Number) {
    Value.Type = native::vtI4;
    Value.I4 = Number;
}

// Whether the method writes a string into a parameter or, asked for its result, returns one.
bool HandsBackText(TMethod Method, const TNativeVariant* Result) {
    return Method == mGetLastError || Method == mOpen || Method == mDeviceTest ||
           (Method == mGetVersion && Result != nullptr);
}

}  // namespace

TNativeComponent::TCall::TCall(TNativeComponent& Component) noexcept : FComponent(Component) {
    ++FComponent.FCalls;
}

TNativeComponent::TCall::~TCall() {
    if (--FComponent.FCalls == 0 && FComponent.FDestroyed) {
        Delete(&FComponent);
    }
}

void TNativeComponent::Delete(TNativeComponent* Component) noexcept {
    // Its capture may be what is serving the message: the hook goes once that is done.
    if (TMessageHook::Serving()) {
        TMessageHook::DeferUntilServed([Component] { delete Component; });
    } else {
        delete Component;
    }
}

TNativeComponent::TNativeComponent() : FInterfaces(ComponentInterfaces()) {
    LogFile().SetFileName(LogFileNameFor(GetModulePath()));
    LogFile().SetEnabled(true);
    const std::lock_guard lock(LiveLock());
    LiveObjects().push_back(this);
}

TNativeComponent::~TNativeComponent() {
    {
        const std::lock_guard lock(LiveLock());
        std::erase(LiveObjects(), this);
    }
    FDriver.reset();
    FLogger.reset();
}

TNativeComponent* TNativeComponent::Find(const native::TComponentBase* Base) noexcept {
    const std::lock_guard lock(LiveLock());
    for (TNativeComponent* object : LiveObjects()) {
        if (object->Base() == Base) {
            return object;
        }
    }
    return nullptr;
}

bool TNativeComponent::Destroy(native::TComponentBase* Base) noexcept {
    TNativeComponent* object = nullptr;
    {
        const std::lock_guard lock(LiveLock());
        auto& objects = LiveObjects();
        const auto found = std::find_if(objects.begin(), objects.end(),
                                        [Base](TNativeComponent* o) { return o->Base() == Base; });
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

TLogger& TNativeComponent::Logger() {
    if (!FLogger) {
        FLogger = std::make_unique<TLogger>("TNativeComponent");
    }
    return *FLogger;
}

TDriverCalls TNativeComponent::Calls() {
    return TDriverCalls(Driver(), Logger());
}

TKBDDriver& TNativeComponent::Driver() {
    if (!FDriver) {
        FDriver = std::make_unique<TKBDDriver>(WindowsDriverServices());
        FDriver->OnEvent = [this](const std::string& Source, const std::string& Message,
                                  const std::string& Data) {
            SendExternalEvent(Source, Message, Data);
        };
    }
    return *FDriver;
}

bool TNativeComponent::Init(native::TAddInDefBase* Connection) noexcept {
    if (Connection == nullptr || Connection->Table == nullptr) {
        return false;
    }
    FConnection = Connection;
    if (Connection->Table->GetEventBufferDepth(Connection) < EventBufferDepth) {
        Connection->Table->SetEventBufferDepth(Connection, EventBufferDepth);
    }
    return true;
}

bool TNativeComponent::SetMemManager(native::TMemoryManager* MemoryManager) noexcept {
    if (MemoryManager == nullptr || MemoryManager->Table == nullptr) {
        return false;
    }
    FMemory = MemoryManager;
    return true;
}

void TNativeComponent::Done() noexcept {
    FConnection = nullptr;
    FMemory = nullptr;
}

TChar* TNativeComponent::HostString(std::wstring_view Text) {
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

bool TNativeComponent::SetString(TNativeVariant& Value, std::wstring_view Text) {
    TChar* chars = HostString(Text);
    if (chars == nullptr) {
        return false;
    }
    Value.Type = native::vtPWStr;
    Value.WideText.Chars = chars;
    Value.WideText.Length = static_cast<std::uint32_t>(Text.size());
    return true;
}

bool TNativeComponent::ReplaceString(TNativeVariant& Value, std::wstring_view Text) {
    void* old = nullptr;
    if (Value.Type == native::vtPWStr) {
        old = Value.WideText.Chars;
    } else if (Value.Type == native::vtPStr || Value.Type == native::vtBlob) {
        old = Value.Text.Chars;
    }
    if (!SetString(Value, Text)) {
        return false;
    }
    if (old != nullptr) {
        FMemory->Table->FreeMemory(FMemory, &old);
    }
    return true;
}

bool TNativeComponent::RegisterExtensionAs(TChar** Name) {
    if (Name == nullptr) {
        return false;
    }
    TChar* name = HostString(DriverClassName);
    if (name == nullptr) {
        return false;
    }
    *Name = name;
    return true;
}

std::int32_t TNativeComponent::GetNMethods() noexcept {
    return MethodCount;
}

std::int32_t TNativeComponent::FindMethod(const TChar* Name) noexcept {
    if (Name == nullptr) {
        return -1;
    }
    // Ordinal, not the user's locale: in a Turkish one "GETVERSION" would not match.
    for (std::size_t i = 0; i < DriverMethods.size(); ++i) {
        for (const std::wstring_view known : {DriverMethods[i].Name, DriverMethods[i].Alias}) {
            if (CompareStringOrdinal(Name, -1, known.data(), static_cast<int>(known.size()),
                                     TRUE) == CSTR_EQUAL) {
                return static_cast<std::int32_t>(i);
            }
        }
    }
    return -1;
}

const TChar* TNativeComponent::GetMethodName(std::int32_t Number, std::int32_t Alias) {
    if (Number < 0 || Number >= MethodCount) {
        return nullptr;
    }
    const TDriverMethod& method = DriverMethods[static_cast<std::size_t>(Number)];
    return HostString(Alias != 0 ? method.Alias : method.Name);
}

std::int32_t TNativeComponent::GetNParams(std::int32_t Number) noexcept {
    return Number >= 0 && Number < MethodCount ? ParameterCounts[static_cast<std::size_t>(Number)]
                                               : 0;
}

bool TNativeComponent::HasRetVal(std::int32_t Number) noexcept {
    return Number >= 0 && Number < MethodCount;
}

void TNativeComponent::Refuse(HRESULT Status) {
    const std::string text = SystemErrorText(static_cast<unsigned long>(Status));
    char code[16];
    std::snprintf(code, sizeof code, "0x%.8lX", static_cast<unsigned long>(Status));
    Logger().Error(std::string("Call refused: ") + code + " (" + text + ")");
    if (FConnection != nullptr) {
        const std::wstring description = TKBDUtils::ToWide(text);
        FConnection->Table->AddError(FConnection, native::AddInErrorFail, DriverClassName.data(),
                                     description.c_str(), Status);
    }
}

bool TNativeComponent::CallAsProc(std::int32_t Number, TNativeVariant* Params, std::int32_t Count) {
    return Call(Number, nullptr, Params, Count);
}

bool TNativeComponent::CallAsFunc(std::int32_t Number, TNativeVariant* Result,
                                  TNativeVariant* Params, std::int32_t Count) {
    if (Result == nullptr) {
        Refuse(E_POINTER);
        return false;
    }
    return Call(Number, Result, Params, Count);
}

bool TNativeComponent::Call(std::int32_t Number, TNativeVariant* Result, TNativeVariant* Params,
                            std::int32_t Count) {
    HRESULT refused = S_OK;
    if (Number < 0 || Number >= MethodCount) {
        refused = DISP_E_MEMBERNOTFOUND;
    } else if (Count != ParameterCounts[static_cast<std::size_t>(Number)]) {
        refused = DISP_E_BADPARAMCOUNT;
    } else if (Count > 0 && Params == nullptr) {
        refused = E_POINTER;
    } else if (!std::all_of(Params, Params + Count,
                            [](const TNativeVariant& p) { return IsReadable(p); })) {
        refused = DISP_E_BADVARTYPE;
    } else if (FMemory == nullptr && HandsBackText(static_cast<TMethod>(Number), Result)) {
        // Nowhere to put them.
        refused = E_POINTER;
    }
    if (FAILED(refused)) {
        Refuse(refused);
        return false;
    }

    switch (static_cast<TMethod>(Number)) {
        case mGetVersion: {
            const std::wstring version = Calls().GetVersion();
            if (Result != nullptr && !SetString(*Result, version)) {
                Refuse(E_OUTOFMEMORY);
                return false;
            }
            return true;
        }
        case mGetLastError: {
            std::string text;
            const std::int32_t code = Calls().GetLastError(text);
            if (!ReplaceString(Params[0], TKBDUtils::ToWide(text))) {
                Refuse(E_OUTOFMEMORY);
                return false;
            }
            if (Result != nullptr) {
                SetInteger(*Result, code);
            }
            return true;
        }
        case mOpen: {
            TNativeValuesArray values(Params);
            std::wstring id;
            const bool opened = Calls().Open(values, id);
            if (!ReplaceString(Params[TNativeValuesArray::Count], id)) {
                // A device the host cannot name would keep the capture on for good.
                if (opened) {
                    Driver().Close(id);
                }
                Refuse(E_OUTOFMEMORY);
                return false;
            }
            if (Result != nullptr) {
                SetBoolean(*Result, opened);
            }
            return true;
        }
        case mClose: {
            std::wstring id;
            if (const HRESULT status = ReadText(Params[0], id); FAILED(status)) {
                Refuse(status);
                return false;
            }
            const bool closed = Calls().Close(id);
            if (Result != nullptr) {
                SetBoolean(*Result, closed);
            }
            return true;
        }
        case mEventProcessed: {
            std::wstring id;
            bool processed = false;
            HRESULT status = ReadText(Params[0], id);
            if (SUCCEEDED(status)) {
                status = ReadBoolean(Params[1], processed);
            }
            if (FAILED(status)) {
                Refuse(status);
                return false;
            }
            const bool acknowledged = Calls().EventProcessed(id, processed);
            if (Result != nullptr) {
                SetBoolean(*Result, acknowledged);
            }
            return true;
        }
        case mDeviceTest: {
            TNativeValuesArray values(Params);
            std::wstring description;
            const bool tested = Calls().DeviceTest(values, description);
            if (!ReplaceString(Params[TNativeValuesArray::Count], description)) {
                Refuse(E_OUTOFMEMORY);
                return false;
            }
            if (Result != nullptr) {
                SetBoolean(*Result, tested);
            }
            return true;
        }
        case MethodCount:
            break;
    }
    return false;
}

void TNativeComponent::SendExternalEvent(const std::string& Source, const std::string& Message,
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
