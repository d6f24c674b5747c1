// The module: class factory, the four exports of an in-process COM server and its
// registration.
#include <windows.h>

#include <objbase.h>
#include <olectl.h>

#include <atomic>
#include <string>

#include "driver/diagnostics/ModuleInfo.h"
#include "driver/host/AxView.h"
#include "driver/host/ComSupport.h"
#include "driver/host/ole1C.h"

namespace wedgecard {

std::atomic<long> ModuleUsage{0};

namespace {

constexpr const wchar_t* ProgID = DriverProgID;
constexpr const wchar_t* Description = L"ЖУВЕРТ: Драйвер СМК";
// Invisible at run time (0x400), with what the control factory adds: 0x1, 0x10, 0x80, 0x100
// and 0x20000.
constexpr DWORD MiscStatus = 0x20591;
constexpr int ToolboxBitmap = 1;

// What fails in making an object is memory; registration fails as a whole.
constexpr TComBoundary Creation{nullptr, nullptr, E_OUTOFMEMORY};
constexpr TComBoundary Registration{nullptr, nullptr, E_FAIL};

HRESULT CreateDriver(REFIID Interface, void** Object) noexcept {
    return CreateInitialized<Tole1C>(Creation, Interface, Object);
}

void LockModule(bool Locked) noexcept {
    Locked ? ++ModuleUsage : --ModuleUsage;
}

// The factory lives as long as the module; its references count as locks of the module.
TClassFactory<&CreateDriver, &LockModule, true> Factory;

std::wstring ModuleFileName() {
    wchar_t path[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(ThisModule()), path,
                                            static_cast<DWORD>(std::size(path)));
    return std::wstring(path, length);
}

// HKEY_CLASSES_ROOT\Key, default value (when Value is given) and one named value.
void WriteKey(const std::wstring& Key, const wchar_t* Value, const wchar_t* Name = nullptr,
              const wchar_t* NamedValue = nullptr) {
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, Key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &handle, nullptr);
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("registry");
    }
    auto set = [&](const wchar_t* name, const wchar_t* text) {
        const auto bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
        if (status == ERROR_SUCCESS) {
            status =
                RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
        }
    };
    if (Value != nullptr) {
        set(nullptr, Value);
    }
    if (Name != nullptr) {
        set(Name, NamedValue);
    }
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("registry");
    }
}

void DeleteKey(const std::wstring& Key) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, Key.c_str());
}

void Register() {
    const std::wstring path = ModuleFileName();
    ComPtr<ITypeLib> library;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library))) {
        throw std::runtime_error("type library");
    }

    const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_LumMSRKBD1C);
    WriteKey(clsid, Description);
    WriteKey(clsid + L"\\InprocServer32", path.c_str(), L"ThreadingModel", L"Apartment");
    WriteKey(clsid + L"\\ProgID", ProgID);
    WriteKey(clsid + L"\\TypeLib", GuidText(LIBID_WedgecardLib).c_str());
    WriteKey(clsid + L"\\Version", L"1.0");
    WriteKey(ProgID, Description);
    WriteKey(std::wstring(ProgID) + L"\\CLSID", GuidText(CLSID_LumMSRKBD1C).c_str());

    WriteKey(clsid + L"\\MiscStatus", L"0");
    WriteKey(clsid + L"\\MiscStatus\\1", std::to_wstring(MiscStatus).c_str());
    WriteKey(clsid + L"\\ToolboxBitmap32", (path + L"," + std::to_wstring(ToolboxBitmap)).c_str());
    WriteKey(clsid + L"\\Control", nullptr);
    WriteKey(clsid + L"\\Verb\\0", L"Properties,0,2");
}

void Unregister() {
    const std::wstring clsid = L"CLSID\\" + GuidText(CLSID_LumMSRKBD1C);
    for (const wchar_t* key : {L"\\Verb\\0", L"\\Verb", L"\\Control", L"\\ToolboxBitmap32",
                               L"\\MiscStatus\\1", L"\\MiscStatus"}) {
        DeleteKey(clsid + key);
    }
    DeleteKey(clsid);
    DeleteKey(ProgID);
    UnRegisterTypeLib(LIBID_WedgecardLib, 1, 0, 0x0409, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
}

}  // namespace

}  // namespace wedgecard

using namespace wedgecard;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE Instance, DWORD Reason, LPVOID /*Reserved*/) {
    if (Reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(Instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID Class, REFIID Interface, LPVOID* Object) {
    if (Object == nullptr) {
        return E_POINTER;
    }
    *Object = nullptr;
    if (Class != CLSID_LumMSRKBD1C) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return Factory.QueryInterface(Interface, Object);
}

STDAPI DllCanUnloadNow() {
    if (ModuleUsage.load() != 0) {
        return S_FALSE;
    }
    // The window class must not outlive the code of its window procedure.
    TAxView::UnregisterWindowClass();
    return S_OK;
}

STDAPI DllRegisterServer() {
    return Registration([] {
        Register();
        return S_OK;
    });
}

STDAPI DllUnregisterServer() {
    return Registration([] {
        Unregister();
        return S_OK;
    });
}

}  // extern "C"
