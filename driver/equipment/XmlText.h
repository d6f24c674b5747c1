#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace wedgecard {

struct TXmlAttribute {
    std::wstring_view Name;
    std::wstring_view Value;
};

// Well-formed XML for the equipment library to read: elements with attributes, each on a line
// of its own, every attribute value escaped (a log path may hold "&" or quotes).
class TXmlText {
public:
    // Starts with the XML declaration.
    TXmlText();

    // <Name ...> until the matching Close.
    TXmlText& Open(std::wstring_view Name, std::initializer_list<TXmlAttribute> Attributes = {});
    // <Name .../>
    TXmlText& Add(std::wstring_view Name, std::initializer_list<TXmlAttribute> Attributes = {});
    TXmlText& Close();

    // The text, every element still open closed.
    [[nodiscard]] std::wstring Text() const;

private:
    void Element(std::wstring_view Name, std::initializer_list<TXmlAttribute> Attributes);

    std::wstring FText;
    std::vector<std::wstring> FOpen;
};

// Value as an attribute value between double quotes: markup characters as entities, line
// breaks and tabs as character references (kept, not normalised to blanks by the reader), and
// what XML cannot hold (other control characters, a lone surrogate) as U+FFFD.
[[nodiscard]] std::wstring XmlAttributeValue(std::wstring_view Value);

[[nodiscard]] constexpr std::wstring_view XmlBoolean(bool Value) noexcept {
    return Value ? L"true" : L"false";
}

}  // namespace wedgecard
