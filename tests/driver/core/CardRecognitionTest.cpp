#include <gtest/gtest.h>

#include <stdexcept>

#include "driver/core/CardFrame.h"
#include "driver/core/EventLogText.h"
#include "tests/driver/core/DriverFixture.h"
#include "tests/support/LogCapture.h"

namespace wedgecard::test {
namespace {

const char* const CardRead = "ЧтениеКодаМагнитнойКарты";

class CardRecognition : public DriverTest {
protected:
    bool Receive() {
        Consumed.clear();
        return Driver.ReceiveKeyboardData(Keys, Consumed);
    }

    TKeys Keys;
    TKeysBuilder Build{Keys};
    TKeyRanges Consumed;
};

TEST_F(CardRecognition, ReadsTheWorkedExample) {
    const std::string id = Open(Settings(100, "#81", "#13", "", "", "", ""));
    Build.Tap('Q').Tap('1').Tap('2').Tap(13);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Consumed, (TKeyRanges{{0, 7}}));  // nothing is given back
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0], (THostEvent{id, CardRead, "@112@2@3"}));
}

TEST_F(CardRecognition, GivesOrdinaryTypingBack) {
    OpenBenchDevice();
    Build.Type("hello");
    EXPECT_FALSE(Receive());
    EXPECT_TRUE(Consumed.empty());
    EXPECT_TRUE(Received.empty());
}

TEST_F(CardRecognition, FindsNothingWithoutDevices) {
    Build.Tap(9).Type("abc").Tap(13);
    EXPECT_FALSE(Receive());
    EXPECT_TRUE(Received.empty());
}

TEST_F(CardRecognition, NeedsBothTheConfiguredPrefixAndSuffix) {
    OpenBenchDevice();
    Build.Tap(9).Type("abc");
    EXPECT_FALSE(Receive());
    // Typing finished with Enter, the suffix of track 1, is not a track without its prefix.
    Keys.Clear();
    Build.Type("hello").Tap(13);
    EXPECT_FALSE(Receive());
    EXPECT_TRUE(Consumed.empty());
    EXPECT_TRUE(Received.empty());
}

TEST_F(CardRecognition, EscapesAtSignsHashesAndKeysWithoutCharacters) {
    Open(Settings(100, "#37", "#13", "", "", "", ""));
    Build.Tap(37).Type("a@b#c").Tap(9).Tap(13);
    EXPECT_TRUE(Receive());
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0].Data, "@1a@@b##c#9;@2@3");
}

TEST_F(CardRecognition, ShowsShiftedCharactersButNotShiftItself) {
    Open(Settings(100, "#37", "#13", "", "", "", ""));
    Build.Tap(37).Type("%A").Tap(13);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Received.at(0).Data, "@1%A@2@3");
}

TEST_F(CardRecognition, ReadsTheBenchSwipeOfThreeTracks) {
    const std::string id = OpenBenchDevice();
    Build.Tap(9).Type(";12345=67890?").Tap(13);
    Build.Tap(33).Type("Track2").Tap(34);
    Build.Tap(35).Type("Track3").Tap(36);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Consumed, (TKeyRanges{{0, Keys.Count() - 1}}));
    EXPECT_EQ(Received.at(0), (THostEvent{id, CardRead, "@1;12345=67890?@2Track2@3Track3"}));
}

TEST_F(CardRecognition, LeavesTracksThatWereNotFoundEmpty) {
    OpenBenchDevice();
    Build.Tap(33).Type("T2").Tap(34);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Received.at(0).Data, "@1@2T2@3");
}

TEST_F(CardRecognition, GivesBackAKeyPressedRightAfterTheSuffix) {
    Open(Settings(100, "#9", "#13", "", "", "", ""));
    Build.Tap(9).Type("1").Tap(13).Down('X').Up('X');
    EXPECT_TRUE(Receive());
    // To the suffix's release; X goes back whole.
    EXPECT_EQ(Consumed, (TKeyRanges{{0, Keys.Count() - 3}}));
}

TEST_F(CardRecognition, GivesBackKeysTypedBeforeThePrefix) {
    Open(Settings(100, "#9", "#13", "", "", "", ""));
    Build.Type("ab").Tap(9).Type("1").Tap(13);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Consumed, (TKeyRanges{{4, Keys.Count() - 1}}));
}

