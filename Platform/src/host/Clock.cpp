#include "Platform/Clock.hpp"
#include "Platform/SimulatedHost.hpp"

#include <cmath>
#include <thread>

namespace Platform {

namespace {

class HostClock final : public Clock {
public:
    // Whole microseconds, the precision a date keeps through the state files.
    Date now() const override { return std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now()); }
};

class RateClock final : public Clock {
public:
    explicit RateClock(double rate) : rate_(rate > 0 && std::isfinite(rate) ? rate : 1.0) {}
    Date now() const override {
        auto elapsed = std::chrono::steady_clock::now() - start_;
        auto scaled = std::chrono::duration_cast<Duration>(elapsed * rate_);
        return Date(std::chrono::duration_cast<Date::duration>(scaled));
    }

private:
    double rate_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class HostSleeper final : public Sleeper {
public:
    explicit HostSleeper(double rate) : rate_(rate) {}
    void sleepFor(Duration duration) override { std::this_thread::sleep_for(hostDuration(duration, rate_)); }

private:
    double rate_;
};

} // namespace

Clock& hostClock() {
    static HostClock clock;
    return clock;
}

Sleeper& hostSleeper() {
    static HostSleeper sleeper(SimulatedHost::timeRate());
    return sleeper;
}

Clock& rateClock() {
    static RateClock clock(SimulatedHost::timeRate());
    return clock;
}

Duration hostDuration(Duration simulated, double rate) {
    if (simulated <= Duration::zero()) return Duration::zero();
    if (!(rate > 0) || !std::isfinite(rate) || rate == 1.0) return simulated;
    double scaled = std::ceil(static_cast<double>(simulated.count()) / rate);
    // A rate below 1 stretches waits; the longest one saturates instead of overflowing.
    if (scaled >= static_cast<double>(Duration::max().count())) return Duration::max();
    return Duration(static_cast<Duration::rep>(scaled));
}

} // namespace Platform
