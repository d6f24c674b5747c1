// The other process of the log file tests.
//
//   log_holder hold <sharing> <file> <ready event> <release event>
//       Opens the file for reading and writing with the sharing given ("none", "read", or
//       "reader" for read access only with read sharing), appends one line of its own, signals
//       the ready event and keeps the file open until the release event is signalled.
//   log_holder driver <module>
//       Loads the driver module from the path given, as a second host of the same installation
//       does, and calls it; exits with 0 when every call was answered as documented.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/windows/support/ComHost.h"

using namespace wedgecard::test;

namespace {

int Hold(const std::wstring& Sharing, const std::wstring& File, const std::wstring& Ready,
         const std::wstring& Release) {
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD share = 0;
    if (Sharing == L"read") {
        share = FILE_SHARE_READ;
    } else if (Sharing == L"reader") {
        access = GENERIC_READ;
        share = FILE_SHARE_READ;
    }
    HANDLE file = CreateFileW(File.c_str(), access, share, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "log_holder: cannot open the file (%lu)\n", GetLastError());
        return 2;
    }
    if ((access & GENERIC_WRITE) != 0) {
        const char line[] = "holder's line\r\n";
        DWORD written = 0;
        SetFilePointer(file, 0, nullptr, FILE_END);
        WriteFile(file, line, sizeof line - 1, &written, nullptr);
    }
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, Ready.c_str());
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, Release.c_str());
    if (ready == nullptr || release == nullptr) {
        std::fprintf(stderr, "log_holder: no events to meet the test with\n");
        return 3;
    }
    SetEvent(ready);
    const DWORD waited = WaitForSingleObject(release, 60000);
    CloseHandle(file);
    CloseHandle(ready);
    CloseHandle(release);
    return waited == WAIT_OBJECT_0 ? 0 : 4;
}

int Drive(const std::wstring& Module) {
    TComApartment apartment;
    TDriverModule module(Module);
    if (!module.Loaded()) {
        std::fprintf(stderr, "log_holder: cannot load the module (%lu)\n", GetLastError());
        return 2;
    }
    bool answered = true;
    {
        ComPtr<ILumMSRKBD1C> driver = module.Create();
        for (int call = 0; call < 5; ++call) {
            answered = answered && !CloseDevice(driver.Get(), L"second process") &&
                       LastErrorOf(driver.Get()).Code == 1 &&
                       VersionOf(driver.Get()) == DriverVersion;
        }
        std::wstring id;
        answered = answered && OpenDevice(driver.Get(), TSettingsArray::Bench().Get(), id) &&
                   CloseDevice(driver.Get(), id);
    }
    return answered ? 0 : 1;
}

}  // namespace

int wmain(int Count, wchar_t** Arguments) {
    try {
        const std::wstring mode = Count > 1 ? Arguments[1] : L"";
        if (mode == L"hold" && Count == 6) {
            return Hold(Arguments[2], Arguments[3], Arguments[4], Arguments[5]);
        }
        if (mode == L"driver" && Count == 3) {
            return Drive(Arguments[2]);
        }
        std::fprintf(stderr, "usage: log_holder hold|driver ...\n");
        return 64;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "log_holder: %s\n", error.what());
        return 5;
    }
}
