// A swipe from the first key message to the host's acknowledgement, through the real capture
// and recognition on a fake user-interface thread.
#include <gtest/gtest.h>

#include "tests/driver/core/DriverFixture.h"
#include "tests/support/LogCapture.h"

namespace wedgecard::test {
namespace {

const char* const CardRead = "ЧтениеКодаМагнитнойКарты";
const std::string BenchData = "@1;12345=67890?@2Track2@3Track3";

class SwipeRoad : public DriverTest {
protected:
    // The reader types the test bench's default card: three framed tracks in one burst.
    void SwipeBenchCard() {
        Thread.Tap(9);
        Thread.Type(";12345=67890?");
        Thread.Tap(13);
        Thread.Tap(33);
        Thread.Type("Track2");
        Thread.Tap(34);
        Thread.Tap(35);
        Thread.Type("Track3");
        Thread.Tap(36);
    }
};

TEST_F(SwipeRoad, DeliversTheCardAndGivesOrdinaryTypingBackAroundIt) {
    const std::string id = OpenBenchDevice();
    Thread.Type("Abc");
    Thread.Advance(150);
    SwipeBenchCard();
    Thread.Advance(150);
    Thread.Type("d!");
    Thread.Advance(150);

    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0], (THostEvent{id, CardRead, BenchData}));
    EXPECT_EQ(Chars(), "Abcd!");
    EXPECT_TRUE(Driver.EventProcessed(Wide(id), true));
    EXPECT_EQ(Driver.Events().Count(), 0);
}

TEST_F(SwipeRoad, ReplaysTheKeysOfOneBurstAroundTheCardInOrder) {
    const std::string id = OpenBenchDevice();
    Thread.Type("x");
    SwipeBenchCard();
    Thread.Type("Y");
    Thread.Advance(150);
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0].Data, BenchData);
    EXPECT_EQ(Chars(), "xY");
}

TEST_F(SwipeRoad, ReadsACompleteCardAtOnceAndOneLackingAConfiguredTrackAfterTheQuietTime) {
    const std::string bench = OpenBenchDevice(400);
    SwipeBenchCard();
    Thread.Pump();
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0], (THostEvent{bench, CardRead, BenchData}));
    EXPECT_TRUE(Driver.EventProcessed(Wide(bench), true));
    EXPECT_TRUE(Driver.Close(Wide(bench)));

    // Its track 3 is framed by F1 and F2: a later track 3 could still be this card's.
    const std::string lacking = Open(Settings(400, "#9", "#13", "#33", "#34", "#112", "#113"));
    Thread.Tap(9);
    Thread.Type("1");
    Thread.Tap(13);
    Thread.Tap(33);
    Thread.Type("2");
    Thread.Tap(34);
    Thread.Advance(399);
    EXPECT_EQ(Received.size(), 1u);
    Thread.Advance(1);
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[1], (THostEvent{lacking, CardRead, "@11@22@3"}));
    EXPECT_EQ(Chars(), "");
}

TEST_F(SwipeRoad, GivesTwoDevicesOneEventEachInTheOrderOfOpening) {
    const std::string first = OpenBenchDevice();
    const std::string second = Open(Settings(100, "#33", "#34", "", "", "", ""));
    OnHostEvent = [this](const THostEvent& Event) {
        Driver.EventProcessed(Wide(Event.Source), true);
    };
    SwipeBenchCard();
    Thread.Pump();  // the second's card ended earlier and nothing after it can begin another
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[0], (THostEvent{first, CardRead, BenchData}));
    EXPECT_EQ(Received[1], (THostEvent{second, CardRead, "@1Track2@2@3"}));
    EXPECT_EQ(Chars(), "");
}

TEST_F(SwipeRoad, QueuesASecondSwipeUntilTheFirstIsAcknowledged) {
    const std::string id = OpenBenchDevice();
    SwipeBenchCard();
    Thread.Advance(150);
    Thread.Tap(9);
    Thread.Type("2nd");
    Thread.Tap(13);
    Thread.Advance(150);
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_TRUE(Driver.EventProcessed(Wide(id), true));
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[1].Data, "@12nd@2@3");
}

TEST_F(SwipeRoad, LetsTheHostCloseTheLastDeviceFromItsEventHandler) {
    const std::string id = OpenBenchDevice();
    OnHostEvent = [this](const THostEvent& Event) {
        Driver.EventProcessed(Wide(Event.Source), true);
        EXPECT_TRUE(Driver.Close(Wide(Event.Source)));
    };
    Thread.Type("A");
    SwipeBenchCard();
    Thread.Type("B");
    Thread.Advance(150);
    EXPECT_EQ(Received.size(), 1u);
    EXPECT_FALSE(Driver.KeyboardHook().Active());
    EXPECT_EQ(Thread.InstalledHooks(), 0);
    Thread.Type("c");
    Thread.Pump();
    // The keys around the card go back with the Shift they were typed with.
    EXPECT_EQ(Chars(), "ABc");
}

TEST_F(SwipeRoad, TypesStraightIntoTheWindowOnceTheLastDeviceIsClosed) {
    const std::string id = OpenBenchDevice();
    EXPECT_TRUE(Driver.Close(Wide(id)));
    Thread.Type("free");
    Thread.Pump();
    EXPECT_EQ(Chars(), "free");
    EXPECT_EQ(Thread.PendingTimers(), 0);
}

