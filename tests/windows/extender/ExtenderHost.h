#pragma once

// The 1C host's side of the language extender, as the tests play it: a single-threaded
// apartment and the driver created through its registration, with the two faces the host
// uses, and the calls the host makes through CallAsFunc.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "tests/windows/support/AllocationSpy.h"
#include "tests/windows/support/ComHost.h"
#include "tests/windows/support/HostArray.h"
#include "tests/windows/support/UiThread.h"

namespace wedgecard::test {

class ExtenderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // CallAsFunc on the driver; Result receives the result.
    HRESULT Call(long Method, THostArray& Arguments, TValue& Result);

    // The host's way to a device: CallAsFunc(Open) with the settings array; the identifier.
    std::wstring Open(IDispatch* Settings);
    bool Close(const std::wstring& DeviceID);
    // Code and text of GetLastError.
    std::pair<LONG, std::wstring> LastError();
    std::wstring Version();

    ComPtr<ILumMSRKBD1C> Driver;
    ComPtr<ILanguageExtender> Extender;
    ComPtr<IInitDone> InitDone;

private:
    bool FComStarted = false;
};

}  // namespace wedgecard::test
