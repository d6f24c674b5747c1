#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/native/NativeObject.h"

namespace wedgecard {

inline constexpr std::wstring_view EquipmentClassName = L"WedgecardMSR";

// The driver as a card reader of 1C's equipment library, the class WedgecardMSR of the Native
// API module: the library's driver contract (its description and settings form as XML, its
// parameters set one by one, devices connected and disconnected, a device test, additional
// actions) over the same core as LumMSRKBD1C. One object serves every device of the driver,
// each opened with the parameters set before it. Its devices are framed by characters, and
// each card goes to the host at once as a TracksData event, which the library never
// acknowledges.
class TEquipmentComponent final : public TNativeObject {
public:
    TEquipmentComponent();

protected:
    bool Invoke(std::int32_t Number, native::TNativeVariant* Result,
                native::TNativeVariant* Params) override;

private:
    // False with error 6 when the value does not convert for a parameter the driver knows.
    bool SetParameter(const std::wstring& Name, const native::TNativeVariant& Value);
    bool Open(std::wstring& DeviceID);
    bool DeviceTest(std::wstring& Description);

    [[nodiscard]] static std::wstring DescriptionXml();
    [[nodiscard]] static std::wstring ParametersXml();
    [[nodiscard]] static std::wstring ActionsXml();
    // What the settings mean, for the person who tests them.
    [[nodiscard]] std::wstring SettingsMeaning() const;
    [[nodiscard]] std::string SettingsText() const;
    // Raises the error of a parameter whose value did not convert, if there is one.
    void CheckParameters() const;

    TCharacterSettings FSettings;
    // Parameters whose last value did not convert, with their errors' texts: the device is not
    // to be opened with the value before it.
    std::vector<std::pair<std::wstring, std::string>> FInvalid;
};

}  // namespace wedgecard