TEST_F(CardRecognition, CountsKeysBeforeASuffixOnlyTrackAsTrackData) {
    Open(Settings(100, "", "#13", "", "", "", ""));
    Build.Type("ab1").Tap(13);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Consumed.at(0).First, 0);
    EXPECT_EQ(Received.at(0).Data, "@1ab1@2@3");
}

TEST_F(CardRecognition, RaisesOneEventPerRecognisingDeviceInTheOrderOfOpening) {
    const std::string first = OpenBenchDevice();
    Open(Settings(100, "#112", "#113", "", "", "", ""));  // F1/F2: not in this swipe
    const std::string third = OpenBenchDevice();
    Build.Tap(9).Type("1").Tap(13);
    EXPECT_TRUE(Receive());
    ASSERT_EQ(Driver.Events().Count(), 2);
    EXPECT_EQ(Driver.Events().Items(0)->Source, first);
    EXPECT_EQ(Driver.Events().Items(1)->Source, third);
    EXPECT_EQ(Driver.Events().Items(0)->Data, Driver.Events().Items(1)->Data);
    ASSERT_EQ(Received.size(), 1u);  // the second waits for the acknowledgement
    EXPECT_TRUE(Driver.EventProcessed(Wide(first), true));
    EXPECT_EQ(Received.at(1).Source, third);
}

TEST_F(CardRecognition, GivesACardThatSeveralDevicesReadToThemInTheOrderOfOpening) {
    const std::string track2 = Open(Settings(100, "#33", "#34", "", "", "", ""));
    const std::string bench = OpenBenchDevice();  // sees the card begin first
    Build.Tap(9).Type("1").Tap(13).Tap(33).Type("2").Tap(34);
    EXPECT_TRUE(Receive());
    ASSERT_EQ(Driver.Events().Count(), 2);
    EXPECT_EQ(Driver.Events().Items(0)->Source, track2);
    EXPECT_EQ(Driver.Events().Items(1)->Source, bench);
}

TEST_F(CardRecognition, ConsumesTheKeysOfEachCardAndNoneBetweenThem) {
    Open(Settings(100, "#9", "#13", "", "", "", ""));
    Open(Settings(100, "#33", "#34", "", "", "", ""));
    Build.Tap(9).Type("1").Tap(13).Type("zz").Tap(33).Type("2").Tap(34).Type("y");
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Consumed, (TKeyRanges{{0, 5}, {10, 15}}));
}

TEST_F(CardRecognition, ReadsEachOfTwoCardsInOneBurstInTurn) {
    const std::string id = OpenBenchDevice();
    Build.Tap(9).Type("1111").Tap(13).Tap(33).Type("2222").Tap(34).Tap(35).Type("3333").Tap(36);
    const int firstEnd = Keys.Count() - 1;
    Build.Type("x");
    Build.Tap(9).Type("4444").Tap(13).Tap(33).Type("5555").Tap(34).Tap(35).Type("6666").Tap(36);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Consumed, (TKeyRanges{{0, firstEnd}, {firstEnd + 3, Keys.Count() - 1}}));
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0], (THostEvent{id, CardRead, "@11111@22222@33333"}));
    EXPECT_TRUE(Driver.EventProcessed(Wide(id), true));
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[1], (THostEvent{id, CardRead, "@14444@25555@36666"}));
}

TEST_F(CardRecognition, TakesTracksThatAreAllEmptyForTyping) {
    OpenBenchDevice();
    Build.Tap(35).Tap(36);  // End and Home pressed quickly: an empty track 3
    EXPECT_FALSE(Receive());
    EXPECT_TRUE(Consumed.empty());
    EXPECT_TRUE(Received.empty());

    Keys.Clear();
    Build.Tap(9).Tap(13).Tap(33).Type("1234").Tap(34).Tap(35).Tap(36);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Received.at(0).Data, "@1@21234@3");
}

TEST_F(CardRecognition, ReadsTheTracksOfASwipeThatFollowAStall) {
    // The swipe stalled in track 1 for longer than the quiet time: the first part of track 1
    // went back as typing, and this burst begins with the rest of it.
    OpenBenchDevice();
    Build.Type("890?").Tap(13).Tap(33).Type("Track2").Tap(34).Tap(35).Type("Track3").Tap(36);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Received.at(0).Data, "@1@2Track2@3Track3");
    EXPECT_EQ(Consumed, (TKeyRanges{{12, Keys.Count() - 1}}));
}

