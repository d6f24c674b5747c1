// The platform's side of the 1C Native API, for the test hosts that play it: compiled by clang
// for the MSVC target without a C runtime, RTTI or exceptions, so that the interfaces are laid
// out as the platform's own compiler lays them out. The system functions the hosts use, the
// API's declarations, output and checks, the memory manager that accounts for every block, the
// connection that records what a component reports, values as the platform passes them, and
// the thread's messages and keystrokes. For the one source file of a host: it defines things.
#pragma once
#include <stddef.h>
#include <stdint.h>

// ---- The few system functions used ----

extern "C" {
typedef void* HANDLE;
typedef void* HWND;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
struct MSG {
    HWND Window;
    unsigned Message;
    WPARAM WParam;
    LPARAM LParam;
    unsigned long Time;
    long X, Y;
    unsigned long Private;
};
struct KEYBDINPUT {
    unsigned short Key, Scan;
    unsigned long Flags, Time;
    uintptr_t Extra;
};
struct MOUSEINPUT {
    long X, Y;
    unsigned long Data, Flags, Time;
    uintptr_t Extra;
};
struct INPUT {
    unsigned long Type;
    union {
        KEYBDINPUT Keyboard;
        MOUSEINPUT Mouse;
    };
};
typedef void(__stdcall* TIMERPROC)(HWND, unsigned, uintptr_t, unsigned long);
typedef int(__stdcall* WNDENUMPROC)(HWND, LPARAM);
#define IMPORT __declspec(dllimport)
IMPORT HANDLE __stdcall GetStdHandle(unsigned long);
IMPORT int __stdcall WriteFile(HANDLE, const void*, unsigned long, unsigned long*, void*);
IMPORT void __stdcall ExitProcess(unsigned);
IMPORT HANDLE __stdcall LoadLibraryW(const wchar_t*);
IMPORT unsigned long __stdcall GetModuleFileNameW(HANDLE, wchar_t*, unsigned long);
IMPORT int __stdcall CreateDirectoryW(const wchar_t*, void*);
IMPORT int __stdcall CopyFileW(const wchar_t*, const wchar_t*, int);
IMPORT int __stdcall DeleteFileW(const wchar_t*);
IMPORT unsigned long __stdcall GetFileAttributesW(const wchar_t*);
IMPORT wchar_t* __stdcall GetCommandLineW();
IMPORT void* __stdcall GetProcAddress(HANDLE, const char*);
IMPORT int __stdcall FreeLibrary(HANDLE);
IMPORT HANDLE __stdcall GetProcessHeap();
IMPORT void* __stdcall HeapAlloc(HANDLE, unsigned long, size_t);
IMPORT int __stdcall HeapFree(HANDLE, unsigned long, void*);
IMPORT unsigned long __stdcall GetTickCount();
IMPORT void __stdcall Sleep(unsigned long);
IMPORT unsigned long __stdcall GetCurrentThreadId();
IMPORT int __stdcall WideCharToMultiByte(unsigned, unsigned long, const wchar_t*, int, char*, int,
                                         const char*, int*);
IMPORT HWND __stdcall CreateWindowExW(unsigned long, const wchar_t*, const wchar_t*, unsigned long,
                                      int, int, int, int, HWND, void*, HANDLE, void*);
IMPORT int __stdcall DestroyWindow(HWND);
IMPORT int __stdcall SetForegroundWindow(HWND);
IMPORT HWND __stdcall GetForegroundWindow();
IMPORT HWND __stdcall SetFocus(HWND);
IMPORT int __stdcall PeekMessageW(MSG*, HWND, unsigned, unsigned, unsigned);
IMPORT int __stdcall TranslateMessage(const MSG*);
IMPORT LPARAM __stdcall DispatchMessageW(const MSG*);
IMPORT unsigned __stdcall SendInput(unsigned, INPUT*, int);
IMPORT unsigned __stdcall MapVirtualKeyW(unsigned, unsigned);
IMPORT uintptr_t __stdcall SetTimer(HWND, uintptr_t, unsigned, TIMERPROC);
IMPORT int __stdcall KillTimer(HWND, uintptr_t);
IMPORT int __stdcall EnumThreadWindows(unsigned long, WNDENUMPROC, LPARAM);
IMPORT int __stdcall GetWindowTextW(HWND, wchar_t*, int);
IMPORT int __stdcall IsWindowVisible(HWND);
IMPORT int __stdcall PostMessageW(HWND, unsigned, WPARAM, LPARAM);

// What the compiler may call on its own. The process ends with ExitProcess: destructors of
// globals are not run.
int _fltused = 0;
int __cdecl atexit(void (*)()) {
    return 0;
}
int __cdecl _purecall() {
    ExitProcess(99);
    return 0;
}
void* __cdecl memset(void* Target, int Value, size_t Size) {
    for (size_t i = 0; i < Size; ++i) {
        static_cast<volatile unsigned char*>(Target)[i] = static_cast<unsigned char>(Value);
    }
    return Target;
}
void* __cdecl memcpy(void* Target, const void* Source, size_t Size) {
    for (size_t i = 0; i < Size; ++i) {
        static_cast<volatile unsigned char*>(Target)[i] =
            static_cast<const unsigned char*>(Source)[i];
    }
    return Target;
}
}
void operator delete(void*, size_t) noexcept {}
void operator delete(void*) noexcept {}

