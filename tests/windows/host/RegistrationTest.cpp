// What regsvr32 leaves in the registry for this build's module, and takes out again.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "tests/windows/support/ComHost.h"

namespace wedgecard::test {
namespace {

const std::wstring ProgID = L"Addin.LumMSRKBD1C";
const std::wstring Description = L"ЖУВЕРТ: Драйвер СМК";

std::wstring GuidText(REFGUID Guid) {
    wchar_t text[40];
    StringFromGUID2(Guid, text, 40);
    return text;
}

const std::wstring ClassKey = L"CLSID\\" + GuidText(CLSID_LumMSRKBD1C);
const std::wstring LibraryKey = L"TypeLib\\" + GuidText(LIBID_WedgecardLib);
const std::wstring InterfaceKey = L"Interface\\" + GuidText(IID_ILumMSRKBD1C);

bool KeyExists(const std::wstring& Key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

// A text value of HKEY_CLASSES_ROOT\Key, the default one unless Name is given; none when the
// key or the value is missing or holds no text.
std::optional<std::wstring> TextValue(const std::wstring& Key, const wchar_t* Name = nullptr) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    const LONG status =
        RegQueryValueExW(handle, Name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return std::nullopt;
    }
    return std::wstring(value);
}

std::wstring Lower(std::wstring Text) {
    CharLowerBuffW(Text.data(), static_cast<DWORD>(Text.size()));
    return Text;
}

const std::wstring DriverPath = WindowsPath(WEDGECARD_DRIVER_DLL);

TEST(Registration, LeadsFromTheProgIDToTheClassAndItsModule) {
    TComApartment apartment;
    EXPECT_EQ(TextValue(ProgID + L"\\CLSID"), GuidText(CLSID_LumMSRKBD1C));
    CLSID found{};
    ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(ProgID.c_str(), &found));
    EXPECT_EQ(GuidText(found), GuidText(CLSID_LumMSRKBD1C));

    EXPECT_EQ(TextValue(ClassKey), Description);
    EXPECT_EQ(TextValue(ClassKey + L"\\ProgID"), ProgID);
    const std::optional<std::wstring> server = TextValue(ClassKey + L"\\InprocServer32");
    ASSERT_TRUE(server.has_value());
    EXPECT_EQ(Lower(*server), Lower(DriverPath));
    EXPECT_EQ(TextValue(ClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(TextValue(ClassKey + L"\\TypeLib"), GuidText(LIBID_WedgecardLib));
    EXPECT_EQ(TextValue(ClassKey + L"\\Version"), L"1.0");
}

TEST(Registration, DeclaresTheClassAControlInvisibleAtRunTime) {
    EXPECT_EQ(TextValue(ClassKey + L"\\MiscStatus"), L"0");
    EXPECT_EQ(TextValue(ClassKey + L"\\MiscStatus\\1"), L"132497");
    const std::optional<std::wstring> bitmap = TextValue(ClassKey + L"\\ToolboxBitmap32");
    ASSERT_TRUE(bitmap.has_value());
    EXPECT_EQ(Lower(*bitmap), Lower(DriverPath + L",1"));
    EXPECT_TRUE(KeyExists(ClassKey + L"\\Control"));
    EXPECT_EQ(TextValue(ClassKey + L"\\Verb\\0"), L"Properties,0,2");
}

TEST(Registration, RegistersTheTypeLibraryEmbeddedInTheModule) {
    TComApartment apartment;
    EXPECT_TRUE(KeyExists(LibraryKey + L"\\1.0"));
    EXPECT_EQ(TextValue(InterfaceKey + L"\\TypeLib"), GuidText(LIBID_WedgecardLib));
    ComPtr<ITypeLib> library;
    ASSERT_HRESULT_SUCCEEDED(
        LoadRegTypeLib(LIBID_WedgecardLib, 1, 0, 0x0409, library.GetAddressOf()));
    BSTR help = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetDocumentation(-1, nullptr, &help, nullptr, nullptr));
    EXPECT_EQ(TakeString(help), Description);
}

// Runs regsvr32 silently with Options on this build's module; its exit code. It is the regsvr32
// of this program's bitness (SysWOW64's for a 32-bit one), as the module needs.
DWORD RunRegsvr32(const std::wstring& Options) {
    std::wstring command = L"regsvr32.exe " + Options + L" \"" + DriverPath + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return static_cast<DWORD>(-1);
    }
    DWORD code = static_cast<DWORD>(-2);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// Run last, after every test that needs the registration; registers the module again at the
// end, so that the prefix is left as the run found it.
TEST(Unregistration, RemovesEveryKeyTheRegistrationWrote) {
    TComApartment apartment;
    ASSERT_TRUE(KeyExists(ClassKey)) << "the module is not registered to begin with";
    ASSERT_EQ(RunRegsvr32(L"/u /s"), 0u);

    EXPECT_FALSE(KeyExists(ProgID));
    EXPECT_FALSE(KeyExists(ClassKey));
    EXPECT_FALSE(KeyExists(LibraryKey));
    EXPECT_FALSE(KeyExists(InterfaceKey));
    CLSID found{};
    EXPECT_TRUE(FAILED(CLSIDFromProgID(ProgID.c_str(), &found)));

    ASSERT_EQ(RunRegsvr32(L"/s"), 0u);
    EXPECT_EQ(TextValue(ProgID + L"\\CLSID"), GuidText(CLSID_LumMSRKBD1C));
}

}  // namespace
}  // namespace wedgecard::test
