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

// The one range of dates every program accepts, checked wherever a date is
// read from outside (a state file, a message, a command line): a Date
// counts 64-bit nanoseconds, which reach about 292 years either side of
// 1970, so whole years 1678 to 2261 fit and anything beyond would overflow.
namespace DateRange {
inline constexpr int earliestYear = 1678;
inline constexpr int latestYear = 2261;
// Seconds since 1970 of the first moment of earliestYear and of the year
// after latestYear.
inline constexpr double earliestSeconds = -9214560000.0; // 1678-01-01T00:00:00Z
inline constexpr double endSeconds = 9214646400.0;       // 2262-01-01T00:00:00Z

constexpr bool containsYear(long long year) { return year >= earliestYear && year <= latestYear; }
// NaN and the infinities are outside.
constexpr bool containsSeconds(double secondsSince1970) {
    return secondsSince1970 >= earliestSeconds && secondsSince1970 < endSeconds;
}
// "dates from 1678-01-01 to 2261-12-31", for error messages.
inline constexpr const char* description = "dates from 1678-01-01 to 2261-12-31";
} // namespace DateRange

// The machine's wall clock.
Clock& hostClock();

// Real sleeping, shortened by the simulated host's time rate.
Sleeper& hostSleeper();

// How long a wait of `simulated` lasts on this host when time runs `rate`
// times faster than real time.
Duration hostDuration(Duration simulated, double rate);

} // namespace Platform