// ---- The Native API as the platform declares it ----

#define ADDIN_API __stdcall
typedef wchar_t WCHAR_T;
struct tm9 {
    int Fields[9];
};
struct GUID16 {
    unsigned char Bytes[16];
};
enum {
    VTYPE_EMPTY = 0,
    VTYPE_I4 = 3,
    VTYPE_R8 = 5,
    VTYPE_BOOL = 11,
    VTYPE_PWSTR = 22,
    VTYPE_BLOB = 23,
};

struct tVariant {
    union {
        int8_t i8Val;
        int16_t shortVal;
        int32_t lVal;
        int64_t llVal;
        uint32_t ulVal;
        double dblVal;
        bool bVal;
        double date;
        GUID16 IDVal;
        tVariant* pvarVal;
        tm9 tmVal;
        struct {
            void* pInterfaceVal;
            GUID16 InterfaceID;
        };
        struct {
            char* pstrVal;
            uint32_t strLen;
        };
        struct {
            WCHAR_T* pwstrVal;
            uint32_t wstrLen;
        };
    };
    uint32_t cbElements;
    unsigned short vt;
};
static_assert(sizeof(tVariant) == 48, "tVariant");
static_assert(offsetof(tVariant, cbElements) == 40, "tVariant element count");
static_assert(offsetof(tVariant, vt) == 44, "tVariant type");

class IMemoryManager {
public:
    virtual ~IMemoryManager() {}
    virtual bool ADDIN_API AllocMemory(void** Memory, unsigned long Bytes) = 0;
    virtual void ADDIN_API FreeMemory(void** Memory) = 0;
};

class IAddInDefBase {
public:
    virtual ~IAddInDefBase() {}
    virtual bool ADDIN_API AddError(unsigned short Code, const WCHAR_T* Source,
                                    const WCHAR_T* Description, long Status) = 0;
    virtual bool ADDIN_API Read(WCHAR_T* Name, tVariant* Value, long* Error,
                                WCHAR_T** Description) = 0;
    virtual bool ADDIN_API Write(WCHAR_T* Name, tVariant* Value) = 0;
    virtual bool ADDIN_API RegisterProfileAs(WCHAR_T* Name) = 0;
    virtual bool ADDIN_API SetEventBufferDepth(long Depth) = 0;
    virtual long ADDIN_API GetEventBufferDepth() = 0;
    virtual bool ADDIN_API ExternalEvent(WCHAR_T* Source, WCHAR_T* Message, WCHAR_T* Data) = 0;
    virtual void ADDIN_API CleanEventBuffer() = 0;
    virtual bool ADDIN_API SetStatusLine(WCHAR_T* Text) = 0;
    virtual void ADDIN_API ResetStatusLine() = 0;
};

