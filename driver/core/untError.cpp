#include "driver/core/untError.h"

namespace wedgecard {

void RaiseKBDError(std::int32_t Code, const std::string& Message) {
    throw EKBDError(Code, Message);
}

std::string InvalidParameterText(const std::string& Name) {
    return "Некорректное значение параметра \"" + Name + "\"";
}

std::string ParameterErrorText(const std::string& Name, const std::string& What) {
    return "Параметр \"" + Name + "\": " + What;
}

std::string UntypableCharacterText(std::int32_t Code) {
    return "символ с кодом " + std::to_string(Code) +
           " не набирается ни одной клавишей в английской раскладке";
}

}  // namespace wedgecard
