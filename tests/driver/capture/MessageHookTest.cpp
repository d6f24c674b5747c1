#include "driver/capture/MessageHook.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/FakeThread.h"

namespace wedgecard::test {
namespace {

struct TRecordingHook {
    explicit TRecordingHook(TFakeThread& Thread) : Hook(Thread) {
        Hook.OnHook = [this](int Code, std::uintptr_t WParam, std::intptr_t LParam) {
            const auto* message = reinterpret_cast<const TMsg*>(LParam);
            Seen.push_back({Code, WParam, message->message});
        };
    }
    struct TCall {
        int Code;
        std::uintptr_t WParam;
        std::uint32_t Message;
    };
    TMessageHook Hook;
    std::vector<TCall> Seen;
};

TEST(MessageHook, InstallsOneSystemHookHoweverOftenItIsSwitchedOn) {
    TFakeThread thread;
    TMessageHook hook(thread);
    hook.SetActive(true);
    hook.SetActive(true);
    EXPECT_TRUE(hook.Active());
    EXPECT_EQ(thread.InstalledHooks(), 1);
    hook.SetActive(false);
    hook.SetActive(false);
    EXPECT_FALSE(hook.Active());
    EXPECT_EQ(thread.InstalledHooks(), 0);
}

TEST(MessageHook, ForwardsEveryRetrievedMessageWithTheRetrievalFlag) {
    TFakeThread thread;
    thread.CreateWindow("edit");
    TRecordingHook recording(thread);
    recording.Hook.SetActive(true);
    thread.KeyDown('A');
    TMsg peeked;
    ASSERT_TRUE(thread.PeekOnly(peeked));
    thread.Pump();
    ASSERT_EQ(recording.Seen.size(), 3u);  // peeked key, removed key, its WM_CHAR
    EXPECT_EQ(recording.Seen[0].WParam, hook::NoRemove);
    EXPECT_EQ(recording.Seen[1].WParam, hook::Remove);
    EXPECT_EQ(recording.Seen[1].Message, wm::KeyDown);
    EXPECT_EQ(recording.Seen[2].Message, wm::Char);
}

TEST(MessageHook, PassesMessagesOnUnchangedWithoutAHandler) {
    TFakeThread thread;
    auto window = thread.CreateWindow("edit");
    TMessageHook hook(thread);
    hook.SetActive(true);
    thread.Type("ok");
    thread.Pump();
    EXPECT_EQ(thread.Window(window).Chars(), "ok");
}

TEST(MessageHook, ReportsAFailedInstallationWithTheSystemTextAndStaysOff) {
    TFakeThread thread;
    TMessageHook hook(thread);
    thread.FailNextHookInstall = true;
    try {
        hook.SetActive(true);
        FAIL() << "no error raised";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "Не удалось установить hook Access denied.");
    }
    EXPECT_FALSE(hook.Active());
    EXPECT_EQ(TMessageHook::CurrentMessageHook(), nullptr);
}

TEST(MessageHook, StaysActiveWhenTheSystemRefusesToRemoveIt) {
    TFakeThread thread;
    TMessageHook hook(thread);
    hook.SetActive(true);
    thread.FailNextUnhook = true;
    try {
        hook.SetActive(false);
        FAIL() << "no error raised";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "Не удалось снять hook Invalid hook handle.");
    }
    EXPECT_TRUE(hook.Active());
    EXPECT_EQ(TMessageHook::CurrentMessageHook(), &hook);
    hook.SetActive(false);
    EXPECT_EQ(thread.InstalledHooks(), 0);
}

TEST(MessageHook, RemovesItsSystemHookWhenDestroyed) {
    TFakeThread thread;
    {
        TMessageHook hook(thread);
        hook.SetActive(true);
    }
    EXPECT_EQ(thread.InstalledHooks(), 0);
    EXPECT_EQ(TMessageHook::CurrentMessageHook(), nullptr);
}

