// The bench's local server as other programs use it: registered by its REGSERVER switch,
// started by COM for a script that creates Array1C by ProgID, gone when the script lets go.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "Benchpad_TLB.h"
#include "bench/ComServer.h"
#include "tests/windows/bench/ComTestSupport.h"

namespace benchpad::test {
namespace {

constexpr DWORD ProcessLimitMilliseconds = 60000;

std::wstring ServerPath() {
    std::wstring path = ThisModulePath();
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"benchpad_server_test.exe";
}

class THandle {
public:
    explicit THandle(HANDLE Handle = nullptr) noexcept : FHandle(Handle) {}
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() {
        if (FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE) {
            CloseHandle(FHandle);
        }
    }
    [[nodiscard]] HANDLE Get() const noexcept { return FHandle; }
    [[nodiscard]] HANDLE* Put() noexcept { return &FHandle; }

private:
    HANDLE FHandle;
};

struct TProcessResult {
    DWORD ExitCode = 0xFFFFFFFF;
    std::string Output;
};

// Runs CommandLine to its end with its standard output captured.
TProcessResult RunToEnd(std::wstring CommandLine) {
    TProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    THandle readEnd;
    THandle writeEnd;
    if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe";
        return result;
    }
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
        return result;
    }
    THandle processHandle(process.hProcess);
    THandle threadHandle(process.hThread);
    { THandle closed(std::exchange(*writeEnd.Put(), nullptr)); }

    char buffer[512];
    DWORD read = 0;
    while (ReadFile(readEnd.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        result.Output.append(buffer, read);
    }
    if (WaitForSingleObject(process.hProcess, ProcessLimitMilliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 3);
        ADD_FAILURE() << "still running after " << ProcessLimitMilliseconds << " ms";
    }
    GetExitCodeProcess(process.hProcess, &result.ExitCode);
    return result;
}

std::wstring ReadClassesValue(const std::wstring& Key) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, Key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS) {
        return L"(missing)";
    }
    return value;
}

std::wstring GuidText(const GUID& Guid) {
    wchar_t text[40];
    StringFromGUID2(Guid, text, 40);
    return text;
}

std::wstring WriteScript(const char* Script) {
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"bpd", 0, path);
    std::wstring script = std::wstring(path) + L".js";
    DeleteFileW(path);
    THandle file(CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.Get(), Script, static_cast<DWORD>(std::strlen(Script)), &written, nullptr);
    return script;
}

// Whether the server started by COM has ended within the limit.
bool ServerEnded() {
    THandle running(OpenMutexW(SYNCHRONIZE, FALSE, L"Benchpad.ServerTest.Running"));
    if (running.Get() == nullptr) {
        return true;
    }
    const DWORD waited = WaitForSingleObject(running.Get(), ProcessLimitMilliseconds);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        ReleaseMutex(running.Get());
        return true;
    }
    return false;
}

const char* const ArrayScript = R"(
var values = new ActiveXObject("Benchpad.Array1C");
values.Add(42);
values.Add("#13");
values.Add(true);
var seen = [values.Count, values.Get(0), typeof values.Get(0), values.Get(1), values.Get(2),
            typeof values.Get(2)];
try {
    values.Get(3);
    seen.push("no error");
} catch (e) {
    seen.push(e.description);
}
values.Put(0, "replaced");
seen.push(values.Get(0));
values.Clear();
seen.push(values.Count);
WScript.Echo(seen.join("|"));
)";

class ScriptClient : public ComTest {};

TEST_F(ScriptClient, CreatesArray1CByProgIDFromTheRegisteredServer) {
    const std::wstring server = ServerPath();
    ASSERT_EQ(RunToEnd(L"\"" + server + L"\" /RegServer").ExitCode, 0U);

    const std::wstring classKey = L"CLSID\\" + GuidText(CLSID_Array1C);
    EXPECT_EQ(ReadClassesValue(L"Benchpad.Array1C\\CLSID"), GuidText(CLSID_Array1C));
    EXPECT_EQ(ReadClassesValue(L"Benchpad.AsyncEvents\\CLSID"), GuidText(CLSID_AsyncEvents));
    EXPECT_EQ(ReadClassesValue(classKey + L"\\LocalServer32"), L"\"" + server + L"\"");
    EXPECT_EQ(ReadClassesValue(classKey + L"\\ProgID"), L"Benchpad.Array1C");
    EXPECT_EQ(ReadClassesValue(classKey + L"\\TypeLib"), GuidText(LIBID_Benchpad));
    EXPECT_EQ(ReadClassesValue(classKey + L"\\Version"), L"1.0");
    TBstr libraryPath;
    EXPECT_HRESULT_SUCCEEDED(QueryPathOfRegTypeLib(LIBID_Benchpad, 1, 0, 0x409, libraryPath.Put()));

    const std::wstring script = WriteScript(ArrayScript);
    const TProcessResult run = RunToEnd(L"cscript.exe //nologo \"" + script + L"\"");
    DeleteFileW(script.c_str());

    EXPECT_EQ(run.ExitCode, 0U) << run.Output;
    EXPECT_EQ(run.Output, "3|42|number|#13|true|boolean|Invalid array index|replaced|0\r\n");
    EXPECT_TRUE(ServerEnded()) << "the server COM started outlived its last object";

    ASSERT_EQ(RunToEnd(L"\"" + server + L"\" -UNREGSERVER").ExitCode, 0U);
    CLSID found{};
    EXPECT_HRESULT_FAILED(CLSIDFromProgID(L"Benchpad.Array1C", &found));
    EXPECT_EQ(ReadClassesValue(classKey), L"(missing)");
    EXPECT_HRESULT_FAILED(QueryPathOfRegTypeLib(LIBID_Benchpad, 1, 0, 0x409, libraryPath.Put()));
    // Unregistering what is not registered is no failure.
    EXPECT_EQ(RunToEnd(L"\"" + server + L"\" /UnregServer").ExitCode, 0U);
}

}  // namespace
}  // namespace benchpad::test
