#pragma once

#include <string>

#include "driver/core/LumMSRTypes.h"

namespace wedgecard {

// Stateless helpers of the driver core.
class TKBDUtils {
public:
    TKBDUtils() = delete;

    // The eight settings as the call log shows them; reads them as Open does. Never raises: a
    // failure is reported inside the text.
    [[nodiscard]] static std::string ValuesArrayToStr(IValuesArray& ValuesArray);

    // Between the driver's 8-bit texts and the UTF-16 of the COM boundary, through the system's
    // ANSI code page (Windows-1251 where the platform has none to ask).
    [[nodiscard]] static std::wstring ToWide(const std::string& Text);
    [[nodiscard]] static std::string ToAnsi(const std::wstring& Text);
};

}  // namespace wedgecard
