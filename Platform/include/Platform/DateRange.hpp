#pragma once

#include "Platform/Clock.hpp"

#include <string>

// The dates this system works with. `Date` counts nanoseconds in 64 bits,
// which ends in April 2262, and the C library's calendar conversions have
// limits of their own; a date read from outside (a command line, a file) is
// checked against this one range before anything computes with it.
namespace Platform::DateRange {

inline constexpr int firstYear = 1970;
inline constexpr int lastYear = 2199;

// Whether a calendar year lies within the range.
constexpr bool containsYear(long long year) { return year >= firstYear && year <= lastYear; }

// Whether `date` lies within the range (from the start of the first year to
// the end of the last).
bool contains(Date date);

// "dates must lie between 1970 and 2199", for error messages.
std::string description();

} // namespace Platform::DateRange
