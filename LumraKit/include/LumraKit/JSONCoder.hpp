#pragma once

#include <Platform/Clock.hpp>

#include <nlohmann/json_fwd.hpp>

#include <stdexcept>
#include <string>
#include <string_view>

namespace LumraKit {

// A state file or message that does not decode as the type expected.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The two settings that fix the state-file formats. Both write compact JSON
// with absent optionals left out; they differ only in how a date is written:
// `plain` as seconds (with fraction) since 2001-01-01T00:00:00Z, `iso` as
// "YYYY-MM-DDTHH:MM:SSZ". Stateless and shared; any thread.
class JSONCoder {
public:
    enum class DateStyle { secondsSinceReferenceDate, iso8601 };

    static const JSONCoder plain;
    static const JSONCoder iso;

    nlohmann::json encodeDate(Platform::Date date) const;
    // Throws DecodingError for a value that is not a date in this style.
    Platform::Date decodeDate(const nlohmann::json& value) const;

    // Compact text; bytes that are not UTF-8 become U+FFFD rather than failing.
    std::string encode(const nlohmann::json& value) const;
    // Throws DecodingError for text that is not one JSON value.
    nlohmann::json decode(std::string_view text) const;

private:
    explicit constexpr JSONCoder(DateStyle style) : style_(style) {}
    DateStyle style_;
};

// 2001-01-01T00:00:00Z, the origin of plain dates.
inline constexpr std::chrono::seconds referenceDateSinceEpoch{978307200};

// "YYYY-MM-DDTHH:MM:SSZ" in UTC, whole seconds (fractions dropped).
std::string iso8601(Platform::Date date);

} // namespace LumraKit
