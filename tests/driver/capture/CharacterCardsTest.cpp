#include "driver/capture/CharacterCards.h"

#include <gtest/gtest.h>

#include "tests/driver/core/DriverFixture.h"

namespace wedgecard::test {
namespace {

// The ISO framing of the settings form's defaults: "%" "?", ";" "?", ";" "?", Enter after the card.
TCharacterFrame Iso(bool Track1, bool Track2, bool Track3, std::string CardSuffix = "\r") {
    return TCharacterFrame{{{{"%", "?", Track1}, {";", "?", Track2}, {";", "?", Track3}}},
                           std::move(CardSuffix)};
}

TEST(CharacterCards, AreTheTracksTheDeviceReadsEachWithItsFramingAndConsumeTheWholeCard) {
    TKeys keys;
    TKeysBuilder build(keys);
    build.Type("ab");  // positions 0 to 3, given back
    build.Type("%B12^X?;34=5?").Tap(13);
    const int firstEnd = keys.Count() - 1;
    build.Type("%C6?;78?").Tap(13);
    const int secondEnd = keys.Count() - 1;
    build.Type("x");

    const std::vector<TCharacterCard> both = FindCharacterCards(keys, Iso(true, true, false));
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].Data, "%B12^X?;34=5?");
    // From the Shift press before "%" to the release of the Enter after the card.
    EXPECT_EQ(both[0].Keys, (TKeyRange{4, firstEnd}));
    EXPECT_EQ(both[1].Data, "%C6?;78?");
    EXPECT_EQ(both[1].Keys, (TKeyRange{firstEnd + 1, secondEnd}));

    // Track 2 alone, as a track-2 template matches it; track 1 is consumed all the same.
    const std::vector<TCharacterCard> second = FindCharacterCards(keys, Iso(false, true, false));
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].Data, ";34=5?");
    EXPECT_EQ(second[0].Keys, both[0].Keys);

    // Track 3 shares track 2's framing: only its place after track 2 tells them apart.
    keys.Clear();
    TKeysBuilder(keys).Type(";34?;56?");
    const std::vector<TCharacterCard> third = FindCharacterCards(keys, Iso(false, false, true));
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(third[0].Data, ";56?");
}

TEST(CharacterCards, MatchCharactersWithTheirShiftStateAndFramingOfSeveralCharacters) {
    TKeys keys;
    TKeysBuilder(keys).Type("5B123?;4?").Tap(13);
    EXPECT_EQ(FindCharacterCards(keys, Iso(true, false, false)).size(), 0u) << "5 is not %";

    // Caps Lock changes letters only: Shift+5 with it on is still "%".
    keys.Clear();
    TKeysBuilder(keys)
        .Down(vk::Shift, 3)
        .Tap('5', 3)
        .Up(vk::Shift, 2)
        .Tap('B', 2)
        .Down(vk::Shift, 3)
        .Tap(0xBF, 3)
        .Up(vk::Shift, 2);
    ASSERT_EQ(FindCharacterCards(keys, Iso(true, false, false)).size(), 1u);
    EXPECT_EQ(FindCharacterCards(keys, Iso(true, false, false))[0].Data, "%B?");

    // A reader that sends Enter after every track: "?" and Enter end each track, nothing the card.
    keys.Clear();
    TKeysBuilder(keys).Type("%A?").Tap(13).Type(";1?").Tap(13).Type("z");
    TCharacterFrame enterAfterEach{{{{"%", "?\r", true}, {";", "?\r", true}, {}}}, ""};
    const std::vector<TCharacterCard> cards = FindCharacterCards(keys, enterAfterEach);
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0].Data, "%A?\r;1?\r");
    EXPECT_EQ(cards[0].Keys.Last, keys.Count() - 3) << "z is not the card's";
}

TEST(CharacterCards, AreNoneWithoutATrackTheDeviceReadsOrWithOnlyEmptyOnes) {
    TKeys keys;
    TKeysBuilder(keys).Type("%B1?").Tap(13);
    EXPECT_EQ(FindCharacterCards(keys, Iso(false, true, false)).size(), 0u);
    keys.Clear();
    TKeysBuilder(keys).Type("%?;?").Tap(13);
    EXPECT_EQ(FindCharacterCards(keys, Iso(true, true, false)).size(), 0u);
    keys.Clear();
    TKeysBuilder(keys).Type("?").Tap(13).Type("%1");  // a suffix before the prefix only
    EXPECT_EQ(FindCharacterCards(keys, Iso(true, false, false)).size(), 0u);
}

TEST(CharacterCards, EndAtTheCardSuffixOrOnceEveryTrackSearchedForIsThere) {
    TKeys keys;
    TKeysBuilder build(keys);
    build.Type("a5");  // 5 without Shift is no "%"
    EXPECT_EQ(CharacterCardState(keys, Iso(true, true, false)), TCardState::Settled);
    build.Type("%B1?;2?");
    EXPECT_EQ(CharacterCardState(keys, Iso(true, true, false)), TCardState::Open)
        << "its Enter may still come";
    TCharacterFrame noCardSuffix = Iso(true, true, false, "");
    EXPECT_EQ(CharacterCardState(keys, noCardSuffix), TCardState::Open)
        << "track 3 is not read, but may come and is not to reach the window";
    noCardSuffix.Tracks[2] = {};
    EXPECT_EQ(CharacterCardState(keys, noCardSuffix), TCardState::Complete);
    build.Tap(13);
    EXPECT_EQ(CharacterCardState(keys, Iso(true, true, false)), TCardState::Complete);
    EXPECT_EQ(CharacterCardState(keys, Iso(false, true, true)), TCardState::Complete)
        << "the card suffix ends a card whatever tracks it has";

    keys.Clear();
    TKeysBuilder(keys).Type("%B1?");
    TCharacterFrame twoCharacters{{{{"%", "?\r", true}, {}, {}}}, ""};
    EXPECT_EQ(CharacterCardState(keys, twoCharacters), TCardState::Open) << "half a suffix";
    TCharacterFrame anywhere{{{{"", "?", true}, {}, {}}}, ""};
    keys.Clear();
    TKeysBuilder(keys).Type("ab");
    EXPECT_EQ(CharacterCardState(keys, anywhere), TCardState::Open)
        << "a track without a prefix may begin at any key";
}

TEST(CharacterTyping, KnowsWhichKeysTypeACharacterOnTheUsLayout) {
    EXPECT_EQ(KeysTyping('%'), "\x35");
    EXPECT_EQ(KeysTyping('5'), "\x35\x65");  // the digit row and the numeric pad
    EXPECT_EQ(KeysTyping('?'), "\xBF");
    EXPECT_EQ(KeysTyping('\r'), "\x0D");
    EXPECT_EQ(DescribeTyping('%'), "Shift+5");
    EXPECT_EQ(DescribeTyping('?'), "Shift+/");
    EXPECT_EQ(DescribeTyping('Q'), "Shift+Q");
    EXPECT_EQ(DescribeTyping(';'), ";");
    EXPECT_EQ(DescribeTyping('\r'), "Enter");

    EXPECT_TRUE(IsTypable('%') && IsTypable(13) && IsTypable(9) && IsTypable(' '));
    EXPECT_FALSE(IsTypable(0) || IsTypable(-1) || IsTypable(8) || IsTypable(127) ||
                 IsTypable(0xC0) || IsTypable(1103));
}

}  // namespace
}  // namespace wedgecard::test
