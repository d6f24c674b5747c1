#pragma once

// A host on the test's thread that created the driver by its ProgID and connected its event
// sink; the typing host also has a window with the keyboard focus. Programs that use the private
// copy define WEDGECARD_DRIVER_DLL, the module's path.

#include <gtest/gtest.h>

#include <string>

#include "tests/windows/support/ComHost.h"
#include "tests/windows/support/PrivateDriver.h"
#include "tests/windows/support/UiThread.h"

namespace wedgecard::test {

class HostTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(Apartment.Status());
        Driver = MakeDriver();
        ASSERT_HRESULT_SUCCEEDED(InitDoneOf(Driver.Get())->Init(Sink.Get()));
    }

    void TearDown() override {
        // The driver goes before the window and the apartment.
        Driver.Reset();
    }

    // The registered driver, created by its ProgID.
    virtual ComPtr<ILumMSRKBD1C> MakeDriver() { return CreateDriver(); }

    // Opens a device with the test bench's settings and returns its identifier.
    std::wstring OpenBenchDevice(std::int32_t Sensitivity = 100) {
        return OpenWith(TSettingsArray::Bench(Sensitivity).Get());
    }

    std::wstring OpenWith(IDispatch* Settings) {
        std::wstring id;
        EXPECT_TRUE(OpenDevice(Driver.Get(), Settings, id)) << Utf8(LastErrorOf(Driver.Get()).Text);
        return id;
    }

    // Pumps until the sink has received Count events in all.
    bool WaitForEvents(std::size_t Count, std::chrono::milliseconds Timeout = 5s) {
        return PumpUntil([&] { return Sink->Events.size() >= Count; }, Timeout);
    }

    TComApartment Apartment;
    ComPtr<TEventSink> Sink = TEventSink::Create();
    ComPtr<ILumMSRKBD1C> Driver;
};

// The same with a window that has the keyboard focus, for tests that type.
class TypingHostTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        ASSERT_TRUE(Window.Activate()) << "the test window did not get the keyboard focus";
    }

    // Types Keys and pumps until the window's characters end with Tail: every key typed before
    // has then been through the capture.
    void TypeAndWait(TKeystrokes& Keys, const std::wstring& Tail) {
        ASSERT_TRUE(Keys.Send());
        ASSERT_TRUE(Window.WaitForChars(Tail)) << "received \"" << Utf8(Window.Chars()) << "\"";
    }

    TTestWindow Window;
};

// A typing host whose driver is a copy of the module of its own, with a log of its own.
class PrivateTypingHostTest : public TypingHostTest {
protected:
    ComPtr<ILumMSRKBD1C> MakeDriver() override { return Module.Create(); }

    TPrivateDriver Module{WindowsPath(WEDGECARD_DRIVER_DLL)};
};

}  // namespace wedgecard::test
