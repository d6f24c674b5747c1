// The bench's local server without its window: what the tests register and what COM starts
// for a script that creates Array1C by its ProgID.
#include <windows.h>

#include <objbase.h>

#include <optional>

#include "bench/ComServer.h"

namespace {

// Held while the server runs; a test waits for it to learn that the server has ended.
constexpr const wchar_t* RunningMutexName = L"Benchpad.ServerTest.Running";
// A server that nobody uses ends anyway instead of lingering in the Wine prefix.
constexpr UINT IdleLimitMilliseconds = 60000;

int Serve(const benchpad::TServerSwitches& Switches) {
    benchpad::TLocalServer server(Switches);
    if (FAILED(server.Start())) {
        return 1;
    }
    const UINT_PTR idleTimer = SetTimer(nullptr, 0, IdleLimitMilliseconds, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == WM_TIMER && message.wParam == idleTimer) {
            break;
        }
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    const benchpad::TServerSwitches switches = benchpad::ParseServerSwitches(GetCommandLineW());
    int exitCode = 0;
    if (const std::optional<int> registered = benchpad::HandleRegistrationSwitches(switches)) {
        exitCode = *registered;
    } else {
        HANDLE running = CreateMutexW(nullptr, TRUE, RunningMutexName);
        exitCode = Serve(switches);
        if (running != nullptr) {
            ReleaseMutex(running);
            CloseHandle(running);
        }
    }
    CoUninitialize();
    return exitCode;
}
