#include "driver/core/untUtils.h"

#include <array>
#include <exception>

namespace wedgecard {

namespace {

// Windows-1251, bytes 0x80 to 0xFF. A table of its own rather than the system's conversion, which
// does the same only where Windows-1251 is the system's code page.
constexpr std::array<char16_t, 128> Cp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

}  // namespace

std::string TKBDUtils::ValuesArrayToStr(IValuesArray& ValuesArray) {
    try {
        const std::int32_t sensitivity = ValuesArray.GetInteger(0);
        std::array<std::string, 6> codes;
        for (std::size_t i = 0; i < codes.size(); ++i) {
            codes[i] = ValuesArray.GetText(static_cast<std::int32_t>(i + 1));
        }
        const bool logEnabled = ValuesArray.GetBoolean(7);
        std::string text = "Sensitivity:" + std::to_string(sensitivity);
        constexpr std::array<const char*, 6> keys = {"CodePrefix1", "CodeSuffix1", "CodePrefix2",
                                                     "CodeSuffix2", "CodePrefix3", "CodeSuffix3"};
        for (std::size_t i = 0; i < codes.size(); ++i) {
            text.append(", ").append(keys[i]).append(":").append(codes[i]);
        }
        text.append(", LogEnabled:").append(logEnabled ? "True" : "False");
        return text;
    } catch (const std::exception& error) {
        return std::string("Не удалось получить параметры из ValuesArray: ") + error.what();
    } catch (...) {
        return "Не удалось получить параметры из ValuesArray: ";
    }
}

std::wstring TKBDUtils::ToWide(const std::string& Text) {
    std::wstring wide;
    wide.reserve(Text.size());
    for (const char c : Text) {
        const auto byte = static_cast<unsigned char>(c);
        wide += byte < 0x80 ? static_cast<wchar_t>(byte)
                            : static_cast<wchar_t>(Cp1251High[byte - 0x80]);
    }
    return wide;
}

std::string TKBDUtils::ToAnsi(const std::wstring& Text) {
    std::string narrow;
    narrow.reserve(Text.size());
    for (const wchar_t c : Text) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code < 0x80) {
            narrow += static_cast<char>(c);
            continue;
        }
        // А to я lie in one run in both; nothing beyond "™" is in the code page.
        char mapped = '?';
        if (code >= 0x0410 && code <= 0x044F) {
            mapped = static_cast<char>(0xC0 + (code - 0x0410));
        } else if (code <= 0x2122) {
            for (std::size_t i = 0; i < Cp1251High.size(); ++i) {
                if (static_cast<std::uint32_t>(Cp1251High[i]) == code) {
                    mapped = static_cast<char>(0x80 + i);
                    break;
                }
            }
        }
        narrow += mapped;
    }
    return narrow;
}

}  // namespace wedgecard
