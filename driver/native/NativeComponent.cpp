#include "driver/native/NativeComponent.h"

#include <array>

#include "DriverMembers.h"
#include "driver/core/untUtils.h"
#include "driver/diagnostics/LogFile.h"
#include "driver/diagnostics/ModuleInfo.h"
#include "driver/native/NativeValues.h"

namespace wedgecard {

namespace {

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

constexpr std::array<TNativeMethod, MethodCount> Methods = [] {
    std::array<TNativeMethod, MethodCount> methods{};
    for (std::size_t i = 0; i < methods.size(); ++i) {
        methods[i] = {DriverMethods[i].Name, DriverMethods[i].Alias, ParameterCounts[i],
                      i == mGetLastError || i == mOpen || i == mDeviceTest, i == mGetVersion};
    }
    return methods;
}();

}  // namespace

TNativeComponent::TNativeComponent()
    : TNativeObject(DriverClassName, Methods, "TNativeComponent", TEventDelivery::Acknowledged) {
    LogFile().SetFileName(LogFileNameFor(GetModulePath()));
    LogFile().SetEnabled(true);
}

TDriverCalls TNativeComponent::Calls() {
    return TDriverCalls(Driver(), Logger());
}

bool TNativeComponent::Invoke(std::int32_t Number, TNativeVariant* Result, TNativeVariant* Params) {
    switch (static_cast<TMethod>(Number)) {
        case mGetVersion: {
            const std::wstring version = Calls().GetVersion();
            if (Result != nullptr && !SetString(*Result, version)) {
                return false;
            }
            return true;
        }
        case mGetLastError: {
            std::string text;
            const std::int32_t code = Calls().GetLastError(text);
            if (!ReplaceString(Params[0], TKBDUtils::ToWide(text))) {
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

}  // namespace wedgecard
