#include "driver/core/DriverCalls.h"

#include "driver/core/untUtils.h"
#include "driver/diagnostics/untLogger.h"

namespace wedgecard {

namespace {

const char* TrueOrFalse(bool Value) {
    return Value ? "True" : "False";
}

}  // namespace

std::wstring TDriverCalls::GetVersion() {
    FLogger.Debug("GetVersion");
    std::wstring version;
    FDriver.GetVersion(version);
    FLogger.Debug("GetVersion", TKBDUtils::ToAnsi(version));
    return version;
}

std::int32_t TDriverCalls::GetLastError(std::string& Text) {
    FLogger.Debug("GetLastError");
    Text = FDriver.LastErrorText();
    const std::int32_t code = FDriver.LastErrorCode();
    FLogger.Debug("GetLastError(ErrorDescription:" + Text + ")", code);
    return code;
}

bool TDriverCalls::Open(IValuesArray& ValuesArray, std::wstring& DeviceID) {
    FLogger.Debug("Open(ValuesArray:{" + TKBDUtils::ValuesArrayToStr(ValuesArray) + "})");
    const bool opened = FDriver.Open(ValuesArray, DeviceID);
    FLogger.Debug("Open(ValuesArray:{" + TKBDUtils::ValuesArrayToStr(ValuesArray) +
                      "}, DeviceID:" + TKBDUtils::ToAnsi(DeviceID) + ")",
                  opened);
    return opened;
}

bool TDriverCalls::Close(const std::wstring& DeviceID) {
    const std::string line = "Close(DeviceID: " + TKBDUtils::ToAnsi(DeviceID) + ")";
    FLogger.Debug(line);
    const bool closed = FDriver.Close(DeviceID);
    FLogger.Debug(line, closed);
    return closed;
}

bool TDriverCalls::EventProcessed(const std::wstring& DeviceID, bool StateFlag) {
    const std::string line = "EventProcessed(DeviceID:" + TKBDUtils::ToAnsi(DeviceID) +
                             ", StateFlag:" + TrueOrFalse(StateFlag) + ")";
    FLogger.Debug(line);
    const bool acknowledged = FDriver.EventProcessed(DeviceID, StateFlag);
    FLogger.Debug(line, acknowledged);
    return acknowledged;
}

bool TDriverCalls::DeviceTest(IValuesArray& ValuesArray, std::wstring& AdditionalDescription) {
    FLogger.Debug("DeviceTest(ValuesArray:{" + TKBDUtils::ValuesArrayToStr(ValuesArray) + "})");
    const bool tested = FDriver.DeviceTest(AdditionalDescription);
    FLogger.Debug("DeviceTest(ValuesArray:{" + TKBDUtils::ValuesArrayToStr(ValuesArray) +
                      "}, AdditionalDescription:" + TKBDUtils::ToAnsi(AdditionalDescription) + ")",
                  tested);
    return tested;
}

}  // namespace wedgecard
