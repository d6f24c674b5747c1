#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace wedgecard {

// A named source of log lines: "[DEBUG] Name Message" or "[ERROR] Name Message" in the
// process's log file.
class TLogger {
public:
    explicit TLogger(std::string Name) : FName(std::move(Name)) {}

    [[nodiscard]] const std::string& Name() const noexcept { return FName; }

    void Debug(std::string_view Message) const;
    // "Message: Value", a boolean as True or False.
    void Debug(std::string_view Message, bool Value) const;
    void Debug(std::string_view Message, std::int32_t Value) const;
    void Debug(std::string_view Message, std::string_view Value) const;
    // Without it a literal would take the boolean overload and be logged as True.
    void Debug(std::string_view Message, const char* Value) const {
        Debug(Message, std::string_view(Value));
    }
    void Error(std::string_view Message) const;

private:
    std::string FName;
};

}  // namespace wedgecard
