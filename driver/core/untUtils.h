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

    // Between the driver's 8-bit texts and the UTF-16 of its hosts. Those texts are Windows-1251
    // whatever the system's code page: the driver's own are compiled to it, and a host's text
    // kept among them (an identifier in a log line, a host's error description inside an error
    // text) is narrowed to it as well, so that it comes back out as it went in. A character the
    // code page lacks becomes "?", never a look-alike it has.
    [[nodiscard]] static std::wstring ToWide(const std::string& Text);
    [[nodiscard]] static std::string ToAnsi(const std::wstring& Text);
};

}  // namespace wedgecard
