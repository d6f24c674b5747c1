// The bench where the driver is not registered: the window opens all the same and every
// command that needs the driver says that it is missing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/windows/benchpad/BenchWindow.h"

namespace benchpad::test {
namespace {

using testing::StartsWith;

// Takes the driver's registration out for the test and puts it back afterwards, as regsvr32
// does it: through the module's own entry points.
class DriverMissing : public testing::Test {
protected:
    using TEntry = HRESULT(STDAPICALLTYPE*)();

    void SetUp() override {
        ASSERT_NE(FDriver, nullptr) << WEDGECARD_DRIVER_DLL;
        ASSERT_HRESULT_SUCCEEDED(Entry("DllUnregisterServer")());
    }

    void TearDown() override {
        if (FDriver != nullptr) {
            EXPECT_HRESULT_SUCCEEDED(Entry("DllRegisterServer")());
            FreeLibrary(FDriver);
        }
    }

    TEntry Entry(const char* Name) const {
        return reinterpret_cast<TEntry>(reinterpret_cast<void*>(GetProcAddress(FDriver, Name)));
    }

    HMODULE FDriver = LoadLibraryW(WEDGECARD_DRIVER_DLL);
};

TEST_F(DriverMissing, TheWindowSaysSoAtStartAndAtEveryDriverCommand) {
    TBenchWindow bench;
    const TMessageBox atStart = bench.TakeMessageBox();
    EXPECT_THAT(atStart.Text, StartsWith(L"Не удалось создать драйвер Addin.LumMSRKBD1C: "));
    EXPECT_TRUE(atStart.HasIcon);

    ASSERT_NE(bench.WaitForForm(), nullptr) << "the window opens all the same";
    EXPECT_FALSE(bench.Form().DriverConnected());
    const std::wstring missing = L"Драйвер не подключён: " + atStart.Text;
    bench.Click("btnOpen");
    EXPECT_EQ(bench.TakeMessageBox().Text, missing);
    EXPECT_EQ(bench.Form().DeviceList().Count(), 0);
    bench.Click("btnDeviceTest");
    EXPECT_EQ(bench.TakeMessageBox().Text, missing);

    ASSERT_TRUE(bench.ShowTab(2));
    bench.Click("btnGetVersion");
    EXPECT_EQ(bench.TakeMessageBox().Text, missing);
    bench.Click("btnGetLastError");
    EXPECT_EQ(bench.TakeMessageBox().Text, missing);
    EXPECT_EQ(bench.TextOf("edtResult"), L"");
}

}  // namespace
}  // namespace benchpad::test
