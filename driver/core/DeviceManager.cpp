#include "driver/core/DeviceManager.h"

#include <cstdio>

namespace wedgecard {

std::string FormatDeviceID(const IGuidSource::TGuid& Guid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(Guid.Data1), static_cast<unsigned>(Guid.Data2),
                  static_cast<unsigned>(Guid.Data3), Guid.Data4[0], Guid.Data4[1], Guid.Data4[2],
                  Guid.Data4[3], Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
    return text;
}

T1CDevice* TDeviceManager::Add() {
    return new T1CDevice(this, FormatDeviceID(FGuids.NewGuid()));
}

T1CDevice* TDeviceManager::Find(const std::string& ID) const noexcept {
    for (int i = 0; i < Count(); ++i) {
        if (Items(i)->ID() == ID) {
            return Items(i);
        }
    }
    return nullptr;
}

}  // namespace wedgecard
