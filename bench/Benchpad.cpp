// Benchpad.exe: the driver's test bench, and the local COM server of its Array1C and
// AsyncEvents classes.
#include <windows.h>

#include <objbase.h>
#include <ole2.h>

#include <exception>
#include <optional>

#include "bench/ComServer.h"
#include "bench/fmuMain.h"
#include "driver/diagnostics/SizeableForm.h"

namespace {

// Until WM_QUIT: what a program started by COM does while its clients use its objects.
void RunMessages() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

int RunMainWindow() {
    benchpad::TfmMain form;
    form.Show();
    // The window goes when it is closed; WM_QUIT ends the loop too.
    MSG message;
    while (form.Handle() != nullptr) {
        const BOOL received = GetMessageW(&message, nullptr, 0, 0);
        if (received == 0 || received == -1) {
            break;
        }
        if (!form.IsFormMessage(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}

int Run() {
    const benchpad::TServerSwitches switches = benchpad::ParseServerSwitches(GetCommandLineW());
    if (const std::optional<int> exitCode = benchpad::HandleRegistrationSwitches(switches)) {
        return *exitCode;
    }
    benchpad::TLocalServer server(switches);
    // A failed registration leaves the classes to this process: the window still works.
    static_cast<void>(server.Start());
    if (switches.StartedByCom()) {
        // A client asked for an object, not a tester for the window: serve until the last
        // object is released.
        RunMessages();
        return 0;
    }
    return RunMainWindow();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (FAILED(OleInitialize(nullptr))) {
        return 1;
    }
    int exitCode = 1;
    try {
        exitCode = Run();
    } catch (const std::exception& error) {
        MessageBoxW(nullptr, wedgecard::WideText(error.what()).c_str(), L"Benchpad",
                    MB_OK | MB_ICONERROR);
    }
    OleUninitialize();
    return exitCode;
}
