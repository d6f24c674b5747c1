#include "driver/capture/CharacterCards.h"

#include <gtest/gtest.h>

#include "tests/driver/core/DriverFixture.h"

namespace wedgecard::test {
namespace {

const TCharacterFrame PercentToEnter{'%', '\r'};

// "%B123?" Enter ";456?" Enter: two tracks, each followed by Enter, as readers are often set up.
void TypeTwoTrackCard(TKeysBuilder& Build) {
    Build.Type("%B123?").Tap(13).Type(";456?").Tap(13);
}

TEST(CharacterCard, RunsFromThePrefixToTheLastSuffixOfTheBurst) {
    TKeys keys;
    TKeysBuilder build(keys);
    build.Type("ab");  // positions 0 to 3, given back
    TypeTwoTrackCard(build);
    const int cardEnd = keys.Count() - 1;
    build.Type("x");

    const std::optional<TCharacterCard> card = FindCharacterCard(keys, PercentToEnter);

    ASSERT_TRUE(card);
    EXPECT_EQ(card->Text, "%B123?\r;456?\r");
    // From the Shift press before "%" to the release of the last Enter.
    EXPECT_EQ(card->Keys, (TKeyRange{4, cardEnd}));
}

TEST(CharacterCard, MatchesCharactersWithTheirShiftState) {
    TKeys keys;
    TKeysBuilder(keys).Type("5B123?").Tap(13);
    EXPECT_FALSE(FindCharacterCard(keys, PercentToEnter)) << "5 is not %";

    keys.Clear();
    TKeysBuilder(keys).Type("%B123/").Tap(13);
    EXPECT_FALSE(FindCharacterCard(keys, {'%', '?'})) << "/ is not ?";

    // Caps Lock changes letters only: Shift+5 with it on is still "%".
    keys.Clear();
    TKeysBuilder(keys).Down(vk::Shift, 3).Tap('5', 3).Up(vk::Shift, 2).Tap('B', 2).Tap(13, 2);
    ASSERT_TRUE(FindCharacterCard(keys, PercentToEnter));
    EXPECT_EQ(FindCharacterCard(keys, PercentToEnter)->Text, "%B\r");
}

TEST(CharacterCard, WithoutAPrefixBeginsAtTheFirstKeyAndWithoutASuffixRunsToTheEnd) {
    TKeys keys;
    TKeysBuilder(keys).Tap(vk::Tab).Type("12=34?").Tap(13).Type("z");

    const std::optional<TCharacterCard> suffixOnly = FindCharacterCard(keys, {std::nullopt, '\r'});
    ASSERT_TRUE(suffixOnly);
    EXPECT_EQ(suffixOnly->Text, "\t12=34?\r");
    EXPECT_EQ(suffixOnly->Keys.First, 0);

    const std::optional<TCharacterCard> prefixOnly = FindCharacterCard(keys, {'=', std::nullopt});
    ASSERT_TRUE(prefixOnly);
    EXPECT_EQ(prefixOnly->Text, "=34?\rz");
    EXPECT_EQ(prefixOnly->Keys.Last, keys.Count() - 1);

    EXPECT_FALSE(FindCharacterCard(keys, {}));
}

TEST(CharacterCard, IsNoCardWithoutItsFramingOrWithNothingButFraming) {
    TKeys keys;
    TKeysBuilder(keys).Tap(13).Type("%B1");
    EXPECT_FALSE(FindCharacterCard(keys, PercentToEnter)) << "a suffix before the prefix only";

    // Enter pressed with Enter as the suffix and no prefix, or twice, or right after "%".
    keys.Clear();
    TKeysBuilder(keys).Tap(13).Tap(13);
    EXPECT_FALSE(FindCharacterCard(keys, {std::nullopt, '\r'}));
    keys.Clear();
    TKeysBuilder(keys).Type("%").Tap(13);
    EXPECT_FALSE(FindCharacterCard(keys, PercentToEnter));

    // A prefix character that is also the suffix does not end its own card.
    keys.Clear();
    TKeysBuilder(keys).Type("%ab");
    EXPECT_FALSE(FindCharacterCard(keys, {'%', '%'}));
}

TEST(CharacterCard, KeepsLaterKeysAbleToChangeItOnceItsPrefixIsTyped) {
    TKeys keys;
    TKeysBuilder build(keys);
    build.Type("a5");  // 5 without Shift is no "%"
    EXPECT_EQ(CharacterCardState(keys, PercentToEnter), TCardState::Settled);
    EXPECT_EQ(CharacterCardState(keys, {std::nullopt, '\r'}), TCardState::Open);
    TypeTwoTrackCard(build);
    // Its suffix typed, a later track ending in the same character may still be its own.
    EXPECT_EQ(CharacterCardState(keys, PercentToEnter), TCardState::Open);
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
