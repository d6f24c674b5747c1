#pragma once

#include <cstdint>
#include <string>

#include "driver/core/KBDDriver.h"

namespace wedgecard {

class TLogger;

// The six operations as every host binding makes them: each call is logged through the
// binding's own logger before it runs, and again with its arguments and result after.
class TDriverCalls {
public:
    TDriverCalls(TKBDDriver& Driver, const TLogger& Logger) noexcept
        : FDriver(Driver), FLogger(Logger) {}

    [[nodiscard]] std::wstring GetVersion();
    // The last error's code; Text receives its text.
    [[nodiscard]] std::int32_t GetLastError(std::string& Text);
    bool Open(IValuesArray& ValuesArray, std::wstring& DeviceID);
    bool Close(const std::wstring& DeviceID);
    bool EventProcessed(const std::wstring& DeviceID, bool StateFlag);
    bool DeviceTest(IValuesArray& ValuesArray, std::wstring& AdditionalDescription);

private:
    TKBDDriver& FDriver;
    const TLogger& FLogger;
};

}  // namespace wedgecard