class IInitDoneBase {
public:
    virtual ~IInitDoneBase() {}
    virtual bool ADDIN_API Init(void* Connection) = 0;
    virtual bool ADDIN_API setMemManager(void* Memory) = 0;
    virtual long ADDIN_API GetInfo() = 0;
    virtual void ADDIN_API Done() = 0;
};

class ILanguageExtenderBase {
public:
    virtual ~ILanguageExtenderBase() {}
    virtual bool ADDIN_API RegisterExtensionAs(WCHAR_T** Name) = 0;
    virtual long ADDIN_API GetNProps() = 0;
    virtual long ADDIN_API FindProp(const WCHAR_T* Name) = 0;
    virtual const WCHAR_T* ADDIN_API GetPropName(long Number, long Alias) = 0;
    virtual bool ADDIN_API GetPropVal(const long Number, tVariant* Value) = 0;
    virtual bool ADDIN_API SetPropVal(const long Number, tVariant* Value) = 0;
    virtual bool ADDIN_API IsPropReadable(const long Number) = 0;
    virtual bool ADDIN_API IsPropWritable(const long Number) = 0;
    virtual long ADDIN_API GetNMethods() = 0;
    virtual long ADDIN_API FindMethod(const WCHAR_T* Name) = 0;
    virtual const WCHAR_T* ADDIN_API GetMethodName(const long Number, const long Alias) = 0;
    virtual long ADDIN_API GetNParams(const long Number) = 0;
    virtual bool ADDIN_API GetParamDefValue(const long Number, const long Param,
                                            tVariant* Value) = 0;
    virtual bool ADDIN_API HasRetVal(const long Number) = 0;
    virtual bool ADDIN_API CallAsProc(const long Number, tVariant* Params, const long Count) = 0;
    virtual bool ADDIN_API CallAsFunc(const long Number, tVariant* Result, tVariant* Params,
                                      const long Count) = 0;
};

class LocaleBase {
public:
    virtual ~LocaleBase() {}
    virtual void ADDIN_API SetLocale(const WCHAR_T* Locale) = 0;
};

class UserLanguageBase {
public:
    virtual ~UserLanguageBase() {}
    virtual void ADDIN_API SetUserInterfaceLanguageCode(const WCHAR_T* Language) = 0;
};

class IComponentBase : public IInitDoneBase,
                       public ILanguageExtenderBase,
                       public LocaleBase,
                       public UserLanguageBase {
public:
    virtual ~IComponentBase() {}
};
static_assert(sizeof(IComponentBase) == 4 * sizeof(void*), "one table pointer per base");

enum AppCapabilities { eAppCapabilitiesInvalid = -1, eAppCapabilities1 = 1, eAppCapabilities3 = 3 };
enum AttachType { eCanAttachNotIsolated = 1, eCanAttachIsolated, eCanAttachAny };
typedef const WCHAR_T* (*GetClassNamesPtr)();
typedef long (*GetClassObjectPtr)(const WCHAR_T*, IComponentBase**);
typedef long (*DestroyObjectPtr)(IComponentBase**);
typedef AppCapabilities (*SetPlatformCapabilitiesPtr)(AppCapabilities);
typedef AttachType (*GetAttachTypePtr)();

// ---- Output and checks ----

