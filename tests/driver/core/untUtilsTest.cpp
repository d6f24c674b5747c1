#include "driver/core/untUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FakeHost.h"
#include "tests/support/Literals.h"

namespace wedgecard {
namespace {

using test::Settings;
using test::TFakeValuesArray;

const std::string FailurePrefix = "Не удалось получить параметры из ValuesArray: ";

TEST(ValuesArrayToStr, RendersTheEightSettingsAsTheHostGaveThem) {
    TFakeValuesArray values = Settings(250, "#37", "#13", "", "#9#13", "#59", "#63", true);
    EXPECT_EQ(TKBDUtils::ValuesArrayToStr(values),
              "Sensitivity:250, CodePrefix1:#37, CodeSuffix1:#13, CodePrefix2:, "
              "CodeSuffix2:#9#13, CodePrefix3:#59, CodeSuffix3:#63, LogEnabled:True");
    EXPECT_EQ(values.ReadIndexes, (std::vector<std::int32_t>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(ValuesArrayToStr, ConvertsLikeOpenButNeitherDecodesNorChecks) {
    // A negative sensitivity and a malformed prefix would fail Open; the log still shows them.
    TFakeValuesArray values({std::string("-5"), std::string("#9#"), std::string("Ж"),
                             std::int32_t{13}, std::string(), std::string(), std::string(),
                             std::int32_t{0}});
    EXPECT_EQ(TKBDUtils::ValuesArrayToStr(values),
              "Sensitivity:-5, CodePrefix1:#9#, CodeSuffix1:Ж, CodePrefix2:13, CodeSuffix2:, "
              "CodePrefix3:, CodeSuffix3:, LogEnabled:False");
}

TEST(ValuesArrayToStr, ReportsAFailureInsideTheTextInsteadOfRaising) {
    TFakeValuesArray fiveValues(
        {std::int32_t{100}, std::string("#37"), std::string("#13"), std::string(), std::string()});
    std::string text;
    ASSERT_NO_THROW(text = TKBDUtils::ValuesArrayToStr(fiveValues));
    EXPECT_EQ(text.substr(0, FailurePrefix.size()), FailurePrefix);
    EXPECT_EQ(text, FailurePrefix + test::InvalidIndexText);

    TFakeValuesArray failingGet = Settings(100, "#37", "#13", "", "", "", "");
    failingGet.FailingReads[3] = "Get failed";
    ASSERT_NO_THROW(text = TKBDUtils::ValuesArrayToStr(failingGet));
    EXPECT_EQ(text, FailurePrefix + "Get failed");
    // The first failure ends the reading, as in Open.
    EXPECT_EQ(failingGet.ReadIndexes, (std::vector<std::int32_t>{0, 1, 2, 3}));

    TFakeValuesArray letters = Settings(0, "", "", "", "", "", "");
    letters.Values[0] = std::string("abc");
    ASSERT_NO_THROW(text = TKBDUtils::ValuesArrayToStr(letters));
    EXPECT_EQ(text, FailurePrefix + test::TypeMismatchText);
}

TEST(CodePage, ConvertsRussianTextBothWays) {
    SKIP_UNLESS_WINDOWS_1251_LITERALS();
    const std::string narrow = "ЧтениеКодаМагнитнойКарты: Ёлка, ёж, №5, «Ошибок нет»";
    const std::wstring wide = L"ЧтениеКодаМагнитнойКарты: Ёлка, ёж, №5, «Ошибок нет»";
    ASSERT_EQ(narrow.size(), wide.size());  // one byte per character in the narrow form
    EXPECT_EQ(TKBDUtils::ToWide(narrow), wide);
    EXPECT_EQ(TKBDUtils::ToAnsi(wide), narrow);
    EXPECT_EQ(TKBDUtils::ToWide(""), L"");
    EXPECT_EQ(TKBDUtils::ToAnsi(L""), "");
}

TEST(CodePage, IsWindows1251ForEveryByteItDefines) {
    // Places where Windows-1251 differs from Latin-1 and its neighbours.
    const std::vector<std::pair<unsigned char, wchar_t>> anchors = {
        {0x00, L'\0'},     {0x41, L'A'},      {0x7F, L'\x7F'},   {0x80, L'\x0402'},
        {0x88, L'\x20AC'}, {0xA8, L'\x0401'}, {0xB8, L'\x0451'}, {0xB9, L'\x2116'},
        {0xC0, L'\x0410'}, {0xDF, L'\x042F'}, {0xE0, L'\x0430'}, {0xFF, L'\x044F'}};
    for (const auto& [byte, character] : anchors) {
        EXPECT_EQ(TKBDUtils::ToWide(std::string(1, static_cast<char>(byte))),
                  std::wstring(1, character))
            << "byte " << static_cast<int>(byte);
    }

    // Every byte the code page gives a character comes back as itself, also all in one text
    // (with the zero byte inside it).
    std::string defined;
    for (int byte = 0; byte < 256; ++byte) {
        const std::string one(1, static_cast<char>(byte));
        const std::wstring wide = TKBDUtils::ToWide(one);
        ASSERT_EQ(wide.size(), 1U) << "byte " << byte;
        if (wide[0] == L'\xFFFD' || (wide[0] == L'?' && byte != '?')) {
            continue;  // unassigned in the code page
        }
        EXPECT_EQ(TKBDUtils::ToAnsi(wide), one) << "byte " << byte;
        defined += one;
    }
    EXPECT_GE(defined.size(), 255U);
    EXPECT_EQ(TKBDUtils::ToAnsi(TKBDUtils::ToWide(defined)), defined);
}

TEST(CodePage, WritesCharactersOutsideTheCodePageAsQuestionMarks) {
    SKIP_UNLESS_WINDOWS_1251_LITERALS();
    EXPECT_EQ(TKBDUtils::ToAnsi(L"a\x4E2D"
                                L"b\x0E01"
                                L"c\x2603"),
              "a?b?c?");
    EXPECT_EQ(TKBDUtils::ToAnsi(L"Ж\x4E2DЖ"), "Ж?Ж");
}

}  // namespace
}  // namespace wedgecard
