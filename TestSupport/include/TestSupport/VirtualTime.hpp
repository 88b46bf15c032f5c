#pragma once

#include <Platform/Clock.hpp>
#include <Platform/Dispatch.hpp>

#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace TestSupport {

// Virtual time for tests: the clock, the sleeper and a manual main queue in
// one. Nothing runs until the test says so; advance() fast-forwards through
// delayed tasks in due order, so a 120-second timer is checked in
// microseconds. stop() ends all further work, as a process exit would.
class VirtualTime final : public Platform::Clock, public Platform::Sleeper, public Platform::Queue {
public:
    // 2026-01-01T00:00:00Z unless told otherwise.
    explicit VirtualTime(Platform::Date start = Platform::Date(std::chrono::seconds(1767225600)));

    Platform::Date now() const override;
    void sleepFor(Platform::Duration duration) override;
    void async(Platform::Task task) override;
    void asyncAfter(Platform::Duration delay, Platform::Task task) override;

    // Runs every task that is due now, including those they post.
    void runUntilIdle();
    // Moves time forward, running each task as its time comes.
    void advance(Platform::Duration duration);
    void stop();

    bool stopped() const;
    size_t pendingTasks() const;

private:
    bool runNextDueBy(Platform::Duration limit);

    mutable std::mutex mutex_;
    Platform::Date start_;
    Platform::Duration elapsed_{0};
    uint64_t sequence_ = 0;
    bool stopped_ = false;
    std::multimap<std::pair<Platform::Duration, uint64_t>, Platform::Task> tasks_;
};

} // namespace TestSupport
