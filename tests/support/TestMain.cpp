// Test entry point with a watchdog: a test that hangs (a message loop that never ends, a
// timer that never fires) fails its run instead of stalling the whole suite.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

class TWatchdog {
public:
    explicit TWatchdog(std::chrono::seconds Limit)
        : FThread([this, Limit] {
              std::unique_lock lock(FLock);
              if (!FDone.wait_for(lock, Limit, [this] { return FFinished; })) {
                  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
                  std::fprintf(stderr, "watchdog: still running after %lld s%s%s.%s\n",
                               static_cast<long long>(Limit.count()), test ? " in " : "",
                               test ? test->test_suite_name() : "", test ? test->name() : "");
                  std::fflush(stderr);
                  std::_Exit(3);
              }
          }) {}

    ~TWatchdog() {
        {
            std::lock_guard lock(FLock);
            FFinished = true;
        }
        FDone.notify_one();
        FThread.join();
    }

private:
    std::mutex FLock;
    std::condition_variable FDone;
    bool FFinished = false;
    std::thread FThread;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The same tests run for both Windows architectures: the output says which one this is
    // (not in a test list, which ctest reads).
    if (!GTEST_FLAG_GET(list_tests)) {
        std::printf("%s: %zu-bit build\n", argc > 0 ? argv[0] : "tests", sizeof(void*) * 8);
    }
    const char* limit = std::getenv("WEDGECARD_TEST_WATCHDOG_SECONDS");
    TWatchdog watchdog(std::chrono::seconds(limit != nullptr ? std::atoi(limit) : 90));
    return RUN_ALL_TESTS();
}
