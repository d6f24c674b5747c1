#include <windows.h>

#include "driver/diagnostics/ModuleInfo.h"

// The linker's symbol for the start of the image this code is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace wedgecard {

void* ThisModule() noexcept {
    return &__ImageBase;
}

TFileVersion GetFileVersion() {
    const auto module = static_cast<HMODULE>(ThisModule());
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
    if (resource == nullptr) {
        return {};
    }
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) {
        return {};
    }
    const TFileVersion version =
        ParseFileVersion(LockResource(loaded), SizeofResource(module, resource));
    FreeResource(loaded);
    return version;
}

std::string GetFileVersionText() {
    return FormatFileVersion(GetFileVersion());
}

std::string GetModulePath() {
    char path[262];
    const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(ThisModule()), path, sizeof path);
    return std::string(path, length);
}

std::wstring GetModulePathWide() {
    wchar_t path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(ThisModule()), path, MAX_PATH + 1);
    return std::wstring(path, length);
}

}  // namespace wedgecard
