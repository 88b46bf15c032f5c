#include "LumraKit/JSONCoder.hpp"

#include <Platform/DateRange.hpp>
#include <Platform/ISODate.hpp>

#include <nlohmann/json.hpp>

#include <cmath>

namespace LumraKit {

using nlohmann::json;

const JSONCoder JSONCoder::plain{DateStyle::secondsSinceReferenceDate};
const JSONCoder JSONCoder::iso{DateStyle::iso8601};

namespace {

using Seconds = std::chrono::duration<double>;


// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's
// days_from_civil).
long long daysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

bool digits(std::string_view text, size_t at, size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// An internet date-time: YYYY-MM-DDTHH:MM:SS followed by Z or ±HH:MM.
std::optional<Platform::Date> parseInternetDateTime(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() < 20 || !digits(text, 0, 4, year) || text[4] != '-' || !digits(text, 5, 2, month) ||
        text[7] != '-' || !digits(text, 8, 2, day) || text[10] != 'T' || !digits(text, 11, 2, hour) ||
        text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    if (!Platform::DateRange::containsYear(year))
        throw DecodingError("The date " + std::string(text) + " is out of range (" +
                            Platform::DateRange::description + ").");

    std::string_view zone = text.substr(19);
    int offsetMinutes = 0;
    if (zone != "Z") {
        int zoneHours = 0, zoneMinutes = 0;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || !digits(zone, 1, 2, zoneHours) ||
            zone[3] != ':' || !digits(zone, 4, 2, zoneMinutes) || zoneHours > 23 || zoneMinutes > 59)
            return std::nullopt;
        offsetMinutes = (zoneHours * 60 + zoneMinutes) * (zone[0] == '+' ? 1 : -1);
    }
    long long seconds = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                        hour * 3600 + minute * 60 + second - offsetMinutes * 60;
    return Platform::Date(std::chrono::seconds(seconds));
}

} // namespace

std::string iso8601(Platform::Date date) { return Platform::ISODate::format(date); }

json JSONCoder::encodeDate(Platform::Date date) const {
    if (style_ == DateStyle::iso8601) return iso8601(date);
    Seconds sinceReference = date.time_since_epoch() - referenceDateSinceEpoch;
    return sinceReference.count();
}

Platform::Date JSONCoder::decodeDate(const json& value) const {
    if (style_ == DateStyle::iso8601) {
        if (!value.is_string()) throw DecodingError("Expected date string to be ISO8601-formatted.");
        auto date = parseInternetDateTime(value.get_ref<const std::string&>());
        if (!date) throw DecodingError("Expected date string to be ISO8601-formatted.");
        return *date;
    }
    if (!value.is_number())
        throw DecodingError("Expected to decode Double but found " + std::string(value.type_name()) + " instead.");
    double seconds = value.get<double>();
    if (!Platform::DateRange::containsSeconds(seconds + static_cast<double>(referenceDateSinceEpoch.count())))
        throw DecodingError("The date " + value.dump() + " is out of range (" + Platform::DateRange::description +
                            ").");
    // A double near today's dates resolves about a tenth of a microsecond, so
    // whole microseconds are what survives a round trip; the host clock reads
    // in whole microseconds for that reason.
    auto sinceEpoch = std::chrono::round<std::chrono::microseconds>(Seconds(seconds) + referenceDateSinceEpoch);
    return Platform::Date(sinceEpoch);
}

std::string JSONCoder::encode(const json& value) const {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

json JSONCoder::decode(std::string_view text) const {
    try {
        return json::parse(text);
    } catch (const json::exception& error) {
        throw DecodingError(std::string("The given data was not valid JSON. ") + error.what());
    }
}

} // namespace LumraKit
