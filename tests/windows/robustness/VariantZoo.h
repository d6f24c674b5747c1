#pragma once

// Every kind of value a host, a script or a careless caller may put into a variant: each type
// of the automation set, strings the driver's code page cannot hold, strings of a megabyte,
// objects, arrays, and references to values, to other references and to nothing. Made fresh
// for each call, because a call may write through the references it is given.

#include <windows.h>

#include <oaidl.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/windows/support/ComHost.h"

namespace wedgecard::test {

// A string of a megabyte of text, as a host that read a file into a variable passes it.
inline constexpr std::size_t HugeLength = std::size_t{1} << 20;

class TVariantZoo {
public:
    struct TSample {
        std::string Name;
        TValue Value;
        // Refers to a value of the zoo's own (or to nothing), which a call may write through.
        bool Reference = false;
    };

    // Object is an automation object with a Get method (a settings array); Driver the driver
    // itself, which a confused host may hand over as a value.
    TVariantZoo(IDispatch* Object, IDispatch* Driver);
    TVariantZoo(const TVariantZoo&) = delete;
    TVariantZoo& operator=(const TVariantZoo&) = delete;
    ~TVariantZoo();

    [[nodiscard]] const std::vector<TSample>& Samples() const noexcept { return FSamples; }

    // Whether the values the references point at are still what they were made with.
    [[nodiscard]] bool TargetsUnchanged() const;

private:
    void Add(const char* Name, VARTYPE Type, const std::function<void(VARIANT&)>& Fill,
             bool Reference = false);

    LONG FLong = 42;
    VARIANT_BOOL FFlag = VARIANT_TRUE;
    BSTR FText = nullptr;
    IDispatch* FObject = nullptr;
    VARIANT FNumber;  // VT_I4
    VARIANT FString;  // VT_BSTR
    VARIANT FEmpty;   // VT_EMPTY
    VARIANT FInner;   // VT_BYREF | VT_I4 to FLong
    std::vector<TSample> FSamples;
};

// Text the driver's code page (1251) cannot hold, with a character outside the basic plane.
inline const std::wstring ForeignText = L"\x4E2D\xD83D\xDE00";
// Text with nulls inside.
inline const std::wstring TextWithNulls(L"ab\0cd\0", 6);

}  // namespace wedgecard::test
