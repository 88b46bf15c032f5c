#include "TimeText.hpp"

#include <Platform/DateRange.hpp>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>

namespace Client {

namespace {

using std::chrono::seconds;

constexpr seconds longestDuration{366LL * 24 * 3600};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly `count` digits at the front of `text`, consumed; absent otherwise.
std::optional<int> takeDigits(std::string_view& text, size_t count) {
    if (text.size() < count) return std::nullopt;
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!isDigit(text[i])) return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    text.remove_prefix(count);
    return value;
}

bool take(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

struct ClockTime {
    int hour = 0, minute = 0, second = 0;
};

// "H:MM", "HH:MM", optionally ":SS", at the front of `text`.
std::optional<ClockTime> takeClockTime(std::string_view& text) {
    ClockTime time;
    size_t hourDigits = text.size() > 1 && isDigit(text[1]) ? 2 : 1;
    auto hour = takeDigits(text, hourDigits);
    if (!hour || !take(text, ':')) return std::nullopt;
    auto minute = takeDigits(text, 2);
    if (!minute) return std::nullopt;
    time.hour = *hour;
    time.minute = *minute;
    if (take(text, ':')) {
        auto second = takeDigits(text, 2);
        if (!second) return std::nullopt;
        time.second = *second;
    }
    if (time.hour > 23 || time.minute > 59 || time.second > 59) return std::nullopt;
    return time;
}

// "Z", "+HH:MM", "+HHMM" or "+HH" (or with "-"), as seconds east of UTC.
std::optional<int> takeZone(std::string_view& text) {
    if (take(text, 'Z') || take(text, 'z')) return 0;
    int sign = take(text, '+') ? 1 : take(text, '-') ? -1 : 0;
    if (sign == 0) return std::nullopt;
    auto hours = takeDigits(text, 2);
    if (!hours) return std::nullopt;
    int minutes = 0;
    if (!text.empty()) {
        take(text, ':');
        auto parsed = takeDigits(text, 2);
        if (!parsed) return std::nullopt;
        minutes = *parsed;
    }
    if (*hours > 23 || minutes > 59) return std::nullopt;
    return sign * (*hours * 3600 + minutes * 60);
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

std::tm localFields(Platform::Date date) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm fields{};
    ::localtime_r(&seconds, &fields);
    return fields;
}

// The local moment with these fields; the time zone rules (daylight saving
// included) pick the offset. A day past the month's end rolls over.
Platform::Date localMoment(std::tm fields) {
    fields.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&fields));
}

std::string inQuotes(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string outOfRange(std::string_view text) {
    return inQuotes(text) + ": out of range (" + Platform::DateRange::description + ")";
}

} // namespace

LumraKit::Result<seconds, std::string> parseDuration(std::string_view text) {
    const std::string invalid = inQuotes(text) + " is not a duration (try 90, 90m, 2h, 1h30m, 45s or 1d)";
    constexpr std::string_view units = "dhms";
    constexpr int64_t unitSeconds[] = {86400, 3600, 60, 1};

    int64_t total = 0;
    size_t nextUnit = 0;
    std::string_view rest = text;
    if (rest.empty()) return invalid;
    while (!rest.empty()) {
        size_t digits = 0;
        while (digits < rest.size() && isDigit(rest[digits])) ++digits;
        // Nine digits keep every product far from overflowing.
        if (digits == 0 || digits > 9) return invalid;
        int64_t number = 0;
        std::from_chars(rest.data(), rest.data() + digits, number);
        rest.remove_prefix(digits);
        if (rest.empty()) {
            // A bare number stands alone, and means minutes.
            if (nextUnit != 0) return invalid;
            total = number * 60;
            break;
        }
        size_t unit = units.find(rest.front(), nextUnit);
        if (unit == std::string_view::npos) return invalid;
        rest.remove_prefix(1);
        total += number * unitSeconds[unit];
        nextUnit = unit + 1;
    }
    if (total == 0) return inQuotes(text) + " is no time at all";
    if (seconds(total) > longestDuration) return inQuotes(text) + " is longer than a year";
    return seconds(total);
}

