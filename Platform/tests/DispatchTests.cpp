#include <Platform/Clock.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/LoopThread.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <limits>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Platform::Duration;
using Platform::MainLoop;
using TestSupport::LoopThread;

// Upper bound on any real wait in these tests; only reached when the code
// under test is broken.
constexpr auto patience = 900ms;

// Waits until `loop` has run everything posted so far, so that it is known to
// be inside run().
bool drained(MainLoop& loop) {
    auto reached = std::make_shared<std::promise<void>>();
    auto future = reached->get_future();
    loop.async([reached] { reached->set_value(); });
    return future.wait_for(patience) == std::future_status::ready;
}

// --- MainLoop

TEST(MainLoop, RunsTasksInOrderOnTheThreadCallingRun) {
    MainLoop loop;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 5; ++i)
        loop.async([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    loop.async([&] {
        // Posted from inside a task: runs after everything already queued.
        loop.async([&] {
            order.push_back(6);
            loop.stop();
        });
        order.push_back(5);
    });

    loop.run();

    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(MainLoop, KeepsServingWhileIdle) {
    MainLoop loop;
    std::promise<std::thread::id> ranOn;
    LoopThread serving(loop);
    ASSERT_TRUE(drained(loop));
    // With nothing queued, run() stays.
    EXPECT_FALSE(serving.returnedWithin(50ms));

    // A task posted later from another thread still runs, on the loop's
    // thread.
    auto future = ranOn.get_future();
    loop.async([&] { ranOn.set_value(std::this_thread::get_id()); });
    ASSERT_EQ(future.wait_for(patience), std::future_status::ready);
    EXPECT_EQ(future.get(), serving.id());
}

TEST(MainLoop, StopEndsRun) {
    MainLoop loop;
    LoopThread serving(loop);
    ASSERT_TRUE(drained(loop));
    loop.stop();
    EXPECT_TRUE(serving.returnedWithin(patience));
}

TEST(MainLoop, RunAfterStopServesTheQueueAgain) {
    MainLoop loop;
    loop.async([&] { loop.stop(); });
    loop.run();

    bool ran = false;
    loop.async([&] {
        ran = true;
        loop.stop();
    });
    loop.run();
    EXPECT_TRUE(ran);
}

// A stop that comes before the loop's thread reaches run() (a quit during
// start-up) must not be lost.
TEST(MainLoop, StopBeforeRunIsNotLost) {
    MainLoop loop;
    loop.stop();
    std::promise<void> returned;
    auto future = returned.get_future();
    std::thread serving([&] {
        loop.run();
        returned.set_value();
    });
    bool returnedAtOnce = future.wait_for(patience) == std::future_status::ready;
    while (future.wait_for(10ms) != std::future_status::ready) loop.stop();
    serving.join();
    EXPECT_TRUE(returnedAtOnce);
}

TEST(MainLoop, AsyncAfterWaitsForItsDelay) {
    MainLoop loop;
    auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point fired;
    loop.asyncAfter(50ms, [&] {
        fired = std::chrono::steady_clock::now();
        loop.stop();
    });
    loop.async([] {}); // runs first; the timer has not come due
    loop.run();
    EXPECT_GE(fired - start, 50ms);
}

TEST(MainLoop, TimersRunInDueOrderAfterPlainTasks) {
    MainLoop loop;
    std::vector<char> order;
    loop.asyncAfter(90ms, [&] {
        order.push_back('c');
        loop.stop();
    });
    loop.asyncAfter(10ms, [&] { order.push_back('a'); });
    loop.asyncAfter(50ms, [&] { order.push_back('b'); });
    loop.async([&] { order.push_back('0'); });
    loop.run();
    EXPECT_EQ(order, (std::vector<char>{'0', 'a', 'b', 'c'}));
}

// Waits of simulated seconds pass in milliseconds on a fast clock, in the
// same order as on a real one.
TEST(MainLoop, TimeRateShortensTimers) {
    MainLoop loop(1000);
    std::mutex mutex;
    std::vector<int> order;
    std::promise<void> done;
    LoopThread serving(loop);
    auto future = done.get_future();
    auto start = std::chrono::steady_clock::now();
    loop.asyncAfter(10s, [&] {
        std::lock_guard lock(mutex);
        order.push_back(10);
        done.set_value();
    });
    loop.asyncAfter(5s, [&] {
        std::lock_guard lock(mutex);
        order.push_back(5);
    });

    ASSERT_EQ(future.wait_for(patience), std::future_status::ready);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 10ms);
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<int>{5, 10}));
}

