#include <gtest/gtest.h>

#include <string>

#include "driver/capture/Keys.h"
#include "tests/driver/capture/KeyBuilder.h"

namespace wedgecard::test {
namespace {

const std::string Semicolon = "\xBA";  // #186
const std::string Enter = "\x0D";      // #13
const std::string Tab = "\x09";        // #9
const std::string Slash = "\xBF";      // #191

// Positions 0 to 7: ; (186) down, up, 1 down, up, 2 down, up, Enter down, up.
void TypeFramedTrack(TKeys& Keys) {
    TKeyBuilder(Keys).Tap(186).Tap('1').Tap('2').Tap(13);
}

// --- Matching a code string at one position --------------------------------------------------

TEST(KeyCodeMatch, StepsOverReleasesAndModifierPresses) {
    TKeys keys;
    TKeyBuilder(keys).Tap(186).Down(vk::Shift, shift_state::Shift).Tap('1').Up(vk::Shift).Tap('2');
    int index = 0;

    const bool matched = keys.MatchCodes(index, Semicolon + "1");

    EXPECT_TRUE(matched);
    EXPECT_EQ(index, 6);  // the press of 2, after the releases that followed the 1
}

TEST(KeyCodeMatch, StopsAtCountWhenTheKeysRunOut) {
    TKeys keys;
    TKeyBuilder(keys).Tap(13);
    int index = 0;

    EXPECT_TRUE(keys.MatchCodes(index, Enter));
    EXPECT_EQ(index, 2);
}

TEST(KeyCodeMatch, RunStartingWithAReleaseNeverMatches) {
    TKeys keys;
    TKeyBuilder(keys).Up(13).Tap(13);
    int index = 0;

    EXPECT_FALSE(keys.MatchCodes(index, Enter));
    EXPECT_EQ(index, 0);
}

TEST(KeyCodeMatch, StopsAtTheFirstPressThatIsNotTheNextCode) {
    TKeys keys;
    TKeyBuilder(keys).Down('1').Down('3').Down('2');
    int index = 0;

    EXPECT_FALSE(keys.MatchCodes(index, "12"));
    EXPECT_EQ(index, 1);
}

TEST(KeyCodeMatch, TooFewPressesDoNotMatch) {
    TKeys keys;
    TKeyBuilder(keys).Tap(13);
    int index = 0;

    EXPECT_FALSE(keys.MatchCodes(index, Enter + Enter));
    EXPECT_EQ(index, 2);
}

TEST(KeyCodeMatch, CodesOfShiftCtrlAndAltNeverMatch) {
    TKeys keys;
    TKeyBuilder(keys).Down(vk::Shift).Down(vk::Control).Down(vk::Menu).Tap('5');

    for (const char modifier : {'\x10', '\x11', '\x12'}) {
        int index = 0;
        EXPECT_FALSE(keys.MatchCodes(index, std::string(1, modifier))) << int{modifier};
        index = 0;
        EXPECT_FALSE(keys.MatchCodes(index, std::string(1, modifier) + "5")) << int{modifier};
    }
}

TEST(KeyCodeMatch, EmptyCodesNeverMatch) {
    TKeys keys;
    TypeFramedTrack(keys);
    int index = 2;

    EXPECT_FALSE(keys.MatchCodes(index, ""));
    EXPECT_EQ(index, 2);
}

TEST(KeyCodeMatch, PositionsOutsideTheListNeverMatch) {
    TKeys keys;
    TypeFramedTrack(keys);
    TKeys none;

    for (const int start : {-1, 8, 20}) {
        int index = start;
        EXPECT_FALSE(keys.MatchCodes(index, Semicolon)) << start;
        EXPECT_EQ(index, start);
    }
    int index = 0;
    EXPECT_FALSE(none.MatchCodes(index, Enter));
    EXPECT_EQ(index, 0);
}

// --- One framed track ------------------------------------------------------------------------

class TrackSearch : public testing::Test {
protected:
    TrackSearch() { TypeFramedTrack(Keys); }

