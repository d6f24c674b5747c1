#pragma once

// The 1C Native API as the host's binary sees it, declared as data. The host is built with MSVC:
// an interface there is a pointer to a table of functions, each table starting with the one
// entry of the base's virtual destructor (MSVC's "scalar deleting destructor"; g++ would put two
// there), followed by the methods in declaration order, each __stdcall on x86 with the object
// as its first argument. A class with several bases holds one such table pointer per base, in
// the order of the bases. These declarations say exactly that, and the assertions below pin it,
// so nothing here depends on how g++ lays out a class with virtual functions.

#include <cstddef>
#include <cstdint>

namespace wedgecard::native {

#if defined(__i386__)
#define WEDGECARD_NATIVE_THISCALL __attribute__((thiscall))
#define WEDGECARD_NATIVE_STDCALL __attribute__((stdcall))
#else
#define WEDGECARD_NATIVE_THISCALL
#define WEDGECARD_NATIVE_STDCALL
#endif

// The host's WCHAR_T on Windows: UTF-16 code units.
using TChar = wchar_t;
static_assert(sizeof(TChar) == 2);
static_assert(sizeof(long) == 4, "the host's long is 32 bits on Windows");

// Codes of TNativeVariant::Type.
enum TVariantType : std::uint16_t {
    vtEmpty = 0,
    vtNull = 1,
    vtI2 = 2,
    vtI4 = 3,
    vtR4 = 4,
    vtR8 = 5,
    vtDate = 6,
    vtTm = 7,
    vtPStr = 8,
    vtInterface = 9,
    vtError = 10,
    vtBool = 11,
    vtVariant = 12,
    vtI1 = 13,
    vtUI1 = 14,
    vtUI2 = 15,
    vtUI4 = 16,
    vtI8 = 17,
    vtUI8 = 18,
    vtInt = 19,
    vtUInt = 20,
    vtHResult = 21,
    vtPWStr = 22,
    vtBlob = 23,
    vtClsID = 24,
};

// The C runtime's struct tm of the host: nine ints from tm_sec to tm_isdst.
struct TTm {
    std::int32_t Second;
    std::int32_t Minute;
    std::int32_t Hour;
    std::int32_t Day;
    std::int32_t Month;  // 0 to 11
    std::int32_t Year;   // since 1900
    std::int32_t WeekDay;
    std::int32_t YearDay;
    std::int32_t DaylightSaving;
};

struct TGuid {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

// 8-bit text (vtPStr) or bytes (vtBlob).
struct TText {
    char* Chars;
    std::uint32_t Length;
};

// vtPWStr: Length code units, not counting the terminating zero.
struct TWideText {
    TChar* Chars;
    std::uint32_t Length;
};

struct TInterfaceValue {
    void* Object;
    TGuid ID;
};

// The host's tVariant.
struct TNativeVariant {
    union {
        std::int8_t I1;
        std::int16_t I2;
        std::int32_t I4;
        std::int64_t I8;
        std::uint8_t UI1;
        std::uint16_t UI2;
        std::uint32_t UI4;
        std::uint64_t UI8;
        float R4;
        double R8;
        bool Bool;
        double Date;  // an OLE automation date
        TTm Tm;
        TNativeVariant* Elements;  // vtVariant: an array of ElementCount values
        TInterfaceValue Interface;
        TText Text;
        TWideText WideText;
    };
    std::uint32_t ElementCount;
    std::uint16_t Type;
};

static_assert(sizeof(TNativeVariant) == 48);
static_assert(alignof(TNativeVariant) == 8);
static_assert(offsetof(TNativeVariant, ElementCount) == 40);
static_assert(offsetof(TNativeVariant, Type) == 44);
static_assert(offsetof(TNativeVariant, WideText.Length) == sizeof(void*));
static_assert(offsetof(TNativeVariant, Text.Length) == sizeof(void*));

// MSVC's destructor entry. The host never calls it on a component (DestroyObject does the
// deleting); bit 0 of Flags asks for the memory to be freed as well. Its convention is the one
// of C++ member functions, which g++ applies to a plain function only after a pedantic warning.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
using TDestructor = void*(WEDGECARD_NATIVE_THISCALL*)(void* This, unsigned Flags);
#pragma GCC diagnostic pop

// ---- Implemented by the host ----

struct TMemoryManager;
struct TMemoryManagerTable {
    TDestructor Destructor;
    bool(WEDGECARD_NATIVE_STDCALL* AllocMemory)(TMemoryManager* This, void** Memory,
                                                std::uint32_t Bytes);
    void(WEDGECARD_NATIVE_STDCALL* FreeMemory)(TMemoryManager* This, void** Memory);
};
struct TMemoryManager {
    const TMemoryManagerTable* Table;
};

// The connection (IAddInDefBase) handed to Init.
struct TAddInDefBase;
struct TAddInDefBaseTable {
    TDestructor Destructor;
    bool(WEDGECARD_NATIVE_STDCALL* AddError)(TAddInDefBase* This, std::uint16_t Code,
                                             const TChar* Source, const TChar* Description,
                                             std::int32_t Status);
    bool(WEDGECARD_NATIVE_STDCALL* Read)(TAddInDefBase* This, TChar* Name, TNativeVariant* Value,
                                         std::int32_t* ErrorCode, TChar** ErrorDescription);
    bool(WEDGECARD_NATIVE_STDCALL* Write)(TAddInDefBase* This, TChar* Name, TNativeVariant* Value);
    bool(WEDGECARD_NATIVE_STDCALL* RegisterProfileAs)(TAddInDefBase* This, TChar* Name);
    bool(WEDGECARD_NATIVE_STDCALL* SetEventBufferDepth)(TAddInDefBase* This, std::int32_t Depth);
    std::int32_t(WEDGECARD_NATIVE_STDCALL* GetEventBufferDepth)(TAddInDefBase* This);
    bool(WEDGECARD_NATIVE_STDCALL* ExternalEvent)(TAddInDefBase* This, TChar* Source,
                                                  TChar* Message, TChar* Data);
    void(WEDGECARD_NATIVE_STDCALL* CleanEventBuffer)(TAddInDefBase* This);
    bool(WEDGECARD_NATIVE_STDCALL* SetStatusLine)(TAddInDefBase* This, TChar* Text);
    void(WEDGECARD_NATIVE_STDCALL* ResetStatusLine)(TAddInDefBase* This);
};
struct TAddInDefBase {
    const TAddInDefBaseTable* Table;
};

// Codes of AddError.
inline constexpr std::uint16_t AddInErrorFail = 1006;

// ---- Implemented by the component: IComponentBase and its four bases ----

struct TInitDoneBase;
struct TInitDoneTable {
    TDestructor Destructor;
    bool(WEDGECARD_NATIVE_STDCALL* Init)(TInitDoneBase* This, void* Connection);
    bool(WEDGECARD_NATIVE_STDCALL* SetMemManager)(TInitDoneBase* This, void* MemoryManager);
    std::int32_t(WEDGECARD_NATIVE_STDCALL* GetInfo)(TInitDoneBase* This);
    void(WEDGECARD_NATIVE_STDCALL* Done)(TInitDoneBase* This);
};
struct TInitDoneBase {
    const TInitDoneTable* Table;
};

struct TLanguageExtenderBase;
struct TLanguageExtenderTable {
    TDestructor Destructor;
    bool(WEDGECARD_NATIVE_STDCALL* RegisterExtensionAs)(TLanguageExtenderBase* This, TChar** Name);
    std::int32_t(WEDGECARD_NATIVE_STDCALL* GetNProps)(TLanguageExtenderBase* This);
    std::int32_t(WEDGECARD_NATIVE_STDCALL* FindProp)(TLanguageExtenderBase* This,
                                                     const TChar* Name);
    const TChar*(WEDGECARD_NATIVE_STDCALL* GetPropName)(TLanguageExtenderBase* This,
                                                        std::int32_t Number, std::int32_t Alias);
    bool(WEDGECARD_NATIVE_STDCALL* GetPropVal)(TLanguageExtenderBase* This, std::int32_t Number,
                                               TNativeVariant* Value);
    bool(WEDGECARD_NATIVE_STDCALL* SetPropVal)(TLanguageExtenderBase* This, std::int32_t Number,
                                               TNativeVariant* Value);
    bool(WEDGECARD_NATIVE_STDCALL* IsPropReadable)(TLanguageExtenderBase* This,
                                                   std::int32_t Number);
    bool(WEDGECARD_NATIVE_STDCALL* IsPropWritable)(TLanguageExtenderBase* This,
                                                   std::int32_t Number);
    std::int32_t(WEDGECARD_NATIVE_STDCALL* GetNMethods)(TLanguageExtenderBase* This);
    std::int32_t(WEDGECARD_NATIVE_STDCALL* FindMethod)(TLanguageExtenderBase* This,
                                                       const TChar* Name);
    const TChar*(WEDGECARD_NATIVE_STDCALL* GetMethodName)(TLanguageExtenderBase* This,
                                                          std::int32_t Number, std::int32_t Alias);
    std::int32_t(WEDGECARD_NATIVE_STDCALL* GetNParams)(TLanguageExtenderBase* This,
                                                       std::int32_t Number);
    bool(WEDGECARD_NATIVE_STDCALL* GetParamDefValue)(TLanguageExtenderBase* This,
                                                     std::int32_t Number, std::int32_t Param,
                                                     TNativeVariant* Value);
    bool(WEDGECARD_NATIVE_STDCALL* HasRetVal)(TLanguageExtenderBase* This, std::int32_t Number);
    bool(WEDGECARD_NATIVE_STDCALL* CallAsProc)(TLanguageExtenderBase* This, std::int32_t Number,
                                               TNativeVariant* Params, std::int32_t Count);
    bool(WEDGECARD_NATIVE_STDCALL* CallAsFunc)(TLanguageExtenderBase* This, std::int32_t Number,
                                               TNativeVariant* Result, TNativeVariant* Params,
                                               std::int32_t Count);
};
struct TLanguageExtenderBase {
    const TLanguageExtenderTable* Table;
};

struct TLocaleBase;
struct TLocaleTable {
    TDestructor Destructor;
    void(WEDGECARD_NATIVE_STDCALL* SetLocale)(TLocaleBase* This, const TChar* Locale);
};
struct TLocaleBase {
    const TLocaleTable* Table;
};

// Called by hosts that know it (8.3.21 and later); older ones never look at this table.
struct TUserLanguageBase;
struct TUserLanguageTable {
    TDestructor Destructor;
    void(WEDGECARD_NATIVE_STDCALL* SetUserInterfaceLanguageCode)(TUserLanguageBase* This,
                                                                 const TChar* Language);
};
struct TUserLanguageBase {
    const TUserLanguageTable* Table;
};

// IComponentBase: what GetClassObject hands out is the address of this block.
struct TComponentBase {
    TInitDoneBase InitDone;
    TLanguageExtenderBase LanguageExtender;
    TLocaleBase Locale;
    TUserLanguageBase UserLanguage;
};

constexpr std::size_t Slot = sizeof(void*);
static_assert(offsetof(TComponentBase, InitDone) == 0);
static_assert(offsetof(TComponentBase, LanguageExtender) == 1 * Slot);
static_assert(offsetof(TComponentBase, Locale) == 2 * Slot);
static_assert(offsetof(TComponentBase, UserLanguage) == 3 * Slot);
static_assert(sizeof(TComponentBase) == 4 * Slot);

// Table entries: the destructor first, then the methods in the documented order.
static_assert(sizeof(TInitDoneTable) == 5 * Slot);
static_assert(offsetof(TInitDoneTable, Init) == 1 * Slot);
static_assert(offsetof(TInitDoneTable, Done) == 4 * Slot);
static_assert(sizeof(TLanguageExtenderTable) == 17 * Slot);
static_assert(offsetof(TLanguageExtenderTable, RegisterExtensionAs) == 1 * Slot);
static_assert(offsetof(TLanguageExtenderTable, GetNMethods) == 9 * Slot);
static_assert(offsetof(TLanguageExtenderTable, CallAsProc) == 15 * Slot);
static_assert(offsetof(TLanguageExtenderTable, CallAsFunc) == 16 * Slot);
static_assert(sizeof(TLocaleTable) == 2 * Slot);
static_assert(sizeof(TUserLanguageTable) == 2 * Slot);
static_assert(sizeof(TMemoryManagerTable) == 3 * Slot);
static_assert(offsetof(TMemoryManagerTable, AllocMemory) == 1 * Slot);
static_assert(sizeof(TAddInDefBaseTable) == 11 * Slot);
static_assert(offsetof(TAddInDefBaseTable, AddError) == 1 * Slot);
static_assert(offsetof(TAddInDefBaseTable, SetEventBufferDepth) == 5 * Slot);
static_assert(offsetof(TAddInDefBaseTable, ExternalEvent) == 7 * Slot);

// ---- The module's exports: plain names, __cdecl ----

enum TAppCapabilities : std::int32_t {
    AppCapabilitiesInvalid = -1,
    AppCapabilities1 = 1,
    AppCapabilities2 = 2,
    AppCapabilities3 = 3,
};

enum TAttachType : std::int32_t {
    CanAttachNotIsolated = 1,
    CanAttachIsolated = 2,
    CanAttachAny = 3,
};

using TGetClassNames = const TChar* (*)();
// Non-zero on success.
using TGetClassObject = long (*)(const TChar* Name, TComponentBase** Component);
// Zero on success.
using TDestroyObject = long (*)(TComponentBase** Component);
using TSetPlatformCapabilities = TAppCapabilities (*)(TAppCapabilities Capabilities);
using TGetAttachType = TAttachType (*)();

}  // namespace wedgecard::native
