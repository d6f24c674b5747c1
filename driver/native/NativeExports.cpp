// The Native API entry points of Wedgecard.dll: the five exports a host looks for, and the four
// tables it calls an object of either class through. Each table entry finds its object among
// the live ones before reading it, marks the call as running and lets no exception out.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <type_traits>

#include "DriverMembers.h"
#include "driver/equipment/EquipmentComponent.h"
#include "driver/native/NativeComponent.h"

namespace wedgecard {

namespace {

using namespace native;

// The version of the component interface implemented here, as GetInfo reports it.
constexpr std::int32_t ComponentVersion = 2000;

// The object a table pointer belongs to, found by address arithmetic alone: nothing is read
// until Find has seen the address among the live objects.
TComponentBase* BaseAt(const void* Part, std::size_t Offset) noexcept {
    return reinterpret_cast<TComponentBase*>(reinterpret_cast<std::uintptr_t>(Part) - Offset);
}
TComponentBase* BaseOf(TInitDoneBase* Part) noexcept {
    return BaseAt(Part, offsetof(TComponentBase, InitDone));
}
TComponentBase* BaseOf(TLanguageExtenderBase* Part) noexcept {
    return BaseAt(Part, offsetof(TComponentBase, LanguageExtender));
}
TComponentBase* BaseOf(TLocaleBase* Part) noexcept {
    return BaseAt(Part, offsetof(TComponentBase, Locale));
}
TComponentBase* BaseOf(TUserLanguageBase* Part) noexcept {
    return BaseAt(Part, offsetof(TComponentBase, UserLanguage));
}

template <class TPart, class TResult, class TBody>
TResult Enter(TPart* Part, TResult Failure, TBody&& Body) noexcept {
    TNativeObject* component = TNativeObject::Find(BaseOf(Part));
    if (component == nullptr) {
        return Failure;
    }
    const TNativeObject::TCall call(*component);
    try {
        return Body(*component);
    } catch (...) {
        return Failure;
    }
}

// A host that deletes the object through one of its interfaces destroys it as DestroyObject.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
template <class TPart>
void* WEDGECARD_NATIVE_THISCALL DeleteThrough(void* This, unsigned Flags) {
    if ((Flags & 1U) != 0) {
        TNativeObject::Destroy(BaseOf(static_cast<TPart*>(This)));
    }
    return This;
}
#pragma GCC diagnostic pop

// IInitDoneBase

bool WEDGECARD_NATIVE_STDCALL Init(TInitDoneBase* This, void* Connection) {
    return Enter(This, false, [&](TNativeObject& Component) {
        return Component.Init(static_cast<TAddInDefBase*>(Connection));
    });
}

bool WEDGECARD_NATIVE_STDCALL SetMemManager(TInitDoneBase* This, void* MemoryManager) {
    return Enter(This, false, [&](TNativeObject& Component) {
        return Component.SetMemManager(static_cast<TMemoryManager*>(MemoryManager));
    });
}

std::int32_t WEDGECARD_NATIVE_STDCALL GetInfo(TInitDoneBase* This) {
    return Enter(This, 0, [](TNativeObject&) { return ComponentVersion; });
}

void WEDGECARD_NATIVE_STDCALL Done(TInitDoneBase* This) {
    Enter(This, false, [](TNativeObject& Component) {
        Component.Done();
        return true;
    });
}

// ILanguageExtenderBase: no properties, the methods of the object's class.

bool WEDGECARD_NATIVE_STDCALL RegisterExtensionAs(TLanguageExtenderBase* This, TChar** Name) {
    return Enter(This, false,
                 [&](TNativeObject& Component) { return Component.RegisterExtensionAs(Name); });
}

std::int32_t WEDGECARD_NATIVE_STDCALL GetNProps(TLanguageExtenderBase* /*This*/) {
    return 0;
}

std::int32_t WEDGECARD_NATIVE_STDCALL FindProp(TLanguageExtenderBase* /*This*/,
                                               const TChar* /*Name*/) {
    return -1;
}

const TChar* WEDGECARD_NATIVE_STDCALL GetPropName(TLanguageExtenderBase* /*This*/,
                                                  std::int32_t /*Number*/, std::int32_t /*Alias*/) {
    return nullptr;
}

bool WEDGECARD_NATIVE_STDCALL GetPropVal(TLanguageExtenderBase* /*This*/, std::int32_t /*Number*/,
                                         TNativeVariant* /*Value*/) {
    return false;
}

bool WEDGECARD_NATIVE_STDCALL SetPropVal(TLanguageExtenderBase* /*This*/, std::int32_t /*Number*/,
                                         TNativeVariant* /*Value*/) {
    return false;
}

bool WEDGECARD_NATIVE_STDCALL IsPropReadable(TLanguageExtenderBase* /*This*/,
                                             std::int32_t /*Number*/) {
    return false;
}

bool WEDGECARD_NATIVE_STDCALL IsPropWritable(TLanguageExtenderBase* /*This*/,
                                             std::int32_t /*Number*/) {
    return false;
}

std::int32_t WEDGECARD_NATIVE_STDCALL GetNMethods(TLanguageExtenderBase* This) {
    return Enter(This, 0, [](TNativeObject& Component) { return Component.GetNMethods(); });
}

std::int32_t WEDGECARD_NATIVE_STDCALL FindMethod(TLanguageExtenderBase* This, const TChar* Name) {
    return Enter(This, -1, [Name](TNativeObject& Component) { return Component.FindMethod(Name); });
}

const TChar* WEDGECARD_NATIVE_STDCALL GetMethodName(TLanguageExtenderBase* This,
                                                    std::int32_t Number, std::int32_t Alias) {
    return Enter(This, static_cast<const TChar*>(nullptr),
                 [&](TNativeObject& Component) { return Component.GetMethodName(Number, Alias); });
}

std::int32_t WEDGECARD_NATIVE_STDCALL GetNParams(TLanguageExtenderBase* This, std::int32_t Number) {
    return Enter(This, 0,
                 [Number](TNativeObject& Component) { return Component.GetNParams(Number); });
}

// No parameter has a default: a host that leaves one out gets the call refused.
bool WEDGECARD_NATIVE_STDCALL GetParamDefValue(TLanguageExtenderBase* /*This*/,
                                               std::int32_t /*Number*/, std::int32_t /*Param*/,
                                               TNativeVariant* /*Value*/) {
    return false;
}

bool WEDGECARD_NATIVE_STDCALL HasRetVal(TLanguageExtenderBase* This, std::int32_t Number) {
    return Enter(This, false,
                 [Number](TNativeObject& Component) { return Component.HasRetVal(Number); });
}

bool WEDGECARD_NATIVE_STDCALL CallAsProc(TLanguageExtenderBase* This, std::int32_t Number,
                                         TNativeVariant* Params, std::int32_t Count) {
    return Enter(This, false, [&](TNativeObject& Component) {
        return Component.CallAsProc(Number, Params, Count);
    });
}

bool WEDGECARD_NATIVE_STDCALL CallAsFunc(TLanguageExtenderBase* This, std::int32_t Number,
                                         TNativeVariant* Result, TNativeVariant* Params,
                                         std::int32_t Count) {
    return Enter(This, false, [&](TNativeObject& Component) {
        return Component.CallAsFunc(Number, Result, Params, Count);
    });
}

// LocaleBase and UserLanguageBase: the driver's texts are its own, in one language.

void WEDGECARD_NATIVE_STDCALL SetLocale(TLocaleBase* /*This*/, const TChar* /*Locale*/) {}

void WEDGECARD_NATIVE_STDCALL SetUserInterfaceLanguageCode(TUserLanguageBase* /*This*/,
                                                           const TChar* /*Language*/) {}

constexpr TInitDoneTable InitDoneTable = {&DeleteThrough<TInitDoneBase>, &Init, &SetMemManager,
                                          &GetInfo, &Done};

constexpr TLanguageExtenderTable LanguageExtenderTable = {&DeleteThrough<TLanguageExtenderBase>,
                                                          &RegisterExtensionAs,
                                                          &GetNProps,
                                                          &FindProp,
                                                          &GetPropName,
                                                          &GetPropVal,
                                                          &SetPropVal,
                                                          &IsPropReadable,
                                                          &IsPropWritable,
                                                          &GetNMethods,
                                                          &FindMethod,
                                                          &GetMethodName,
                                                          &GetNParams,
                                                          &GetParamDefValue,
                                                          &HasRetVal,
                                                          &CallAsProc,
                                                          &CallAsFunc};

constexpr TLocaleTable LocaleTable = {&DeleteThrough<TLocaleBase>, &SetLocale};

constexpr TUserLanguageTable UserLanguageTable = {&DeleteThrough<TUserLanguageBase>,
                                                  &SetUserInterfaceLanguageCode};

// The classes GetClassObject makes, in the order GetClassNames lists them.
struct TClass {
    std::wstring_view Name;
    std::unique_ptr<TNativeObject> (*Create)();
};
constexpr std::array<TClass, 2> Classes = {{
    {DriverClassName,
     []() -> std::unique_ptr<TNativeObject> { return std::make_unique<TNativeComponent>(); }},
    {EquipmentClassName,
     []() -> std::unique_ptr<TNativeObject> { return std::make_unique<TEquipmentComponent>(); }},
}};

// The names joined by "|", as the host splits them.
constexpr std::size_t ClassNamesSize = [] {
    std::size_t size = 0;
    for (const TClass& known : Classes) {
        size += known.Name.size() + 1;
    }
    return size;
}();
constexpr std::array<TChar, ClassNamesSize> ClassNames = [] {
    std::array<TChar, ClassNamesSize> names{};
    std::size_t at = 0;
    for (const TClass& known : Classes) {
        if (at > 0) {
            names[at++] = L'|';
        }
        for (const TChar c : known.Name) {
            names[at++] = c;
        }
    }
    return names;
}();

}  // namespace

TComponentBase ComponentInterfaces() noexcept {
    return {{&InitDoneTable}, {&LanguageExtenderTable}, {&LocaleTable}, {&UserLanguageTable}};
}

}  // namespace wedgecard

