// A host that plays the 1C platform for Wedgecard.dll as a Native API component. It is compiled
// by clang for the MSVC target, without a C runtime, RTTI or exceptions, so the interfaces below
// are laid out as the platform's own compiler lays them out: the component's declarations, made
// for g++, are checked against these, not against themselves. It loads the module by path (no
// registration), creates the object, plays the memory manager and the connection, finds and
// calls every method, swipes a card through the system's input and lets go of everything.
// Prints one line per check; the exit status is the number of failed checks.
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
    wchar_t Data[128];
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
        Copy(event.Data, 128, Data);
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

// The eight settings of Open and DeviceTest (the test bench's defaults) and the out parameter.
struct TSettings {
    tVariant Values[9] = {};

    explicit TSettings(const wchar_t* Sensitivity = L"100", const wchar_t* Suffix2 = L"#34") {
        SetString(Values[0], Sensitivity);
        const wchar_t* codes[6] = {L"#9", L"#13", L"#33", Suffix2, L"#35", L"#36"};
        for (int i = 0; i < 6; ++i) {
            SetString(Values[i + 1], codes[i]);
        }
        SetBoolean(Values[7], false);
    }
    ~TSettings() {
        for (tVariant& value : Values) {
            Release(value);
        }
    }
};

bool IsBoolean(const tVariant& Value, bool Truth) {
    return Value.vt == VTYPE_BOOL && Value.bVal == Truth;
}

bool IsString(const tVariant& Value, const wchar_t* Text) {
    return Value.vt == VTYPE_PWSTR && Value.wstrLen == Length(Text) && Same(Value.pwstrVal, Text);
}

// ---- The driver's side, as the platform reaches it ----

enum { mGetVersion, mGetLastError, mOpen, mClose, mEventProcessed, mDeviceTest, MethodCount };

struct TMethodNames {
    const wchar_t* English;
    const wchar_t* Russian;
    const wchar_t* Mixed;
    long Parameters;
};
const TMethodNames Methods[MethodCount] = {
    {L"GetVersion", L"ПолучитьНомерВерсии", L"gETvERSION", 0},
    {L"GetLastError", L"ПолучитьОшибку", L"полУЧИТЬошибку", 1},
    {L"Open", L"Подключить", L"OPEN", 9},
    {L"Close", L"Отключить", L"оТКЛЮЧИТЬ", 1},
    {L"EventProcessed", L"СобытиеОбработано", L"eventprocessed", 2},
    {L"DeviceTest", L"ТестУстройства", L"тестустройства", 9},
};

IComponentBase* Driver;
TConnection Connection;

// The driver's last error: its code, and its text in Text.
long LastError(const wchar_t* Text) {
    tVariant description = {};
    tVariant result = {};
    Driver->CallAsFunc(mGetLastError, &result, &description, 1);
    CheckText(description.vt == VTYPE_PWSTR ? description.pwstrVal : nullptr, Text,
              "  GetLastError gives the text in its parameter");
    Release(description);
    return result.vt == VTYPE_I4 ? result.lVal : -1;
}

bool EventProcessed(const wchar_t* Source, bool Truth) {
    tVariant params[2] = {};
    SetString(params[0], Source);
    SetBoolean(params[1], Truth);
    tVariant result = {};
    Driver->CallAsFunc(mEventProcessed, &result, params, 2);
    Release(params[0]);
    return IsBoolean(result, true);
}