    bool Find(const std::string& Prefix, const std::string& Suffix, int From = 0) {
        Start = From;
        return Keys.FindTrack(Prefix, Suffix, Text, Stop, Start);
    }

    TKeys Keys;
    std::string Text = "stale";
    int Start = -100;
    int Stop = -100;
};

TEST_F(TrackSearch, PrefixAndSuffixFrameTheTrack) {
    EXPECT_TRUE(Find(Semicolon, Enter));
    EXPECT_EQ(Text, "12");
    EXPECT_EQ(Start, 0);
    EXPECT_EQ(Stop, 8);
}

TEST_F(TrackSearch, SuffixAloneFramesTrackFromSearchStart) {
    EXPECT_TRUE(Find("", Enter));
    EXPECT_EQ(Text, ";12");
    EXPECT_EQ(Start, 0);
    EXPECT_EQ(Stop, 8);

    EXPECT_TRUE(Find("", Enter, 2));
    EXPECT_EQ(Text, "12");
    EXPECT_EQ(Start, 2);
}

TEST_F(TrackSearch, PrefixAloneRunsTheTrackToTheLastKey) {
    EXPECT_TRUE(Find(Semicolon, ""));
    EXPECT_EQ(Text, "12#13;");
    EXPECT_EQ(Start, 0);
    EXPECT_EQ(Stop, 7);
}

TEST_F(TrackSearch, ConfiguredPrefixMustBeThereForTheSuffixToEndATrack) {
    // Otherwise a word typed and Enter would be a track.
    EXPECT_FALSE(Find(Tab, Enter, 2));
    EXPECT_EQ(Text, "");
    EXPECT_EQ(Start, 2);
}

TEST_F(TrackSearch, FailureLeavesPositionsAndEmptiesText) {
    struct TCase {
        std::string Prefix;
        std::string Suffix;
    };
    const TCase cases[] = {{"", ""}, {Tab, ""}, {Semicolon, Tab}, {"", Tab}};
    for (const TCase& c : cases) {
        Text = "stale";
        Stop = -100;

        EXPECT_FALSE(Find(c.Prefix, c.Suffix, 1));
        EXPECT_EQ(Text, "");
        EXPECT_EQ(Start, 1);
        EXPECT_EQ(Stop, -100);
    }
}

TEST_F(TrackSearch, SuffixIsSoughtAfterThePrefix) {
    Keys.Clear();
    TKeyBuilder(Keys).Tap(13).Tap('1').Tap(13);

    EXPECT_TRUE(Find(Enter, Enter));
    EXPECT_EQ(Text, "1");
    EXPECT_EQ(Start, 0);
    EXPECT_EQ(Stop, 6);
}

TEST_F(TrackSearch, SuffixRightAfterThePrefixGivesAnEmptyTrack) {
    Keys.Clear();
    TKeyBuilder(Keys).Tap(186).Tap(13);

    EXPECT_TRUE(Find(Semicolon, Enter));
    EXPECT_EQ(Text, "");
    EXPECT_EQ(Stop, 4);
}

TEST_F(TrackSearch, StopIsTheFirstPressAfterTheSuffixAndItsReleases) {
    Keys.Clear();
    TKeyBuilder(Keys).Tap(186).Tap('1').Down(13).Up(13).Up(vk::Shift).Down('2');

    EXPECT_TRUE(Find(Semicolon, Enter));
    EXPECT_EQ(Stop, 7);
}

TEST_F(TrackSearch, DataIsEscapedTextWithEachKeysShiftState) {
    Keys.Clear();
    TKeyBuilder(Keys).Tap(186).ShiftTap('A').Tap(vk::Control).ShiftTap('3').Tap(9).Tap('B').Tap(13);

    EXPECT_TRUE(Find(Semicolon, Enter));
    EXPECT_EQ(Text, "A###9;b");
}

TEST_F(TrackSearch, MultiCodePrefixNeedsEveryOneOfItsKeys) {
    Keys.Clear();
    TKeyBuilder(Keys).Tap(13).Tap('1');
    EXPECT_FALSE(Find(Enter + Enter, ""));

    Keys.Clear();
    TKeyBuilder(Keys).Tap(13).Tap(13).Tap('1');
    EXPECT_TRUE(Find(Enter + Enter, ""));
    EXPECT_EQ(Text, "1");
}

TEST_F(TrackSearch, ShiftedPrefixMatchesAtTheShiftPress) {
    Keys.Clear();
    TKeyBuilder(Keys).Tap('A').ShiftTap('5').Tap('1').Tap(191);

    EXPECT_TRUE(Find("5", Slash));
    EXPECT_EQ(Start, 2);
    EXPECT_EQ(Text, "1");
}

TEST_F(TrackSearch, PrefixWithAModifierCodeNeverMatches) {
    Keys.Clear();
    TKeyBuilder(Keys).ShiftTap('5').Tap('1');

    EXPECT_FALSE(Find("\x10", ""));
    EXPECT_FALSE(
        Find("\x10"
             "5",
             ""));
}

TEST_F(TrackSearch, BurstOfReleasesOnlyHoldsNoTrack) {
    Keys.Clear();
    TKeyBuilder(Keys).Up(186).Up('1').Up(13);

    EXPECT_FALSE(Find(Semicolon, Enter));
    EXPECT_FALSE(Find("", Enter));
    EXPECT_FALSE(Find(Semicolon, ""));
}

TEST_F(TrackSearch, EmptyListHoldsNoTrack) {
    Keys.Clear();

    EXPECT_FALSE(Find(Semicolon, Enter));
    EXPECT_FALSE(Find("", Enter));
    EXPECT_FALSE(Find(Semicolon, ""));
    EXPECT_EQ(Text, "");
}

TEST_F(TrackSearch, SearchFromTheEndOrBeyondFindsNothing) {
    for (const int from : {8, 9, 50}) {
        EXPECT_FALSE(Find(Semicolon, Enter, from)) << from;
        EXPECT_FALSE(Find("", Enter, from)) << from;
        EXPECT_FALSE(Find(Semicolon, "", from)) << from;
        EXPECT_EQ(Start, from);
        EXPECT_EQ(Stop, -100);
    }
}

TEST_F(TrackSearch, NegativeSearchPositionSearchesFromTheFirstKey) {
    EXPECT_TRUE(Find("", Enter, -3));
    EXPECT_EQ(Text, ";12");
    EXPECT_EQ(Start, 0);
    EXPECT_EQ(Stop, 8);

    EXPECT_TRUE(Find(Semicolon, "", -3));
    EXPECT_EQ(Start, 0);
}

// --- The three tracks of a device ------------------------------------------------------------

class DeviceTracks : public testing::Test {
protected:
    bool Find(const TKeys::TTemplates& Templates) {
        return Keys.FindTracks(Templates, Start, Tracks, Stop);
    }

