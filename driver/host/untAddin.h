#pragma once

#include <oaidl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "driver/core/OwnerList.h"

namespace wedgecard {

// The members an external component shows its host: properties and methods with their English
// and Russian names, read once from the object's own dispatch type information. Names are kept
// in UTF-16, as the host asks for them and compares them.

class TAddinProps;
class TAddinFuncs;
class TAddinParams;

class TAddinProp final : public TOwnedItem<TAddinProps, TAddinProp> {
public:
    explicit TAddinProp(TAddinProps* Owner) : TOwnedItem(Owner) {}

    DISPID DispID = 0;
    std::wstring Name;
    std::wstring Alias;
    bool Readable = false;
    bool Writable = false;
    VARTYPE ValueType = VT_EMPTY;
};

class TAddinProps final : public TOwnerList<TAddinProps, TAddinProp> {
public:
    TAddinProp* Add() { return new TAddinProp(this); }
};

class TAddinParam final : public TOwnedItem<TAddinParams, TAddinParam> {
public:
    explicit TAddinParam(TAddinParams* Owner) : TOwnedItem(Owner) { VariantInit(&DefaultValue); }
    ~TAddinParam() { VariantClear(&DefaultValue); }

    // The declared type; for a pointer, the type pointed to.
    VARTYPE ValueType = VT_EMPTY;
    bool ByRef = false;
    // Owned copy of the declared default, when there is one.
    VARIANT DefaultValue;
    USHORT Flags = 0;
};

class TAddinParams final : public TOwnerList<TAddinParams, TAddinParam> {
public:
    TAddinParam* Add() { return new TAddinParam(this); }
    [[nodiscard]] bool IsValidIndex(long Index) const noexcept {
        return Index >= 0 && Index < Count();
    }
};

class TAddinFunc final : public TOwnedItem<TAddinFuncs, TAddinFunc> {
public:
    explicit TAddinFunc(TAddinFuncs* Owner) : TOwnedItem(Owner) {}

    TAddinParams Params;
    DISPID DispID = 0;
    std::wstring Name;
    std::wstring Alias;
    // VT_VOID when the method returns nothing.
    VARTYPE ResultType = VT_VOID;
    // Not for clients to call (the functions of IUnknown and IDispatch).
    bool Restricted = false;
};

class TAddinFuncs final : public TOwnerList<TAddinFuncs, TAddinFunc> {
public:
    TAddinFunc* Add() { return new TAddinFunc(this); }
    [[nodiscard]] bool IsValidIndex(long Index) const noexcept {
        return Index >= 0 && Index < Count();
    }
};

// Fills both tables from Info (the dispatch view of the object's interface): a function
// becomes a method, a property-get a property, a property-put marks the latest property with
// its identifier writable. The Russian names are the driver's (DriverMembers.h), found by the
// English name; the help strings are not read for them, the type library loader decodes those
// with the system's code page. Status codes of the type information are not examined.
void LoadMembers(ITypeInfo* Info, TAddinProps& Props, TAddinFuncs& Funcs);

}  // namespace wedgecard
