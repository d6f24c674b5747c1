#include "bench/ComServer.h"

#include <shellapi.h>

#include <atomic>
#include <cwchar>
#include <iterator>
#include <memory>
#include <new>

#include "Benchpad_TLB.h"
#include "bench/ComSupport.h"
#include "bench/oleArray1C.h"
#include "bench/oleAsyncEvents.h"

namespace benchpad {

namespace {

void CountServerLock(bool Locked) noexcept {
    if (Locked) {
        ServerLock();
    } else {
        ServerUnlock();
    }
}

// The class objects: COM holds them while they are registered, so their references are no locks.
TClassFactory<&TArray1C::Create, &CountServerLock, false> Array1CFactory;
TClassFactory<&TAsyncEvents::Create, &CountServerLock, false> AsyncEventsFactory;

struct TServedClass {
    const CLSID& ClassID;
    const wchar_t* ProgID;
    const wchar_t* Description;
    IClassFactory& Factory;
};

const TServedClass ServedClasses[] = {
    {CLSID_Array1C, Array1CProgID, L"Array1C Object", Array1CFactory},
    {CLSID_AsyncEvents, AsyncEventsProgID, L"AsyncEvents Object", AsyncEventsFactory},
};

std::atomic<long> LockCount{0};
// The one local server of the program, while it exists.
TLocalServer* CurrentServer = nullptr;

class TRegistryKey {
public:
    TRegistryKey() noexcept = default;
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;
    ~TRegistryKey() {
        if (FKey != nullptr) {
            RegCloseKey(FKey);
        }
    }
    [[nodiscard]] HKEY* Put() noexcept { return &FKey; }
    [[nodiscard]] HKEY Get() const noexcept { return FKey; }

private:
    HKEY FKey = nullptr;
};

// HKCR\Path with Value as its default value (or as the value Name).
HRESULT WriteClassesKey(const std::wstring& Path, const std::wstring& Value,
                        const wchar_t* Name = nullptr) {
    TRegistryKey key;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, Path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, key.Put(), nullptr);
    if (status == ERROR_SUCCESS) {
        status =
            RegSetValueExW(key.Get(), Name, 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
                           static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t)));
    }
    return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

HRESULT DeleteClassesTree(const std::wstring& Path) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, Path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

// The first failure of a series of steps that are all attempted.
class TFirstFailure {
public:
    void Add(HRESULT Result) noexcept {
        if (FAILED(Result) && SUCCEEDED(FResult)) {
            FResult = Result;
        }
    }
    [[nodiscard]] HRESULT Result() const noexcept { return FResult; }

private:
    HRESULT FResult = S_OK;
};

[[nodiscard]] bool IsSwitch(std::wstring_view Argument, const wchar_t* Name) {
    if (!Argument.empty() && (Argument.front() == L'/' || Argument.front() == L'-')) {
        Argument.remove_prefix(1);
    }
    return Argument.size() == std::wcslen(Name) &&
           _wcsnicmp(Argument.data(), Name, Argument.size()) == 0;
}

}  // namespace

TServerSwitches ParseServerSwitches(const std::vector<std::wstring>& Arguments) {
    TServerSwitches switches;
    for (const std::wstring& argument : Arguments) {
        switches.RegServer = switches.RegServer || IsSwitch(argument, L"REGSERVER");
        switches.UnregServer = switches.UnregServer || IsSwitch(argument, L"UNREGSERVER");
        switches.Automation = switches.Automation || IsSwitch(argument, L"AUTOMATION");
        switches.Embedding = switches.Embedding || IsSwitch(argument, L"EMBEDDING");
    }
    return switches;
}

TServerSwitches ParseServerSwitches(const wchar_t* CommandLine) {
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFree)> arguments(
        CommandLineToArgvW(CommandLine, &count), &LocalFree);
    std::vector<std::wstring> list;
    if (arguments != nullptr) {
        for (int i = 1; i < count; ++i) {
            list.emplace_back(arguments.get()[i]);
        }
    }
    return ParseServerSwitches(list);
}

