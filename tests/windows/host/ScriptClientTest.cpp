// Third-party automation clients: VBScript and JScript run by the system's script host, creating
// the driver by its ProgID and calling it late bound by name.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <map>
#include <string>

#include "tests/windows/support/ComHost.h"

namespace wedgecard::test {
namespace {

struct TScriptRun {
    DWORD ExitCode = 0;
    bool Finished = false;
    std::wstring Output;
    // "name=value" lines by name.
    std::map<std::wstring, std::wstring> Results;
    bool Done = false;

    // The value of the result line Name, "<missing>" without one.
    [[nodiscard]] std::wstring Result(const wchar_t* Name) const {
        const auto found = Results.find(Name);
        return found == Results.end() ? std::wstring(L"<missing>") : found->second;
    }
};

// Runs one script of the scripts folder with cscript and collects what it prints. The script host
// has this program's bitness (a 32-bit process finds SysWOW64's cscript.exe), so it creates the
// driver of the build under test.
TScriptRun RunScript(const std::wstring& Name) {
    const std::wstring folder = WindowsPath(WEDGECARD_SCRIPTS);
    std::wstring command = L"cscript.exe //nologo \"" + folder + L"\\" + Name + L"\"";

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    TScriptRun run;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe failed";
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        ADD_FAILURE() << "cscript.exe could not be started: " << ::GetLastError();
        return run;
    }

    // Read as the script writes, until it has ended: helpers of the system that inherited the
    // pipe may hold it open longer, so its end is no sign.
    std::string bytes;
    auto drain = [&] {
        DWORD available = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            char buffer[4096];
            DWORD read = 0;
            if (!::ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) || read == 0) {
                break;
            }
            bytes.append(buffer, read);
        }
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
        drain();
        if (std::chrono::steady_clock::now() > deadline) {
            TerminateProcess(process.hProcess, 1);
            break;
        }
    }
    drain();
    CloseHandle(readEnd);
    run.Finished = WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 &&
                   std::chrono::steady_clock::now() <= deadline;
    GetExitCodeProcess(process.hProcess, &run.ExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    // The script host writes to a pipe in the console's (OEM) code page.
    if (!bytes.empty()) {
        const int size = MultiByteToWideChar(CP_OEMCP, 0, bytes.data(),
                                             static_cast<int>(bytes.size()), nullptr, 0);
        run.Output.resize(static_cast<std::size_t>(size));
        MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()),
                            run.Output.data(), size);
    }
    std::size_t start = 0;
    while (start < run.Output.size()) {
        std::size_t end = run.Output.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = run.Output.size();
        }
        std::wstring line = run.Output.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        const std::size_t equals = line.find(L'=');
        if (equals != std::wstring::npos) {
            run.Results[line.substr(0, equals)] = line.substr(equals + 1);
        } else if (line == L"done") {
            run.Done = true;
        }
        start = end + 1;
    }
    return run;
}

bool StartsWith(const std::wstring& Text, const std::wstring& Prefix) {
    return Text.compare(0, Prefix.size(), Prefix) == 0;
}

TEST(JScriptClient, OpensDevicesWithAScriptObjectAndLeavesOutOrPassesTheOutParametersByValue) {
    const TScriptRun run = RunScript(L"ScriptClient.js");
    ASSERT_TRUE(run.Finished);
    ASSERT_TRUE(run.Done) << "the script stopped early:\n" << Utf8(run.Output);
    EXPECT_EQ(run.Result(L"version"), L"1.0.0.8");
    EXPECT_EQ(run.Result(L"open without DeviceID"), L"true");
    EXPECT_EQ(run.Result(L"open with DeviceID by value"), L"true");
    EXPECT_EQ(run.Result(L"open with textual sensitivity"), L"true");
    EXPECT_EQ(run.Result(L"open with a malformed suffix"), L"false");
    EXPECT_EQ(run.Result(L"error with description by value"), L"6");
    EXPECT_EQ(run.Result(L"open with a failing Get"), L"false");
    EXPECT_EQ(run.Result(L"close unknown"), L"false");
    EXPECT_EQ(run.Result(L"acknowledge idle"), L"false");
    // A flag that does not convert to a boolean is the automation runtime's type mismatch.
    EXPECT_EQ(run.Result(L"acknowledge with text flag"), L"error 80020005");
    EXPECT_NE(run.Output.find(L"error=2\r\nclose unknown"), std::wstring::npos)
        << "the failing Get is reported as a settings read error\n"
        << Utf8(run.Output);
    EXPECT_NE(run.Output.find(L"error=1\r\nacknowledge idle"), std::wstring::npos);
    EXPECT_NE(run.Output.find(L"error=3\r\nacknowledge with"), std::wstring::npos);
}

TEST(VBScriptClient, FillsTheScriptsOwnVariablesAndReportsRussianErrorTexts) {
    const TScriptRun run = RunScript(L"ScriptClient.vbs");
    ASSERT_TRUE(run.Finished);
    ASSERT_TRUE(run.Done) << "the script stopped early:\n" << Utf8(run.Output);
    EXPECT_EQ(run.Result(L"version"), L"1.0.0.8");
    EXPECT_EQ(run.Result(L"new driver error"), L"0 Ошибок нет");
    EXPECT_EQ(run.Result(L"open"), L"false");
    // The variable handed for DeviceID was a number; the driver's [out] string replaced it.
    EXPECT_EQ(run.Result(L"device id type"), L"String");
    EXPECT_EQ(run.Result(L"device id"), L"");
    EXPECT_TRUE(StartsWith(run.Result(L"open error"),
                           L"2 Не удалось получить данные из массива значений: "))
        << Utf8(run.Result(L"open error"));
    EXPECT_EQ(run.Result(L"close unknown"), L"false");
    EXPECT_EQ(run.Result(L"close error"), L"1 Неверный идентификатор устройства");
    EXPECT_EQ(run.Result(L"acknowledge idle"), L"false");
    EXPECT_EQ(run.Result(L"acknowledge error"), L"3 Событие не посылалось");
    EXPECT_EQ(run.Result(L"version again"), L"1.0.0.8");
    EXPECT_EQ(run.Result(L"error after version"), L"0 Ошибок нет");
}

}  // namespace
}  // namespace wedgecard::test
