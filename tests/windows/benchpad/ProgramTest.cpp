// Benchpad.exe as a program: its window when a user starts it, the local server of its
// classes when COM starts it, and its registration switches.
#include <gtest/gtest.h>

#include <objbase.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>

#include "Benchpad_TLB.h"
#include "bench/ComSupport.h"
#include "tests/windows/dialog/UiTest.h"

namespace benchpad::test {
namespace {

using namespace std::chrono_literals;
using wedgecard::test::WaitUntil;

// The program's path as the registry holds it.
const std::wstring Program = [] {
    std::wstring path = BENCHPAD_EXE;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}();

class THandle {
public:
    explicit THandle(HANDLE Handle = nullptr) noexcept : FHandle(Handle) {}
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() {
        if (FHandle != nullptr) {
            CloseHandle(FHandle);
        }
    }
    [[nodiscard]] HANDLE Get() const noexcept { return FHandle; }

private:
    HANDLE FHandle;
};

// Starts the program with Arguments; the process, null when it did not start.
HANDLE Start(const std::wstring& Arguments) {
    std::wstring line = L"\"" + Program + L"\"" + (Arguments.empty() ? L"" : L" " + Arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

// The exit code; STILL_ACTIVE when it did not end within a minute.
DWORD WaitForExit(HANDLE Process) {
    WaitForSingleObject(Process, 60000);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(Process, &code);
    return code;
}

DWORD RunToEnd(const std::wstring& Arguments) {
    const THandle process(Start(Arguments));
    return process.Get() != nullptr ? WaitForExit(process.Get()) : STILL_ACTIVE;
}

int RunningCopies() {
    const THandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        count += lstrcmpiW(entry.szExeFile, L"Benchpad.exe") == 0 ? 1 : 0;
    }
    return count;
}

std::wstring LocalServerOfArray() {
    wchar_t clsid[64] = {};
    StringFromGUID2(CLSID_Array1C, clsid, 64);
    wchar_t value[MAX_PATH * 2] = {};
    LONG size = sizeof value;
    const std::wstring key = std::wstring(L"CLSID\\") + clsid + L"\\LocalServer32";
    return RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), value, &size) == ERROR_SUCCESS ? value
                                                                                         : L"";
}

// A member called by name with at most one argument.
HRESULT Call(IDispatch* Object, const wchar_t* Name, WORD Kind, VARIANT* Argument,
             VARIANT* Result = nullptr) {
    DISPID member = 0;
    auto* name = const_cast<LPOLESTR>(Name);
    if (const HRESULT found = Object->GetIDsOfNames(IID_NULL, &name, 1, 0, &member);
        FAILED(found)) {
        return found;
    }
    DISPPARAMS arguments{Argument, nullptr, Argument != nullptr ? 1u : 0u, 0};
    return Object->Invoke(member, IID_NULL, 0, Kind, &arguments, Result, nullptr, nullptr);
}

class BenchpadProgram : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override {
        // The registration this program writes is not left behind.
        EXPECT_EQ(RunToEnd(L"/UnregServer"), 0u);
        CoUninitialize();
    }
};

TEST_F(BenchpadProgram, StartedByAUserItOpensItsWindowAndEndsWhenItCloses) {
    const THandle process(Start(L""));
    ASSERT_NE(process.Get(), nullptr);
    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            window = FindWindowW(L"WedgecardForm", L"Тест драйвера СМК 1.0.0.8");
            return window != nullptr && IsWindowVisible(window);
        },
        20s));
    // Every start registers the program as the server of its classes.
    EXPECT_EQ(LocalServerOfArray(), L"\"" + Program + L"\"");

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(process.Get()), 0u);
}

TEST_F(BenchpadProgram, StartedByComItServesItsClassesWithoutAWindowUntilTheLastGoes) {
    ASSERT_EQ(RunToEnd(L"/RegServer"), 0u);
    EXPECT_EQ(LocalServerOfArray(), L"\"" + Program + L"\"");
    {
        // Late bound, as script clients use it: Wine's type library marshaller finds only
        // libraries registered for the neutral locale, and this one is registered for 0x409.
        ComPtr<IDispatch> values;
        ASSERT_HRESULT_SUCCEEDED(
            CoCreateInstance(CLSID_Array1C, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, &values));
        EXPECT_EQ(RunningCopies(), 1);
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_I4;
        V_I4(&value) = 42;
        ASSERT_HRESULT_SUCCEEDED(Call(values.Get(), L"Add", DISPATCH_METHOD, &value));
        VARIANT count;
        VariantInit(&count);
        ASSERT_HRESULT_SUCCEEDED(
            Call(values.Get(), L"Count", DISPATCH_PROPERTYGET, nullptr, &count));
        EXPECT_EQ(V_VT(&count), VT_I4);
        EXPECT_EQ(V_I4(&count), 1);
        EXPECT_EQ(FindWindowW(L"WedgecardForm", nullptr), nullptr) << "no window for a client";
    }
    EXPECT_TRUE(WaitUntil([] { return RunningCopies() == 0; }, 20s))
        << "the server outlived its last object";

    ASSERT_EQ(RunToEnd(L"-UNREGSERVER"), 0u);
    CLSID found{};
    EXPECT_HRESULT_FAILED(CLSIDFromProgID(L"Benchpad.Array1C", &found));
}

}  // namespace
}  // namespace benchpad::test
