#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "driver/core/CardFrame.h"
#include "driver/core/LumMSRTypes.h"
#include "driver/core/OwnerList.h"

namespace wedgecard {

class TDeviceManager;

// One open reader: its identifier and the settings given at Open.
class T1CDevice final : public TOwnedItem<TDeviceManager, T1CDevice> {
public:
    T1CDevice(TDeviceManager* Owner, std::string ID) : TOwnedItem(Owner), FID(std::move(ID)) {}

    [[nodiscard]] const std::string& ID() const noexcept { return FID; }

    std::int32_t Sensitivity = 100;
    // Whether the object waits at least this device's quiet time for as long as it is open, as
    // the equipment library's devices, which share one object, need; otherwise the object
    // waits the quiet time of the device opened last.
    bool KeepsQuietTime = false;
    // What frames its cards; until Open gives it one, no card.
    std::unique_ptr<const TCardFrame> Frame = std::make_unique<TKeyCodeCardFrame>();

private:
    std::string FID;
};

// The open devices in the order of opening. Owns them.
class TDeviceManager final : public TOwnerList<TDeviceManager, T1CDevice> {
public:
    explicit TDeviceManager(IGuidSource& Guids) noexcept : FGuids(Guids) {}

    // A new device at the end of the list, under a new identifier. Raises when the system
    // cannot make a GUID; no device is added then.
    T1CDevice* Add();

    // Exact, case-sensitive comparison; none when no device has the identifier.
    [[nodiscard]] T1CDevice* Find(const std::string& ID) const noexcept;

private:
    IGuidSource& FGuids;
};

// A GUID in registry form without braces: 36 characters, upper-case hexadecimal digits.
[[nodiscard]] std::string FormatDeviceID(const IGuidSource::TGuid& Guid);

}  // namespace wedgecard