LumraKit::Result<Platform::Date, std::string> parseMoment(std::string_view text, Platform::Date now) {
    const std::string invalid =
        inQuotes(text) + " is not a time (try 14:30, or a date and time such as 2026-12-24T18:00)";
    std::string_view rest = text;

    bool withDate = text.size() > 4 && text[4] == '-';
    if (!withDate) {
        // A clock time alone: the next time the clock shows it.
        auto time = takeClockTime(rest);
        if (!time || !rest.empty()) return invalid;
        std::tm fields = localFields(now);
        fields.tm_hour = time->hour;
        fields.tm_min = time->minute;
        fields.tm_sec = time->second;
        Platform::Date moment = localMoment(fields);
        if (moment <= now) {
            fields.tm_mday += 1;
            moment = localMoment(fields);
        }
        return moment;
    }

    auto year = takeDigits(rest, 4);
    bool dashes = year && take(rest, '-');
    auto month = dashes ? takeDigits(rest, 2) : std::nullopt;
    auto day = month && take(rest, '-') ? takeDigits(rest, 2) : std::nullopt;
    if (!day || *month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month)) return invalid;
    if (!Platform::DateRange::containsYear(*year)) return outOfRange(text);
    if (!take(rest, 'T') && !take(rest, 't') && !take(rest, ' ')) return invalid;
    auto time = takeClockTime(rest);
    if (!time) return invalid;
    std::optional<int> zone;
    if (!rest.empty()) {
        zone = takeZone(rest);
        if (!zone || !rest.empty()) return invalid;
    }

    std::tm fields{};
    fields.tm_year = *year - 1900;
    fields.tm_mon = *month - 1;
    fields.tm_mday = *day;
    fields.tm_hour = time->hour;
    fields.tm_min = time->minute;
    fields.tm_sec = time->second;
    Platform::Date moment =
        zone ? std::chrono::system_clock::from_time_t(::timegm(&fields)) - seconds(*zone) : localMoment(fields);
    if (!Platform::DateRange::contains(moment)) return outOfRange(text);
    if (moment <= now) return inQuotes(text) + " has already passed";
    return moment;
}

std::string durationWords(seconds span) {
    if (span < seconds(60)) return std::to_string(std::max<int64_t>(span.count(), 0)) + "s";
    int64_t minutes = (span.count() + 59) / 60;
    if (minutes < 60) return std::to_string(minutes) + "m";
    int64_t hours = minutes / 60;
    if (hours < 24) {
        std::string words = std::to_string(hours) + "h";
        if (minutes % 60 != 0) words += " " + std::to_string(minutes % 60) + "m";
        return words;
    }
    std::string words = std::to_string(hours / 24) + "d";
    if (hours % 24 != 0) words += " " + std::to_string(hours % 24) + "h";
    return words;
}

std::string momentWords(Platform::Date date, Platform::Date now) {
    std::tm fields = localFields(date);
    char clock[48];
    if (fields.tm_sec != 0)
        std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", fields.tm_hour, fields.tm_min, fields.tm_sec);
    else
        std::snprintf(clock, sizeof clock, "%02d:%02d", fields.tm_hour, fields.tm_min);

    auto sameDay = [&](int offset) {
        // Noon of the day `offset` days from today, so that a daylight saving
        // change never moves it onto another day.
        std::tm day = localFields(now);
        day.tm_mday += offset;
        day.tm_hour = 12;
        day.tm_min = day.tm_sec = 0;
        std::tm other = localFields(localMoment(day));
        return other.tm_year == fields.tm_year && other.tm_yday == fields.tm_yday;
    };
    if (sameDay(0)) return clock;
    if (sameDay(1)) return std::string("tomorrow ") + clock;
    if (sameDay(-1)) return std::string("yesterday ") + clock;
    char dayText[48];
    std::snprintf(dayText, sizeof dayText, "%04d-%02d-%02d ", fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday);
    return dayText + std::string(clock);
}

} // namespace Client
