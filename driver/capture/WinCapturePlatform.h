#pragma once

#include "driver/capture/CapturePlatform.h"

namespace wedgecard {

// The capture's platform on Windows: each call goes to the user32 function of the same name,
// for the calling thread.
[[nodiscard]] TCapturePlatform& WindowsCapturePlatform() noexcept;

// The system's message text for an error code, without the trailing line break; the code in
// hexadecimal when the system has no text for it. In Windows-1251, the code page of the driver's
// texts it joins, whatever the system's own.
[[nodiscard]] std::string SystemErrorText(unsigned long Code);

}  // namespace wedgecard
