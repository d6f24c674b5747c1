#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace wedgecard {

// A failure of the driver's own, with its code for the host's GetLastError.
class EKBDError : public std::runtime_error {
public:
    EKBDError(std::int32_t Code, const std::string& Message)
        : std::runtime_error(Message), FCode(Code) {}

    [[nodiscard]] std::int32_t Code() const noexcept { return FCode; }

private:
    std::int32_t FCode;
};

namespace kbd_error {
inline constexpr std::int32_t None = 0;
inline constexpr std::int32_t InvalidDeviceID = 1;
inline constexpr std::int32_t ValuesArrayRead = 2;
inline constexpr std::int32_t EventNotSent = 3;
inline constexpr std::int32_t InvalidParameter = 6;
inline constexpr std::int32_t Other = 255;
}  // namespace kbd_error

inline constexpr const char* SNoError = "Ошибок нет";
inline constexpr const char* SInvalidDeviceID = "Неверный идентификатор устройства";
inline constexpr const char* SValuesArrayRead = "Не удалось получить данные из массива значений";
inline constexpr const char* SEventNotSent = "Событие не посылалось";
inline constexpr const char* SInvalidSensitivity =
    "Некорректное значение параметра \"Чувствительность\"";
inline constexpr const char* SInvalidDataFormat = ": Неверный формат строки данных";

inline constexpr const char* SNoCardFraming =
    "Не выбрана ни одна дорожка (Track1, Track2, Track3): ни одна карта не будет прочитана";

inline constexpr const char* SUnknownAction = "Неизвестное дополнительное действие";

// Некорректное значение параметра "<Name>", as for the sensitivity.
[[nodiscard]] std::string InvalidParameterText(const std::string& Name);

// Параметр "<Name>": <What>, for a setting of the equipment library's form.
[[nodiscard]] std::string ParameterErrorText(const std::string& Name, const std::string& What);

// For a framing character of Code that the US layout has no key for.
[[nodiscard]] std::string UntypableCharacterText(std::int32_t Code);

[[noreturn]] void RaiseKBDError(std::int32_t Code, const std::string& Message);

}  // namespace wedgecard
