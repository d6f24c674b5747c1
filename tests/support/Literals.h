#pragma once

#include <string_view>

namespace wedgecard::test {

// Whether narrow literals are Windows-1251 bytes, as in the driver's own builds. The fuzzing
// build (clang) keeps them UTF-8; tests about the bytes themselves skip there.
[[nodiscard]] inline bool LiteralsAreWindows1251() {
    return std::string_view("Ж").size() == 1;
}

}  // namespace wedgecard::test

#define SKIP_UNLESS_WINDOWS_1251_LITERALS()                                   \
    if (!::wedgecard::test::LiteralsAreWindows1251()) {                       \
        GTEST_SKIP() << "narrow literals are not Windows-1251 in this build"; \
    }
