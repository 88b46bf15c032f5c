// Durations and moments typed on the command line, and their words.

#include "LocalTime.hpp"
#include "TimeText.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using namespace ClientTests;
using Client::durationWords;
using Client::momentWords;
using Client::parseDuration;
using Client::parseMoment;

TEST(Durations, AcceptTheWrittenForms) {
    const std::pair<const char*, std::chrono::seconds> rows[] = {
        {"90", 90min}, {"90m", 90min},      {"2h", 2h},   {"1h30m", 90min},
        {"45s", 45s},  {"1h30m15s", 5415s}, {"0h1s", 1s}, {"8784h", 8784h}, // a leap year exactly
        {"1d", 24h},   {"2d12h", 60h},      {"366d", 8784h}, {"1d1s", 86401s},
    };
    for (const auto& [text, expected] : rows) {
        auto parsed = parseDuration(text);
        ASSERT_TRUE(parsed.ok()) << text << ": " << parsed.error();
        EXPECT_EQ(parsed.value(), expected) << text;
    }
}

TEST(Durations, RefuseAnythingElseSayingWhy) {
    for (const char* text : {"", "m", "1.5h", "30m1h", "1h1h", "1h2d", "1d1d", "-5", "5 m", "1h30", "1x", "h1", "1234567890"})
        EXPECT_EQ(parseDuration(text).error(),
                  "\"" + std::string(text) + "\" is not a duration (try 90, 90m, 2h, 1h30m, 45s or 1d)")
            << text;
    EXPECT_EQ(parseDuration("0m").error(), "\"0m\" is no time at all");
    EXPECT_EQ(parseDuration("8785h").error(), "\"8785h\" is longer than a year");
    EXPECT_EQ(parseDuration("367d").error(), "\"367d\" is longer than a year");
}

class Moments : public LocalTime {};

TEST_F(Moments, AClockTimeIsTheNextTimeTheClockShowsIt) {
    EXPECT_EQ(parseMoment("14:30", now).value(), utc("2026-12-09T14:30:00"));
    EXPECT_EQ(parseMoment("13:10:01", now).value(), utc("2026-12-09T13:10:01"));
    // The very minute of now has come already.
    EXPECT_EQ(parseMoment("13:10", now).value(), utc("2026-12-10T13:10:00"));
    EXPECT_EQ(parseMoment("9:05", now).value(), utc("2026-12-10T09:05:00"));
    EXPECT_EQ(parseMoment("00:00", utc("2026-12-31T23:30:00")).value(), utc("2027-01-01T00:00:00"));
}

TEST_F(Moments, AClockTimeIsLocal) {
    zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(parseMoment("14:30", now).value(), utc("2026-12-09T13:30:00"));
    // 2026-03-29 springs forward at 02:00: half past three is already summer time.
    EXPECT_EQ(parseMoment("03:30", utc("2026-03-29T00:30:00")).value(), utc("2026-03-29T01:30:00"));
}

TEST_F(Moments, ADateAndTimeTakesItsZoneOrLocalTime) {
    zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(parseMoment("2026-12-24T18:00", now).value(), utc("2026-12-24T17:00:00"));
    EXPECT_EQ(parseMoment("2026-12-24 18:00:30", now).value(), utc("2026-12-24T17:00:30"));
    EXPECT_EQ(parseMoment("2026-12-24T18:00Z", now).value(), utc("2026-12-24T18:00:00"));
    EXPECT_EQ(parseMoment("2026-12-24T18:00+01:00", now).value(), utc("2026-12-24T17:00:00"));
    EXPECT_EQ(parseMoment("2026-12-24T18:00-0530", now).value(), utc("2026-12-24T23:30:00"));
    EXPECT_EQ(parseMoment("2026-12-24T18:00+02", now).value(), utc("2026-12-24T16:00:00"));
    EXPECT_EQ(parseMoment("2028-02-29T10:00Z", now).value(), utc("2028-02-29T10:00:00"));
}

TEST_F(Moments, RefuseWhatIsNoMomentOrHasPassed) {
    for (const char* text : {"24:00", "14:60", "14:5", "1430", "14:30:", "noon", "2026-02-29T10:00", "2026-13-01T10:00",
                             "2026-12-24", "2026-12-24T18", "2026-12-24T18:00+1", "2026-12-24T18:00 UTC", ""})
        EXPECT_EQ(parseMoment(text, now).error(), "\"" + std::string(text) +
                                                      "\" is not a time (try 14:30, or a date and time such "
                                                      "as 2026-12-24T18:00)")
            << text;
    EXPECT_EQ(parseMoment("2026-12-09T13:10", now).error(), "\"2026-12-09T13:10\" has already passed");
    EXPECT_EQ(parseMoment("2026-12-09T13:10:01", now).value(), utc("2026-12-09T13:10:01"));
}

TEST(DurationWords, RoundUpToWholeMinutesFromAMinuteOn) {
    const std::pair<int64_t, const char*> rows[] = {
        {-5, "0s"},   {0, "0s"},        {59, "59s"},      {60, "1m"},    {61, "2m"},    {3599, "1h"},
        {3600, "1h"}, {4770, "1h 20m"}, {4800, "1h 20m"}, {86399, "1d"}, {86400, "1d"}, {90000, "1d 1h"},
    };
    for (const auto& [seconds, words] : rows) EXPECT_EQ(durationWords(std::chrono::seconds(seconds)), words) << seconds;
}

class MomentWords : public LocalTime {};

TEST_F(MomentWords, NameTheDayUnlessItIsToday) {
    EXPECT_EQ(momentWords(utc("2026-12-09T14:30:00"), now), "14:30");
    EXPECT_EQ(momentWords(utc("2026-12-09T14:30:15"), now), "14:30:15");
    EXPECT_EQ(momentWords(utc("2026-12-10T09:00:00"), now), "tomorrow 09:00");
    EXPECT_EQ(momentWords(utc("2026-12-08T22:10:00"), now), "yesterday 22:10");
    EXPECT_EQ(momentWords(utc("2026-12-24T18:00:00"), now), "2026-12-24 18:00");
    EXPECT_EQ(momentWords(utc("2027-01-01T01:00:00"), utc("2026-12-31T23:00:00")), "tomorrow 01:00");
    zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(momentWords(utc("2026-12-09T23:30:00"), now), "tomorrow 00:30");
}

} // namespace