    TKeys Keys;
    TKeyBuilder Build{Keys};
    TKeys::TTracks Tracks{"stale", "stale", "stale"};
    int Start = -100;
    int Stop = -100;
};

TEST_F(DeviceTracks, FindsEachTrackBetweenItsFrame) {
    Build.Tap(9).Tap(186).Tap('1').Tap(13);
    Build.Tap(33).Tap('A').Tap(34);
    Build.Tap(35).Tap('B').Tap(36);

    EXPECT_TRUE(Find({{{Tab, Enter}, {"\x21", "\x22"}, {"\x23", "\x24"}}}));
    EXPECT_EQ(Tracks, (TKeys::TTracks{";1", "a", "b"}));
    EXPECT_EQ(Start, 0);
    EXPECT_EQ(Stop, Keys.Count() - 1);
}

TEST_F(DeviceTracks, NextTrackIsSearchedFromWhereThePreviousOneEnded) {
    Build.Tap(186).Tap('1').Tap(13).Tap(186).Tap('2').Tap(13);

    EXPECT_TRUE(Find({{{Semicolon, Enter}, {Semicolon, Enter}, {"", ""}}}));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"1", "2", ""}));
    EXPECT_EQ(Start, 0);
    EXPECT_EQ(Stop, 11);
}

TEST_F(DeviceTracks, ShiftedPrefixTrackIsFollowedByTheNextTrack) {
    // Shift+5 ... / then ; ... /: the first prefix matches at the Shift press (position 0).
    Build.ShiftTap('5').Tap('1').Tap(191).Tap(186).Tap('2').Tap(191);

    EXPECT_TRUE(Find({{{"5", Slash}, {Semicolon, Slash}, {"", ""}}}));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"1", "2", ""}));
    EXPECT_EQ(Start, 0);
    EXPECT_EQ(Stop, 13);
}