namespace {

HANDLE Heap;
int Failures;

size_t Length(const wchar_t* Text) {
    size_t length = 0;
    while (Text != nullptr && Text[length] != 0) {
        ++length;
    }
    return length;
}

bool Same(const wchar_t* A, const wchar_t* B) {
    if (A == nullptr || B == nullptr) {
        return A == B;
    }
    while (*A != 0 && *A == *B) {
        ++A;
        ++B;
    }
    return *A == *B;
}

void Print(const char* Text) {
    unsigned long written = 0;
    size_t length = 0;
    while (Text[length] != 0) {
        ++length;
    }
    WriteFile(GetStdHandle(static_cast<unsigned long>(-11)), Text,
              static_cast<unsigned long>(length), &written, nullptr);
}

void Print(const wchar_t* Text) {
    char utf8[512];
    const int size = WideCharToMultiByte(65001, 0, Text, static_cast<int>(Length(Text)), utf8,
                                         static_cast<int>(sizeof utf8) - 1, nullptr, nullptr);
    utf8[size > 0 ? size : 0] = 0;
    Print(utf8);
}

void Print(long Number) {
    char digits[24];
    int i = sizeof digits - 1;
    digits[i] = 0;
    const bool negative = Number < 0;
    unsigned long rest =
        negative ? 0UL - static_cast<unsigned long>(Number) : static_cast<unsigned long>(Number);
    do {
        digits[--i] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (negative) {
        digits[--i] = '-';
    }
    Print(digits + i);
}

bool Check(bool Passed, const char* What) {
    Print(Passed ? "ok   " : "FAIL ");
    Print(What);
    Print("\n");
    if (!Passed) {
        ++Failures;
    }
    return Passed;
}

// A number that was not the one wanted is shown.
bool CheckNumber(long Actual, long Expected, const char* What) {
    if (Actual == Expected) {
        return Check(true, What);
    }
    Check(false, What);
    Print("     got ");
    Print(Actual);
    Print(", expected ");
    Print(Expected);
    Print("\n");
    return false;
}

bool CheckText(const wchar_t* Actual, const wchar_t* Expected, const char* What) {
    if (Same(Actual, Expected)) {
        return Check(true, What);
    }
    Check(false, What);
    Print("     got \"");
    Print(Actual != nullptr ? Actual : L"(null)");
    Print("\", expected \"");
    Print(Expected);
    Print("\"\n");
    return false;
}

// ---- The platform's side ----

// Hands out heap blocks and remembers them: at the end nothing may be left, and nothing it did
// not hand out may come back.
class TMemoryManager final : public IMemoryManager {
public:
    bool ADDIN_API AllocMemory(void** Memory, unsigned long Bytes) override {
        if (Memory == nullptr || Count == Capacity) {
            return false;
        }
        *Memory = HeapAlloc(Heap, 0, Bytes);
        if (*Memory == nullptr) {
            return false;
        }
        Blocks[Count++] = *Memory;
        ++Allocations;
        return true;
    }
    void ADDIN_API FreeMemory(void** Memory) override {
        if (Memory == nullptr) {
            return;
        }
        for (int i = 0; i < Count; ++i) {
            if (Blocks[i] == *Memory) {
                HeapFree(Heap, 0, *Memory);
                Blocks[i] = Blocks[--Count];
                *Memory = nullptr;
                return;
            }
        }
        ++Foreign;
    }

    static constexpr int Capacity = 256;
    void* Blocks[Capacity] = {};
    int Count = 0;
    int Allocations = 0;
    int Foreign = 0;
};

TMemoryManager Memory;

struct TEvent {
    wchar_t Source[64];
    wchar_t Message[64];
    wchar_t Data[256];
};

void Copy(wchar_t* Target, size_t Capacity, const wchar_t* Source) {
    size_t i = 0;
    for (; Source != nullptr && Source[i] != 0 && i + 1 < Capacity; ++i) {
        Target[i] = Source[i];
    }
    Target[i] = 0;
}

// The connection: records what the component reports; may destroy the component from inside
// the handler of its next event, as a careless program would.
class TConnection final : public IAddInDefBase {
public:
    bool ADDIN_API AddError(unsigned short Code, const WCHAR_T* /*Source*/,
                            const WCHAR_T* Description, long Status) override {
        ++Errors;
        LastErrorCode = Code;
        LastErrorStatus = Status;
        Copy(LastError, 128, Description);
        return true;
    }
    bool ADDIN_API Read(WCHAR_T*, tVariant*, long*, WCHAR_T**) override { return false; }
    bool ADDIN_API Write(WCHAR_T*, tVariant*) override { return false; }
    bool ADDIN_API RegisterProfileAs(WCHAR_T*) override { return false; }
    bool ADDIN_API SetEventBufferDepth(long Value) override {
        Depth = Value;
        return true;
    }
    long ADDIN_API GetEventBufferDepth() override { return Depth; }
    bool ADDIN_API ExternalEvent(WCHAR_T* Source, WCHAR_T* Message, WCHAR_T* Data) override {
        TEvent& event = Events[EventCount % 16];
        Copy(event.Source, 64, Source);
        Copy(event.Message, 64, Message);
        Copy(event.Data, 256, Data);
        ++EventCount;
        if (DestroyOnEvent != nullptr) {
            DestroyedFromHandler = Destroy(DestroyOnEvent);
            DestroyOnEvent = nullptr;
        }
        return true;
    }
    void ADDIN_API CleanEventBuffer() override {}
    bool ADDIN_API SetStatusLine(WCHAR_T*) override { return false; }
    void ADDIN_API ResetStatusLine() override {}

    [[nodiscard]] const TEvent& Last() const { return Events[(EventCount + 15) % 16]; }

    long Depth = 1;
    TEvent Events[16] = {};
    int EventCount = 0;
    int Errors = 0;
    unsigned short LastErrorCode = 0;
    long LastErrorStatus = 0;
    wchar_t LastError[128] = {};
    DestroyObjectPtr Destroy = nullptr;
    IComponentBase** DestroyOnEvent = nullptr;
    long DestroyedFromHandler = -1;
};

// ---- Values as the platform passes them ----

void SetString(tVariant& Value, const wchar_t* Text) {
    const size_t length = Length(Text);
    void* chars = nullptr;
    Memory.AllocMemory(&chars, static_cast<unsigned long>((length + 1) * sizeof(wchar_t)));
    Copy(static_cast<wchar_t*>(chars), length + 1, Text);
    Value.vt = VTYPE_PWSTR;
    Value.pwstrVal = static_cast<wchar_t*>(chars);
    Value.wstrLen = static_cast<uint32_t>(length);
}

void SetBoolean(tVariant& Value, bool Truth) {
    Value.vt = VTYPE_BOOL;
    Value.bVal = Truth;
}

// What the platform does with each value after a call: its strings go back to the manager.
void Release(tVariant& Value) {
    if (Value.vt == VTYPE_PWSTR && Value.pwstrVal != nullptr) {
        void* chars = Value.pwstrVal;
        Memory.FreeMemory(&chars);
    }
    Value = tVariant{};
}

[[maybe_unused]] bool IsBoolean(const tVariant& Value, bool Truth) {
    return Value.vt == VTYPE_BOOL && Value.bVal == Truth;
}

[[maybe_unused]] bool IsString(const tVariant& Value, const wchar_t* Text) {
    return Value.vt == VTYPE_PWSTR && Value.wstrLen == Length(Text) && Same(Value.pwstrVal, Text);
}

TConnection Connection;

// Runs the thread's messages (the capture's hook and timer work on them) for a while or until
// the connection has seen Events events.
void Pump(unsigned long Milliseconds, int Events, const TConnection& Watched = Connection) {
    const unsigned long start = GetTickCount();
    while (GetTickCount() - start < Milliseconds && Watched.EventCount < Events) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, 1)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
}

void Key(unsigned short Code, bool Up) {
    INPUT input = {};
    input.Type = 1;
    input.Keyboard.Key = Code;
    input.Keyboard.Scan = static_cast<unsigned short>(MapVirtualKeyW(Code, 0));
    input.Keyboard.Flags = Up ? 2 : 0;
    SendInput(1, &input, sizeof input);
}

[[maybe_unused]] void Type(const unsigned short* Codes, int Count) {
    for (int i = 0; i < Count; ++i) {
        Key(Codes[i], false);
        Key(Codes[i], true);
    }
}

// The device test dialog is modal: this timer plays the user who closes it.
int __stdcall CloseDeviceTest(HWND Window, LPARAM Closed) {
    wchar_t caption[64] = {};
    GetWindowTextW(Window, caption, 64);
    if (IsWindowVisible(Window) && Same(caption, L"Тест устройства")) {
        PostMessageW(Window, 0x0010 /* WM_CLOSE */, 0, 0);
        ++*reinterpret_cast<int*>(Closed);
    }
    return 1;
}
int DialogsClosed;
void __stdcall OnDialogTimer(HWND, unsigned, uintptr_t, unsigned long) {
    EnumThreadWindows(GetCurrentThreadId(), &CloseDeviceTest,
                      reinterpret_cast<LPARAM>(&DialogsClosed));
}

}  // namespace
