// The key-code notation of prefixes and suffixes: any text decodes or is refused, the driver's
// decoder agrees with the plain one, and what decodes reads the same when written back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/capture/Keys.h"
#include "driver/core/KBDDriver.h"
#include "driver/core/untError.h"

using namespace wedgecard;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    const std::string text(reinterpret_cast<const char*>(Data), Size);
    const auto codes = ParseKeyCodes(text);

    bool driverAccepted = true;
    std::string driverCodes;
    try {
        driverCodes = DecodeKeyCodes(text, "ПрефиксДрайвера1");
    } catch (const EKBDError& error) {
        driverAccepted = false;
        if (error.Code() != 6) {
            std::abort();
        }
    }
    if (driverAccepted != codes.has_value() || (codes && driverCodes != *codes)) {
        std::abort();
    }
    if (!codes) {
        return 0;
    }
    if (!text.empty() && text.front() != '#') {
        std::abort();
    }
    std::string written;
    for (const char code : *codes) {
        written += "#" + std::to_string(static_cast<unsigned char>(code));
    }
    if (ParseKeyCodes(written) != codes) {
        std::abort();
    }
    return 0;
}
