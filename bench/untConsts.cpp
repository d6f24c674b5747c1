#include "bench/untConsts.h"

#include <limits>
#include <stdexcept>

#include "driver/capture/Keys.h"

namespace benchpad {

std::int32_t StrToInt(std::string_view Text) {
    std::string_view digits = Text;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
        digits.remove_prefix(1);
    }
    // Counted in the negative range, which holds the one value the positive range lacks.
    std::int64_t value = 0;
    bool valid = !digits.empty();
    for (const char digit : digits) {
        if (digit < '0' || digit > '9') {
            valid = false;
            break;
        }
        value = value * 10 - (digit - '0');
        if (value < std::numeric_limits<std::int32_t>::min()) {
            valid = false;
            break;
        }
    }
    if (!negative && value == std::numeric_limits<std::int32_t>::min()) {
        valid = false;
    }
    if (!valid) {
        throw std::runtime_error("'" + std::string(Text) + "' не является целым числом");
    }
    return static_cast<std::int32_t>(negative ? value : -value);
}

std::string KeyItemText(std::uint8_t Code) {
    std::string line = "#" + std::to_string(Code);
    if (const std::string_view name = wedgecard::KeyNames[Code]; !name.empty()) {
        line += " (";
        line += name;
        line += ")";
    }
    return line;
}

std::string KeyItemCode(std::string_view Line) {
    const std::size_t bracket = Line.find('(');
    if (bracket == std::string_view::npos) {
        return std::string(Line);
    }
    return std::string(Line.substr(0, bracket > 0 ? bracket - 1 : 0));
}

}  // namespace benchpad