TEST_F(SwipeRoad, LetsTypingPassUnlessADeviceFramesATrackByItsSuffixAlone) {
    OpenBenchDevice();
    Thread.Type("a");
    Thread.Pump();
    EXPECT_EQ(Chars(), "a");

    const std::string suffixOnly = Open(Settings(100, "", "#13", "", "", "", ""));
    Thread.Type("b");
    Thread.Advance(99);
    EXPECT_EQ(Chars(), "a") << "any key may be part of its track";
    Thread.Advance(1);
    EXPECT_EQ(Chars(), "ab");

    EXPECT_TRUE(Driver.Close(Wide(suffixOnly)));
    Thread.Type("c");
    Thread.Pump();
    EXPECT_EQ(Chars(), "abc");
}

TEST_F(SwipeRoad, HandsEveryCardFramedByCharactersOverAtOnceWithoutAcknowledgement) {
    TKBDDriver framed(TDriverServices{Thread, Guids, Module, Dialog},
                      TEventDelivery::Unacknowledged);
    std::vector<THostEvent> events;
    framed.OnEvent = [&events](const std::string& Source, const std::string& Message,
                               const std::string& Data) {
        events.push_back(THostEvent{Source, Message, Data});
    };
    TCharacterSettings settings;
    settings.Frame = {{{{"%", "?", true}, {";", "?", true}, {";", "?", false}}}, "\r"};
    std::wstring id;
    ASSERT_TRUE(framed.Open(settings, id));
    Thread.Type("a5");
    Thread.Pump();
    EXPECT_EQ(Chars(), "a") << "5 waits: its key types the prefix with Shift";
    Thread.Advance(150);
    EXPECT_EQ(Chars(), "a5");

    // Each card at its Enter, without waiting the quiet time, and no key of it typed.
    for (int swipe = 0; swipe < 2; ++swipe) {
        Thread.Type("%B123?;456?");
        Thread.Tap(13);
        Thread.Pump();
        ASSERT_EQ(events.size(), static_cast<std::size_t>(swipe + 1));
    }
    Thread.Type("b");
    Thread.Pump();
    EXPECT_EQ(events[1],
              (THostEvent{std::string(id.begin(), id.end()), "TracksData", "%B123?;456?"}));
    EXPECT_EQ(Chars(), "a5b");

    // A second device on the object waits longer; closing it brings the quiet time back.
    settings.Sensitivity = 400;
    settings.Frame.Tracks[0].Read = false;
    std::wstring slow;
    ASSERT_TRUE(framed.Open(settings, slow));
    Thread.Type("%B7?;8?");  // no Enter: the quiet time ends it
    Thread.Advance(150);
    EXPECT_EQ(events.size(), 2u) << "the longest quiet time of the object's devices";
    Thread.Advance(300);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[2].Data, "%B7?;8?");
    EXPECT_EQ(events[3], (THostEvent{std::string(slow.begin(), slow.end()), "TracksData", ";8?"}));
    ASSERT_TRUE(framed.Close(slow));
    Thread.Type("%B9?;0?");
    Thread.Advance(150);
    EXPECT_EQ(events.size(), 5u);
    EXPECT_EQ(Chars(), "a5b");
}

TEST_F(SwipeRoad, LogsTheBurstTheEventAndTheKeysGivenBackWithoutWhatWasTyped) {
    TLogCapture log;
    // Its track 3 is framed by F1 and F2: it waits, and the burst is the card, the bench card's
    // track 3 and the letter after it.
    const std::string id = Open(Settings(100, "#9", "#13", "#33", "#34", "#112", "#113"));
    LogFile().SetFileName(log.FileName());  // Open pointed it next to the module
    SwipeBenchCard();
    Thread.Type("a");
    Thread.Advance(150);
    ASSERT_EQ(Received.size(), 1u);

    EXPECT_TRUE(
        log.Contains("[DEBUG] TKBDDriver ReceiveKeyboardData "
                     "<-#9;*************#13;#33;******#34;#35;******#36;*"));
    EXPECT_TRUE(log.Contains("[DEBUG] TKBDDriver AddDataEvent(" + id + "; " + CardRead +
                             "; @1[13]@2[6]@3[0])"));
    EXPECT_TRUE(log.Contains("[DEBUG] TKBDDriver FireEvent"));
    EXPECT_TRUE(log.Contains("[DEBUG] TKeyboardHook FlushMessages: #35;******#36;*"));
    EXPECT_TRUE(log.Contains("[DEBUG] TKeyboardHook FlushMessages: "));
    for (const std::string& message : log.Messages()) {
        for (const char* typed : {"12345", "67890", "Track"}) {
            EXPECT_EQ(message.find(typed), std::string::npos) << message;
        }
    }
}

TEST_F(SwipeRoad, KeepsCardKeysAwayFromTheTestDialogAndBackWithTheDriverAfterwards) {
    const std::string id = OpenBenchDevice(800);
    Thread.Tap(9);  // held: it may begin a card
    Thread.Advance(100);
    Dialog.WhileOpen = [this] {
        Thread.Type("t");
        Thread.Advance(1000);
    };
    std::wstring description;
    EXPECT_TRUE(Driver.DeviceTest(description));
    // No capture while the dialog (which has its own) is open; the key typed before it waits.
    EXPECT_EQ(Chars(), "t");
    Thread.Advance(800);
    EXPECT_EQ(Chars(), "t\t");
    SwipeBenchCard();
    Thread.Advance(800);
    EXPECT_EQ(Received.size(), 1u);
}

}  // namespace
}  // namespace wedgecard::test
