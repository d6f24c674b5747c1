#pragma once

#include "driver/core/KBDDriver.h"

namespace wedgecard {

// The driver core's collaborators on Windows: the thread's user32 capture, the system's GUIDs,
// this module's version and path, the device test window.
[[nodiscard]] const TDriverServices& WindowsDriverServices();

}  // namespace wedgecard
