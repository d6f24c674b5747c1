#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/KeystrokeSender.h"
#include "driver/capture/Keys.h"
#include "driver/core/untError.h"
#include "tests/support/Literals.h"

namespace benchpad::test {
namespace {

// "+9 -9 +16 +65 -65 -16": presses and releases in order, readable in a failure message.
std::string Render(const TKeyEvents& Events) {
    std::string text;
    for (const TKeyEvent& event : Events) {
        text += (text.empty() ? "" : " ") + std::string(event.KeyUp ? "-" : "+") +
                std::to_string(event.Code);
    }
    return text;
}

std::string RenderBatches(const std::vector<TKeyEvents>& Batches) {
    std::string text;
    for (const TKeyEvents& batch : Batches) {
        text += "[" + Render(batch) + "]";
    }
    return text;
}

// The message of the error Action raises; fails the test for any other outcome, including the
// driver's own error, which the bench must not raise.
template <class TAction>
std::string ErrorOf(TAction&& Action) {
    try {
        Action();
    } catch (const wedgecard::EKBDError& error) {
        ADD_FAILURE() << "the driver's error instead of the bench's: " << error.what();
        return {};
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    ADD_FAILURE() << "no error";
    return {};
}

const std::string InvalidFormat = SInvalidKeyCodeFormat;

// --- Key-code strings ---------------------------------------------------------------------------

TEST(BenchKeyCodes, DecodeAsTheDriverDoes) {
    EXPECT_EQ(DecodeKeyCodes("#9#13"), std::string("\x09\x0D"));
    EXPECT_EQ(DecodeKeyCodes("#0"), std::string(1, '\0'));
    EXPECT_EQ(DecodeKeyCodes("#009"), std::string("\x09"));
    EXPECT_EQ(DecodeKeyCodes("#255"), std::string("\xFF"));
    EXPECT_EQ(DecodeKeyCodes(""), "");
    EXPECT_EQ(DecodeKeyCodes("#"), "");
}

TEST(BenchKeyCodes, MalformedTextRaisesTheBenchsPlainError) {
    for (const char* text :
         {"9", "#9#", "##9", "#9 ", "#-1", "#256", "#1a", "#1 #2", "abc", "#99999999999"}) {
        EXPECT_EQ(ErrorOf([&] { static_cast<void>(DecodeKeyCodes(text)); }), InvalidFormat) << text;
    }
}

// --- One track ----------------------------------------------------------------------------------

// A stand-in for VkKeyScanExA that counts its calls and knows only a few characters.
struct TFakeScan {
    std::map<char, std::int16_t> Keys;
    int Calls = 0;

    TKeyScan Function() {
        return [this](char Character) {
            ++Calls;
            const auto found = Keys.find(Character);
            return found != Keys.end() ? found->second : std::int16_t{-1};
        };
    }
};

TEST(ExpandTrack, EmptyDataGivesNothingWithoutDecodingPrefixOrSuffix) {
    TFakeScan scan;

    EXPECT_TRUE(ExpandTrack("abc", "#13#", "", scan.Function()).empty());
    EXPECT_EQ(scan.Calls, 0);
}

TEST(ExpandTrack, FramesTheDataWithPrefixAndSuffixCodesWithoutShift) {
    TFakeScan scan{{{'a', 0x41}}};

    EXPECT_EQ(Render(ExpandTrack("#9#13", "#65", "a", scan.Function())),
              "+9 -9 +13 -13 +65 -65 +65 -65");
    EXPECT_EQ(Render(ExpandTrack("#0", "#009", "a", scan.Function())), "+0 -0 +65 -65 +9 -9");
}

TEST(ExpandTrack, EmptyOrLoneHashPrefixAndSuffixGiveNoKeys) {
    TFakeScan scan{{{'a', 0x41}}};

    EXPECT_EQ(Render(ExpandTrack("#", "", "a", scan.Function())), "+65 -65");
    EXPECT_EQ(Render(ExpandTrack("", "#", "a", scan.Function())), "+65 -65");
}

TEST(ExpandTrack, MalformedPrefixOrSuffixFailsBeforeAnyDataIsTranslated) {
    TFakeScan scan{{{'a', 0x41}}};

    EXPECT_EQ(ErrorOf([&] { static_cast<void>(ExpandTrack("9", "#13", "a", scan.Function())); }),
              InvalidFormat);
    EXPECT_EQ(ErrorOf([&] { static_cast<void>(ExpandTrack("#9", "#13 ", "a", scan.Function())); }),
              InvalidFormat);
    EXPECT_EQ(scan.Calls, 0);
}

TEST(ExpandTrack, ShiftSurroundsAKeyOnlyWhenTheLayoutAsksForShiftAlone) {
    TFakeScan scan{{{'a', 0x041},
                    {'A', 0x141},
                    {'c', 0x243},    // Ctrl
                    {'d', 0x344},    // Shift and Ctrl
                    {'e', 0x445},    // Alt
                    {'f', 0x746}}};  // Shift, Ctrl and Alt

    EXPECT_EQ(Render(ExpandTrack("", "", "aA", scan.Function())), "+65 -65 +16 +65 -65 -16");
    EXPECT_EQ(Render(ExpandTrack("", "", "cdef", scan.Function())),
              "+67 -67 +68 -68 +69 -69 +70 -70");
}

TEST(ExpandTrack, CharacterWithoutAKeyIsCode255WithoutShift) {
    SKIP_UNLESS_WINDOWS_1251_LITERALS();
    TFakeScan scan;

    EXPECT_EQ(Render(ExpandTrack("", "", "Ж", scan.Function())), "+255 -255");
}

TEST(PressKey, AppendsToWhatIsThere) {
    TKeyEvents events;
    PressKey(events, 9, 0);
    PressKey(events, 191, 1);

    EXPECT_EQ(Render(events), "+9 -9 +16 +191 -191 -16");
}

// --- The three tracks ---------------------------------------------------------------------------

TTrackTexts DefaultTracks() {
    return {{{"#9", ";12345=67890?", "#13"}, {"#33", "Track2", "#34"}, {"#35", "Track3", "#36"}}};
}

struct TSentBatches {
    std::vector<TKeyEvents> Batches;

    TKeySink Sink() {
        return [this](const TKeyEvents& Events) { Batches.push_back(Events); };
    }
};

TEST(SendTracks, DefaultSwipeTypesTheThreeFramedTracksInOrder) {
    TSentBatches sent;

    SendTracks(DefaultTracks(), UsLayoutKeyScan, sent.Sink());

    EXPECT_EQ(RenderBatches(sent.Batches),
              // Tab; ; 1 2 3 4 5 = 6 7 8 9 0; Shift+/; Enter
              "[+9 -9 +186 -186 +49 -49 +50 -50 +51 -51 +52 -52 +53 -53 +187 -187 +54 -54 +55 -55"
              " +56 -56 +57 -57 +48 -48 +16 +191 -191 -16 +13 -13]"
              // PageUp; Shift+T r a c k 2; PageDown
              "[+33 -33 +16 +84 -84 -16 +82 -82 +65 -65 +67 -67 +75 -75 +50 -50 +34 -34]"
              // End; Shift+T r a c k 3; Home
              "[+35 -35 +16 +84 -84 -16 +82 -82 +65 -65 +67 -67 +75 -75 +51 -51 +36 -36]");
}

TEST(SendTracks, TrackWithEmptyDataIsSkippedEvenWithAMalformedPrefix) {
    TTrackTexts tracks = DefaultTracks();
    tracks[1] = {"abc", "", "#34"};
    tracks[0].Data = "1";
    tracks[2].Data = "3";
    TSentBatches sent;

    SendTracks(tracks, UsLayoutKeyScan, sent.Sink());

    EXPECT_EQ(RenderBatches(sent.Batches), "[+9 -9 +49 -49 +13 -13][+35 -35 +51 -51 +36 -36]");
}

TEST(SendTracks, FormatErrorInTrack3SuffixSendsNothingOfTracks1And2Either) {
    TTrackTexts tracks = DefaultTracks();
    tracks[2].Suffix = "#36#";
    TSentBatches sent;

    EXPECT_EQ(ErrorOf([&] { SendTracks(tracks, UsLayoutKeyScan, sent.Sink()); }), InvalidFormat);

    EXPECT_EQ(RenderBatches(sent.Batches), "");
}

TEST(SendTracks, FormatErrorInTrack1SendsNothing) {
    TTrackTexts tracks = DefaultTracks();
    tracks[0].Prefix = "#-1";
    TSentBatches sent;

    EXPECT_EQ(ErrorOf([&] { SendTracks(tracks, UsLayoutKeyScan, sent.Sink()); }), InvalidFormat);
    EXPECT_TRUE(sent.Batches.empty());
}

// --- The US layout stand-in ---------------------------------------------------------------------

TEST(UsLayoutKeyScan, AnswersAsVkKeyScanDoesForTheUsLayout) {
    const std::map<char, int> expected = {
        {'a', 0x041}, {'A', 0x141}, {'z', 0x05A}, {'0', 0x030},  {')', 0x130}, {' ', 0x020},
        {';', 0x0BA}, {':', 0x1BA}, {'=', 0x0BB}, {'+', 0x1BB},  {'-', 0x0BD}, {'_', 0x1BD},
        {'.', 0x0BE}, {'/', 0x0BF}, {'?', 0x1BF}, {'*', 0x138},  {'`', 0x0C0}, {'~', 0x1C0},
        {'[', 0x0DB}, {'{', 0x1DB}, {'|', 0x1DC}, {'\\', 0x0DC}, {'"', 0x1DE}, {'\'', 0x0DE}};
    for (const auto& [character, scan] : expected) {
        EXPECT_EQ(UsLayoutKeyScan(character), scan) << character;
    }
}

// What the bench types must read back as the same text in the driver's layout, or a simulated
// swipe would not be recognised as the card it stands for.
TEST(UsLayoutKeyScan, EveryPrintableAsciiCharacterHasAKeyThatTheDriverReadsBack) {
    for (int character = 0x20; character < 0x7F; ++character) {
        const std::int16_t scan = UsLayoutKeyScan(static_cast<char>(character));
        ASSERT_NE(scan, -1) << static_cast<char>(character);
        const int shift = scan >> 8;
        ASSERT_TRUE(shift == 0 || shift == 1) << static_cast<char>(character);
        EXPECT_EQ(wedgecard::KeyChar(shift, static_cast<std::uint8_t>(scan & 0xFF)),
                  static_cast<char>(character));
    }
}

TEST(UsLayoutKeyScan, OtherCharactersHaveNoKey) {
    for (const char character : {'\0', '\t', '\r', '\x7F', '\xA0', '\xC6' /* Ж */}) {
        EXPECT_EQ(UsLayoutKeyScan(character), -1) << static_cast<int>(character);
    }
}

}  // namespace
}  // namespace benchpad::test
