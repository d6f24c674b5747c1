#pragma once

// The 1C host's argument array for ILanguageExtender::CallAsFunc, with guard elements around
// its data, and assertions on the variants a call leaves in it.

#include <gtest/gtest.h>
#include <windows.h>

#include <oaidl.h>

#include <string>
#include <vector>

#include "tests/windows/support/ComHost.h"

namespace wedgecard::test {

// A variant for a failure message: its type code and, for a few types, its value (long
// strings by their length only).
[[nodiscard]] std::string Describe(const VARIANT& Value);
::testing::AssertionResult IsString(const VARIANT& Value, const std::wstring& Expected);
::testing::AssertionResult IsBool(const VARIANT& Value, bool Expected);
::testing::AssertionResult IsInt(const VARIANT& Value, LONG Expected);
::testing::AssertionResult IsDeviceID(const VARIANT& Value);
// The same type and value, for the elements a call must leave alone: strings by their text,
// decimals by all their bytes, arrays by their shape, anything else by its value or the pointer
// it holds.
::testing::AssertionResult SameValue(const VARIANT& Actual, const VARIANT& Expected);

// The host's parameter array: one dimension of VARIANTs from Lower on. Its data sits between two
// guard elements that nothing may touch, so a write outside the array shows.
class THostArray {
public:
    explicit THostArray(const std::vector<TValue>& Elements = {}, LONG Lower = 0);
    THostArray(const THostArray&) = delete;
    THostArray& operator=(const THostArray&) = delete;
    ~THostArray();

    // What the extender's calls take.
    SAFEARRAY** Put() noexcept { return &FArray; }
    [[nodiscard]] LONG Count() const noexcept { return static_cast<LONG>(FStorage.size()) - 2; }
    // The element at Index (counted from Lower).
    [[nodiscard]] const VARIANT& operator[](LONG Index) const;
    VARIANT& At(LONG Index);

    // The guards as they were, the descriptor the same one and not left locked.
    [[nodiscard]] ::testing::AssertionResult Intact() const;

private:
    std::vector<VARIANT> FStorage;
    SAFEARRAY* FArray = nullptr;
    SAFEARRAY* FDescriptor = nullptr;
    LONG FLower;
};

}  // namespace wedgecard::test
