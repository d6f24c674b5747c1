#include "driver/equipment/XmlText.h"

namespace wedgecard {

namespace {

bool IsHighSurrogate(wchar_t C) noexcept {
    return C >= 0xD800 && C <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t C) noexcept {
    return C >= 0xDC00 && C <= 0xDFFF;
}

}  // namespace

std::wstring XmlAttributeValue(std::wstring_view Value) {
    std::wstring text;
    text.reserve(Value.size());
    for (std::size_t i = 0; i < Value.size(); ++i) {
        const wchar_t c = Value[i];
        switch (c) {
            case L'&':
                text += L"&amp;";
                break;
            case L'<':
                text += L"&lt;";
                break;
            case L'>':
                text += L"&gt;";
                break;
            case L'"':
                text += L"&quot;";
                break;
            case L'\'':
                text += L"&apos;";
                break;
            case L'\t':
                text += L"&#9;";
                break;
            case L'\n':
                text += L"&#10;";
                break;
            case L'\r':
                text += L"&#13;";
                break;
            default:
                if (IsHighSurrogate(c) && i + 1 < Value.size() && IsLowSurrogate(Value[i + 1])) {
                    text += c;
                    text += Value[++i];
                } else if (c < 0x20 || IsHighSurrogate(c) || IsLowSurrogate(c) || c == 0xFFFE ||
                           c == 0xFFFF) {
                    text += L'\xFFFD';
                } else {
                    text += c;
                }
        }
    }
    return text;
}

TXmlText::TXmlText() : FText(L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n") {}

void TXmlText::Element(std::wstring_view Name, std::initializer_list<TXmlAttribute> Attributes) {
    FText.append(FOpen.size() * 2, L' ');
    FText += L'<';
    FText += Name;
    for (const TXmlAttribute& attribute : Attributes) {
        FText += L' ';
        FText += attribute.Name;
        FText += L"=\"";
        FText += XmlAttributeValue(attribute.Value);
        FText += L'"';
    }
}

TXmlText& TXmlText::Open(std::wstring_view Name, std::initializer_list<TXmlAttribute> Attributes) {
    Element(Name, Attributes);
    FText += L">\r\n";
    FOpen.emplace_back(Name);
    return *this;
}

TXmlText& TXmlText::Add(std::wstring_view Name, std::initializer_list<TXmlAttribute> Attributes) {
    Element(Name, Attributes);
    FText += L"/>\r\n";
    return *this;
}

TXmlText& TXmlText::Close() {
    if (!FOpen.empty()) {
        const std::wstring name = std::move(FOpen.back());
        FOpen.pop_back();
        FText.append(FOpen.size() * 2, L' ');
        FText += L"</" + name + L">\r\n";
    }
    return *this;
}

std::wstring TXmlText::Text() const {
    TXmlText closed = *this;
    while (!closed.FOpen.empty()) {
        closed.Close();
    }
    return closed.FText;
}

}  // namespace wedgecard
