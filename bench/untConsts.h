#pragma once

// Texts of the bench's windows and the small conversions behind them, free of any window.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace benchpad {

// The driver as the bench creates it.
inline constexpr const wchar_t* DriverProgID = L"Addin.LumMSRKBD1C";

inline constexpr const char* SNoDeviceSelected = "Ни одно устройство не выбрано";
inline constexpr const char* SNoEventSelected = "Ни одного события не выбрано";

// How a device row shows the log switch it was opened with: false first.
inline constexpr std::array<const char*, 2> LogStateNames = {"Выкл.", "Вкл."};

// A decimal 32-bit signed integer with an optional sign and nothing else around it; anything
// else raises std::runtime_error naming the text.
[[nodiscard]] std::int32_t StrToInt(std::string_view Text);

// A line of the key list: "#13 (Enter)", or "#7" for a code without a name.
[[nodiscard]] std::string KeyItemText(std::uint8_t Code);

// The key code of such a line: the text before the blank that precedes the first "(". The
// name may hold a "(" itself, as "9 (" does, which the first one found is never part of.
[[nodiscard]] std::string KeyItemCode(std::string_view Line);

}  // namespace benchpad
