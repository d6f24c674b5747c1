// A host that plays the 1C platform for Wedgecard.dll as a Native API component. It is compiled
// by clang for the MSVC target, without a C runtime, RTTI or exceptions, so the interfaces of
// HostSide.h are laid out as the platform's own compiler lays them out: the component's
// declarations, made for g++, are checked against these, not against themselves. It loads the
// module by path (no registration), creates the object, plays the memory manager and the
// connection, finds and calls every method, swipes a card through the system's input and lets
// go of everything. Prints one line per check; the exit status is the number of failed checks.
#include "tests/windows/native/HostSide.h"

namespace {

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
    CheckText(classNames(), L"LumMSRKBD1C|WedgecardMSR", "GetClassNames: the two classes");
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
