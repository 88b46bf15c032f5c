#include <PermissionGrants/PermissionGrant.hpp>
#include <PermissionGrants/Readings.hpp>
#include <TestSupport/LoopThread.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <latch>
#include <semaphore>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using PermissionGrants::PermissionGrant;
using PermissionGrants::Readings;
using Standing = PermissionGrant::Standing;

const Standing standings[] = {Standing::askable("Allow\u2026"), Standing::broken("Open Settings\u2026", "off"),
                              Standing::good()};

TEST(Readings, ServesTheCacheUntilARefreshThatBumpsTheRevisionOnce) {
    Readings readings;
    readings.readAll(); // nothing registered
    EXPECT_EQ(readings.revision(), 0u);

    std::atomic<int> source{0};
    std::atomic<int> calls{0};
    auto reader = [&] {
        ++calls;
        return standings[source.load()];
    };
    for (const char* key : {"automation app.a", "automation app.b", "notifications"})
        EXPECT_EQ(readings.read(key, reader), standings[0]);
    source = 1;
    EXPECT_EQ(readings.read("automation app.a", reader), standings[0]); // cached, though the source changed
    EXPECT_EQ(calls, 3);

    readings.readAll();
    EXPECT_EQ(readings.revision(), 1u); // three keys changed, one revision
    EXPECT_EQ(readings.read("automation app.a", reader), standings[1]);
    readings.readAll();
    EXPECT_EQ(readings.revision(), 1u); // nothing changed
    EXPECT_EQ(calls, 9);
}

// Two first reads of one key at once: the one that began later wins, even
// when the earlier one ends last.
TEST(Readings, AnOlderReadingNeverReplacesANewerOne) {
    Readings readings;
    std::binary_semaphore slowStarted{0}, finishSlow{0};
    std::thread slow([&] {
        readings.read("job agent", [&] {
            slowStarted.release();
            finishSlow.acquire();
            return standings[0];
        });
    });
    slowStarted.acquire();
    EXPECT_EQ(readings.read("job agent", [] { return standings[2]; }), standings[2]);
    finishSlow.release();
    slow.join();
    EXPECT_EQ(readings.read("job agent", [] { return standings[1]; }), standings[2]);
}

// Refreshes asked for while one runs wait for one more, never pile up.
TEST(Readings, RefreshesCoalesce) {
    Readings readings;
    std::atomic<int> calls{0}, running{0}, mostAtOnce{0};
    std::atomic<bool> holdFirst{false};
    std::binary_semaphore held{0}, release{0};
    readings.read("notifications", [&] {
        int now = ++running;
        mostAtOnce = std::max(mostAtOnce.load(), now);
        if (++calls == 2 && holdFirst) {
            held.release();
            release.acquire();
        }
        --running;
        return standings[calls % 3];
    });
    holdFirst = true;
    std::thread first([&] { readings.readAll(); });
    held.acquire();
    std::vector<std::thread> later;
    for (int i = 0; i < 3; ++i) later.emplace_back([&] { readings.readAll(); });
    std::this_thread::sleep_for(100ms); // let them arrive while the first refresh is held
    release.release();
    first.join();
    for (auto& thread : later) thread.join();
    EXPECT_EQ(mostAtOnce, 1);
    EXPECT_GE(calls, 3);
    EXPECT_LE(calls, 4); // the first read, the held refresh and one more (two if a caller came late)
}

TEST(Readings, TheApplicationBecomingActiveRefreshes) {
    TestSupport::TempDir root;
    Platform::MainLoop loop;
    TestSupport::LoopThread serving(loop);
    auto events = Platform::makeSimulatedAppEvents(root.path(), {std::string("app.me"), ::getpid()}, loop);
    Readings readings(events.get());
    std::mutex mutex;
    std::condition_variable read;
    int calls = 0;
    readings.read("notifications", [&] {
        std::lock_guard lock(mutex);
        ++calls;
        read.notify_all();
        return standings[calls % 2];
    });
    Platform::activateApp(root.path(), {std::string("app.me"), 0});
    std::unique_lock lock(mutex);
    EXPECT_TRUE(read.wait_for(lock, 5s, [&] { return calls == 2; }));
    lock.unlock();
    std::promise<uint64_t> revision;
    loop.async([&] { revision.set_value(readings.revision()); });
    EXPECT_EQ(revision.get_future().get(), 1u);
}

// Many threads refresh while the source flips: the observer's handler runs on
// the main thread, only with a standing different from the one before, and
// ends on the final one; after cancel() nothing more arrives.
TEST(GrantObserver, CalledOncePerChangeUnderConcurrentRefreshes) {
    Platform::MainLoop& loop = Platform::mainLoop();
    TestSupport::LoopThread serving(loop);
    Readings readings;
    std::atomic<int> source{0};
    PermissionGrant grant("Widget", "why", "gear", false,
                          [&] { return readings.read("custom widget", [&] { return standings[source.load()]; }); },
                          [] {});
    std::vector<Standing> heard;
    std::vector<std::thread::id> threads;
    std::promise<std::shared_ptr<PermissionGrant::Observer>> made;
    loop.async([&] {
        made.set_value(grant.observe([&](Standing standing) {
            heard.push_back(standing);
            threads.push_back(std::this_thread::get_id());
        }));
    });
    auto observer = made.get_future().get();

    std::vector<std::thread> refreshers;
    for (int t = 0; t < 4; ++t)
        refreshers.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                source = (i + t) % 3;
                readings.readAll();
            }
        });
    for (auto& thread : refreshers) thread.join();
    source = 2;
    readings.readAll();
    std::promise<void> drained;
    loop.async([&] { loop.async([&] { drained.set_value(); }); });
    drained.get_future().wait();

    std::promise<std::pair<std::vector<Standing>, std::vector<std::thread::id>>> seen;
    loop.async([&] { seen.set_value({heard, threads}); });
    auto [calls, on] = seen.get_future().get();
    ASSERT_FALSE(calls.empty());
    EXPECT_LE(calls.size(), readings.revision());
    EXPECT_EQ(calls.back(), standings[2]);
    EXPECT_NE(calls.front(), standings[0]); // never called with the standing it started from
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_NE(calls[i], calls[i - 1]) << i;
    for (auto id : on) EXPECT_EQ(id, serving.id());

    observer->cancel();
    source = 0;
    readings.readAll();
    std::promise<size_t> after;
    loop.async([&] { loop.async([&] { after.set_value(heard.size()); }); });
    EXPECT_EQ(after.get_future().get(), calls.size());
}

} // namespace
