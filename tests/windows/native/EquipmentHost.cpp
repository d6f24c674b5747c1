// A host that plays 1C's equipment library for the class WedgecardMSR of Wedgecard.dll, as the
// library reaches a driver added from a file: the object made from the progid after its first
// dot, every method called by its Russian name, the description, the settings form and the
// actions read as XML, the settings form filled from the driver's own parameters (their
// defaults, then an administrator's changes, each value typed as declared), the device test
// before any device is connected, the connect sequence (EquipmentType, exactly the declared
// parameters, Подключить) for two devices of different framing on one object, real swipes
// through the system's input whose events it takes as the library does (СокрЛП) and matches
// against a magnetic card template, and what a careless program does. The module is copied
// first, under the name the ZIP gives it, into a folder whose name holds "&" and a quote, which
// its log path in the XML must survive; the module is the build's, or the one given on the
// command line. Prints one line per check; the exit status is the number of failed checks.
#include "tests/windows/native/HostSide.h"

namespace {

// ---- Text ----

const wchar_t* Find(const wchar_t* Text, wchar_t Character) {
    for (; Text != nullptr && *Text != 0; ++Text) {
        if (*Text == Character) {
            return Text;
        }
    }
    return nullptr;
}

bool StartsWith(const wchar_t* Text, const wchar_t* Start) {
    while (*Start != 0 && *Text == *Start) {
        ++Text;
        ++Start;
    }
    return *Start == 0;
}

bool Contains(const wchar_t* Text, const wchar_t* Part) {
    for (; Text != nullptr && *Text != 0; ++Text) {
        if (StartsWith(Text, Part)) {
            return true;
        }
    }
    return false;
}

void Append(wchar_t* Target, size_t Capacity, const wchar_t* Tail) {
    const size_t length = Length(Target);
    Copy(Target + length, Capacity - length, Tail);
}

// ---- XML, read as strictly as the library's reader ----

struct TXmlAttribute {
    wchar_t Name[32];
    wchar_t Value[1024];
};
struct TXmlElement {
    wchar_t Name[32];
    int Depth;
    int AttributeCount;
    TXmlAttribute Attributes[12];
};
struct TXmlDocument {
    int Count;
    TXmlElement Elements[32];
};

bool IsSpace(wchar_t C) {
    return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

bool ReadName(const wchar_t*& P, wchar_t* Name, size_t Capacity) {
    size_t length = 0;
    while ((*P >= 'A' && *P <= 'Z') || (*P >= 'a' && *P <= 'z') || (*P >= '0' && *P <= '9') ||
           *P == '_' || *P == '-' || *P == '.') {
        if (length + 1 == Capacity) {
            return false;
        }
        Name[length++] = *P++;
    }
    Name[length] = 0;
    return length > 0;
}

// One quoted attribute value with its references resolved; false for a "<", an unknown
// reference or a missing quote.
bool ReadValue(const wchar_t*& P, wchar_t* Value, size_t Capacity) {
    const wchar_t quote = *P++;
    if (quote != '"' && quote != '\'') {
        return false;
    }
    size_t length = 0;
    for (; *P != quote; ++P) {
        if (*P == 0 || *P == '<' || length + 1 == Capacity) {
            return false;
        }
        wchar_t c = *P;
        if (c == '&') {
            static const struct {
                const wchar_t* Name;
                wchar_t Character;
            } entities[] = {{L"&amp;", '&'},
                            {L"&lt;", '<'},
                            {L"&gt;", '>'},
                            {L"&quot;", '"'},
                            {L"&apos;", '\''}};
            bool known = false;
            for (const auto& entity : entities) {
                if (StartsWith(P, entity.Name)) {
                    c = entity.Character;
                    P += Length(entity.Name) - 1;
                    known = true;
                }
            }
            if (!known && P[1] == '#') {
                unsigned code = 0;
                const wchar_t* digit = P + 2;
                for (; *digit >= '0' && *digit <= '9'; ++digit) {
                    code = code * 10 + static_cast<unsigned>(*digit - '0');
                }
                known = *digit == ';' && digit > P + 2 && code < 0x10000;
                c = static_cast<wchar_t>(code);
                P = digit;
            }
            if (!known) {
                return false;
            }
        }
        Value[length++] = c;
    }
    ++P;
    Value[length] = 0;
    return true;
}

// Text as a document of elements without text content: one root, every element closed in
// order, attributes quoted and named once. False for anything else.
bool ParseXml(const wchar_t* Text, TXmlDocument& Document) {
    Document.Count = 0;
    if (Text == nullptr) {
        return false;
    }
    const wchar_t* p = Text;
    if (StartsWith(p, L"<?xml")) {
        while (*p != 0 && !StartsWith(p, L"?>")) {
            ++p;
        }
        if (*p == 0) {
            return false;
        }
        p += 2;
    }
    int open[8];
    int depth = 0;
    int roots = 0;
    while (true) {
        while (IsSpace(*p)) {
            ++p;
        }
        if (*p == 0) {
            break;
        }
        if (*p++ != '<') {
            return false;
        }
        wchar_t name[32];
        if (*p == '/') {
            ++p;
            if (depth == 0 || !ReadName(p, name, 32) ||
                !Same(name, Document.Elements[open[depth - 1]].Name)) {
                return false;
            }
            while (IsSpace(*p)) {
                ++p;
            }
            if (*p++ != '>') {
                return false;
            }
            --depth;
            continue;
        }
        if ((depth == 0 && ++roots > 1) || Document.Count == 32 || depth == 8) {
            return false;
        }
        TXmlElement& element = Document.Elements[Document.Count];
        element.Depth = depth;
        element.AttributeCount = 0;
        if (!ReadName(p, element.Name, 32)) {
            return false;
        }
        while (true) {
            const bool spaced = IsSpace(*p);
            while (IsSpace(*p)) {
                ++p;
            }
            if (StartsWith(p, L"/>")) {
                p += 2;
                ++Document.Count;
                break;
            }
            if (*p == '>') {
                ++p;
                open[depth++] = Document.Count++;
                break;
            }
            if (!spaced || element.AttributeCount == 12) {
                return false;
            }
            TXmlAttribute& attribute = element.Attributes[element.AttributeCount];
            if (!ReadName(p, attribute.Name, 32)) {
                return false;
            }
            for (int a = 0; a < element.AttributeCount; ++a) {
                if (Same(element.Attributes[a].Name, attribute.Name)) {
                    return false;
                }
            }
            while (IsSpace(*p)) {
                ++p;
            }
            if (*p++ != '=') {
                return false;
            }
            while (IsSpace(*p)) {
                ++p;
            }
            if (!ReadValue(p, attribute.Value, 1024)) {
                return false;
            }
            ++element.AttributeCount;
        }
    }
    return depth == 0 && roots == 1;
}

// The Index-th element of that name; null when there are fewer.
const TXmlElement* Element(const TXmlDocument& Document, const wchar_t* Name, int Index = 0) {
    for (int i = 0; i < Document.Count; ++i) {
        if (Same(Document.Elements[i].Name, Name) && Index-- == 0) {
            return &Document.Elements[i];
        }
    }
    return nullptr;
}

// Null when the element or the attribute is missing.
const wchar_t* Attribute(const TXmlElement* Element, const wchar_t* Name) {
    for (int a = 0; Element != nullptr && a < Element->AttributeCount; ++a) {
        if (Same(Element->Attributes[a].Name, Name)) {
            return Element->Attributes[a].Value;
        }
    }
    return nullptr;
}

TXmlDocument Xml;

// ---- The library's side ----

struct TMethod {
    const wchar_t* Russian;
    const wchar_t* English;
    long Parameters;
};
const TMethod Methods[] = {
    {L"ПолучитьРевизиюИнтерфейса", L"GetInterfaceRevision", 0},
    {L"ПолучитьОписание", L"GetDescription", 1},
    {L"ПолучитьПараметры", L"GetParameters", 1},
    {L"УстановитьПараметр", L"SetParameter", 2},
    {L"Подключить", L"Open", 1},
    {L"Отключить", L"Close", 1},
    {L"ТестУстройства", L"DeviceTest", 2},
    {L"ПолучитьДополнительныеДействия", L"GetAdditionalActions", 1},
    {L"ВыполнитьДополнительноеДействие", L"DoAdditionalAction", 1},
    {L"ПолучитьОшибку", L"GetLastError", 1},
    {L"ПолучитьНомерВерсии", L"GetVersionNumber", 0},
};
constexpr long MethodCount = sizeof Methods / sizeof Methods[0];

IComponentBase* Reader;

// A method called by its Russian name, as the library calls them, for its result; the result's
// type is "none" when the call itself failed.
tVariant Call(IComponentBase* Object, const wchar_t* Russian, tVariant* Params, long Count) {
    tVariant result = {};
    if (!Object->CallAsFunc(Object->FindMethod(Russian), &result, Params, Count)) {
        result.vt = 0xFFFF;
    }
    return result;
}

bool IsTrue(const tVariant& Result) {
    return Result.vt == VTYPE_BOOL && Result.bVal;
}

// A method whose first parameter receives text (the library passes an empty string): its
// boolean result, and the text copied into Text.
bool CallForText(const wchar_t* Russian, wchar_t* Text, size_t Capacity) {
    tVariant text = {};
    SetString(text, L"");
    const bool result = IsTrue(Call(Reader, Russian, &text, 1));
    Copy(Text, Capacity, text.vt == VTYPE_PWSTR ? text.pwstrVal : L"(not a string)");
    Release(text);
    return result;
}

// The last error's code, its text in Text.
long LastError(wchar_t* Text = nullptr) {
    wchar_t text[256];
    tVariant description = {};
    SetString(description, L"");
    const tVariant code = Call(Reader, L"ПолучитьОшибку", &description, 1);
    Copy(text, 256, description.vt == VTYPE_PWSTR ? description.pwstrVal : L"");
    Release(description);
    if (Text != nullptr) {
        Copy(Text, 256, text);
    }
    return code.vt == VTYPE_I4 ? code.lVal : -1;
}

bool SetParameter(IComponentBase* Object, const wchar_t* Name, const tVariant& Value) {
    tVariant params[2] = {};
    SetString(params[0], Name);
    params[1] = Value;
    const bool set = IsTrue(Call(Object, L"УстановитьПараметр", params, 2));
    Release(params[0]);
    Release(params[1]);
    return set;
}

tVariant Number(double Value) {
    tVariant number = {};
    number.vt = VTYPE_R8;
    number.dblVal = Value;
    return number;
}

tVariant String(const wchar_t* Value) {
    tVariant text = {};
    SetString(text, Value);
    return text;
}

// A number as the form holds it: digits, a sign, a decimal point.
double ParseNumber(const wchar_t* Text) {
    const bool negative = *Text == '-';
    double value = 0;
    double scale = 0;
    for (const wchar_t* c = Text + (negative ? 1 : 0); *c != 0; ++c) {
        if (*c == '.') {
            scale = 1;
        } else {
            value = value * 10 + (*c - '0');
            scale *= 10;
        }
    }
    value = scale > 0 ? value / scale : value;
    return negative ? -value : value;
}

// The library's settings form of one device: each parameter the driver declared, with its type
// and the value the administrator left in it.
struct TField {
    wchar_t Name[32];
    wchar_t Type[16];
    wchar_t Value[64];
};
struct TForm {
    int Count;
    TField Fields[24];
};

// The form as the library builds it from ПолучитьПараметры: every parameter at its default.
bool ReadForm(TForm& Form) {
    static wchar_t text[16384];
    Form.Count = 0;
    if (!CallForText(L"ПолучитьПараметры", text, 16384) || !ParseXml(text, Xml)) {
        return false;
    }
    for (int i = 0; const TXmlElement* parameter = Element(Xml, L"Parameter", i); ++i) {
        TField& field = Form.Fields[Form.Count++];
        Copy(field.Name, 32, Attribute(parameter, L"Name"));
        Copy(field.Type, 16, Attribute(parameter, L"TypeValue"));
        Copy(field.Value, 64, Attribute(parameter, L"DefaultValue"));
    }
    return Form.Count > 0;
}

// An administrator's change in the form.
TForm Changed(TForm Form, const wchar_t* Name, const wchar_t* Value) {
    bool found = false;
    for (int i = 0; i < Form.Count; ++i) {
        if (Same(Form.Fields[i].Name, Name)) {
            Copy(Form.Fields[i].Value, 64, Value);
            found = true;
        }
    }
    if (!found) {
        Print("     the form has no field ");
        Print(Name);
        Print("\n");
        ++Failures;
    }
    return Form;
}

// A field's value typed as the driver declared it.
tVariant Typed(const TField& Field) {
    tVariant value = {};
    if (Same(Field.Type, L"Number")) {
        value = Number(ParseNumber(Field.Value));
    } else if (Same(Field.Type, L"Boolean")) {
        SetBoolean(value, Same(Field.Value, L"true"));
    } else {
        SetString(value, Field.Value);
    }
    return value;
}

// What the library sends before Подключить or ТестУстройства: the equipment type, then each
// field of the form. True when every parameter was accepted.
bool SendSettings(IComponentBase* Object, const TForm& Form) {
    bool set = SetParameter(Object, L"EquipmentType", String(L"СчитывательМагнитныхКарт"));
    for (int i = 0; i < Form.Count; ++i) {
        set = SetParameter(Object, Form.Fields[i].Name, Typed(Form.Fields[i])) && set;
    }
    return set;
}

// The connect sequence: the settings, then Подключить; ID receives the device's.
bool Connect(IComponentBase* Object, const TForm& Form, wchar_t* ID) {
    const bool set = SendSettings(Object, Form);
    tVariant id = {};
    SetString(id, L"");
    const bool opened = IsTrue(Call(Object, L"Подключить", &id, 1));
    Copy(ID, 64, id.vt == VTYPE_PWSTR ? id.pwstrVal : L"");
    Release(id);
    return set && opened;
}

bool Disconnect(const wchar_t* ID) {
    tVariant id = String(ID);
    const bool closed = IsTrue(Call(Reader, L"Отключить", &id, 1));
    Release(id);
    return closed;
}

// Characters as a reader types them on the US layout, Shift pressed around the shifted ones.
void TypeText(const wchar_t* Characters) {
    for (const wchar_t* c = Characters; *c != 0; ++c) {
        unsigned short key = *c;
        bool shift = *c >= 'A' && *c <= 'Z';
        switch (*c) {
            case '%':
                key = '5';
                shift = true;
                break;
            case '^':
                key = '6';
                shift = true;
                break;
            case '?':
                key = 0xBF;
                shift = true;
                break;
            case '/':
                key = 0xBF;
                break;
            case ';':
                key = 0xBA;
                break;
            case '=':
                key = 0xBB;
                break;
            case '\r':
                key = 0x0D;
                break;
            default:
                break;
        }
        if (shift) {
            Key(0x10, false);
        }
        Key(key, false);
        Key(key, true);
        if (shift) {
            Key(0x10, true);
        }
    }
}

HWND Window;

// Pumps until the window shows Expected, for at most a few seconds.
bool WindowShows(const wchar_t* Expected) {
    wchar_t text[64] = {};
    for (int i = 0; i < 200; ++i) {
        GetWindowTextW(Window, text, 64);
        if (Same(text, Expected)) {
            return true;
        }
        Pump(25, 1 << 30);
    }
    Print("     the window shows \"");
    Print(text);
    Print("\"\n");
    return false;
}

// The event of the device ID among the last Count events; null when it has none.
const TEvent* EventOf(const wchar_t* ID, int Count) {
    for (int i = 1; i <= Count && i <= Connection.EventCount; ++i) {
        const TEvent& event = Connection.Events[(Connection.EventCount - i) % 16];
        if (Same(event.Source, ID)) {
            return &event;
        }
    }
    return nullptr;
}

// The card's code as the library takes it from the event's data: СокрЛП.
void CardCode(const wchar_t* Data, wchar_t* Code, size_t Capacity) {
    while (IsSpace(*Data)) {
        ++Data;
    }
    Copy(Code, Capacity, Data);
    for (size_t i = Length(Code); i > 0 && IsSpace(Code[i - 1]); --i) {
        Code[i - 1] = 0;
    }
}

// The card's event of the device ID is TracksData, and its code is Expected.
void CheckCard(const wchar_t* ID, int Events, const wchar_t* Expected, const char* What) {
    const TEvent* event = EventOf(ID, Events);
    if (!Check(event != nullptr, What)) {
        return;
    }
    CheckText(event->Message, L"TracksData", "  its message");
    wchar_t code[256];
    CardCode(event->Data, code, 256);
    CheckText(code, Expected, "  the card's code, as the library trims it");
}

// A magnetic card template of the configuration: the code's prefix, suffix and length.
bool MatchesTemplate(const wchar_t* Code, wchar_t Prefix, wchar_t Suffix, size_t Size) {
    const size_t length = Length(Code);
    return length == Size && Code[0] == Prefix && Code[length - 1] == Suffix;
}

// ---- The checks ----

void CheckStart(HANDLE Module, GetClassObjectPtr& GetClassObject, DestroyObjectPtr& Destroy) {
    auto classNames = reinterpret_cast<GetClassNamesPtr>(GetProcAddress(Module, "GetClassNames"));
    GetClassObject = reinterpret_cast<GetClassObjectPtr>(GetProcAddress(Module, "GetClassObject"));
    Destroy = reinterpret_cast<DestroyObjectPtr>(GetProcAddress(Module, "DestroyObject"));
    if (!Check(classNames && GetClassObject && Destroy, "the module's exports")) {
        GetClassObject = nullptr;
        return;
    }
    CheckText(classNames(), L"LumMSRKBD1C|WedgecardMSR", "GetClassNames lists both classes");
    // The library makes the object named by the progid after its first dot.
    const wchar_t* name = Find(L"AddIn.WedgecardMSR", '.') + 1;
    CheckNumber(GetClassObject(name, &Reader), 1, "GetClassObject(WedgecardMSR)");
    if (!Check(Reader != nullptr, "  hands out the object")) {
        return;
    }
    Check(Reader->setMemManager(&Memory) && Reader->Init(static_cast<IAddInDefBase*>(&Connection)),
          "setMemManager and Init");
    Check(Connection.Depth > 16, "Init makes the host's event buffer deep: no card is dropped");
    WCHAR_T* extension = nullptr;
    Check(Reader->RegisterExtensionAs(&extension), "RegisterExtensionAs");
    CheckText(extension, L"WedgecardMSR", "  WedgecardMSR, in the host's memory");
    void* block = extension;
    Memory.FreeMemory(&block);

    bool found = Reader->GetNMethods() == MethodCount && Reader->GetNProps() == 0;
    bool shaped = true;
    for (long m = 0; m < MethodCount; ++m) {
        wchar_t upper[64] = {};
        Copy(upper, 64, Methods[m].English);
        for (wchar_t& c : upper) {
            c = c >= 'a' && c <= 'z' ? static_cast<wchar_t>(c - 32) : c;
        }
        found = found && Reader->FindMethod(Methods[m].Russian) == m &&
                Reader->FindMethod(Methods[m].English) == m && Reader->FindMethod(upper) == m;
        const WCHAR_T* russian = Reader->GetMethodName(m, 1);
        shaped = shaped && Same(russian, Methods[m].Russian) &&
                 Reader->GetNParams(m) == Methods[m].Parameters && Reader->HasRetVal(m);
        void* name = const_cast<WCHAR_T*>(russian);
        Memory.FreeMemory(&name);
    }
    Check(found, "eleven methods, found by Russian and English names in any letter case");
    Check(shaped, "  their Russian names and parameter counts");
}

// The settings form: the revision, the description, the parameters, the actions.
void CheckSettingsForm(const wchar_t* LogPath) {
    const tVariant revision = Call(Reader, L"ПолучитьРевизиюИнтерфейса", nullptr, 0);
    CheckNumber(revision.vt == VTYPE_I4 ? revision.lVal : -1, 3004, "the interface revision 3.4");

    static wchar_t text[4096];
    Check(CallForText(L"ПолучитьОписание", text, 4096), "ПолучитьОписание");
    if (Check(ParseXml(text, Xml) && Xml.Count == 1, "  one well-formed element")) {
        const TXmlElement* root = &Xml.Elements[0];
        CheckText(Attribute(root, L"EquipmentType"), L"СчитывательМагнитныхКарт",
                  "  EquipmentType");
        CheckText(Attribute(root, L"DriverVersion"), WEDGECARD_VERSION,
                  "  DriverVersion: the module's");
        CheckText(Attribute(root, L"IntegrationComponentVersion"), WEDGECARD_VERSION,
                  "  IntegrationComponentVersion");
        CheckText(Attribute(root, L"LogPath"), LogPath, "  LogPath, its & and ' escaped");
        CheckText(Attribute(root, L"DownloadURL"), L"", "  DownloadURL empty");
        bool named = Attribute(root, L"Name") != nullptr && Attribute(root, L"Description");
        const wchar_t* const flags[] = {L"IntegrationComponent", L"MainDriverInstalled",
                                        L"LogIsEnabled", L"LocalizationSupported", L"IsEmulator"};
        for (const wchar_t* flag : flags) {
            const wchar_t* value = Attribute(root, flag);
            named = named && (Same(value, L"true") || Same(value, L"false"));
        }
        Check(named, "  Name, Description and the flags as true or false");
        CheckText(Attribute(root, L"IsEmulator"), L"false", "  no emulator");
        Check(Same(Attribute(root, L"IntegrationComponent"), L"false") &&
                  Same(Attribute(root, L"MainDriverInstalled"), L"true"),
              "  no integration component to install, the driver installed");
    } else {
        Print(text);
    }

    // The form the library builds: the driver's parameters, each of its type, at its default.
    static const wchar_t* const declared[][3] = {
        {L"Sensitivity", L"Number", L"100"}, {L"CardSuffix", L"String", L"#13"},
        {L"Track1", L"Boolean", L"true"},    {L"Track1Prefix", L"String", L"%"},
        {L"Track1Suffix", L"String", L"?"},  {L"Track2", L"Boolean", L"true"},
        {L"Track2Prefix", L"String", L";"},  {L"Track2Suffix", L"String", L"?"},
        {L"Track3", L"Boolean", L"false"},   {L"Track3Prefix", L"String", L";"},
        {L"Track3Suffix", L"String", L"?"},  {L"LogEnabled", L"Boolean", L"false"},
    };
    constexpr int declaredCount = sizeof declared / sizeof declared[0];
    TForm form;
    if (Check(ReadForm(form) && Same(Xml.Elements[0].Name, L"Settings") && Element(Xml, L"Page") &&
                  Element(Xml, L"Group", 2),
              "ПолучитьПараметры: Settings, a Page, groups of parameters")) {
        bool same = form.Count == declaredCount;
        for (int i = 0; same && i < declaredCount; ++i) {
            same = Same(form.Fields[i].Name, declared[i][0]) &&
                   Same(form.Fields[i].Type, declared[i][1]) &&
                   Same(form.Fields[i].Value, declared[i][2]);
            const TXmlElement* parameter = Element(Xml, L"Parameter", i);
            same = same && Attribute(parameter, L"Caption") &&
                   Attribute(parameter, L"Description") && Attribute(parameter, L"ReadOnly");
        }
        Check(same, "  the twelve parameters, their types and defaults, captioned and described");
        Check(Contains(Attribute(Element(Xml, L"Parameter", declaredCount - 1), L"Description"),
                       LogPath),
              "  LogEnabled's description names the log");
    }
    const tVariant version = Call(Reader, L"ПолучитьНомерВерсии", nullptr, 0);
    CheckText(version.vt == VTYPE_PWSTR ? version.pwstrVal : nullptr, WEDGECARD_VERSION,
              "ПолучитьНомерВерсии: the module's version");
    tVariant held = version;
    Release(held);

    Check(CallForText(L"ПолучитьДополнительныеДействия", text, 4096) && ParseXml(text, Xml) &&
              Xml.Count == 1 && Same(Xml.Elements[0].Name, L"Actions"),
          "ПолучитьДополнительныеДействия: an empty Actions");
    tVariant action = String(L"Обновить");
    Check(!IsTrue(Call(Reader, L"ВыполнитьДополнительноеДействие", &action, 1)),
          "ВыполнитьДополнительноеДействие of an unknown action: false");
    Release(action);
    CheckNumber(LastError(text), 255, "  with error 255");
    Check(StartsWith(text, L"Неизвестное дополнительное действие"), "  naming it unknown");
}

TForm Defaults;

// ТестУстройства, with what the form holds after the device test's settings; the result text in
// Text.
bool DeviceTest(const TForm& Form, wchar_t* Text, size_t Capacity, bool* DemoBlank = nullptr) {
    SendSettings(Reader, Form);
    tVariant params[2] = {};
    SetString(params[0], L"");
    // What the library passes for the demo flag before it reads it.
    SetString(params[1], L"");
    const uintptr_t timer = SetTimer(nullptr, 0, 50, &OnDialogTimer);
    const bool tested = IsTrue(Call(Reader, L"ТестУстройства", params, 2));
    KillTimer(nullptr, timer);
    Copy(Text, Capacity, params[0].vt == VTYPE_PWSTR ? params[0].pwstrVal : L"");
    if (DemoBlank != nullptr) {
        // The library shows its demo panel for any flag whose text is not blank.
        *DemoBlank = IsString(params[1], L"");
    }
    Release(params[0]);
    Release(params[1]);
    return tested;
}

// ТестУстройства after the settings and without Подключить: it checks them first.
void CheckDeviceTest() {
    Check(ReadForm(Defaults), "the settings form, read");
    Check(SetParameter(Reader, L"СовсемДругой", Number(1)),
          "УстановитьПараметр of an unknown name");
    wchar_t text[1024];
    bool demoBlank = false;
    Check(DeviceTest(Defaults, text, 1024, &demoBlank),
          "ТестУстройства on the defaults shows its dialog until the user closes it");
    CheckNumber(DialogsClosed, 1, "  the dialog was there");
    Check(Contains(text, L"«%»") && Contains(text, L"Enter") && Contains(text, L"Дорожка 3"),
          "  its text tells what the framing means");
    Check(demoBlank, "  the demo flag is an empty string: no demo panel");

    // Settings that frame no card: the test says which parameter, and shows no dialog.
    struct TBad {
        const wchar_t* Name;
        const wchar_t* Value;
        const wchar_t* Start;
    };
    const TBad bad[] = {
        {L"Track1Prefix", L"#", L"Параметр \"Track1Prefix\": после «#»"},
        {L"CardSuffix", L"Ж", L"Параметр \"CardSuffix\": символ с кодом 1046"},
        {L"Track2Suffix", L"", L"Параметр \"Track2Suffix\": не задан"},
        {L"Sensitivity", L"100.5", L"Параметр \"Sensitivity\": пауза задаётся целым"},
        {L"Sensitivity", L"-1", L"Параметр \"Sensitivity\": пауза не может"},
    };
    for (const TBad& setting : bad) {
        const bool refused =
            !DeviceTest(Changed(Defaults, setting.Name, setting.Value), text, 1024);
        if (!Check(refused && StartsWith(text, setting.Start) && LastError() == 6,
                   "  a bad setting: ТестУстройства fails with error 6, naming it")) {
            Print("     ");
            Print(text);
            Print("\n");
        }
    }
    TForm noTrack = Changed(Changed(Defaults, L"Track1", L"false"), L"Track2", L"false");
    Check(!DeviceTest(noTrack, text, 1024) && StartsWith(text, L"Не выбрана ни одна дорожка"),
          "  and no track chosen");
    CheckNumber(DialogsClosed, 1, "  (no second dialog)");

    // A value of the wrong type fails where it is set, and the device is not connected with the
    // value before it until a good one comes.
    SendSettings(Reader, Defaults);
    Check(!SetParameter(Reader, L"Track1", String(L"true")) && LastError() == 6,
          "a Boolean sent as text: УстановитьПараметр fails with error 6");
    tVariant id = {};
    SetString(id, L"");
    Check(!IsTrue(Call(Reader, L"Подключить", &id, 1)) && LastError() == 6,
          "  nor does Подключить connect with the value before it");
    Release(id);
    tVariant integer = {};
    integer.vt = VTYPE_I4;
    integer.lVal = 100;
    Check(SetParameter(Reader, L"Sensitivity", integer) && SendSettings(Reader, Defaults),
          "  an integer for a Number is accepted, as is the good value");
}

const wchar_t* const Track1 = L"%B4000123456789^TEST/CARD^25121010000?";
const wchar_t* const Track2 = L";4000123456789=25121010000?";

// Two devices on one object: an ISO reader on the form's defaults (tracks 1 and 2, Enter after
// the card) and a discount-card reader of track 2 only that sends nothing after it; typing
// before and after each swipe reaches the window, and no key of a card.
void CheckSwipes(const wchar_t* LogPath) {
    // The log: off until a device is connected with it on, whatever was called before.
    Check(GetFileAttributesW(LogPath) == 0xFFFFFFFF,
          "no log from the object, the form, the device tests or the refused settings");
    wchar_t iso[64];
    wchar_t discount[64];
    Check(Connect(Reader, Defaults, iso) && Length(iso) == 36,
          "the library's sequence on the defaults connects a device");
    const TForm discountForm =
        Changed(Changed(Changed(Defaults, L"Track1", L"false"), L"CardSuffix", L""), L"LogEnabled",
                L"true");
    Check(Connect(Reader, discountForm, discount) && Length(discount) == 36 && !Same(iso, discount),
          "  and a second device on the object, with another framing");

    Check(GetFileAttributesW(LogPath) != 0xFFFFFFFF,
          "  which keeps the log, under the module's name");

    // Multi-line, taking Enter: an Enter of a card that reached it would show.
    Window = CreateWindowExW(0, L"EDIT", L"", 0x10CF1004, 40, 40, 400, 60, nullptr, nullptr,
                             nullptr, nullptr);
    for (int i = 0; i < 40 && GetForegroundWindow() != Window; ++i) {
        SetForegroundWindow(Window);
        SetFocus(Window);
        Pump(25, 1 << 30);
    }

    TypeText(L"12");
    Check(WindowShows(L"12"), "typing before a swipe reaches the window");
    int events = Connection.EventCount;
    wchar_t card[160] = {};
    Copy(card, 160, Track1);
    Append(card, 160, Track2);
    Append(card, 160, L"\r");
    TypeText(card);
    Pump(10000, events + 2);
    CheckNumber(Connection.EventCount - events, 2,
                "a swipe of two tracks and Enter: an event per device");
    wchar_t both[160] = {};
    Copy(both, 160, Track1);
    Append(both, 160, Track2);
    CheckCard(iso, 2, both, "  the ISO device's: tracks 1 and 2 with their framing");
    CheckCard(discount, 2, Track2, "  the discount device's: track 2");
    wchar_t code[256] = {};
    if (const TEvent* event = EventOf(discount, 2)) {
        CardCode(event->Data, code, 256);
    }
    Check(MatchesTemplate(code, ';', '?', Length(Track2)), "  which a track-2 template matches");
    TypeText(L"34");
    Check(WindowShows(L"1234"), "typing after it reaches the window, and no key of the card");

    events = Connection.EventCount;
    TypeText(L";5555=1111?");
    Pump(10000, events + 2);
    Pump(300, 1 << 30);
    CheckNumber(Connection.EventCount - events, 2,
                "a reader that sends track 2 and nothing after it: an event per device");
    CheckCard(iso, 2, L";5555=1111?", "  the ISO device's, after the quiet time");
    CheckCard(discount, 2, L";5555=1111?", "  the discount device's");
    TypeText(L"5");
    Check(WindowShows(L"12345"), "  and typing after it reaches the window");

    Check(Disconnect(iso) && Disconnect(discount), "Отключить both devices");
    wchar_t text[256];
    Check(!Disconnect(iso) && LastError(text) == 1, "Отключить of a closed device: error 1");
}

// What the host can get wrong fails the call, with a reason for the program's exception.
void CheckBadInput() {
    tVariant result = {};
    tVariant params[2] = {};
    const int errors = Connection.Errors;
    Check(!Reader->CallAsFunc(MethodCount, &result, nullptr, 0), "an unknown method number fails");
    Check(!Reader->CallAsFunc(Reader->FindMethod(L"УстановитьПараметр"), &result, params, 1),
          "УстановитьПараметр without its value fails");
    params[0].vt = VTYPE_BLOB;
    Check(!Reader->CallAsFunc(Reader->FindMethod(L"УстановитьПараметр"), &result, params, 2),
          "a parameter name that is no text fails");
    Check(!Reader->CallAsFunc(Reader->FindMethod(L"Подключить"), &result, nullptr, 1),
          "a null parameter array fails");
    Check(!Reader->CallAsFunc(Reader->FindMethod(L"ПолучитьОписание"), nullptr, params, 1),
          "a null result fails");
    CheckNumber(Connection.Errors, errors + 5, "  each failure reported through AddError");
}

// A program that lets go of the object from inside its event handler, while the object is
// delivering the card it read.
void CheckDestroyInHandler(GetClassObjectPtr GetClassObject, DestroyObjectPtr Destroy) {
    IComponentBase* other = nullptr;
    TConnection handler;
    handler.Destroy = Destroy;
    handler.DestroyOnEvent = &other;
    if (!Check(GetClassObject(L"WedgecardMSR", &other) == 1, "a second object")) {
        return;
    }
    other->setMemManager(&Memory);
    other->Init(static_cast<IAddInDefBase*>(&handler));
    wchar_t id[64];
    Check(Connect(other, Defaults, id), "  with a device");
    TypeText(L"%9?\r");
    Pump(10000, 1, handler);
    CheckNumber(handler.EventCount, 1, "  its card reaches the handler");
    CheckNumber(handler.DestroyedFromHandler, 0, "  DestroyObject there succeeds");
    Check(other == nullptr, "  and empties the host's pointer");
    Pump(300, 1 << 30);
}

// The module to load: the one named on the command line, or the build's.
void ModuleToLoad(wchar_t* Path, size_t Capacity) {
    const wchar_t* arguments = GetCommandLineW();
    const wchar_t end = *arguments == '"' ? '"' : ' ';
    for (++arguments; *arguments != 0 && *arguments != end; ++arguments) {
    }
    while (*arguments == '"' || *arguments == ' ') {
        ++arguments;
    }
    Copy(Path, Capacity, *arguments != 0 ? arguments : WEDGECARD_DRIVER_DLL);
    for (size_t i = Length(Path); i > 0 && (Path[i - 1] == '"' || Path[i - 1] == ' '); --i) {
        Path[i - 1] = 0;
    }
    for (size_t i = 0; Path[i] != 0; ++i) {
        Path[i] = Path[i] == '/' ? '\\' : Path[i];
    }
}

}  // namespace

extern "C" int HostMain() {
    Heap = GetProcessHeap();
    wchar_t source[512] = {};
    ModuleToLoad(source, 512);
    // Beside this program, in a folder whose name the XML must escape.
    wchar_t folder[512] = {};
    GetModuleFileNameW(nullptr, folder, 400);
    for (size_t i = Length(folder); i > 0 && folder[i - 1] != '\\'; --i) {
        folder[i - 1] = 0;
    }
    Append(folder, 512, L"Wedgecard & 'equipment'");
    CreateDirectoryW(folder, nullptr);
    wchar_t module[512] = {};
    Copy(module, 512, folder);
    // The name the ZIP gives the module of this architecture, and its log's.
    const bool x64 = sizeof(void*) == 8;
    Append(module, 512, x64 ? L"\\Wedgecard-x64.dll" : L"\\Wedgecard-x86.dll");
    wchar_t logPath[512] = {};
    Copy(logPath, 512, folder);
    Append(logPath, 512, x64 ? L"\\Wedgecard-x64.log" : L"\\Wedgecard-x86.log");
    Check(CopyFileW(source, module, 0) != 0, "the module copied into a folder named with & and '");
    DeleteFileW(logPath);

    HANDLE library = LoadLibraryW(module);
    GetClassObjectPtr getClassObject = nullptr;
    DestroyObjectPtr destroy = nullptr;
    if (Check(library != nullptr, "LoadLibrary of the module, unregistered")) {
        CheckStart(library, getClassObject, destroy);
    }
    if (Reader != nullptr) {
        CheckSettingsForm(logPath);
        CheckDeviceTest();
        CheckSwipes(logPath);
        CheckBadInput();
        CheckDestroyInHandler(getClassObject, destroy);
        Reader->Done();
        CheckNumber(destroy(&Reader), 0, "Done and DestroyObject");
        Check(Reader == nullptr, "  empties the host's pointer");
    }
    CheckNumber(Memory.Count, 0, "every block of the host's memory was given back");
    CheckNumber(Memory.Foreign, 0, "nothing the host did not hand out was given back");
    if (library != nullptr) {
        FreeLibrary(library);
    }
    Print(Failures == 0 ? "all checks passed\n" : "some checks FAILED\n");
    ExitProcess(static_cast<unsigned>(Failures));
    return Failures;
}