TEST_F(DeviceTracks, EarlierPrefixKeyInsideLaterTracksDataBeginsNoCard) {
    // The framing of a reader that sends %...?Enter ;...?Enter ;...?Enter, whose track 2 and 3
    // digits hold the 5 of track 1's prefix.
    const std::string end = Slash + Enter;
    Build.ShiftTap('5').Tap('B').Tap('5').ShiftTap(191).Tap(13);
    Build.Tap(186).Tap('4').Tap('5').Tap(187).Tap('5').ShiftTap(191).Tap(13);
    Build.Tap(186).Tap('5').ShiftTap(191).Tap(13);

    EXPECT_TRUE(Find({{{"5", end}, {Semicolon, end}, {Semicolon, end}}}));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"b5", "45=5", "5"}));
    EXPECT_EQ(Stop, Keys.Count() - 1);
}

TEST_F(DeviceTracks, FailedTrackLeavesTheSearchPosition) {
    Build.Tap(186).Tap('1').Tap(13).Tap(186).Tap('2').Tap(13);

    EXPECT_TRUE(Find({{{Semicolon, Enter}, {Tab, Tab}, {"", Enter}}}));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"1", "", ";2"}));
    EXPECT_EQ(Stop, 11);
}

TEST_F(DeviceTracks, TrackWithoutSuffixKeepsTheSearchAtItsStart) {
    // Positions: ; 0-1, 1 2-3, Enter 4-5, Tab 6-7, 2 8-9.
    Build.Tap(186).Tap('1').Tap(13).Tap(9).Tap('2');

    EXPECT_TRUE(Find({{{Enter, ""}, {"", Tab}, {"", ""}}}));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"#9;2", "#13;", ""}));
    EXPECT_EQ(Start, 4);
    EXPECT_EQ(Stop, 9);  // the end of track 1, not the earlier end of track 2
}

TEST_F(DeviceTracks, CardEndsWhereTheNextCardBegins) {
    const TKeys::TTemplates bench{{{Tab, Enter}, {"\x21", "\x22"}, {"\x23", "\x24"}}};
    // Tracks 1 and 2, then a card of three tracks: its track 3 is not the first card's.
    Build.Tap(9).Tap('A').Tap(13).Tap(33).Tap('B').Tap(34);
    Build.Tap(9).Tap('C').Tap(13).Tap(33).Tap('D').Tap(34).Tap(35).Tap('E').Tap(36);
    EXPECT_TRUE(Find(bench));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"a", "b", ""}));
    EXPECT_EQ(Stop, 11);
    Start = Stop + 1;
    EXPECT_TRUE(Find(bench));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"c", "d", "e"}));
    EXPECT_EQ(Start, 12);

    // Track 2 alone, then a card of three tracks: its track 1 is not the first card's.
    Keys.Clear();
    Build.Tap(33).Tap('B').Tap(34);
    Build.Tap(9).Tap('C').Tap(13).Tap(33).Tap('D').Tap(34).Tap(35).Tap('E').Tap(36);
    Start = 0;
    EXPECT_TRUE(Find(bench));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"", "b", ""}));
    EXPECT_EQ(Stop, 5);
}

