// Open with settings arrays of random length, element types and values, reads that fail: the
// result and last error agree, a failure leaves the devices and the capture as they were, and
// the call log's rendering of the array never raises.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "driver/capture/KeyboardHook.h"
#include "driver/core/DeviceManager.h"
#include "driver/core/KBDDriver.h"
#include "driver/core/untUtils.h"
#include "driver/diagnostics/LogFile.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakeThread.h"

using namespace wedgecard;
using namespace wedgecard::test;

namespace {

[[noreturn]] void Broken() {
    std::abort();
}

TFakeValuesArray::TValue PickValue(FuzzedDataProvider& Input, int Index, TFakeValuesArray& Values) {
    switch (Input.ConsumeIntegralInRange(0, 5)) {
        case 0:
            return TFakeValuesArray::TEmpty{};
        case 1:
            return Input.ConsumeIntegral<std::int32_t>();
        case 2:
            return Input.ConsumeBool();
        case 3:
            Values.FailingReads[Index] = Input.ConsumeRandomLengthString(16);
            return TFakeValuesArray::TEmpty{};
        default:
            return Input.ConsumeRandomLengthString(24);
    }
}

bool StartsWith(const std::string& Text, const std::string& Prefix) {
    return Text.compare(0, Prefix.size(), Prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    FuzzedDataProvider input(Data, Size);
    LogFile().SetEnabled(false);

    TFakeThread thread;
    TFakeGuids guids;
    TFakeModule module;
    TFakeDeviceTestDialog dialog;
    TKBDDriver driver(TDriverServices{thread, guids, module, dialog});
    if (input.ConsumeBool()) {
        auto first = Settings(250, "#9", "#13", "", "", "", "", false);
        std::wstring id;
        if (!driver.Open(first, id)) {
            Broken();
        }
    }
    thread.FailNextHookInstall = input.ConsumeBool();

    TFakeValuesArray values;
    const int count = input.ConsumeIntegralInRange(0, 9);
    for (int i = 0; i < count; ++i) {
        values.Values.push_back(PickValue(input, i, values));
    }

    const int devicesBefore = driver.Devices().Count();
    const bool activeBefore = driver.KeyboardHook().Active();
    const std::int32_t quietTimeBefore = driver.KeyboardHook().Sensitivity();

    const std::string rendered = TKBDUtils::ValuesArrayToStr(values);
    if (!StartsWith(rendered, "Sensitivity:") &&
        !StartsWith(rendered, "Не удалось получить параметры из ValuesArray: ")) {
        Broken();
    }

    std::wstring id;
    const bool opened = driver.Open(values, id);
    if (opened) {
        if (driver.LastErrorCode() != 0 || driver.Devices().Count() != devicesBefore + 1 ||
            !driver.KeyboardHook().Active() || id.size() != 36 ||
            driver.Devices().Items(devicesBefore)->ID() != std::string(id.begin(), id.end()) ||
            driver.KeyboardHook().Sensitivity() < 0) {
            Broken();
        }
    } else {
        const std::int32_t code = driver.LastErrorCode();
        if ((code != 2 && code != 6 && code != 255) || driver.LastErrorText().empty() ||
            driver.Devices().Count() != devicesBefore ||
            driver.KeyboardHook().Active() != activeBefore ||
            driver.KeyboardHook().Sensitivity() != quietTimeBefore) {
            Broken();
        }
    }
    return 0;
}