TEST(MainLoop, PendingTimersDieWithTheLoop) {
    bool ran = false;
    {
        MainLoop loop;
        loop.asyncAfter(std::chrono::hours(1), [&] { ran = true; });
        loop.async([&] { loop.stop(); });
        loop.run();
    }
    EXPECT_FALSE(ran);
}

// --- globalQueue

// The queue outlives each test, so what its tasks touch is shared with them
// rather than borrowed from the test's stack.
TEST(GlobalQueue, RunsTasksInOrderOnAThreadOfItsOwn) {
    struct Record {
        std::vector<int> order;
        std::vector<std::thread::id> threads;
        std::promise<void> done;
    };
    auto record = std::make_shared<Record>();
    auto future = record->done.get_future();
    for (int i = 0; i < 100; ++i)
        Platform::globalQueue().async([record, i] {
            record->order.push_back(i);
            record->threads.push_back(std::this_thread::get_id());
            if (i == 99) record->done.set_value();
        });
    ASSERT_EQ(future.wait_for(patience), std::future_status::ready);

    std::vector<int> expected(100);
    for (int i = 0; i < 100; ++i) expected[i] = i;
    EXPECT_EQ(record->order, expected);
    const auto& threads = record->threads;
    for (auto id : threads) {
        EXPECT_NE(id, std::this_thread::get_id());
        EXPECT_EQ(id, threads.front());
    }
}

TEST(GlobalQueue, AsyncAfterRunsOffTheCallersThread) {
    auto ranOn = std::make_shared<std::promise<std::thread::id>>();
    auto future = ranOn->get_future();
    Platform::globalQueue().asyncAfter(20ms, [ranOn] { ranOn->set_value(std::this_thread::get_id()); });
    ASSERT_EQ(future.wait_for(patience), std::future_status::ready);
    EXPECT_NE(future.get(), std::this_thread::get_id());
}

// A timer set far ahead must not hold the process at exit. The child is
// killed by an alarm after one second if exit waits for it. It never reaches
// the test environment's tear-down, so it removes its own simulation root.
TEST(GlobalQueueDeathTest, ExitDoesNotWaitForPendingTimers) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::alarm(1);
            Platform::globalQueue().asyncAfter(std::chrono::hours(1), [] {});
            Platform::globalQueue().async([] {});
            std::error_code ignored;
            std::filesystem::remove_all(Platform::SimulatedHost::root(), ignored);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// --- utilityQueue and repeating timers

TEST(UtilityQueue, RunsBelowTheCallersPriority) {
    auto niceness = std::make_shared<std::promise<int>>();
    auto future = niceness->get_future();
    Platform::utilityQueue().async([niceness] {
        niceness->set_value(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())));
    });
    ASSERT_EQ(future.wait_for(patience), std::future_status::ready);
    EXPECT_GT(future.get(), ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())));
}

// What a repeating task saw: when each run came, measured from the start.
struct Runs {
    std::mutex lock;
    std::vector<std::chrono::steady_clock::duration> at;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::promise<void> enough;
    size_t wanted = 3;

    void record() {
        std::lock_guard guard(lock);
        at.push_back(std::chrono::steady_clock::now() - start);
        if (at.size() == wanted) enough.set_value();
    }
    size_t count() {
        std::lock_guard guard(lock);
        return at.size();
    }
};

