#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace wedgecard {

// The host's settings array, read by index. Each read converts the element as automation
// does (text holding a number reads as that number) and raises std::exception with the cause
// when the element is missing or does not convert.
class IValuesArray {
public:
    IValuesArray() = default;
    IValuesArray(const IValuesArray&) = delete;
    IValuesArray& operator=(const IValuesArray&) = delete;
    virtual ~IValuesArray() = default;

    virtual std::int32_t GetInteger(std::int32_t Index) = 0;
    // In Windows-1251, as every 8-bit text of the driver.
    virtual std::string GetText(std::int32_t Index) = 0;
    virtual bool GetBoolean(std::int32_t Index) = 0;
};

// A new GUID, 16 bytes as the system lays them out. Raises when the system cannot make one.
class IGuidSource {
public:
    IGuidSource() = default;
    IGuidSource(const IGuidSource&) = delete;
    IGuidSource& operator=(const IGuidSource&) = delete;
    virtual ~IGuidSource() = default;

    struct TGuid {
        std::uint32_t Data1 = 0;
        std::uint16_t Data2 = 0;
        std::uint16_t Data3 = 0;
        std::array<std::uint8_t, 8> Data4{};
    };
    virtual TGuid NewGuid() = 0;
};

// The driver module itself: its file version and where it lies.
class IModuleInfo {
public:
    IModuleInfo() = default;
    IModuleInfo(const IModuleInfo&) = delete;
    IModuleInfo& operator=(const IModuleInfo&) = delete;
    virtual ~IModuleInfo() = default;

    // "1.0.0.8"
    virtual std::string GetFileVersionText() = 0;
    // Full path of the module file; empty when unknown.
    virtual std::string GetModulePath() = 0;
};

// The modal device test window; returns when the user closes it. Raises on failure.
class IDeviceTestDialog {
public:
    IDeviceTestDialog() = default;
    IDeviceTestDialog(const IDeviceTestDialog&) = delete;
    IDeviceTestDialog& operator=(const IDeviceTestDialog&) = delete;
    virtual ~IDeviceTestDialog() = default;

    virtual void ShowDeviceTest() = 0;
};

// Hands one event to the host: Source, Message, Data.
using TKBDEventHandler = std::function<void(const std::string& Source, const std::string& Message,
                                            const std::string& Data)>;

// How the driver hands its events to the host.
enum class TEventDelivery {
    // One at a time, each held until the host acknowledges it, and sent again when refused.
    Acknowledged,
    // Each at once, nothing held back or sent again: for a host that acknowledges none.
    Unacknowledged,
};

// A card of a device framed by characters is TracksData: its characters as typed.
enum class TEventKind { CardRead = 0, DriverError = 1, TracksData = 2 };

inline constexpr std::array<const char*, 3> EventNames = {"ЧтениеКодаМагнитнойКарты",
                                                          "ОшибкаВДрайвере", "TracksData"};

}  // namespace wedgecard
