#include "Log/Encoding.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace Log {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";
constexpr std::uint64_t largestExactInteger = 9007199254740991; // 2^53 - 1

// The length of the well-formed UTF-8 sequence at `p` (a lead byte of 0x80
// or more), or minus the length of its maximal ill-formed subpart, the bytes
// that one U+FFFD replaces.
int sequenceLength(const unsigned char* p, const unsigned char* end) {
    unsigned char lead = *p;
    int length;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F; // nothing past U+10FFFF
    } else {
        return -1;
    }
    int valid = 1;
    for (; valid < length; ++valid) {
        if (p + valid >= end) return -valid;
        unsigned char c = p[valid];
        if (valid == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return -valid;
    }
    return length;
}

char32_t decode(const unsigned char* p, int length) {
    switch (length) {
    case 2: return static_cast<char32_t>(((p[0] & 0x1F) << 6) | (p[1] & 0x3F));
    case 3: return static_cast<char32_t>(((p[0] & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
    default:
        return static_cast<char32_t>(((p[0] & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) |
                                     (p[3] & 0x3F));
    }
}

// ASCII that a JSON string holds without escaping.
constexpr std::array<bool, 256> copiedAsIs = [] {
    std::array<bool, 256> table{};
    for (int c = 0x20; c < 0x80; ++c) table[static_cast<size_t>(c)] = c != '"' && c != '\\';
    return table;
}();

void appendUnsigned(std::uint64_t value, std::string& into) {
    char digits[20];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    into.append(digits, result.ptr);
}

// printf's %0<width>d: the sign counts toward the width.
void appendPadded(std::int64_t value, int width, std::string& into) {
    char digits[24];
    auto magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
    int length = static_cast<int>(end - digits) + (value < 0 ? 1 : 0);
    if (value < 0) into += '-';
    if (length < width) into.append(static_cast<size_t>(width - length), '0');
    into.append(digits, end);
}

// Two decimal digits of 0 to 99.
void putDigits(int value, char* at) {
    at[0] = static_cast<char>('0' + value / 10);
    at[1] = static_cast<char>('0' + value % 10);
}

void put(int twoDigits, std::string& into) {
    char digits[2];
    putDigits(twoDigits, digits);
    into.append(digits, 2);
}

std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
    std::int64_t quotient = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? quotient - 1 : quotient;
}

// Days since 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's
// civil_from_days), exact for every 64-bit day count we can be given.
void civilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day) {
    days += 719468;
    std::int64_t era = floorDivide(days, 146097);
    auto dayOfEra = static_cast<std::int64_t>(days - era * 146097);
    std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

bool isWhiteSpaceOrControl(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0xA0)) return true; // Cc, plus U+00A0
    switch (c) {
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000: return true;
    default: return c >= 0x2000 && c <= 0x200A;
    }
}

} // namespace

void appendString(std::string_view text, std::string& into) {
    into += '"';
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    auto end = p + text.size();
    while (p < end) {
        // The longest run of bytes that are copied as they are, valid
        // multi-byte sequences included, goes in with one append.
        auto run = p;
        for (;;) {
            while (p < end && copiedAsIs[*p]) ++p;
            if (p == end || *p < 0x80) break;
            int length = sequenceLength(p, end);
            if (length < 0) break;
            p += length;
        }
        into.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end) break;
        unsigned char c = *p;
        if (c >= 0x80) {
            into += replacementCharacter;
            p += -sequenceLength(p, end);
            continue;
        }
        ++p;
        switch (c) {
        case '"': into += "\\\""; break;
        case '\\': into += "\\\\"; break;
        case '\b': into += "\\b"; break;
        case '\t': into += "\\t"; break;
        case '\n': into += "\\n"; break;
        case '\f': into += "\\f"; break;
        case '\r': into += "\\r"; break;
        default: {
            constexpr char hex[] = "0123456789abcdef";
            char escape[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
            into.append(escape, sizeof escape);
        }
        }
    }
    into += '"';
}