TEST(Repeating, FirstRunsOneIntervalFromNowThenEveryInterval) {
    auto runs = std::make_shared<Runs>();
    auto enough = runs->enough.get_future();
    auto timer = Platform::repeating(Platform::utilityQueue(), 40ms, [runs] { runs->record(); });
    ASSERT_EQ(enough.wait_for(patience), std::future_status::ready);
    timer.reset();
    std::lock_guard guard(runs->lock);
    for (size_t i = 0; i < runs->wanted; ++i) EXPECT_GE(runs->at[i], 40ms * static_cast<int>(i + 1)) << i;
}

TEST(Repeating, CancelledFromItsOwnRun) {
    auto runs = std::make_shared<Runs>();
    auto holder = std::make_shared<std::unique_ptr<Platform::RepeatingTimer>>();
    auto gate = std::make_shared<std::mutex>();
    std::unique_lock starting(*gate);
    *holder = Platform::repeating(Platform::utilityQueue(), 5ms, [runs, holder, gate] {
        std::lock_guard guard(*gate);
        runs->record();
        (*holder)->cancel();
    });
    starting.unlock();
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(runs->count(), 1u);
    std::lock_guard guard(*gate);
    holder->reset();
}

// --- host clock and sleeper

// This test run's simulated host has no clock.json: real time.
TEST(HostTime, SleeperWaitsInRealTimeAndTheClockFollowsTheWallClock) {
    auto before = Platform::hostClock().now();
    auto started = std::chrono::steady_clock::now();
    Platform::hostSleeper().sleepFor(20ms);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 20ms);
    EXPECT_GE(Platform::hostClock().now() - before, 19ms);
}

// --- hostDuration

TEST(HostDuration, NothingToWaitIsZero) {
    for (double rate : {1.0, 1000.0, 0.5})
        for (Duration wait : {Duration::zero(), Duration(-1), Duration(-std::chrono::seconds(5))})
            EXPECT_EQ(Platform::hostDuration(wait, rate), Duration::zero()) << rate << " " << wait.count();
}

TEST(HostDuration, RealTimeRateLeavesTheWait) {
    EXPECT_EQ(Platform::hostDuration(10s, 1), Duration(10s));
    EXPECT_EQ(Platform::hostDuration(Duration(1), 1), Duration(1));
    EXPECT_EQ(Platform::hostDuration(Duration::max(), 1), Duration::max());
}

TEST(HostDuration, FasterRateDividesTheWait) {
    EXPECT_EQ(Platform::hostDuration(10s, 1000), Duration(10ms));
    EXPECT_EQ(Platform::hostDuration(120s, 1000), Duration(120ms));
    EXPECT_EQ(Platform::hostDuration(10s, 2.5), Duration(4s));
}

// A positive wait never shrinks to none: a timer stays after the tasks
// already queued.
TEST(HostDuration, PositiveWaitStaysPositive) {
    EXPECT_EQ(Platform::hostDuration(Duration(1), 1000), Duration(1));
    EXPECT_EQ(Platform::hostDuration(Duration(1001), 1000), Duration(2));
}

TEST(HostDuration, SlowerRateLengthensTheWait) { EXPECT_EQ(Platform::hostDuration(10s, 0.5), Duration(20s)); }

TEST(HostDuration, MeaninglessRateLeavesTheWait) {
    for (double rate : {0.0, -1.0, -1000.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(Platform::hostDuration(10s, rate), Duration(10s)) << rate;
}

// A wait too long to lengthen further is as long as a wait can be, never
// wrapped round into one that is already over.
TEST(HostDuration, SlowerRateSaturatesInsteadOfOverflowing) {
    EXPECT_EQ(Platform::hostDuration(Duration::max(), 0.5), Duration::max());
    EXPECT_EQ(Platform::hostDuration(Duration::max() / 2 + Duration(1000), 0.5), Duration::max());
}

} // namespace