TEST_F(CardRecognition, SkipsADeviceClosedByTheHostDuringAnEarlierDelivery) {
    const std::string first = OpenBenchDevice();
    const std::string second = OpenBenchDevice();
    const std::string third = OpenBenchDevice();
    OnHostEvent = [this, second](const THostEvent& Event) {
        if (Received.size() == 1) {
            EXPECT_TRUE(Driver.Close(Wide(second)));
        }
        Driver.EventProcessed(Wide(Event.Source), true);
    };
    Build.Tap(9).Type("1").Tap(13);
    EXPECT_TRUE(Receive());
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[0].Source, first);
    EXPECT_EQ(Received[1].Source, third);
}

TEST_F(CardRecognition, ExaminesTheRemainingDevicesWhenTheHostClosesTheOneReporting) {
    const std::string first = OpenBenchDevice();
    const std::string second = OpenBenchDevice();
    OnHostEvent = [this](const THostEvent& Event) {
        Driver.Close(Wide(Event.Source));
        Driver.EventProcessed(Wide(Event.Source), true);
    };
    Build.Tap(9).Type("1").Tap(13);
    EXPECT_TRUE(Receive());
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[1].Source, second);
    EXPECT_EQ(Driver.Devices().Count(), 0);
}

TEST_F(CardRecognition, DoesNotExamineADeviceOpenedDuringTheDelivery) {
    OpenBenchDevice();
    OnHostEvent = [this](const THostEvent& Event) {
        if (Received.size() == 1) {
            OpenBenchDevice();
        }
        Driver.EventProcessed(Wide(Event.Source), true);
    };
    Build.Tap(9).Type("1").Tap(13);
    EXPECT_TRUE(Receive());
    EXPECT_EQ(Received.size(), 1u);
    EXPECT_EQ(Driver.Devices().Count(), 2);
}

TEST_F(CardRecognition, QueuesTheOtherDevicesCardsWhenTheHostRefusesOne) {
    Open(Settings(100, "#9", "#13", "", "", "", ""));
    const std::string second = Open(Settings(100, "#33", "#34", "", "", "", ""));
    Driver.OnEvent = [](const std::string&, const std::string&, const std::string&) {
        throw std::runtime_error("sink refused");
    };
    Build.Type("a").Tap(9).Type("1").Tap(13).Tap(33).Type("2").Tap(34);
    EXPECT_THROW(Receive(), std::runtime_error);
    // Both cards are consumed: the second one's keys must not reach the host's window.
    EXPECT_EQ(Consumed, (TKeyRanges{{2, 7}, {8, 13}}));
    ASSERT_EQ(Driver.Events().Count(), 2);
    EXPECT_EQ(Driver.Events().Items(1)->Source, second);
    EXPECT_EQ(Driver.Events().Items(1)->Data, "@12@2@3");
}

TEST_F(CardRecognition, LogsTheBufferItReceives) {
    TLogCapture log;
    Build.Tap(9).Type("a#");
    Receive();
    // Characters as stars, a "#" as one of them: only the keys without one show what they were.
    EXPECT_TRUE(log.Contains("[DEBUG] TKBDDriver ReceiveKeyboardData <-#9;**"));
}

TEST(TrackData, FormatsAllThreeMarkersAndDoublesAtSigns) {
    EXPECT_EQ(TKeyCodeCardFrame::FormatTrackData({"", "", ""}), "@1@2@3");
    EXPECT_EQ(TKeyCodeCardFrame::FormatTrackData({"a@b", "@", "x@@"}), "@1a@@b@2@@@3x@@@@");
}

TEST(TrackData, TheLogShowsTheLengthOfEachTrackAndADriverErrorsTextAsItIs) {
    EXPECT_EQ(EventDataLogText(CardRead, "@1;12345=67890?@2Track2@3"), "@1[13]@2[6]@3[0]");
    EXPECT_EQ(EventDataLogText(CardRead, TKeyCodeCardFrame::FormatTrackData({"a@b", "@", "x@@"})),
              "@1[3]@2[1]@3[3]");
    // Data of another form gives away no more than its length.
    EXPECT_EQ(EventDataLogText(CardRead, "a@x@"), "[4]");
    EXPECT_EQ(EventDataLogText(CardRead, ""), "[0]");
    // A card's raw characters: an @ and a digit among them are data, not a track's marker.
    EXPECT_EQ(EventDataLogText("TracksData", "%B1@2?\r"), "[7]");
    EXPECT_EQ(EventDataLogText("ОшибкаВДрайвере", "Событие не посылалось"),
              "Событие не посылалось");
}

}  // namespace
}  // namespace wedgecard::test
