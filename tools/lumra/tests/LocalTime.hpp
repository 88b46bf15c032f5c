#pragma once

#include <Platform/Clock.hpp>
#include <TestSupport/ScopedTimeZone.hpp>

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace ClientTests {

// The moment a UTC text "YYYY-MM-DDTHH:MM:SS" names.
inline Platform::Date utc(const std::string& text) {
    std::tm fields{};
    ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &fields);
    return std::chrono::system_clock::from_time_t(::timegm(&fields));
}

// Wednesday 2026-12-09, 13:10:00 UTC: "now" in every test here.
inline const Platform::Date now = utc("2026-12-09T13:10:00");

// Local time for a test: UTC unless a test picks another zone, as a POSIX
// TZ rule so that no time zone database is needed.
class LocalTime : public testing::Test {
protected:
    void zone(const char* rule) { zone_.set(rule); }

private:
    TestSupport::ScopedTimeZone zone_{"UTC0"};
};

} // namespace ClientTests
