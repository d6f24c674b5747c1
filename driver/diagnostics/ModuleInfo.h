#pragma once

#include <string>

#include "driver/diagnostics/VersionInfo.h"

namespace wedgecard {

// Facts about the module that contains this code (the driver library, or the bench program
// when built into it), not about the program that loaded it.

// The file version of the module's version resource; zeros without one.
[[nodiscard]] TFileVersion GetFileVersion();
// "Major.Minor.Release.Build"
[[nodiscard]] std::string GetFileVersionText();
// The module file's full path as GetModuleFileNameA reports it (in the system's code page, for
// the narrow file functions); empty on failure.
[[nodiscard]] std::string GetModulePath();
// The same path in UTF-16, for the wide functions.
[[nodiscard]] std::wstring GetModulePathWide();
// The module's handle (an HINSTANCE).
[[nodiscard]] void* ThisModule() noexcept;

}  // namespace wedgecard
