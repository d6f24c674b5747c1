#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "driver/capture/Keys.h"
#include "driver/core/KBDDriver.h"
#include "driver/core/untError.h"
#include "tests/driver/capture/KeyBuilder.h"

namespace wedgecard::test {
namespace {

// The codes of the keys in a list, in order: what the tests below recognise keys by.
std::vector<int> CodesOf(const TKeys& Keys) {
    std::vector<int> codes;
    for (int i = 0; i < Keys.Count(); ++i) {
        codes.push_back(Keys.Items(i)->Code());
    }
    return codes;
}

void FillWithCodes(TKeys& Keys, const std::vector<std::uint8_t>& Codes) {
    TKeyBuilder build(Keys);
    for (const std::uint8_t code : Codes) {
        build.Down(code);
    }
}

// --- Key records and the list that owns them -------------------------------------------------

TEST(KeyList, AddAppendsKeysOwnedByTheList) {
    TKeys keys;
    FillWithCodes(keys, {65, 66, 67});

    EXPECT_EQ(CodesOf(keys), (std::vector<int>{65, 66, 67}));
    for (int i = 0; i < keys.Count(); ++i) {
        EXPECT_EQ(keys.Items(i)->Owner(), &keys);
        EXPECT_EQ(keys.IndexOf(keys.Items(i)), i);
    }
}

TEST(KeyList, AnswersNoneForPositionsOutsideTheList) {
    TKeys keys;
    EXPECT_EQ(keys.Count(), 0);
    EXPECT_EQ(keys.Items(0), nullptr);

    FillWithCodes(keys, {65, 66});

    EXPECT_EQ(keys.Items(-1), nullptr);
    EXPECT_EQ(keys.Items(2), nullptr);
    EXPECT_NE(keys.Items(1), nullptr);
}

TEST(KeyList, DestroyingAKeyMovesTheLaterKeysDown) {
    TKeys keys;
    FillWithCodes(keys, {10, 11, 12, 13, 14});
    TKey* third = keys.Items(3);

    delete keys.Items(2);

    ASSERT_EQ(keys.Count(), 4);
    EXPECT_EQ(CodesOf(keys), (std::vector<int>{10, 11, 13, 14}));
    EXPECT_EQ(keys.Items(2), third);
}

TEST(KeyList, DestroyingKeysAtEitherEndKeepsTheRestInOrder) {
    TKeys keys;
    FillWithCodes(keys, {10, 11, 12, 13});

    delete keys.Items(0);
    EXPECT_EQ(CodesOf(keys), (std::vector<int>{11, 12, 13}));
    delete keys.Items(2);
    EXPECT_EQ(CodesOf(keys), (std::vector<int>{11, 12}));
}

TEST(KeyList, DestroyingTheOnlyKeyEmptiesTheList) {
    TKeys keys;
    FillWithCodes(keys, {65});

    delete keys.Items(0);

    EXPECT_EQ(keys.Count(), 0);
    EXPECT_EQ(keys.Items(0), nullptr);
    FillWithCodes(keys, {66});
    EXPECT_EQ(CodesOf(keys), std::vector<int>{66});
}

TEST(KeyList, ClearLeavesAnEmptyListThatCanBeFilledAgain) {
    TKeys keys;
    FillWithCodes(keys, {65, 66, 67});

    keys.Clear();

    EXPECT_EQ(keys.Count(), 0);
    EXPECT_EQ(keys.Items(0), nullptr);
    FillWithCodes(keys, {68});
    EXPECT_EQ(CodesOf(keys), std::vector<int>{68});
}

TEST(KeyList, ChangingTheOwnerMovesTheKeyToTheEndOfTheNewList) {
    TKeys from;
    TKeys to;
    FillWithCodes(from, {10, 11, 12});
    FillWithCodes(to, {20});
    TKey* moved = from.Items(0);

    moved->SetOwner(&to);

    EXPECT_EQ(CodesOf(from), (std::vector<int>{11, 12}));
    EXPECT_EQ(CodesOf(to), (std::vector<int>{20, 10}));
    EXPECT_EQ(moved->Owner(), &to);
}

TEST(KeyList, SettingTheSameOwnerKeepsTheKeyWhereItIs) {
    TKeys keys;
    FillWithCodes(keys, {10, 11, 12});
    TKey* first = keys.Items(0);

    first->SetOwner(&keys);

    EXPECT_EQ(CodesOf(keys), (std::vector<int>{10, 11, 12}));
    EXPECT_EQ(keys.Items(0), first);
}

TEST(KeyList, FreeStandingKeyCanJoinAndLeaveAList) {
    TKeys keys;
    FillWithCodes(keys, {10});
    TKey loose;
    EXPECT_EQ(loose.Owner(), nullptr);

    loose.SetOwner(&keys);
    ASSERT_EQ(keys.Count(), 2);
    EXPECT_EQ(keys.Items(1), &loose);

    loose.SetOwner(nullptr);
    EXPECT_EQ(loose.Owner(), nullptr);
    EXPECT_EQ(CodesOf(keys), std::vector<int>{10});
}

TEST(KeyList, AssignCopiesTheRecordButNotTheOwner) {
    TKeys source;
    TKeys target;
    TKeyBuilder(source).Up(65, shift_state::CapsLockShift);
    TKey& original = *source.Items(0);
    original.Msg = TMsg{&source, wm::SysKeyUp, 65, 0x20000001, 1234, -5, 7};
    original.KeyboardState[200] = 0x81;
    TKey& copy = *target.Add();

    copy.Assign(original);

    EXPECT_EQ(copy.Owner(), &target);
    EXPECT_EQ(copy.Msg.hwnd, original.Msg.hwnd);
    EXPECT_EQ(copy.Msg.message, wm::SysKeyUp);
    EXPECT_EQ(copy.Msg.wParam, 65u);
    EXPECT_EQ(copy.Msg.lParam, 0x20000001);
    EXPECT_EQ(copy.Msg.time, 1234u);
    EXPECT_EQ(copy.Msg.ptX, -5);
    EXPECT_EQ(copy.Msg.ptY, 7);
    EXPECT_TRUE(copy.KeyUp);
    EXPECT_EQ(copy.ShiftState, shift_state::CapsLockShift);
    EXPECT_EQ(copy.KeyboardState, original.KeyboardState);
    EXPECT_EQ(source.Count(), 1);
    EXPECT_EQ(target.Count(), 1);
}

// --- The character table ---------------------------------------------------------------------

bool IsLetter(int Code) {
    return Code >= 65 && Code <= 90;
}

TEST(KeyChars, FollowsTheUsLayoutWithAndWithoutShift) {
    struct TCase {
        std::uint8_t Code;
        char Plain;
        char Shifted;
    };
    const TCase cases[] = {{32, ' ', ' '},   {48, '0', ')'},   {49, '1', '!'},   {51, '3', '#'},
                           {57, '9', '('},   {65, 'a', 'A'},   {90, 'z', 'Z'},   {96, '0', '0'},
                           {105, '9', '9'},  {106, '*', '*'},  {107, '+', '+'},  {109, '-', '-'},
                           {110, '.', '.'},  {111, '/', '/'},  {186, ';', ':'},  {187, '=', '+'},
                           {188, ',', '<'},  {189, '-', '_'},  {190, '.', '>'},  {191, '/', '?'},
                           {192, '`', '~'},  {219, '[', '{'},  {220, '\\', '|'}, {221, ']', '}'},
                           {222, '\'', '"'}, {13, '\0', '\0'}, {108, '\0', '\0'}};
    for (const TCase& c : cases) {
        EXPECT_EQ(KeyChar(shift_state::None, c.Code), c.Plain) << int{c.Code};
        EXPECT_EQ(KeyChar(shift_state::Shift, c.Code), c.Shifted) << int{c.Code};
    }
}

TEST(KeyChars, CapsLockChangesTheLettersOnly) {
    for (int code = 0; code < 256; ++code) {
        const auto column = static_cast<std::size_t>(code);
        if (IsLetter(code)) {
            EXPECT_EQ(KeyChars[2][column], KeyChars[1][column]) << code;
            EXPECT_EQ(KeyChars[3][column], KeyChars[0][column]) << code;
        } else {
            EXPECT_EQ(KeyChars[2][column], KeyChars[0][column]) << code;
            EXPECT_EQ(KeyChars[3][column], KeyChars[1][column]) << code;
        }
    }
}

TEST(KeyChars, CapsLockWithShiftGivesLowerCaseLettersAndShiftedDigits) {
    EXPECT_EQ(KeyChar(shift_state::CapsLockShift, 'A'), 'a');
    EXPECT_EQ(KeyChar(shift_state::CapsLockShift, '1'), '!');
    EXPECT_EQ(KeyChar(shift_state::CapsLock, 'A'), 'A');
    EXPECT_EQ(KeyChar(shift_state::CapsLock, '1'), '1');
}

TEST(KeyChars, HasCharactersForTheListedKeysOnly) {
    // Space, ten digits, 26 letters, ten pad digits, five pad operators, eleven punctuation keys.
    for (const auto& row : KeyChars) {
        int withCharacter = 0;
        for (const char c : row) {
            withCharacter += c != 0 ? 1 : 0;
        }
        EXPECT_EQ(withCharacter, 63);
    }
}

// --- The display names -----------------------------------------------------------------------

std::set<int> NamedCodes() {
    std::set<int> codes{8,   9,   12,  13,  16,  17,  18,  19,  20,  27,  32,  33,  34,
                        35,  36,  37,  38,  39,  40,  41,  43,  44,  45,  46,  47,  106,
                        107, 109, 110, 111, 144, 145, 186, 187, 188, 189, 190, 191, 192,
                        219, 220, 221, 222, 246, 247, 248, 249, 250, 251, 254};
    const std::pair<int, int> ranges[] = {{48, 57}, {65, 90}, {96, 105}, {112, 135}, {160, 183}};
    for (const auto& [first, last] : ranges) {
        for (int code = first; code <= last; ++code) {
            codes.insert(code);
        }
    }
    return codes;
}

TEST(KeyNames, NamesExactly144Codes) {
    const std::set<int> named = NamedCodes();
    ASSERT_EQ(named.size(), 144u);
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(!KeyNames[static_cast<std::size_t>(code)].empty(), named.count(code) == 1)
            << code;
    }
}

TEST(KeyNames, NamesKeysAsTheKeySelectionOffersThem) {
    struct TCase {
        std::uint8_t Code;
        const char* Name;
    };
    // The ends of each run of names and the irregular ones.
    const TCase cases[] = {
        {8, "BackSpace"}, {20, "Caps lock"},    {44, "Print screen"}, {51, "3 #"},
        {90, "z Z"},      {105, "NumPad 9"},    {107, "NumPad +"},    {109, "NumPad -"},
        {135, "F24"},     {161, "Rigth SHIFT"}, {175, "Volume UP"},   {183, "App 2"},
        {192, "` ~"},     {220, "\\ |"},        {222, "' \""},        {254, "OEM Clear"}};
    for (const TCase& c : cases) {
        EXPECT_EQ(KeyNames[c.Code], c.Name) << int{c.Code};
    }
}

// --- Key-code notation -----------------------------------------------------------------------

const char* const MalformedKeyCodes[] = {
    "#256", "9",     "#1a",   "#1 #2",       "##1",
    "#12#", "##",    " #1",   "#1 ",         "#-1",
    "#+1",  "#1##2", "#1,#2", "#4294967296", "#99999999999999999999",
    "#x"};

TEST(KeyCodeNotation, DecodesEachGroupToOneByteInOrder) {
    EXPECT_EQ(ParseKeyCodes("#9#13"), std::string("\x09\x0D"));
    EXPECT_EQ(ParseKeyCodes("#186"), std::string("\xBA"));
    EXPECT_EQ(ParseKeyCodes("#255#1"), std::string("\xFF\x01"));
    EXPECT_EQ(ParseKeyCodes("#013"), std::string("\x0D"));
    EXPECT_EQ(ParseKeyCodes("#0"), std::string(1, '\0'));
    EXPECT_EQ(ParseKeyCodes("#13#0#13"), std::string("\x0D\x00\x0D", 3));
}

TEST(KeyCodeNotation, EmptyTextAndALoneHashDecodeToNothing) {
    EXPECT_EQ(ParseKeyCodes(""), std::string());
    EXPECT_EQ(ParseKeyCodes("#"), std::string());
}

TEST(KeyCodeNotation, RejectsMalformedText) {
    for (const char* text : MalformedKeyCodes) {
        EXPECT_EQ(ParseKeyCodes(text), std::nullopt) << text;
    }
}

TEST(KeyCodeNotation, DriverDecoderReturnsTheCodesOfWellFormedText) {
    EXPECT_EQ(DecodeKeyCodes("#9#13", "ПрефиксДрайвера1"), "\x09\x0D");
    EXPECT_EQ(DecodeKeyCodes("", "ПрефиксДрайвера1"), "");
    EXPECT_EQ(DecodeKeyCodes("#", "ПрефиксДрайвера1"), "");
}

TEST(KeyCodeNotation, DriverDecoderRaisesError6NamingTheParameter) {
    for (const char* text : MalformedKeyCodes) {
        try {
            (void)DecodeKeyCodes(text, "СуффиксДрайвера1");
            ADD_FAILURE() << "accepted " << text;
        } catch (const EKBDError& error) {
            EXPECT_EQ(error.Code(), 6) << text;
            EXPECT_STREQ(error.what(), "СуффиксДрайвера1: Неверный формат строки данных") << text;
        }
    }
}

// --- Texts of captured keys ------------------------------------------------------------------

// The track typed as ; 1 2 = 3 ? Enter, the question mark with Shift.
void TypeSampleTrack(TKeys& Keys) {
    TKeyBuilder(Keys).Tap(186).Tap('1').Tap('2').Tap(187).Tap('3').ShiftTap(191).Tap(13);
}

TEST(KeyText, EscapedTextShowsKeysWithoutCharacterAsTheirCode) {
    TKeys keys;
    TypeSampleTrack(keys);

    EXPECT_EQ(keys.GetText(0, keys.Count() - 1, true), ";12=3?#13;");
    EXPECT_EQ(keys.GetText(0, keys.Count() - 1, false), ";12=3?");
}

TEST(KeyText, DoublesTheHashOnlyWhenEscaped) {
    TKeys keys;
    TKeyBuilder(keys).ShiftTap('3');

    EXPECT_EQ(keys.GetText(0, keys.Count() - 1, true), "##");
    EXPECT_EQ(keys.GetText(0, keys.Count() - 1, false), "#");
}

TEST(KeyText, LeavesOutReleasesAndShiftCtrlAltPresses) {
    TKeys keys;
    TKeyBuilder(keys)
        .Down(vk::Shift, shift_state::Shift)
        .Down(vk::Control, shift_state::Shift)
        .Down(vk::Menu, shift_state::Shift)
        .Down('K', shift_state::Shift)
        .Up('K', shift_state::Shift)
        .Up(vk::Menu, shift_state::Shift)
        .Up(vk::Control, shift_state::Shift)
        .Up(vk::Shift)
        .Up(13);
    const int last = keys.Count() - 1;

    EXPECT_EQ(keys.GetText(0, last, true), "K");
    EXPECT_EQ(keys.GetText(0, last, false), "K");
    EXPECT_EQ(keys.GetDisplayText(0, last), "K");
}

TEST(KeyText, ReadsEachKeyWithItsOwnShiftState) {
    TKeys keys;
    TKeyBuilder(keys)
        .Down('A', shift_state::None)
        .Down('A', shift_state::Shift)
        .Down('A', shift_state::CapsLock)
        .Down('A', shift_state::CapsLockShift)
        .Down('1', shift_state::CapsLockShift);

    EXPECT_EQ(keys.GetText(0, 4, true), "aAAa!");
}

TEST(KeyText, CoversTheInclusiveRangeOnly) {
    TKeys keys;
    TKeyBuilder(keys).Tap('A').Tap('B').Tap('C');

    EXPECT_EQ(keys.GetText(2, 4, true), "bc");
    EXPECT_EQ(keys.GetText(3, 3, true), "");
    EXPECT_EQ(keys.GetDisplayText(2, 4), "bc");
}

TEST(KeyText, EmptyRangeGivesEmptyText) {
    TKeys keys;
    TKeyBuilder(keys).Tap('A').Tap(13);

    EXPECT_EQ(keys.GetText(3, 2, true), "");
    EXPECT_EQ(keys.GetDisplayText(3, 2), "");
    TKeys none;
    EXPECT_EQ(none.GetText(0, -1, true), "");
    EXPECT_EQ(none.GetDisplayText(0, -1), "");
}

TEST(KeyText, IgnoresPositionsOutsideTheList) {
    TKeys keys;
    TKeyBuilder(keys).Tap('A').Tap(13);

    EXPECT_EQ(keys.GetText(-3, keys.Count() + 4, true), "a#13;");
    EXPECT_EQ(keys.GetText(keys.Count(), keys.Count() + 2, true), "");
    EXPECT_EQ(keys.GetDisplayText(-1, keys.Count()), "a #13 ");
    TKeys none;
    EXPECT_EQ(none.GetText(0, 5, true), "");
}

TEST(KeyDisplayText, SpacesOutKeysWithoutCharacter) {
    TKeys enter;
    TKeyBuilder(enter).Tap(13);
    TKeys letterThenEnter;
    TKeyBuilder(letterThenEnter).Tap('A').Tap(13);
    TKeys enterThenTab;
    TKeyBuilder(enterThenTab).Tap(13).Tap(9);

    EXPECT_EQ(enter.GetDisplayText(0, enter.Count() - 1), "#13 ");
    EXPECT_EQ(letterThenEnter.GetDisplayText(0, letterThenEnter.Count() - 1), "a #13 ");
    EXPECT_EQ(enterThenTab.GetDisplayText(0, enterThenTab.Count() - 1), "#13  #9 ");
}

TEST(KeyDisplayText, CountsOnlyTheKeysItShows) {
    TKeys keys;
    TKeyBuilder(keys).Down(vk::Shift, shift_state::Shift).Up(vk::Shift).Tap(13).Tap(9);

    EXPECT_EQ(keys.GetDisplayText(0, keys.Count() - 1), "#13  #9 ");
    EXPECT_EQ(keys.GetDisplayText(2, keys.Count() - 1), "#13  #9 ");
}

TEST(KeyDisplayText, ShowsCharactersUnescaped) {
    TKeys keys;
    TypeSampleTrack(keys);
    TKeyBuilder(keys).ShiftTap('3');

    EXPECT_EQ(keys.GetDisplayText(0, keys.Count() - 1), ";12=3? #13 #");
}

}  // namespace
}  // namespace wedgecard::test