using namespace wedgecard;
using namespace wedgecard::native;

extern "C" {

const TChar* GetClassNames() {
    return ClassNames.data();
}

long GetClassObject(const TChar* Name, TComponentBase** Component) {
    // A slot that already holds an object is not overwritten: the host would lose that one.
    if (Name == nullptr || Component == nullptr || *Component != nullptr) {
        return 0;
    }
    const auto known = std::find_if(Classes.begin(), Classes.end(),
                                    [Name](const TClass& Class) { return Class.Name == Name; });
    if (known == Classes.end()) {
        return 0;
    }
    try {
        // Live from its construction on, and owned by the host from here.
        *Component = known->Create().release()->Base();
    } catch (...) {
        return 0;
    }
    // Not the pointer, as some components answer: on 64-bit Windows its low half can be zero.
    return 1;
}

long DestroyObject(TComponentBase** Component) {
    if (Component == nullptr || !TNativeComponent::Destroy(*Component)) {
        return -1;
    }
    *Component = nullptr;
    return 0;
}

// The component works with every level of the host's capabilities; it answers the lesser of
// the host's and the highest it knows.
TAppCapabilities SetPlatformCapabilities(TAppCapabilities Capabilities) {
    if (Capabilities < AppCapabilities1) {
        return AppCapabilitiesInvalid;
    }
    return std::min(Capabilities, AppCapabilities3);
}

// In the host's own process: the capture hooks the host's user-interface thread, which a
// component isolated in a process of its own cannot see.
TAttachType GetAttachType() {
    return CanAttachNotIsolated;
}

}  // extern "C"

// The host calls the exports as __cdecl, which on x86 differs from the __stdcall of the tables.
static_assert(std::is_same_v<decltype(&GetClassNames), TGetClassNames>);
static_assert(std::is_same_v<decltype(&GetClassObject), TGetClassObject>);
static_assert(std::is_same_v<decltype(&DestroyObject), TDestroyObject>);
static_assert(std::is_same_v<decltype(&SetPlatformCapabilities), TSetPlatformCapabilities>);
static_assert(std::is_same_v<decltype(&GetAttachType), TGetAttachType>);
