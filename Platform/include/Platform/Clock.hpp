#pragma once

#include <chrono>

namespace Platform {

using Date = std::chrono::system_clock::time_point;
using Duration = std::chrono::nanoseconds;

// Where "now" comes from. Code that reads the wall clock takes one of these so
// that tests run it on virtual time. Any thread.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
};

// Blocks the calling thread for a while. The host sleeper honours the
// simulated host's time rate, so a named wait of seconds can pass in
// milliseconds when a test asks for it.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleepFor(Duration duration) = 0;
};

// The machine's wall clock.
Clock& hostClock();

// Real sleeping, shortened by the simulated host's time rate.
Sleeper& hostSleeper();

// A monotonic clock that runs as fast as the host's sleeper and timers: at
// the simulated host's time rate, a wait of seconds ends after as many
// sleeps and timer ticks as it would on the platform. A step of the wall
// clock moves it not. For measuring waits, never for dates.
Clock& rateClock();

// How long a wait of `simulated` lasts on this host when time runs `rate`
// times faster than real time.
Duration hostDuration(Duration simulated, double rate);

} // namespace Platform