// Runs the thread's messages (the capture's hook and timer work on them) for a while or until
// the connection has seen Events events.
void Pump(unsigned long Milliseconds, int Events) {
    const unsigned long start = GetTickCount();
    while (GetTickCount() - start < Milliseconds && Connection.EventCount < Events) {
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

void Type(const unsigned short* Codes, int Count) {
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

void CheckExports(HANDLE Module, GetClassObjectPtr& GetClassObject, DestroyObjectPtr& Destroy) {
    auto classNames = reinterpret_cast<GetClassNamesPtr>(GetProcAddress(Module, "GetClassNames"));
    GetClassObject = reinterpret_cast<GetClassObjectPtr>(GetProcAddress(Module, "GetClassObject"));
    Destroy = reinterpret_cast<DestroyObjectPtr>(GetProcAddress(Module, "DestroyObject"));
    auto capabilities = reinterpret_cast<SetPlatformCapabilitiesPtr>(
        GetProcAddress(Module, "SetPlatformCapabilities"));
    auto attachType = reinterpret_cast<GetAttachTypePtr>(GetProcAddress(Module, "GetAttachType"));
    if (!Check(classNames && GetClassObject && Destroy && capabilities && attachType,
               "the module exports the five functions by their plain names")) {
        GetClassObject = nullptr;
        return;
    }
    CheckText(classNames(), L"LumMSRKBD1C", "GetClassNames: the one class");
    CheckNumber(capabilities(eAppCapabilities3), eAppCapabilities3,
                "SetPlatformCapabilities: the host's level 3");
    CheckNumber(capabilities(eAppCapabilities1), eAppCapabilities1,
                "SetPlatformCapabilities: the host's level 1");
    CheckNumber(capabilities(static_cast<AppCapabilities>(7)), eAppCapabilities3,
                "SetPlatformCapabilities: no more than level 3");
    CheckNumber(attachType(), eCanAttachNotIsolated, "GetAttachType: not isolated");
}

void CheckStart(GetClassObjectPtr GetClassObject) {
    IComponentBase* other = nullptr;
    CheckNumber(GetClassObject(L"Other", &other), 0, "GetClassObject refuses another class");
    CheckNumber(GetClassObject(L"LumMSRKBD1C", &Driver), 1,
                "GetClassObject: 1 for an object, not its address");
    if (!Check(Driver != nullptr, "GetClassObject hands out the object")) {
        return;
    }
    Check(Driver->setMemManager(&Memory), "setMemManager");
    Check(Driver->Init(static_cast<IAddInDefBase*>(&Connection)), "Init");
    Check(Connection.Depth > 2, "Init makes the host's event buffer deeper than one event");
    CheckNumber(Driver->GetInfo(), 2000, "GetInfo: 2000");
    Driver->SetLocale(L"ru_RU");
    Driver->SetUserInterfaceLanguageCode(L"ru");
    WCHAR_T* name = nullptr;
    Check(Driver->RegisterExtensionAs(&name), "RegisterExtensionAs");
    CheckText(name, L"LumMSRKBD1C", "RegisterExtensionAs: LumMSRKBD1C in the host's memory");
    void* block = name;
    Memory.FreeMemory(&block);
}

void CheckMembers() {
    CheckNumber(Driver->GetNProps(), 0, "no properties");
    CheckNumber(Driver->FindProp(L"Open"), -1, "FindProp finds nothing");
    CheckNumber(Driver->GetNMethods(), MethodCount, "six methods");
    bool found = true;
    bool named = true;
    bool shaped = true;
    for (long m = 0; m < MethodCount; ++m) {
        found = found && Driver->FindMethod(Methods[m].English) == m &&
                Driver->FindMethod(Methods[m].Russian) == m &&
                Driver->FindMethod(Methods[m].Mixed) == m;
        for (long alias = 0; alias < 2; ++alias) {
            const WCHAR_T* name = Driver->GetMethodName(m, alias);
            named = named && Same(name, alias == 0 ? Methods[m].English : Methods[m].Russian);
            void* block = const_cast<WCHAR_T*>(name);
            Memory.FreeMemory(&block);
        }
        tVariant none = {};
        shaped = shaped && Driver->GetNParams(m) == Methods[m].Parameters && Driver->HasRetVal(m) &&
                 !Driver->GetParamDefValue(m, 0, &none);
    }
    Check(found, "FindMethod: English and Russian names in any letter case");
    Check(named, "GetMethodName: English for alias 0, Russian for 1, in the host's memory");
    Check(shaped, "GetNParams 0 1 9 1 2 9, every method returns a value, no defaults");
    CheckNumber(Driver->FindMethod(L"Swipe"), -1, "FindMethod: -1 for a name it lacks");
    Check(Driver->GetMethodName(MethodCount, 0) == nullptr, "GetMethodName: nothing for 6");
}

bool Open(TSettings& Settings, tVariant& Result) {
    return Driver->CallAsFunc(mOpen, &Result, Settings.Values, 9);
}

void CheckCalls(wchar_t* DeviceID) {
    tVariant result = {};
    Check(
        Driver->CallAsFunc(mGetVersion, &result, nullptr, 0) && IsString(result, WEDGECARD_VERSION),
        "GetVersion: the module's version as a string");
    Release(result);
    Check(Driver->CallAsProc(mGetVersion, nullptr, 0), "GetVersion as a statement");
    CheckNumber(LastError(L"Ошибок нет"), 0, "GetLastError: 0 on a new driver");

    {
        TSettings settings(L"100", L"#65;");
        Check(Open(settings, result) && IsBoolean(result, false),
              "Open with a malformed suffix 2: the call succeeds, the result is false");
        CheckNumber(LastError(L"СуффиксДрайвера2: Неверный формат строки данных"), 6,
                    "GetLastError: 6 after it");
    }
    {
        // The sensitivity as text, read as the COM binding reads the array's elements; the
        // out parameter holds a string of the host's, which the component gives back.
        TSettings settings(L"250");
        SetString(settings.Values[8], L"old value");
        Check(Open(settings, result) && IsBoolean(result, true),
              "Open with the sensitivity \"250\" as text");
        Check(settings.Values[8].vt == VTYPE_PWSTR && settings.Values[8].wstrLen == 36,
              "Open writes the 36-character device identifier into its last parameter");
        if (settings.Values[8].vt == VTYPE_PWSTR) {
            Copy(DeviceID, 40, settings.Values[8].pwstrVal);
        }
    }
    tVariant id = {};
    SetString(id, L"not a device");
    Check(Driver->CallAsProc(mClose, &id, 1), "Close as a statement succeeds as a call");
    CheckNumber(LastError(L"Неверный идентификатор устройства"), 1,
                "Close of an unknown device: error 1");
    Release(id);

    const int events = Connection.EventCount;
    Check(!EventProcessed(DeviceID, true), "EventProcessed with no event sent: false");
    CheckNumber(LastError(L"Событие не посылалось"), 3, "GetLastError: 3 after it");
    CheckNumber(Connection.EventCount, events + 1, "and the driver reports it as an event");
    CheckText(Connection.Last().Message, L"ОшибкаВДрайвере", "  ExternalEvent: its message");
    CheckText(Connection.Last().Data, L"Событие не посылалось", "  ExternalEvent: its data");
    Check(EventProcessed(L"0", true), "acknowledging the error event");

    TSettings settings;
    const uintptr_t timer = SetTimer(nullptr, 0, 50, &OnDialogTimer);
    Check(Driver->CallAsFunc(mDeviceTest, &result, settings.Values, 9) && IsBoolean(result, true),
          "DeviceTest shows its dialog until the user closes it");
    KillTimer(nullptr, timer);
    CheckNumber(DialogsClosed, 1, "  the dialog was there");
    Check(IsString(settings.Values[8], L"Ошибок нет"),
          "DeviceTest writes its description into its last parameter");
}

void CheckSwipe(const wchar_t* DeviceID) {
    HWND window = CreateWindowExW(0, L"EDIT", L"", 0x10CF0000, 40, 40, 400, 60, nullptr, nullptr,
                                  nullptr, nullptr);
    for (int i = 0; i < 40 && GetForegroundWindow() != window; ++i) {
        SetForegroundWindow(window);
        SetFocus(window);
        Pump(25, 1 << 30);
    }
    // Tab 1234 Enter, PgUp 5678 PgDn, End 90 Home: the three tracks framed as the bench frames
    // them.
    const unsigned short keys[] = {0x09, '1', '2', '3',  '4',  0x0D, 0x21, '5',
                                   '6',  '7', '8', 0x22, 0x23, '9',  '0',  0x24};
    const int events = Connection.EventCount;
    Type(keys, sizeof keys / sizeof keys[0]);
    Pump(10000, events + 1);
    if (CheckNumber(Connection.EventCount, events + 1, "a swipe through SendInput: one event")) {
        CheckText(Connection.Last().Source, DeviceID, "  its source is the device");
        CheckText(Connection.Last().Message, L"ЧтениеКодаМагнитнойКарты", "  its message");
        CheckText(Connection.Last().Data, L"@11234@25678@390", "  its data: the three tracks");
    }
    wchar_t typed[64] = {};
    GetWindowTextW(window, typed, 64);
    CheckText(typed, L"", "no key of the card reached the window");
    DestroyWindow(window);

    Check(EventProcessed(DeviceID, true), "EventProcessed acknowledges it");
    Check(!EventProcessed(DeviceID, true), "a second acknowledgement finds nothing sent");
    Check(EventProcessed(L"0", true), "acknowledging that error event");
}

// What the host can get wrong fails the call, with a reason for the program's exception.
void CheckBadInput() {
    tVariant result = {};
    tVariant params[2] = {};
    const int errors = Connection.Errors;
    Check(!Driver->CallAsFunc(MethodCount, &result, nullptr, 0), "an unknown method number fails");
    CheckNumber(Connection.LastErrorStatus, static_cast<long>(0x80020003),
                "  AddError with the status of a member not found");
    Check(!Driver->CallAsFunc(mClose, &result, params, 0), "Close without its parameter fails");
    Check(!Driver->CallAsFunc(mClose, &result, nullptr, 1), "a null parameter array fails");
    Check(!Driver->CallAsFunc(mClose, nullptr, params, 1), "a null result fails");
    params[0].vt = VTYPE_PWSTR;
    params[0].wstrLen = 5;
    Check(!Driver->CallAsFunc(mClose, &result, params, 1), "a string without characters fails");
    params[0].vt = 0x77;
    Check(!Driver->CallAsFunc(mClose, &result, params, 1), "an unknown value type fails");
    SetString(params[0], L"0");
    params[1].vt = VTYPE_BLOB;
    Check(!Driver->CallAsFunc(mEventProcessed, &result, params, 2),
          "a flag that does not convert to a boolean fails");
    Release(params[0]);
    CheckNumber(Connection.Errors, errors + 7, "  each failure reported through AddError");
    Check(Connection.LastErrorCode == 1006 && Length(Connection.LastError) > 0,
          "  as a failure with the system's text");
    Check(Driver->FindMethod(nullptr) == -1 && Driver->GetMethodName(-1, 0) == nullptr &&
              !Driver->RegisterExtensionAs(nullptr) && !Driver->Init(nullptr) &&
              !Driver->setMemManager(nullptr),
          "null names and pointers are refused");
}

// A program that lets go of the object from inside its event handler, while the object is
// still delivering: the object must outlive the call it is in.
void CheckDestroyInHandler(GetClassObjectPtr GetClassObject, DestroyObjectPtr Destroy) {
    IComponentBase* second = nullptr;
    TConnection handler;
    handler.Destroy = Destroy;
    handler.DestroyOnEvent = &second;
    if (GetClassObject(L"LumMSRKBD1C", &second) != 1) {
        Check(false, "a second object");
        return;
    }
    second->setMemManager(&Memory);
    second->Init(static_cast<IAddInDefBase*>(&handler));
    tVariant params[2] = {};
    SetString(params[0], L"0");
    SetBoolean(params[1], true);
    tVariant result = {};
    Check(second->CallAsFunc(mEventProcessed, &result, params, 2) && IsBoolean(result, false),
          "destroyed from its event handler, the object still finishes the call");
    Release(params[0]);
    CheckNumber(handler.DestroyedFromHandler, 0, "  DestroyObject there succeeds");
    Check(second == nullptr, "  and empties the host's pointer");
}

}  // namespace

extern "C" int HostMain() {
    Heap = GetProcessHeap();
    // The build's path, with the separators LoadLibrary documents.
    wchar_t path[512] = {};
    Copy(path, 512, WEDGECARD_DRIVER_DLL);
    for (wchar_t& c : path) {
        c = c == L'/' ? L'\\' : c;
    }
    HANDLE module = LoadLibraryW(path);
    GetClassObjectPtr getClassObject = nullptr;
    DestroyObjectPtr destroy = nullptr;
    if (Check(module != nullptr, "LoadLibrary of the module, unregistered")) {
        CheckExports(module, getClassObject, destroy);
    }
    if (getClassObject != nullptr) {
        CheckStart(getClassObject);
    }
    if (Driver != nullptr) {
        wchar_t deviceID[40] = {};
        CheckMembers();
        CheckCalls(deviceID);
        CheckSwipe(deviceID);
        CheckBadInput();
        CheckDestroyInHandler(getClassObject, destroy);

        tVariant id = {};
        tVariant result = {};
        SetString(id, deviceID);
        Check(Driver->CallAsFunc(mClose, &result, &id, 1) && IsBoolean(result, true),
              "Close of the open device");
        Release(id);
        Driver->Done();
        CheckNumber(destroy(&Driver), 0, "DestroyObject");
        Check(Driver == nullptr, "  empties the host's pointer");
        CheckNumber(destroy(&Driver), -1, "DestroyObject of nothing fails");
        IComponentBase* stranger = reinterpret_cast<IComponentBase*>(&Connection);
        CheckNumber(destroy(&stranger), -1, "DestroyObject of an object not the module's fails");
    }
    CheckNumber(Memory.Count, 0, "every block of the host's memory was given back");
    CheckNumber(Memory.Foreign, 0, "nothing the host did not hand out was given back");
    Check(Memory.Allocations > 20, "the strings came from the host's memory manager");
    if (module != nullptr) {
        FreeLibrary(module);
    }
    Print(Failures == 0 ? "all checks passed\n" : "some checks FAILED\n");
    ExitProcess(static_cast<unsigned>(Failures));
    return Failures;
}