HRESULT RegisterServer(const std::wstring& ServerPath) {
    try {
        TFirstFailure result;
        ComPtr<ITypeLib> library;
        const HRESULT loaded = LoadTypeLibEx(ServerPath.c_str(), REGKIND_NONE, &library);
        result.Add(loaded);
        if (SUCCEEDED(loaded)) {
            result.Add(
                RegisterTypeLib(library.Get(), const_cast<OLECHAR*>(ServerPath.c_str()), nullptr));
        }
        const std::wstring libraryID = GuidText(LIBID_Benchpad);
        // Quoted: COM appends its own switch to the command, and the path may hold blanks.
        const std::wstring command = L"\"" + ServerPath + L"\"";
        for (const TServedClass& served : ServedClasses) {
            const std::wstring classKey = L"CLSID\\" + GuidText(served.ClassID);
            result.Add(WriteClassesKey(served.ProgID, served.Description));
            result.Add(WriteClassesKey(std::wstring(served.ProgID) + L"\\CLSID",
                                       GuidText(served.ClassID)));
            result.Add(WriteClassesKey(classKey, served.Description));
            result.Add(WriteClassesKey(classKey + L"\\LocalServer32", command));
            result.Add(WriteClassesKey(classKey + L"\\ProgID", served.ProgID));
            result.Add(WriteClassesKey(classKey + L"\\TypeLib", libraryID));
            result.Add(WriteClassesKey(classKey + L"\\Version", L"1.0"));
        }
        return result.Result();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnregisterServer() {
    try {
        TFirstFailure result;
        for (const TServedClass& served : ServedClasses) {
            result.Add(DeleteClassesTree(served.ProgID));
            result.Add(DeleteClassesTree(L"CLSID\\" + GuidText(served.ClassID)));
        }
        ComPtr<ITypeLib> library;
        TLIBATTR* attributes = nullptr;
        HRESULT loaded = LoadTypeLibEx(ThisModulePath().c_str(), REGKIND_NONE, &library);
        if (SUCCEEDED(loaded)) {
            loaded = library->GetLibAttr(&attributes);
        }
        result.Add(loaded);
        if (SUCCEEDED(loaded)) {
            // Only what is there: the runtimes disagree on the failure for a library that is
            // not registered.
            TBstr registeredPath;
            if (SUCCEEDED(QueryPathOfRegTypeLib(attributes->guid, attributes->wMajorVerNum,
                                                attributes->wMinorVerNum, attributes->lcid,
                                                registeredPath.Put()))) {
                result.Add(UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum,
                                             attributes->wMinorVerNum, attributes->lcid,
                                             attributes->syskind));
            }
            library->ReleaseTLibAttr(attributes);
        }
        return result.Result();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

std::optional<int> HandleRegistrationSwitches(const TServerSwitches& Switches) {
    if (Switches.UnregServer) {
        return SUCCEEDED(UnregisterServer()) ? 0 : 1;
    }
    if (Switches.RegServer) {
        return SUCCEEDED(RegisterServer(ThisModulePath())) ? 0 : 1;
    }
    return std::nullopt;
}

void ServerLock() noexcept {
    ++LockCount;
}

void ServerUnlock() noexcept {
    if (--LockCount == 0 && CurrentServer != nullptr && CurrentServer->Switches().StartedByCom() &&
        CurrentServer->OnLastRelease) {
        try {
            CurrentServer->OnLastRelease();
        } catch (...) {
            // Runs inside a Release: nothing may escape, and the program ends all the same.
            PostQuitMessage(0);
        }
    }
}

long ServerLockCount() noexcept {
    return LockCount;
}

TLocalServer::TLocalServer(const TServerSwitches& Switches) : FSwitches(Switches) {
    OnLastRelease = [] { PostQuitMessage(0); };
    CurrentServer = this;
}

TLocalServer::~TLocalServer() {
    for (const DWORD cookie : FCookies) {
        CoRevokeClassObject(cookie);
    }
    if (CurrentServer == this) {
        CurrentServer = nullptr;
    }
}

HRESULT TLocalServer::Start() {
    try {
        static_cast<void>(RegisterServer(ThisModulePath()));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return RegisterClassObjects();
}

HRESULT TLocalServer::RegisterClassObjects() {
    try {
        FCookies.reserve(FCookies.size() + std::size(ServedClasses));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (const TServedClass& served : ServedClasses) {
        DWORD cookie = 0;
        const HRESULT result = CoRegisterClassObject(
            served.ClassID, &served.Factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        if (FAILED(result)) {
            return result;
        }
        FCookies.push_back(cookie);
    }
    return S_OK;
}

}  // namespace benchpad
