#pragma once

#include <LumraKit/Result.hpp>
#include <Platform/Clock.hpp>

#include <chrono>
#include <string>
#include <string_view>

// Durations and moments as people type and read them on the command line.
// Moments are local time: the process's time zone (TZ) decides.
namespace Client {

// "90" (a bare number is minutes), "90m", "2h", "1h30m", "45s", "1d",
// "1d12h", "1h30m15s": days, hours, minutes and seconds, each at most once
// and in that order. More than zero and at most a year. The error says what is wrong.
LumraKit::Result<std::chrono::seconds, std::string> parseDuration(std::string_view text);

// A moment after `now`:
// - "14:30" or "14:30:15": that time today, or tomorrow once today's has
//   come;
// - "2026-12-24T18:00", with optional seconds, a space for the T and a zone
//   ("Z", "+01:00", "+0100", "-05"); local time without one. Only dates
//   within Platform::DateRange.
LumraKit::Result<Platform::Date, std::string> parseMoment(std::string_view text, Platform::Date now);

// "45s" under a minute; from a minute on whole minutes rounded up: "20m",
// "1h 20m", "2d 3h". Negative spans read as "0s".
std::string durationWords(std::chrono::seconds span);

// The local time of `date` as seen on the day of `now`: "14:30" today,
// "tomorrow 09:00", "yesterday 22:10", "2026-12-24 18:00" otherwise. Seconds
// are shown when they are not zero.
std::string momentWords(Platform::Date date, Platform::Date now);

} // namespace Client