void appendNumber(double x, std::string& into) {
    if (std::isnan(x)) {
        into += "\"NaN\"";
        return;
    }
    if (std::isinf(x)) {
        into += x > 0 ? "\"Infinity\"" : "\"-Infinity\"";
        return;
    }
    if (x == 0) {
        into += '0';
        return;
    }
    if (x < 0) {
        into += '-';
        x = -x;
    }
    // Shortest round-trip digits in the form d[.ddd]e±x.
    char buffer[32];
    auto written = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific).ptr;
    std::string_view scientific(buffer, static_cast<size_t>(written - buffer));
    auto e = scientific.find('e');
    char digits[20];
    int k = 0;
    for (char c : scientific.substr(0, e))
        if (c != '.') digits[k++] = c;
    while (k > 1 && digits[k - 1] == '0') --k;
    int exponent = 0;
    auto exponentText = scientific.substr(e + 1);
    if (exponentText.front() == '+') exponentText.remove_prefix(1);
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
    int n = exponent + 1; // the value is 0.digits x 10^n

    if (k <= n && n <= 21) {
        into.append(digits, static_cast<size_t>(k));
        into.append(static_cast<size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        into.append(digits, static_cast<size_t>(n));
        into += '.';
        into.append(digits + n, static_cast<size_t>(k - n));
    } else if (-6 < n && n <= 0) {
        into += "0.";
        into.append(static_cast<size_t>(-n), '0');
        into.append(digits, static_cast<size_t>(k));
    } else {
        into += digits[0];
        if (k > 1) {
            into += '.';
            into.append(digits + 1, static_cast<size_t>(k - 1));
        }
        into += 'e';
        into += n - 1 > 0 ? '+' : '-';
        appendUnsigned(static_cast<std::uint64_t>(n - 1 > 0 ? n - 1 : 1 - n), into);
    }
}

std::string jsNumber(double x) {
    std::string text;
    appendNumber(x, text);
    return text;
}

void appendInteger(std::uint64_t value, std::string& into) {
    if (value <= largestExactInteger) {
        appendUnsigned(value, into);
    } else {
        into += '"';
        appendUnsigned(value, into);
        into += '"';
    }
}

void appendInteger(std::int64_t value, std::string& into) {
    if (value >= 0) {
        appendInteger(static_cast<std::uint64_t>(value), into);
        return;
    }
    auto magnitude = 0 - static_cast<std::uint64_t>(value);
    bool quoted = magnitude > largestExactInteger;
    if (quoted) into += '"';
    into += '-';
    appendUnsigned(magnitude, into);
    if (quoted) into += '"';
}

void appendInstant(std::int64_t millisecondsSince1970, std::string& into) {
    std::int64_t seconds = floorDivide(millisecondsSince1970, 1000);
    auto milliseconds = static_cast<int>(millisecondsSince1970 - seconds * 1000);
    std::int64_t days = floorDivide(seconds, 86400);
    auto secondOfDay = static_cast<int>(seconds - days * 86400);
    std::int64_t year;
    int month, day;
    civilFromDays(days, year, month, day);
    if (year < 0 || year > 9999) {
        appendPadded(year, 4, into);
    } else {
        put(static_cast<int>(year) / 100, into);
        put(static_cast<int>(year) % 100, into);
    }
    char rest[20] = {'-', 0, 0, '-', 0, 0, 'T', 0, 0, ':', 0, 0, ':', 0, 0, '.', 0, 0, 0, 'Z'};
    putDigits(month, rest + 1);
    putDigits(day, rest + 4);
    putDigits(secondOfDay / 3600, rest + 7);
    putDigits(secondOfDay / 60 % 60, rest + 10);
    putDigits(secondOfDay % 60, rest + 13);
    rest[16] = static_cast<char>('0' + milliseconds / 100);
    putDigits(milliseconds % 100, rest + 17);
    into.append(rest, sizeof rest);
}

std::string instant(Date date) {
    std::string text;
    text.reserve(24);
    appendInstant(std::chrono::floor<std::chrono::milliseconds>(date.time_since_epoch()).count(), text);
    return text;
}

bool humanTextNeedsQuotes(std::string_view text) {
    if (text.empty()) return true;
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    auto end = p + text.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            if (c <= 0x20 || c == '"' || c == '=' || c == 0x7F) return true;
            ++p;
            continue;
        }
        int length = sequenceLength(p, end);
        if (length < 0 || isWhiteSpaceOrControl(decode(p, length))) return true;
        p += length;
    }
    return false;
}

std::string humanText(std::string_view text) {
    if (!humanTextNeedsQuotes(text)) return std::string(text);
    std::string quoted;
    appendString(text, quoted);
    return quoted;
}

void appendBase64(std::span<const std::byte> bytes, std::string& into) {
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    into.reserve(into.size() + (bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        auto chunk = std::to_integer<unsigned>(bytes[i]) << 16 | std::to_integer<unsigned>(bytes[i + 1]) << 8 |
                     std::to_integer<unsigned>(bytes[i + 2]);
        into += alphabet[chunk >> 18 & 63];
        into += alphabet[chunk >> 12 & 63];
        into += alphabet[chunk >> 6 & 63];
        into += alphabet[chunk & 63];
    }
    size_t left = bytes.size() - i;
    if (left == 0) return;
    unsigned chunk = std::to_integer<unsigned>(bytes[i]) << 16;
    if (left == 2) chunk |= std::to_integer<unsigned>(bytes[i + 1]) << 8;
    into += alphabet[chunk >> 18 & 63];
    into += alphabet[chunk >> 12 & 63];
    into += left == 2 ? alphabet[chunk >> 6 & 63] : '=';
    into += '=';
}

} // namespace Log
