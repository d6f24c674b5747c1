#pragma once

// The bench as a local COM server for Array1C and AsyncEvents: class objects, registration and
// the command-line switches of a local server.
//
// A WinMain uses it like this, after CoInitializeEx (or OleInitialize) on its UI thread:
//     const TServerSwitches switches = ParseServerSwitches(GetCommandLineW());
//     if (const std::optional<int> exitCode = HandleRegistrationSwitches(switches)) {
//         return *exitCode;                  // REGSERVER or UNREGSERVER: no window
//     }
//     TLocalServer server(switches);
//     server.Start();                        // registry entries, then the class objects
//     ... main window and message loop ...   // started by COM: WM_QUIT after the last object

#include <windows.h>

#include <objbase.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace benchpad {

inline constexpr const wchar_t* Array1CProgID = L"Benchpad.Array1C";
inline constexpr const wchar_t* AsyncEventsProgID = L"Benchpad.AsyncEvents";

struct TServerSwitches {
    bool RegServer = false;
    bool UnregServer = false;
    bool Automation = false;
    bool Embedding = false;

    // COM launched the program for a client (the system adds "-Embedding"): it lives only as
    // long as its objects.
    [[nodiscard]] bool StartedByCom() const noexcept { return Automation || Embedding; }
};

// The switches among the arguments (the program's name not included): each one a whole
// argument, in any letter case, with or without a leading "/" or "-". Other arguments are
// ignored.
[[nodiscard]] TServerSwitches ParseServerSwitches(const std::vector<std::wstring>& Arguments);
// The same for a whole command line as GetCommandLineW gives it, the program's name first.
[[nodiscard]] TServerSwitches ParseServerSwitches(const wchar_t* CommandLine);

// Registration of the type library and of both classes as served by the program at ServerPath:
// HKCR\<ProgID>, HKCR\CLSID\{...} with LocalServer32, ProgID, TypeLib and Version. Every entry
// is attempted; the first failure is returned.
[[nodiscard]] HRESULT RegisterServer(const std::wstring& ServerPath);
// Removes what RegisterServer writes; entries already missing count as removed.
[[nodiscard]] HRESULT UnregisterServer();

// REGSERVER or UNREGSERVER: does it and gives the program's exit code (0 on success, 1 on
// failure). Nothing for a normal start.
[[nodiscard]] std::optional<int> HandleRegistrationSwitches(const TServerSwitches& Switches);

// Objects and client locks (IClassFactory::LockServer) that keep the server alive. The arrays
// and the sinks made by the class factory count themselves; the window's own sink does not.
void ServerLock() noexcept;
void ServerUnlock() noexcept;
[[nodiscard]] long ServerLockCount() noexcept;

// The class objects of Array1C and AsyncEvents, registered with COM while this lives (one per
// program, on its user-interface thread): multiple use, so every activation request gets a new
// object, in this process or from another.
class TLocalServer {
public:
    explicit TLocalServer(const TServerSwitches& Switches);
    ~TLocalServer();
    TLocalServer(const TLocalServer&) = delete;
    TLocalServer& operator=(const TLocalServer&) = delete;

    // Writes the registration for this program (failures ignored: a user without rights to the
    // registry still gets a working bench), then RegisterClassObjects.
    HRESULT Start();
    HRESULT RegisterClassObjects();

    // Runs on the thread that released the last object or lock, when the program was started by
    // COM. By default it posts WM_QUIT to that thread (the user-interface thread: the objects
    // live in its apartment); a window may put its own closing here.
    std::function<void()> OnLastRelease;

    [[nodiscard]] const TServerSwitches& Switches() const noexcept { return FSwitches; }

private:
    TServerSwitches FSwitches;
    std::vector<DWORD> FCookies;
};

}  // namespace benchpad
