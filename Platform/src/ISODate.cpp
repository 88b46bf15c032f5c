#include "Platform/ISODate.hpp"

#include <cstdio>

namespace Platform::ISODate {

std::string format(Date date) {
    using namespace std::chrono;
    // Calendar arithmetic rather than gmtime: every Date, before 1970 too,
    // has its text, and no time zone state is touched.
    auto seconds = floor<std::chrono::seconds>(date);
    auto day = floor<days>(seconds);
    year_month_day calendar{day};
    hh_mm_ss time{seconds - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(calendar.year()),
                  static_cast<unsigned>(calendar.month()), static_cast<unsigned>(calendar.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

} // namespace Platform::ISODate
