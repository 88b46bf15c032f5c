#include "TestSupport/VirtualTime.hpp"

namespace TestSupport {

VirtualTime::VirtualTime(Platform::Date start) : start_(start) {}

Platform::Date VirtualTime::now() const {
    std::lock_guard lock(mutex_);
    return start_ + elapsed_;
}

void VirtualTime::sleepFor(Platform::Duration duration) {
    std::lock_guard lock(mutex_);
    if (duration > Platform::Duration::zero()) elapsed_ += duration;
}

void VirtualTime::async(Platform::Task task) { asyncAfter(Platform::Duration::zero(), std::move(task)); }

void VirtualTime::asyncAfter(Platform::Duration delay, Platform::Task task) {
    std::lock_guard lock(mutex_);
    auto due = elapsed_ + std::max(delay, Platform::Duration::zero());
    tasks_.emplace(std::make_pair(due, sequence_++), std::move(task));
}

bool VirtualTime::runNextDueBy(Platform::Duration limit) {
    Platform::Task task;
    {
        std::lock_guard lock(mutex_);
        if (stopped_ || tasks_.empty() || tasks_.begin()->first.first > limit) return false;
        auto next = tasks_.begin();
        elapsed_ = std::max(elapsed_, next->first.first);
        task = std::move(next->second);
        tasks_.erase(next);
    }
    task();
    return true;
}

void VirtualTime::runUntilIdle() {
    while (runNextDueBy([this] {
        std::lock_guard lock(mutex_);
        return elapsed_;
    }())) {
    }
}

void VirtualTime::advance(Platform::Duration duration) {
    Platform::Duration target;
    {
        std::lock_guard lock(mutex_);
        target = elapsed_ + duration;
    }
    while (runNextDueBy(target)) {
    }
    std::lock_guard lock(mutex_);
    if (!stopped_) elapsed_ = std::max(elapsed_, target);
}

void VirtualTime::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
}

bool VirtualTime::stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

size_t VirtualTime::pendingTasks() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

} // namespace TestSupport
