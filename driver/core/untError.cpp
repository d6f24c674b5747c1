#include "driver/core/untError.h"

namespace wedgecard {

void RaiseKBDError(std::int32_t Code, const std::string& Message) {
    throw EKBDError(Code, Message);
}

std::string InvalidParameterText(const std::string& Name) {
    return "Некорректное значение параметра \"" + Name + "\"";
}

}  // namespace wedgecard
