#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/native/NativeObject.h"

namespace wedgecard {

inline constexpr std::wstring_view EquipmentClassName = L"WedgecardMSR";

// The driver as a card reader of 1C's equipment library, the class WedgecardMSR of the Native
// API module: the library's driver contract (its description and settings form as XML, the
// parameters of that form set one by one, devices connected and disconnected, a device test,
// additional actions) over the same core as LumMSRKBD1C. One object serves every device of the
// driver, each connected with the parameters set before it. Its devices are framed by the
// characters of its own settings form, and each card goes to the host at once as a TracksData
// event, which the library never acknowledges.
class TEquipmentComponent final : public TNativeObject {
public:
    TEquipmentComponent();

    // The parameters of the settings form, in the form's order.
    enum TParameterIndex : std::size_t {
        pSensitivity,
        pCardSuffix,
        pTrack1,
        pTrack1Prefix,
        pTrack1Suffix,
        pTrack2,
        pTrack2Prefix,
        pTrack2Suffix,
        pTrack3,
        pTrack3Prefix,
        pTrack3Suffix,
        pLogEnabled,
        ParameterCount
    };

protected:
    bool Invoke(std::int32_t Number, native::TNativeVariant* Result,
                native::TNativeVariant* Params) override;

private:
    // A value as the form sends it, by the parameter's declared type.
    struct TValue {
        double Number = 0;
        bool Boolean = false;
        std::wstring Text;
    };

    // False with error 6 when the value is not of the type declared for a parameter the driver
    // declares; any other name is accepted and ignored.
    bool SetParameter(const std::wstring& Name, const native::TNativeVariant& Value);
    bool Open(std::wstring& DeviceID);
    bool DeviceTest(std::wstring& Description);

    [[nodiscard]] static std::wstring DescriptionXml();
    [[nodiscard]] static std::wstring ParametersXml();
    [[nodiscard]] static std::wstring ActionsXml();
    // The parameters as the core takes them; raises error 6 naming the parameter that frames no
    // card (a wrong type first, then the notation and the sensitivity; the core checks the rest).
    [[nodiscard]] TCharacterSettings Settings() const;
    // What the settings mean, for the person who tests them.
    [[nodiscard]] static std::wstring SettingsMeaning(const TCharacterSettings& Settings);
    [[nodiscard]] std::string SettingsText() const;

    std::array<TValue, ParameterCount> FValues;
    // Parameters whose last value had the wrong type, with their errors' texts: the device is
    // not to be connected with the value before it.
    std::vector<std::pair<std::size_t, std::string>> FInvalid;
};

}  // namespace wedgecard
