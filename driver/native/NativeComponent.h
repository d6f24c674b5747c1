#pragma once

#include <cstdint>
#include <string>

#include "driver/core/DriverCalls.h"
#include "driver/native/NativeObject.h"

namespace wedgecard {

// The driver as a 1C Native API component, the sibling of Tole1C: one object of the class
// LumMSRKBD1C, made by GetClassObject. It turns the host's calls, values and strings into the
// driver core's and back: the six methods of the COM binding by number, with the same names,
// results, error codes and texts, and the core's events through the host connection's
// ExternalEvent. Every string it hands the host is allocated with the host's memory manager.
class TNativeComponent final : public TNativeObject {
public:
    // Points the log file next to the module and switches it on, as the COM object does.
    TNativeComponent();

protected:
    bool Invoke(std::int32_t Number, native::TNativeVariant* Result,
                native::TNativeVariant* Params) override;

private:
    // The driver's operations, each logged through this object's logger.
    TDriverCalls Calls();
};

}  // namespace wedgecard
