#include "driver/capture/KeyboardHook.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/FakeThread.h"
#include "tests/support/LogCapture.h"

namespace wedgecard::test {
namespace {

// A thread with one focused window and an active capture whose handler records each burst.
class KeyboardCapture : public testing::Test {
protected:
    KeyboardCapture() : Window(Thread.CreateWindow("edit")), Hook(Thread) {
        Hook.OnKeyboardData = [this](const TKeys& Keys, TKeyRanges& Consumed) {
            Bursts.push_back(Keys.GetText(0, Keys.Count() - 1, true));
            BurstSizes.push_back(Keys.Count());
            BurstTimes.push_back(Thread.Now());
            return Handler ? Handler(Keys, Consumed) : false;
        };
        Hook.SetActive(true);
    }

    [[nodiscard]] std::string Chars() { return Thread.Window(Window).Chars(); }
    [[nodiscard]] std::string KeyStrokes() { return Thread.Window(Window).KeyStrokes(); }

    TFakeThread Thread;
    TWindowHandle Window;
    TKeyboardHook Hook;
    TKeyboardHook::TKeyboardDataHandler Handler;
    std::vector<std::string> Bursts;
    std::vector<int> BurstSizes;
    std::vector<std::uint64_t> BurstTimes;
};

TEST_F(KeyboardCapture, HoldsKeysBackUntilTheBurstIsOver) {
    Thread.Type("ab");
    Thread.Advance(99);
    EXPECT_EQ(Chars(), "");
    EXPECT_EQ(Hook.Keys().Count(), 4);
    Thread.Advance(1);
    EXPECT_EQ(Bursts, std::vector<std::string>{"ab"});
    EXPECT_EQ(Chars(), "ab");
    EXPECT_EQ(Hook.Keys().Count(), 0);
}

TEST_F(KeyboardCapture, EndsABurstOnlyAfterTheQuietTimeFollowingItsLastKey) {
    const auto start = Thread.Now();
    Thread.Tap('1');
    Thread.Advance(50);
    Thread.Tap('2');
    Thread.Advance(50);
    Thread.Tap('3');
    Thread.Advance(300);
    EXPECT_EQ(Bursts, std::vector<std::string>{"123"});
    EXPECT_EQ(BurstTimes.at(0), start + 100 + 100);
}

TEST_F(KeyboardCapture, SplitsAKeyWithARepeatCountIntoSingleKeys) {
    Thread.KeyDown('A', 3);
    Thread.Advance(150);
    ASSERT_EQ(BurstSizes, std::vector<int>{3});
    EXPECT_EQ(Bursts[0], "aaa");
    const auto& received = Thread.Window(Window).Received;
    int keyDowns = 0;
    for (const auto& message : received) {
        if (message.Message == wm::KeyDown) {
            ++keyDowns;
            EXPECT_EQ(message.LParam & 0xFFFF, 1);
            EXPECT_EQ((message.LParam >> 16) & 0xFF, 'A');  // the rest of lParam is kept
        }
    }
    EXPECT_EQ(keyDowns, 3);
}

TEST_F(KeyboardCapture, SwallowsAKeyWithoutRepeatsAndStillEndsTheBurst) {
    TLogCapture log;
    Thread.KeyDown('A', 0);
    Thread.Advance(150);
    EXPECT_EQ(BurstSizes, std::vector<int>{0});
    EXPECT_TRUE(Thread.Window(Window).Received.empty());
    EXPECT_TRUE(log.Contains("[DEBUG] TKeyboardHook FlushMessages: "));
}

TEST_F(KeyboardCapture, GivesBackTheWholeBurstInOrderWhenItHoldsNoCardData) {
    Thread.Type("Hi");
    Thread.Tap(vk::Return);
    Thread.Advance(150);
    EXPECT_EQ(KeyStrokes(), "+16 +72 -72 -16 +73 -73 +13 -13");
    EXPECT_EQ(Chars(), "Hi\r");
}

TEST_F(KeyboardCapture, GivesBackEverythingWithoutAHandler) {
    Hook.OnKeyboardData = nullptr;
    Thread.Type("xy");
    Thread.Advance(150);
    EXPECT_EQ(Chars(), "xy");
}

TEST_F(KeyboardCapture, DropsTheConsumedRangeAndGivesBackTheRestInOrder) {
    Handler = [](const TKeys&, TKeyRanges& Consumed) {
        Consumed.push_back({2, 6});
        return true;
    };
    for (char c : std::string("0123456789")) {
        Thread.KeyDown(static_cast<std::uint8_t>(c));
    }
    Thread.Advance(150);
    EXPECT_EQ(Chars(), "01789");
}

TEST_F(KeyboardCapture, GivesBackNothingAfterAStopPastTheLastKey) {
    Handler = [](const TKeys& Keys, TKeyRanges& Consumed) {
        Consumed.push_back({1, Keys.Count() + 5});
        return true;
    };
    Thread.Type("abc");
    Thread.Advance(150);
    EXPECT_EQ(KeyStrokes(), "+65");
}

TEST_F(KeyboardCapture, ReplaysAKeyToTheWindowFocusedAtReplayTime) {
    auto other = Thread.CreateWindow("other");
    Thread.Type("k");
    Thread.Advance(50);
    Thread.SetFocus(other);
    Thread.Advance(100);
    EXPECT_EQ(Chars(), "");
    EXPECT_EQ(Thread.Window(other).Chars(), "k");
}

TEST_F(KeyboardCapture, FallsBackToTheActiveWindowWhenNoWindowHasTheFocus) {
    auto active = Thread.CreateWindow("active");
    Thread.SetActiveWindow(active);
    Thread.Type("k");
    Thread.SetFocus(nullptr);
    Thread.Advance(150);
    EXPECT_EQ(Thread.Window(active).Chars(), "k");
}

TEST_F(KeyboardCapture, RestoresTheShiftStateAKeyWasTypedWith) {
    Thread.KeyDown(vk::Shift);
    Thread.KeyDown('A');
    Thread.KeyUp(vk::Shift);
    Thread.KeyUp('A');
    Thread.Advance(150);
    EXPECT_EQ(Chars(), "A");
    for (const auto& message : Thread.Window(Window).Received) {
        if (message.Message == wm::KeyDown && message.WParam == 'A') {
            EXPECT_NE(message.State[vk::Shift] & 0x80, 0);
        }
    }
}

TEST_F(KeyboardCapture, LeavesAMessageThatIsOnlyLookedAt) {
    Thread.KeyDown('A');
    TMsg peeked;
    ASSERT_TRUE(Thread.PeekOnly(peeked));
    EXPECT_EQ(peeked.message, wm::KeyDown);
    EXPECT_EQ(Hook.Keys().Count(), 0);
    Thread.Pump();
    EXPECT_EQ(Hook.Keys().Count(), 1);
}

TEST_F(KeyboardCapture, CapturesSystemKeysToo) {
    Thread.SysKeyDown('F');
    Thread.Advance(150);
    EXPECT_EQ(BurstSizes, std::vector<int>{1});
    ASSERT_FALSE(Thread.Window(Window).Received.empty());
    EXPECT_EQ(Thread.Window(Window).Received[0].Message, wm::SysKeyDown);
}

TEST_F(KeyboardCapture, LosesNoKeyOfTheLongestPossibleRepeat) {
    Thread.KeyDown('Z', 0xFFFF);
    Thread.Advance(150);
    EXPECT_EQ(BurstSizes, std::vector<int>{0xFFFF});
    EXPECT_EQ(Chars(), std::string(0xFFFF, 'z'));
}

TEST_F(KeyboardCapture, DeliversGivenBackKeysOnceTheHostsFullQueueDrains) {
    Thread.Type("abc");
    Thread.Advance(99);
    Thread.PostedLimit = 5;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(Thread.Post(Window, 0x0400, static_cast<std::uintptr_t>(i)));
    }
    Thread.Advance(50);
    EXPECT_EQ(Chars(), "abc");
}

TEST_F(KeyboardCapture, KeepsEachCharacterAheadOfTheNextGivenBackKey) {
    auto order = [this] {
        std::string text;
        for (const auto& message : Thread.Window(Window).Received) {
            if (message.Message == wm::Char) {
                text += static_cast<char>(message.WParam);
            } else {
                text += message.Message == wm::KeyDown ? '+' : '-';
            }
        }
        return text;
    };
    Thread.Type("ab");
    Thread.Advance(150);
    EXPECT_EQ(order(), "+a-+b-");

    // A typist's overlap: 2 pressed before 1 is let go. Its character comes after the press
    // that made it, before the next key, as the host translates each key it retrieves.
    Thread.KeyDown('1');
    Thread.KeyDown('2');
    Thread.KeyUp('1');
    Thread.KeyUp('2');
    Thread.Advance(150);
    EXPECT_EQ(order(), "+a-+b-+1+2--");
}

TEST_F(KeyboardCapture, GivesBackTheRestWhenTheHandlerFailsAfterConsumingKeys) {
    TLogCapture log;
    Handler = [](const TKeys&, TKeyRanges& Consumed) -> bool {
        Consumed.push_back({1, 2});
        throw std::runtime_error("the host refused the event");
    };
    Thread.Type("abcd");  // a, b, c, d presses and releases: positions 0 to 7
    Thread.Advance(150);
    EXPECT_EQ(KeyStrokes(), "+65 -66 +67 -67 +68 -68");
    EXPECT_TRUE(log.Contains("[ERROR] TKeyboardHook HookProc: the host refused the event"));
    EXPECT_EQ(Hook.Keys().Count(), 0);

    Thread.Type("e");
    Thread.Advance(150);
    EXPECT_EQ(Bursts.back(), "e");
}

TEST_F(KeyboardCapture, GivesBackEveryKeyWhenTheHandlerFailsBeforeConsumingAny) {
    Handler = [](const TKeys&, TKeyRanges&) -> bool { throw std::runtime_error("failed"); };
    Thread.Type("ab");
    Thread.Advance(150);
    EXPECT_EQ(Chars(), "ab");
}

TEST_F(KeyboardCapture, StartsANewBurstForKeysTypedWhileTheHandlerRunsAMessageLoop) {
    // A host that shows a dialog from its event handler: the dialog's own loop retrieves the
    // keys typed meanwhile.
    bool nested = false;
    Handler = [this, &nested](const TKeys& Keys, TKeyRanges& Consumed) {
        if (!nested && Keys.Count() > 0 && Keys.Items(0)->Code() == 'C') {
            nested = true;
            Thread.Type("x");
            Thread.Advance(150);
            EXPECT_EQ(Keys.Count(), 4);  // the outer burst is untouched
            Consumed.push_back({0, 1});
            return true;
        }
        return false;
    };
    Thread.Type("cd");
    Thread.Advance(150);
    Thread.Advance(150);
    EXPECT_EQ(Bursts, (std::vector<std::string>{"cd", "x"}));
    EXPECT_EQ(Chars(), "xd");
}

TEST_F(KeyboardCapture, GivesHeldKeysBackWithTheirShiftStateWhenSwitchedOff) {
    Thread.Type("aB");
    Thread.Advance(50);
    Hook.SetActive(false);
    EXPECT_FALSE(Hook.Active());
    EXPECT_EQ(Thread.PendingTimers(), 0);
    Thread.Advance(200);
    EXPECT_EQ(Chars(), "aB");
    EXPECT_TRUE(Bursts.empty());
    EXPECT_EQ(Thread.InstalledHooks(), 0);  // once the keys were through
    Thread.Type("c");
    Thread.Pump();
    EXPECT_EQ(Chars(), "aBc");
}

TEST_F(KeyboardCapture, RemovesItsHookAtOnceWhenNothingIsHeld) {
    Hook.SetActive(false);
    EXPECT_EQ(Thread.InstalledHooks(), 0);
}

TEST_F(KeyboardCapture, CapturesAgainWhenSwitchedBackOnWhileKeysAreStillGoingBack) {
    Thread.Type("ab");
    Thread.Advance(50);
    Hook.SetActive(false);
    Hook.SetActive(true);
    EXPECT_TRUE(Hook.Active());
    EXPECT_EQ(Thread.InstalledHooks(), 1);
    Thread.Pump();
    Thread.Type("c");
    Thread.Advance(150);
    EXPECT_EQ(Bursts, std::vector<std::string>{"c"});
    EXPECT_EQ(Chars(), "abc");
}

TEST_F(KeyboardCapture, HandsKeysWaitingForReplayToTheWindowWhenSwitchedOffMidway) {
    Thread.Type("abcd");
    Thread.Advance(99);
    int replays = 0;
    Thread.OnRetrieved = [this, &replays](const TMsg& Message) {
        if (Message.message == wm::KeyDown && ++replays == 2) {
            Hook.SetActive(false);
        }
    };
    Thread.Advance(10);
    Thread.OnRetrieved = nullptr;
    EXPECT_EQ(Chars(), "abcd");
}

TEST_F(KeyboardCapture, IgnoresAReplayMessageItDidNotPost) {
    Thread.Post(nullptr, WM_REPLAYKEY, 0xDEADBEEF, 1);
    Thread.Type("a");
    Thread.Advance(150);
    EXPECT_EQ(Chars(), "a");
    int foreign = 0;
    for (const TMsg& message : Thread.ThreadMessages()) {
        foreign += message.message == WM_REPLAYKEY && message.wParam == 0xDEADBEEF ? 1 : 0;
    }
    EXPECT_EQ(foreign, 1);  // reached the host's loop untouched
}

TEST_F(KeyboardCapture, EndsTheBurstAtOnceWhenNoTimerCanBeStarted) {
    Thread.FailSetTimer = true;
    Thread.Type("a");
    Thread.Pump();
    EXPECT_EQ(Chars(), "a");
    EXPECT_EQ(Hook.Keys().Count(), 0);
}

// Handler that consumes the press and release of one key wherever they are.
TKeyboardHook::TKeyboardDataHandler ConsumeKey(std::uint8_t Code) {
    return [Code](const TKeys& Keys, TKeyRanges& Consumed) {
        for (int i = 0; i < Keys.Count(); ++i) {
            if (Keys.Items(i)->Code() == Code) {
                Consumed.push_back({i, i});
            }
        }
        return !Consumed.empty();
    };
}

TEST_F(KeyboardCapture, LetsEveryCaptureOfTheThreadReadTheBurstOnceAfterTheLongestQuietTime) {
    // The second capture takes the keys first; the first must still see the key it reads.
    Handler = ConsumeKey('A');
    TKeyboardHook second(Thread);
    std::vector<std::string> secondBursts;
    second.OnKeyboardData = [&secondBursts](const TKeys& Keys, TKeyRanges& Consumed) {
        secondBursts.push_back(Keys.GetText(0, Keys.Count() - 1, true));
        return ConsumeKey('B')(Keys, Consumed);
    };
    Hook.SetSensitivity(200);
    second.SetActive(true);
    Thread.Type("xaybz");
    Thread.Advance(199);
    EXPECT_TRUE(Bursts.empty());
    Thread.Advance(1);
    EXPECT_EQ(Bursts, std::vector<std::string>{"xaybz"});
    EXPECT_EQ(secondBursts, std::vector<std::string>{"xaybz"});
    Thread.Pump();
    EXPECT_EQ(Chars(), "xyz");
    Thread.Advance(500);
    EXPECT_EQ(Bursts.size(), 1u) << "the keys given back pass the first capture untouched";
}

TEST_F(KeyboardCapture, KeepsWhatItHoldsWhileSuspendedAndCarriesOnAfterwards) {
    Thread.Type("ab");
    Thread.Advance(50);
    Hook.SetSuspended(true);
    EXPECT_FALSE(Hook.Active());
    Thread.Type("c");  // not captured
    Thread.Advance(500);
    EXPECT_EQ(Chars(), "c");
    EXPECT_TRUE(Bursts.empty());

    Hook.SetSuspended(false);
    EXPECT_TRUE(Hook.Active());
    Thread.Advance(100);
    EXPECT_EQ(Bursts, std::vector<std::string>{"ab"});
    EXPECT_EQ(Chars(), "cab");
}

TEST_F(KeyboardCapture, GivesNothingBackWhileAnExclusiveCaptureIsOn) {
    // A host that opens the device test dialog from the handler, before the keys go back.
    std::unique_ptr<TKeyboardHook> dialog;
    Handler = [this, &dialog](const TKeys&, TKeyRanges&) {
        dialog = std::make_unique<TKeyboardHook>(Thread);
        dialog->SetExclusive(true);
        dialog->OnKeyboardData = ConsumeKey('T');
        dialog->SetActive(true);
        return false;
    };
    Thread.Type("ab");
    Thread.Advance(100);
    Thread.Type("t");
    Thread.Advance(500);
    EXPECT_EQ(Chars(), "") << "the keys went to the dialog";

    dialog.reset();
    Thread.Pump();
    EXPECT_EQ(Chars(), "ab");
}

TEST_F(KeyboardCapture, LetsAKeyThatCannotBeginACardPassUntouchedAtOnce) {
    TLogCapture log;
    Hook.SetCardPrefixes(std::vector<std::string>{"\t"});
    Thread.KeyDown('A', 2);
    Thread.KeyUp('A');
    Thread.Pump();
    EXPECT_EQ(Thread.PendingTimers(), 0);
    ASSERT_EQ(Thread.Window(Window).Received.size(), 3u);
    EXPECT_EQ(Thread.Window(Window).Received[0].LParam & 0xFFFF, 2) << "its own message";
    EXPECT_EQ(Chars(), "a");
    Thread.Advance(150);
    EXPECT_TRUE(Bursts.empty());
    EXPECT_FALSE(log.Contains("FlushMessages"));
}

TEST_F(KeyboardCapture, HoldsAKeyThatCanBeginACardForTheQuietTime) {
    Hook.SetCardPrefixes(std::vector<std::string>{"\t"});
    Thread.Tap(vk::Tab);
    Thread.Type("x");
    Thread.Advance(99);
    EXPECT_EQ(Chars(), "");
    Thread.Advance(1);
    EXPECT_EQ(Bursts, std::vector<std::string>{"#9;x"});
    EXPECT_EQ(Chars(), "\tx");
}

TEST_F(KeyboardCapture, GivesBackAtOnceWhatNoPrefixCanBeginAnyLonger) {
    // Shift may begin any prefix, and Tab one of two codes.
    Hook.SetCardPrefixes(std::vector<std::string>{"\t1", "\x21"});
    Thread.Type("Q");
    Thread.Tap(vk::Tab);
    Thread.Type("2");
    Thread.Pump();
    EXPECT_EQ(Chars(), "Q\t2");
    EXPECT_EQ(Thread.PendingTimers(), 0);

    Thread.KeyDown(vk::Shift);
    Thread.Tap(vk::Tab);
    Thread.Type("1z");
    Thread.KeyUp(vk::Shift);
    Thread.Pump();
    EXPECT_EQ(Chars(), "Q\t2");
    Thread.Advance(100);
    EXPECT_EQ(Bursts, std::vector<std::string>{"#9;!Z"});
    EXPECT_EQ(Chars(), "Q\t2\t!Z");
}

TEST_F(KeyboardCapture, KeepsTheOrderOfAKeyTypedWhileKeysAreOnTheirWayBack) {
    Hook.SetCardPrefixes(std::vector<std::string>{"\t"});
    Thread.Tap(vk::Tab);
    Thread.Advance(99);
    Thread.PostedLimit = 0;  // the host's queue is full: the Tab waits to go back
    Thread.Advance(1);
    Thread.Type("b");
    Thread.Pump();
    EXPECT_EQ(Chars(), "");
    Thread.PostedLimit = 10000;
    Thread.Post(Window, 0x0400);
    Thread.Pump();
    EXPECT_EQ(Chars(), "\tb");
}

TEST_F(KeyboardCapture, LeavesNoShiftPressedWhoseReleaseWasDropped) {
    Handler = [](const TKeys& Keys, TKeyRanges& Consumed) {
        Consumed.push_back({Keys.Count() - 1, Keys.Count() - 1});
        return true;
    };
    Thread.KeyDown(vk::Shift);
    Thread.Tap('A');
    Thread.KeyUp(vk::Shift);
    Thread.Advance(150);
    Handler = nullptr;
    Thread.Type("b");
    Thread.Advance(150);
    EXPECT_EQ(Chars(), "Ab");
}

TEST_F(KeyboardCapture, HoldsWhatAnotherCaptureOfTheThreadCouldReadAsACard) {
    // Given to the second capture first, the first's card reaches it whole, in one burst.
    Hook.SetCardPrefixes(std::vector<std::string>{"\t"});
    TKeyboardHook second(Thread);
    second.SetCardPrefixes(std::vector<std::string>{"5"});
    second.SetActive(true);
    Thread.Tap(vk::Tab);
    Thread.Type("51");
    Thread.Tap(vk::Return);
    Thread.Advance(300);
    EXPECT_EQ(Bursts, std::vector<std::string>{"#9;51#13;"});
    EXPECT_EQ(Chars(), "\t51\r");
}

// Its owner's answer: a card is complete once Enter is pressed.
TCardState CompleteAtEnter(const TKeys& Keys) {
    return Keys.Items(Keys.Count() - 1)->Code() == vk::Return ? TCardState::Complete
                                                              : TCardState::Open;
}

TEST_F(KeyboardCapture, EndsABurstAtTheKeyThatCompletesACardWithTheReleasesThatFollow) {
    Hook.SetCardEnds(std::string(1, static_cast<char>(vk::Return)));
    Hook.OnCardState = CompleteAtEnter;
    Handler = [](const TKeys& Keys, TKeyRanges& Consumed) {
        Consumed.push_back({2, Keys.Count() - 1});  // all but the first key's press and release
        return true;
    };
    Thread.Type("x1");
    Thread.KeyDown(vk::Return);
    Thread.Pump();
    EXPECT_EQ(Bursts, std::vector<std::string>{"x1#13;"});
    EXPECT_EQ(KeyStrokes(), "+88 -88");

    // Within the quiet time the releases before the next press are the card's, as they would be
    // in the burst that waits; the press is not.
    Thread.Advance(99);
    Thread.KeyUp(vk::Return);
    Thread.Advance(99);
    Thread.KeyUp('1');
    Thread.Type("b");
    Thread.Advance(100);
    EXPECT_EQ(Bursts, (std::vector<std::string>{"x1#13;", "b"}));
    EXPECT_EQ(KeyStrokes(), "+88 -88 +66 -66");

    // After the quiet time a release is typing again.
    Thread.Type("2");
    Thread.KeyDown(vk::Return);
    Thread.Advance(100);
    Thread.KeyUp(vk::Return);
    Thread.Advance(100);
    EXPECT_EQ(KeyStrokes(), "+88 -88 +66 -66 +50 -50 -13");
}

TEST_F(KeyboardCapture, WaitsTheQuietTimeForACardUnlessEveryCaptureSeesItComplete) {
    Hook.SetCardEnds(std::string(1, static_cast<char>(vk::Return)));
    Hook.OnCardState = CompleteAtEnter;
    TKeyboardHook second(Thread);  // gives no answer, as the device test dialog's
    second.SetActive(true);
    Thread.Tap(vk::Return);
    Thread.Advance(99);
    EXPECT_TRUE(Bursts.empty());
    Thread.Advance(1);
    EXPECT_EQ(Bursts.size(), 1u);

    second.OnCardState = [](const TKeys&) { return TCardState::Open; };
    Thread.Tap(vk::Return);
    Thread.Advance(99);
    EXPECT_EQ(Bursts.size(), 1u);

    second.OnCardState = [](const TKeys&) { return TCardState::Settled; };
    Thread.Advance(100);
    Thread.Tap(vk::Return);
    Thread.Pump();
    EXPECT_EQ(Bursts.size(), 3u);
}

TEST_F(KeyboardCapture, HandsHeldKeysToTheWindowWhenDestroyed) {
    {
        TKeyboardHook local(Thread);
        Hook.SetActive(false);
        local.SetActive(true);
        Thread.Type("q");
        Thread.Advance(50);
    }
    Thread.Pump();
    EXPECT_EQ(Chars(), "q");
    EXPECT_EQ(Thread.InstalledHooks(), 0);
}

}  // namespace
}  // namespace wedgecard::test
