// The fake thread stands in for Windows in every capture test, so its own behaviour is pinned
// down here: queue priorities, timers, keyboard state, hook chaining, the posting quota.
#include "tests/support/FakeThread.h"

#include <gtest/gtest.h>

#include "driver/capture/Keys.h"

namespace wedgecard::test {
namespace {

std::vector<std::string>* Calls = nullptr;

std::intptr_t FirstHook(TCapturePlatform& Platform, int Code, std::uintptr_t WParam,
                        std::intptr_t LParam) {
    Calls->push_back("first");
    return Platform.CallNextHookEx(Code, WParam, LParam);
}

std::intptr_t SecondHook(TCapturePlatform& Platform, int Code, std::uintptr_t WParam,
                         std::intptr_t LParam) {
    Calls->push_back("second");
    return Platform.CallNextHookEx(Code, WParam, LParam);
}

TEST(FakeThread, RetrievesPostedMessagesBeforeKeyboardInput) {
    TFakeThread thread;
    auto window = thread.CreateWindow("edit");
    thread.KeyDown('A');
    thread.Post(window, 0x0400, 7);
    thread.Pump();
    const auto& received = thread.Window(window).Received;
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0].Message, 0x0400u);
    EXPECT_EQ(received[1].Message, wm::KeyDown);
}

TEST(FakeThread, FiresThreadTimerWhenItFallsDueAndUntilKilled) {
    TFakeThread thread;
    const auto id = thread.SetTimer(100);
    thread.Advance(99);
    EXPECT_TRUE(thread.ThreadMessages().empty());
    thread.Advance(1);
    ASSERT_EQ(thread.ThreadMessages().size(), 1u);
    EXPECT_EQ(thread.ThreadMessages()[0].message, wm::Timer);
    EXPECT_EQ(thread.ThreadMessages()[0].wParam, id);
    thread.Advance(200);
    EXPECT_EQ(thread.ThreadMessages().size(), 3u);
    EXPECT_TRUE(thread.KillTimer(id));
    thread.Advance(500);
    EXPECT_EQ(thread.ThreadMessages().size(), 3u);
}

TEST(FakeThread, TranslatesKeysWithTheKeyboardStateOfTheirRetrieval) {
    TFakeThread thread;
    auto window = thread.CreateWindow("edit");
    thread.Type("aB3#");
    thread.Tap(vk::Return);
    thread.Pump();
    EXPECT_EQ(thread.Window(window).Chars(), "aB3#\r");
    TKeyboardState state;
    thread.GetKeyboardState(state);
    EXPECT_EQ(state[vk::Shift] & 0x80, 0);
}

TEST(FakeThread, CallsTheLastInstalledHookFirstAndChainsToTheEarlierOne) {
    std::vector<std::string> calls;
    Calls = &calls;
    TFakeThread thread;
    thread.CreateWindow("edit");
    const auto first = thread.SetWindowsHookExA(&FirstHook);
    const auto second = thread.SetWindowsHookExA(&SecondHook);
    thread.Post(nullptr, 0x0400);
    thread.Pump();
    EXPECT_EQ(calls, (std::vector<std::string>{"second", "first"}));
    EXPECT_TRUE(thread.UnhookWindowsHookEx(second));
    EXPECT_TRUE(thread.UnhookWindowsHookEx(first));
    EXPECT_FALSE(thread.UnhookWindowsHookEx(first));
    Calls = nullptr;
}

TEST(FakeThread, RefusesPostsBeyondTheQuota) {
    TFakeThread thread;
    thread.PostedLimit = 2;
    EXPECT_TRUE(thread.Post(nullptr, 0x0400));
    EXPECT_TRUE(thread.Post(nullptr, 0x0400));
    EXPECT_FALSE(thread.Post(nullptr, 0x0400));
    thread.Pump();
    EXPECT_TRUE(thread.Post(nullptr, 0x0400));
}

}  // namespace
}  // namespace wedgecard::test
