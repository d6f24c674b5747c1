#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "driver/core/KBDDriver.h"
#include "driver/core/LumMSRTypes.h"

namespace wedgecard::test {

// A settings array as a host fills it: values of a few automation types, converted on reading
// the way automation converts them (text holding a decimal number reads as that number, other
// text fails), a missing index failing like the host's own array.
class TFakeValuesArray final : public IValuesArray {
public:
    struct TEmpty {};
    using TValue = std::variant<TEmpty, std::int32_t, bool, std::string>;

    TFakeValuesArray() = default;
    explicit TFakeValuesArray(std::vector<TValue> AValues) : Values(std::move(AValues)) {}

    std::int32_t GetInteger(std::int32_t Index) override;
    std::string GetText(std::int32_t Index) override;
    bool GetBoolean(std::int32_t Index) override;

    std::vector<TValue> Values;
    // Reads of these indexes fail with the given message, as a failing Get would.
    std::map<std::int32_t, std::string> FailingReads;
    // Called on every read before it answers (a host that re-enters the driver from Get).
    std::function<void(std::int32_t Index)> OnRead;
    std::vector<std::int32_t> ReadIndexes;

private:
    const TValue& Read(std::int32_t Index);
};

inline constexpr const char* TypeMismatchText = "Type mismatch.";
inline constexpr const char* InvalidIndexText = "Invalid array index";

// The eight settings: sensitivity, prefix/suffix of tracks 1 to 3, log switch.
[[nodiscard]] TFakeValuesArray Settings(std::int32_t Sensitivity, const std::string& Prefix1,
                                        const std::string& Suffix1, const std::string& Prefix2,
                                        const std::string& Suffix2, const std::string& Prefix3,
                                        const std::string& Suffix3, bool LogEnabled = true);

// Sequential, recognisable GUIDs; can be told to fail.
class TFakeGuids final : public IGuidSource {
public:
    TGuid NewGuid() override;
    bool Fail = false;
    std::uint32_t Next = 0xA0B1C2D3;
};

class TFakeModule final : public IModuleInfo {
public:
    std::string GetFileVersionText() override;
    std::string GetModulePath() override { return ModulePath; }
    std::string VersionText = "1.0.0.8";
    std::string ModulePath;
    bool FailVersion = false;
};

class TFakeDeviceTestDialog final : public IDeviceTestDialog {
public:
    void ShowDeviceTest() override;
    int Shown = 0;
    // Runs while the dialog is "open".
    std::function<void()> WhileOpen;
    bool Fail = false;
};

// The events a host received, in order.
struct THostEvent {
    std::string Source;
    std::string Message;
    std::string Data;
    bool operator==(const THostEvent&) const = default;
};

}  // namespace wedgecard::test
