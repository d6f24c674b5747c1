// The log a driver module writes beside itself, as a reader of that file finds it. Each test
// loads its own copy of the module from a fresh folder, so the file holds its lines alone.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/windows/support/PrivateDriver.h"

namespace wedgecard::test {
namespace {

using Messages = std::vector<std::string>;

const std::string BenchSettingsText =
    "Sensitivity:100, CodePrefix1:#9, CodeSuffix1:#13, CodePrefix2:#33, CodeSuffix2:#34, "
    "CodePrefix3:#35, CodeSuffix3:#36, LogEnabled:";

class DriverLog : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(Apartment.Status());
        ASSERT_TRUE(Module.Loaded());
    }

    std::string Narrow(const std::wstring& Text) {
        std::string result(Text.size() * 2 + 1, '\0');
        const int size =
            WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()),
                                result.data(), static_cast<int>(result.size()), nullptr, nullptr);
        result.resize(static_cast<std::size_t>(size));
        return result;
    }

    TComApartment Apartment;
    TPrivateDriver Module{WindowsPath(WEDGECARD_DRIVER_DLL)};
};

TEST_F(DriverLog, BeginsBesideTheModuleWithTheFirstLineWritten) {
    ComPtr<ILumMSRKBD1C> driver = Module.Create();
    EXPECT_FALSE(FileExists(Module.LogFileName()));
    EXPECT_EQ(VersionOf(driver.Get()), L"1.0.0.8");
    EXPECT_TRUE(FileExists(Module.LogFileName()));
}

TEST_F(DriverLog, WritesACallAndAResultLineForEachMethodAndTheDriversErrors) {
    TLogTail log(Module.LogFileName());
    ComPtr<ILumMSRKBD1C> driver = Module.Create();
    std::wstring id;
    ASSERT_TRUE(OpenDevice(driver.Get(), TSettingsArray::Bench().Get(), id));
    EXPECT_FALSE(CloseDevice(driver.Get(), L"no such device"));
    EXPECT_FALSE(Acknowledge(driver.Get(), id, false));
    EXPECT_EQ(LastErrorOf(driver.Get()).Code, 3);
    EXPECT_TRUE(CloseDevice(driver.Get(), id));
    EXPECT_EQ(VersionOf(driver.Get()), L"1.0.0.8");

    const std::string device = Narrow(id);
    EXPECT_EQ(log.Messages(),
              (Messages{
                  "[DEBUG] Tole1C Open(ValuesArray:{" + BenchSettingsText + "True})",
                  "[DEBUG] Tole1C Open(ValuesArray:{" + BenchSettingsText +
                      "True}, DeviceID:" + device + "): True",
                  "[DEBUG] Tole1C Close(DeviceID: no such device)",
                  "[ERROR] TKBDDriver (1) Неверный идентификатор устройства",
                  "[DEBUG] Tole1C Close(DeviceID: no such device): False",
                  "[DEBUG] Tole1C EventProcessed(DeviceID:" + device + ", StateFlag:False)",
                  "[ERROR] TKBDDriver (3) Событие не посылалось",
                  "[DEBUG] TKBDDriver FireEvent",
                  "[DEBUG] Tole1C EventProcessed(DeviceID:" + device + ", StateFlag:False): False",
                  "[DEBUG] Tole1C GetLastError",
                  "[DEBUG] Tole1C GetLastError(ErrorDescription:Событие не посылалось): 3",
                  "[DEBUG] Tole1C Close(DeviceID: " + device + ")",
                  "[DEBUG] Tole1C Close(DeviceID: " + device + "): True",
                  "[DEBUG] Tole1C GetVersion",
                  "[DEBUG] Tole1C GetVersion: 1.0.0.8",
              }));
}

TEST_F(DriverLog, StampsEveryLineWithTheLocalTimeAndTheWritingThread) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    const TLogTail log(Module.LogFileName());
    ComPtr<ILumMSRKBD1C> driver = Module.Create();
    EXPECT_FALSE(CloseDevice(driver.Get(), L"x"));
    SYSTEMTIME after;
    GetLocalTime(&after);

    char thread[32];
    std::snprintf(thread, sizeof thread, "%.8lu", GetCurrentThreadId());
    auto date = [](const SYSTEMTIME& Time) {
        char text[16];
        std::snprintf(text, sizeof text, "%.2d.%.2d.%.4d", Time.wDay, Time.wMonth, Time.wYear);
        return std::string(text);
    };
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    for (const std::string& line : lines) {
        TLogLine parsed;
        ASSERT_TRUE(ParseLogLine(line, parsed)) << line;
        EXPECT_EQ(parsed.Thread, thread);
        const std::string day = parsed.TimeStamp.substr(0, 10);
        EXPECT_TRUE(day == date(before) || day == date(after)) << parsed.TimeStamp;
    }
    // Nothing but CR LF ends a line, and the file ends with a whole line.
    const std::string text = log.Text();
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(DriverLog, AppendsToTheLogAlreadyThere) {
    const std::string earlier = "[01.01.2020 00:00:00.000] [00000001] [DEBUG] earlier run\r\n";
    WriteFile(Module.LogFileName(), earlier);
    ComPtr<ILumMSRKBD1C> driver = Module.Create();
    EXPECT_EQ(VersionOf(driver.Get()), L"1.0.0.8");

    const std::string text = ReadFile(Module.LogFileName());
    ASSERT_GT(text.size(), earlier.size());
    EXPECT_EQ(text.substr(0, earlier.size()), earlier);
    EXPECT_NE(text.find("[DEBUG] Tole1C GetVersion: 1.0.0.8\r\n", earlier.size()),
              std::string::npos);
}

TEST_F(DriverLog, FollowsTheLogSwitchOfTheLatestOpen) {
    TLogTail log(Module.LogFileName());
    ComPtr<ILumMSRKBD1C> driver = Module.Create();
    std::wstring quiet;
    ASSERT_TRUE(OpenDevice(driver.Get(), TSettingsArray::Bench(100, false).Get(), quiet));
    // Off from here: no line of these calls, nor of the driver's own errors.
    EXPECT_EQ(VersionOf(driver.Get()), L"1.0.0.8");
    EXPECT_FALSE(CloseDevice(driver.Get(), L"no such device"));
    EXPECT_TRUE(CloseDevice(driver.Get(), quiet));
    std::wstring loud;
    ASSERT_TRUE(OpenDevice(driver.Get(), TSettingsArray::Bench(100, true).Get(), loud));
    EXPECT_TRUE(CloseDevice(driver.Get(), loud));

    EXPECT_EQ(log.Messages(),
              (Messages{
                  "[DEBUG] Tole1C Open(ValuesArray:{" + BenchSettingsText + "False})",
                  "[DEBUG] Tole1C Open(ValuesArray:{" + BenchSettingsText +
                      "True}, DeviceID:" + Narrow(loud) + "): True",
                  "[DEBUG] Tole1C Close(DeviceID: " + Narrow(loud) + ")",
                  "[DEBUG] Tole1C Close(DeviceID: " + Narrow(loud) + "): True",
              }));
}

}  // namespace
}  // namespace wedgecard::test