TEST_F(DeviceTracks, BoundsCoverOnlyTheCardAmidOrdinaryTyping) {
    Build.Tap('H').Tap('I').Tap(186).Tap('1').Tap(13).Tap('B');

    EXPECT_TRUE(Find({{{Semicolon, Enter}, {Tab, Tab}, {Tab, Tab}}}));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"1", "", ""}));
    EXPECT_EQ(Start, 4);
    EXPECT_EQ(Stop, 9);  // the suffix's release: the B typed after the card is not the card's
}

TEST_F(DeviceTracks, NothingFoundEmptiesTheTracksAndLeavesNeutralBounds) {
    Build.Tap('H').Tap('I');

    EXPECT_FALSE(Find({{{Semicolon, Enter}, {"", ""}, {Semicolon, ""}}}));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"", "", ""}));
    EXPECT_EQ(Start, Keys.Count() - 1);
    EXPECT_EQ(Stop, 0);
}

TEST_F(DeviceTracks, EmptyOrReleaseOnlyBurstHoldsNoTracks) {
    const TKeys::TTemplates templates{{{Semicolon, Enter}, {"", Enter}, {Semicolon, ""}}};

    EXPECT_FALSE(Find(templates));
    EXPECT_EQ(Start, -1);
    EXPECT_EQ(Stop, 0);

    Build.Up(186).Up('1').Up(13);
    EXPECT_FALSE(Find(templates));
    EXPECT_EQ(Tracks, (TKeys::TTracks{"", "", ""}));
}

// --- Whether keys typed later can change a device's cards -----------------------------------

TEST_F(DeviceTracks, CardIsCompleteAtTheLastSuffixOnlyWithEveryConfiguredTrack) {
    const TKeys::TTemplates bench{{{Tab, Enter}, {"\x21", "\x22"}, {"\x23", "\x24"}}};
    Build.Tap(9).Tap('A').Tap(13).Tap(33).Tap('B').Tap(34).Tap(35).Tap('C');
    EXPECT_EQ(Keys.CardState(bench), TCardState::Open);
    Build.Down(36);
    EXPECT_EQ(Keys.CardState(bench), TCardState::Complete);
    Build.Up(36);
    EXPECT_EQ(Keys.CardState(bench), TCardState::Complete) << "its suffix's release is the card's";
    // A key after the card: settled if it can begin no track, open if it can.
    Build.Tap('D');
    EXPECT_EQ(Keys.CardState(bench), TCardState::Settled);
    Build.Tap(33);
    EXPECT_EQ(Keys.CardState(bench), TCardState::Open);

    // Track 3 framed by keys the card lacks: a later track 3 would still be this card's.
    const TKeys::TTemplates lacking{{{Tab, Enter}, {"\x21", "\x22"}, {"\x70", "\x71"}}};
    Keys.Clear();
    Build.Tap(9).Tap('A').Tap(13).Tap(33).Tap('B').Tap(34);
    EXPECT_EQ(Keys.CardState(lacking), TCardState::Open);
    // Nor can a track that runs to the last key be complete.
    EXPECT_EQ(Keys.CardState({{{Tab, Enter}, {"\x21", ""}, {"", ""}}}), TCardState::Open);
}

TEST_F(DeviceTracks, CardIsOpenWhileACodeOfTheDeviceMayStillBeginAtItsLastKeys) {
    // Enter ends track 2 and may begin track 1's prefix of two Enters: a second Enter would make
    // it the prefix, which ends the card before it, and track 2 would lose its suffix.
    const TKeys::TTemplates templates{{{"\r\r", Tab}, {"\x21", Enter}, {"", ""}}};
    Build.Tap(13).Tap(13).Tap('A').Tap(9).Tap(33).Tap('B').Tap(13);
    EXPECT_EQ(Keys.CardState(templates), TCardState::Open);
    Build.Tap('C');
    EXPECT_EQ(Keys.CardState(templates), TCardState::Settled);
}

}  // namespace
}  // namespace wedgecard::test