TEST(MessageHook, ServesEveryActiveHookTheLastActivatedFirstWithTheMessageAsLeftBefore) {
    TFakeThread thread;
    thread.CreateWindow("edit");
    std::vector<std::string> served;
    TMessageHook first(thread);
    TMessageHook second(thread);
    TMessageHook third(thread);
    first.OnHook = [&served](int, std::uintptr_t WParam, std::intptr_t LParam) {
        if (WParam == hook::Remove) {
            served.push_back("first " + std::to_string(reinterpret_cast<TMsg*>(LParam)->message));
        }
    };
    second.OnHook = [&](int, std::uintptr_t WParam, std::intptr_t LParam) {
        if (WParam == hook::Remove) {
            auto* message = reinterpret_cast<TMsg*>(LParam);
            served.push_back("second " + std::to_string(message->message));
            message->message = wm::Null;
            third.SetActive(false);  // not served any more, this message included
        }
    };
    third.OnHook = [&served](int, std::uintptr_t, std::intptr_t) { served.push_back("third"); };
    first.SetActive(true);
    third.SetActive(true);
    second.SetActive(true);
    thread.KeyDown('A');
    thread.Pump();
    EXPECT_EQ(served, (std::vector<std::string>{"second 256", "first 0"}));
    EXPECT_EQ(thread.InstalledHooks(), 2);
}

TEST(MessageHook, ResumesTheRightHookWhenOneInTheMiddleIsSwitchedOff) {
    TFakeThread thread;
    thread.CreateWindow("edit");
    TRecordingHook first(thread);
    TRecordingHook middle(thread);
    TRecordingHook last(thread);
    first.Hook.SetActive(true);
    middle.Hook.SetActive(true);
    last.Hook.SetActive(true);
    middle.Hook.SetActive(false);
    last.Hook.SetActive(false);
    EXPECT_EQ(TMessageHook::CurrentMessageHook(), &first.Hook);
    first.Hook.SetActive(false);
    EXPECT_EQ(TMessageHook::CurrentMessageHook(), nullptr);
}

TEST(MessageHook, KeepsAHandlerErrorOutOfTheMessageRetrieval) {
    TFakeThread thread;
    auto window = thread.CreateWindow("edit");
    TMessageHook hook(thread);
    hook.OnHook = [](int, std::uintptr_t, std::intptr_t) { throw std::runtime_error("boom"); };
    hook.SetActive(true);
    thread.Type("x");
    EXPECT_NO_THROW(thread.Pump());
    EXPECT_EQ(thread.Window(window).Chars(), "x");
}

TEST(MessageHook, PutsOffWhatMustWaitUntilTheMessageHasBeenServed) {
    TFakeThread thread;
    thread.CreateWindow("edit");
    std::vector<std::string> order;
    TMessageHook hook(thread);
    hook.OnHook = [&order](int, std::uintptr_t WParam, std::intptr_t) {
        if (WParam != hook::Remove || !order.empty()) {
            return;
        }
        EXPECT_TRUE(TMessageHook::Serving());
        TMessageHook::DeferUntilServed([&order] { order.push_back("deferred"); });
        order.push_back("handler");
    };
    hook.SetActive(true);
    thread.Post(nullptr, 0x0400);
    thread.Pump();
    EXPECT_EQ(order, (std::vector<std::string>{"handler", "deferred"}));

    EXPECT_FALSE(TMessageHook::Serving());
    TMessageHook::DeferUntilServed([&order] { order.push_back("at once"); });
    EXPECT_EQ(order.back(), "at once");
}

TEST(MessageHook, LetsADeferredActionDestroyTheHookThatServedTheMessage) {
    TFakeThread thread;
    auto window = thread.CreateWindow("edit");
    auto* hook = new TMessageHook(thread);
    hook->OnHook = [hook](int, std::uintptr_t, std::intptr_t) {
        TMessageHook::DeferUntilServed([hook] { delete hook; });
    };
    hook->SetActive(true);
    thread.Type("a");
    thread.Pump();
    EXPECT_EQ(thread.InstalledHooks(), 0);
    EXPECT_EQ(thread.Window(window).Chars(), "a");
}

}  // namespace
}  // namespace wedgecard::test
