#include "tests/support/FakeHost.h"

#include <cctype>
#include <charconv>
#include <stdexcept>

namespace wedgecard::test {

namespace {

// Decimal text with optional blanks around and a sign, as automation reads a number.
bool ParseInteger(const std::string& Text, std::int32_t& Value) {
    std::size_t begin = 0;
    std::size_t end = Text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(Text[begin]))) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(Text[end - 1]))) {
        --end;
    }
    if (begin < end && Text[begin] == '+') {
        ++begin;
    }
    const char* first = Text.data() + begin;
    const char* last = Text.data() + end;
    const auto [stop, error] = std::from_chars(first, last, Value);
    return begin < end && error == std::errc() && stop == last;
}

}  // namespace

const TFakeValuesArray::TValue& TFakeValuesArray::Read(std::int32_t Index) {
    ReadIndexes.push_back(Index);
    if (OnRead) {
        OnRead(Index);
    }
    if (const auto failure = FailingReads.find(Index); failure != FailingReads.end()) {
        throw std::runtime_error(failure->second);
    }
    if (Index < 0 || static_cast<std::size_t>(Index) >= Values.size()) {
        throw std::runtime_error(InvalidIndexText);
    }
    return Values[static_cast<std::size_t>(Index)];
}

std::int32_t TFakeValuesArray::GetInteger(std::int32_t Index) {
    const TValue& value = Read(Index);
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        return *number;
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        return *flag ? -1 : 0;
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        std::int32_t number = 0;
        if (!ParseInteger(*text, number)) {
            throw std::runtime_error(TypeMismatchText);
        }
        return number;
    }
    return 0;
}

std::string TFakeValuesArray::GetText(std::int32_t Index) {
    const TValue& value = Read(Index);
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        return std::to_string(*number);
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        return *flag ? "True" : "False";
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    return {};
}

bool TFakeValuesArray::GetBoolean(std::int32_t Index) {
    const TValue& value = Read(Index);
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        return *number != 0;
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        return *flag;
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (*text == "True" || *text == "true") {
            return true;
        }
        if (*text == "False" || *text == "false") {
            return false;
        }
        std::int32_t number = 0;
        if (!ParseInteger(*text, number)) {
            throw std::runtime_error(TypeMismatchText);
        }
        return number != 0;
    }
    return false;
}

TFakeValuesArray Settings(std::int32_t Sensitivity, const std::string& Prefix1,
                          const std::string& Suffix1, const std::string& Prefix2,
                          const std::string& Suffix2, const std::string& Prefix3,
                          const std::string& Suffix3, bool LogEnabled) {
    return TFakeValuesArray(
        {Sensitivity, Prefix1, Suffix1, Prefix2, Suffix2, Prefix3, Suffix3, LogEnabled});
}

IGuidSource::TGuid TFakeGuids::NewGuid() {
    if (Fail) {
        throw std::runtime_error("The system cannot make a GUID.");
    }
    TGuid guid;
    guid.Data1 = Next++;
    guid.Data2 = 0xE5F6;
    guid.Data3 = 0x0718;
    guid.Data4 = {0x29, 0x3A, 0x4B, 0x5C, 0x6D, 0x7E, 0x8F, 0x90};
    return guid;
}

std::string TFakeModule::GetFileVersionText() {
    if (FailVersion) {
        throw std::runtime_error("No version resource.");
    }
    return VersionText;
}

void TFakeDeviceTestDialog::ShowDeviceTest() {
    ++Shown;
    if (WhileOpen) {
        WhileOpen();
    }
    if (Fail) {
        throw std::runtime_error("The dialog could not be shown.");
    }
}

}  // namespace wedgecard::test
