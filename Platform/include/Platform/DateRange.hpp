#pragma once

#include "Platform/Clock.hpp"

// The one range of dates every program accepts, checked wherever a date is
// read from outside (a state file, a message, a command line) before
// anything computes with it: a Date counts 64-bit nanoseconds, which reach
// about 292 years either side of 1970, so whole years 1678 to 2261 fit and
// anything beyond would overflow.
namespace Platform::DateRange {

inline constexpr int firstYear = 1678;
inline constexpr int lastYear = 2261;
// Seconds since 1970 of the first moment of firstYear and of the year after
// lastYear.
inline constexpr double firstSeconds = -9214560000.0; // 1678-01-01T00:00:00Z
inline constexpr double endSeconds = 9214646400.0;    // 2262-01-01T00:00:00Z

// Whether a calendar year lies within the range.
constexpr bool containsYear(long long year) { return year >= firstYear && year <= lastYear; }

// Whether a count of seconds since 1970 lies within the range; NaN and the
// infinities are outside.
constexpr bool containsSeconds(double secondsSince1970) {
    return secondsSince1970 >= firstSeconds && secondsSince1970 < endSeconds;
}

// Whether `date` lies within the range (from the start of the first year to
// the end of the last).
bool contains(Date date);

// For error messages.
inline constexpr const char* description = "dates from 1678-01-01 to 2261-12-31";

} // namespace Platform::DateRange
