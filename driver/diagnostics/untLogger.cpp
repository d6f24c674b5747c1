#include "driver/diagnostics/untLogger.h"

#include "driver/diagnostics/LogFile.h"

namespace wedgecard {

namespace {

std::string Join(std::string_view Name, std::string_view Message) {
    std::string line;
    line.reserve(Name.size() + 1 + Message.size());
    line.append(Name).append(" ").append(Message);
    return line;
}

}  // namespace

void TLogger::Debug(std::string_view Message) const {
    LogFile().Debug(Join(FName, Message));
}

void TLogger::Debug(std::string_view Message, bool Value) const {
    Debug(Message, std::string_view(Value ? "True" : "False"));
}

void TLogger::Debug(std::string_view Message, std::int32_t Value) const {
    Debug(Message, std::string_view(std::to_string(Value)));
}

void TLogger::Debug(std::string_view Message, std::string_view Value) const {
    std::string line(Message);
    line.append(": ").append(Value);
    Debug(std::string_view(line));
}

void TLogger::Error(std::string_view Message) const {
    LogFile().Error(Join(FName, Message));
}

}  // namespace wedgecard
