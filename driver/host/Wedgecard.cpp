// The module: class factory, the four exports of an in-process COM server and its
// registration.
#include <windows.h>

#include <objbase.h>
#include <olectl.h>

#include <atomic>
#include <exception>
#include <string>

#include "driver/diagnostics/ModuleInfo.h"
#include "driver/host/AxView.h"
#include "driver/host/ComSupport.h"
#include "driver/host/ole1C.h"

namespace wedgecard {

std::atomic<long> ModuleUsage{0};

void SetErrorDescription(REFIID Interface, const std::wstring& Description) noexcept {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) {
        return;
    }
    create->SetGUID(Interface);
    create->SetSource(const_cast<LPOLESTR>(L"Addin.LumMSRKBD1C"));
    create->SetDescription(const_cast<LPOLESTR>(Description.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

namespace {

constexpr const wchar_t* ProgID = L"Addin.LumMSRKBD1C";
constexpr const wchar_t* Description = L"ЖУВЕРТ: Драйвер СМК";
// Invisible at run time (0x400), with what the control factory adds: 0x1, 0x10, 0x80, 0x100
// and 0x20000.
constexpr DWORD MiscStatus = 0x20591;
constexpr int ToolboxBitmap = 1;

class TClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Interface, void** Object) override {
        if (Object == nullptr) {
            return E_POINTER;
        }
        if (Interface == IID_IUnknown || Interface == IID_IClassFactory) {
            *Object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *Object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as the module; its references count as server locks.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++ModuleUsage); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--ModuleUsage); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* Outer, REFIID Interface,
                                             void** Object) override {
        if (Object == nullptr) {
            return E_POINTER;
        }
        *Object = nullptr;
        if (Outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        Tole1C* driver = nullptr;
        try {
            driver = new Tole1C();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        HRESULT status = driver->Initialize();
        if (SUCCEEDED(status)) {
            status = driver->QueryInterface(Interface, Object);
        }
        driver->Release();
        return status;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL Lock) override {
        Lock ? ++ModuleUsage : --ModuleUsage;
        return S_OK;
    }
};

TClassFactory Factory;

std::wstring GuidText(REFGUID Guid) {
    wchar_t text[40];
    StringFromGUID2(Guid, text, 40);
    return text;
}

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
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library))) {
        throw std::runtime_error("type library");
    }
    library->Release();

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
    try {
        Register();
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDAPI DllUnregisterServer() {
    try {
        Unregister();
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

}  // extern "C"
