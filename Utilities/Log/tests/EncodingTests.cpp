#include <Log/Encoding.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>

namespace {

using namespace std::chrono_literals;

std::string jsonString(std::string_view text) {
    std::string json;
    Log::appendString(text, json);
    return json;
}

std::string integer(auto value) {
    std::string json;
    Log::appendInteger(value, json);
    return json;
}

std::string base64(std::string_view text) {
    std::string encoded;
    Log::appendBase64(std::as_bytes(std::span(text.data(), text.size())), encoded);
    return encoded;
}

std::string utf8(char32_t scalar) {
    std::string text;
    if (scalar < 0x80) {
        text += static_cast<char>(scalar);
    } else if (scalar < 0x800) {
        text += static_cast<char>(0xC0 | scalar >> 6);
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        text += static_cast<char>(0xE0 | scalar >> 12);
        text += static_cast<char>(0x80 | (scalar >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | scalar >> 18);
        text += static_cast<char>(0x80 | (scalar >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (scalar >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    }
    return text;
}

TEST(JSNumber, FollowsTheECMAScriptLayout) {
    struct Row {
        double x;
        const char* text;
    };
    for (auto [x, text] : {
             Row{1e21, "1e+21"},
             Row{1e20, "100000000000000000000"},
             Row{0.000001, "0.000001"},
             Row{0.0000001, "1e-7"},
             Row{-0.0, "0"},
             Row{0.0, "0"},
             Row{123.456, "123.456"},
             Row{12.5, "12.5"},
             Row{1500, "1500"},
             Row{100, "100"},
             Row{1, "1"},
             Row{-1.5, "-1.5"},
             Row{0.1, "0.1"},
             Row{1.5e-7, "1.5e-7"},
             Row{1.5e21, "1.5e+21"},
             Row{123456789012345680000.0, "123456789012345680000"},
             Row{0.000123, "0.000123"},
             Row{-1e-7, "-1e-7"},
             Row{5e-324, "5e-324"},
             Row{std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
             Row{std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
             Row{9007199254740993.0, "9007199254740992"},
         })
        EXPECT_EQ(Log::jsNumber(x), text) << x;
}

TEST(JSNumber, NonNumbersAreJSONStrings) {
    EXPECT_EQ(Log::jsNumber(std::numeric_limits<double>::quiet_NaN()), "\"NaN\"");
    EXPECT_EQ(Log::jsNumber(-std::numeric_limits<double>::quiet_NaN()), "\"NaN\"");
    EXPECT_EQ(Log::jsNumber(std::numeric_limits<double>::infinity()), "\"Infinity\"");
    EXPECT_EQ(Log::jsNumber(-std::numeric_limits<double>::infinity()), "\"-Infinity\"");
}

// Any finite double, random bit patterns included, reads back exactly, both
// with strtod and as JSON, and is laid out plainly exactly when 1e-6 <= |x| < 1e21.
TEST(JSNumber, EveryFiniteDoubleRoundTrips) {
    std::mt19937_64 random(20260301);
    std::uniform_real_distribution<double> ordinary(-1e6, 1e6);
    std::uniform_int_distribution<int> exponent(-30, 30);
    for (int i = 0; i < 30000; ++i) {
        double x;
        switch (i % 3) {
        case 0: x = std::bit_cast<double>(random()); break;
        case 1: x = ordinary(random); break;
        default: x = ordinary(random) * std::pow(10.0, exponent(random)); break;
        }
        if (!std::isfinite(x)) continue;
        std::string text = Log::jsNumber(x);
        double back = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(back, x) << text;
        ASSERT_EQ(nlohmann::json::parse(text).get<double>(), x) << text;
        bool plain = x == 0 || (std::abs(x) >= 1e-6 && std::abs(x) < 1e21);
        ASSERT_EQ(text.find('e') == std::string::npos, plain) << text;
        // Shortest digits: no trailing zero after a decimal point.
        if (text.find('.') != std::string::npos && text.find('e') == std::string::npos) {
            ASSERT_NE(text.back(), '0') << text;
        }
    }
}

TEST(AppendString, EscapesQuotesBackslashesAndControls) {
    EXPECT_EQ(jsonString("plain / text"), "\"plain / text\"");
    EXPECT_EQ(jsonString("say \"hi\" \\ bye"), R"("say \"hi\" \\ bye")");
    EXPECT_EQ(jsonString("\b\t\n\f\r"), R"("\b\t\n\f\r")");
    EXPECT_EQ(jsonString("unit\x1fsep"), R"("unit\u001fsep")");
    EXPECT_EQ(jsonString(std::string_view("nul\0end", 7)), R"("nul\u0000end")");
    EXPECT_EQ(jsonString("\x01\x0b\x1b"), R"("\u0001\u000b\u001b")");
    EXPECT_EQ(jsonString(""), "\"\"");
}

TEST(AppendString, CopiesDeleteAndNonASCIIUnchanged) {
    EXPECT_EQ(jsonString("\x7f"), "\"\x7f\"");
    EXPECT_EQ(jsonString("caf\u00e9"), "\"caf\u00e9\"");
    EXPECT_EQ(jsonString("\u2028\u2029"), "\"\u2028\u2029\"");
    EXPECT_EQ(jsonString("\U0001F600 \u00a0"), "\"\U0001F600 \u00a0\"");
}

// Each maximal ill-formed subsequence becomes one U+FFFD.
TEST(AppendString, ReplacesInvalidUTF8) {
    struct Row {
        std::string_view input;
        std::string_view expected;
    };
    for (auto [input, expected] : {
             Row{"a\xff"
                 "b",
                 "\"a\uFFFDb\""},
             Row{"\xc0\xaf", "\"\uFFFD\uFFFD\""},                     // overlong lead bytes
             Row{"\xe2\x82", "\"\uFFFD\""},                           // truncated at the end
             Row{"\xe2\x82x", "\"\uFFFDx\""},                         // truncated before ASCII
             Row{"\xed\xa0\x80", "\"\uFFFD\uFFFD\uFFFD\""},           // a surrogate
             Row{"\xf4\x90\x80\x80", "\"\uFFFD\uFFFD\uFFFD\uFFFD\""}, // past U+10FFFF
             Row{"\xf0\x9f\x98", "\"\uFFFD\""}, Row{"\x80", "\"\uFFFD\""},
             Row{"\xe0\x80\x80", "\"\uFFFD\uFFFD\uFFFD\""}, // overlong three-byte form
         })
        EXPECT_EQ(jsonString(input), expected) << testing::PrintToString(std::string(input));
}

// Any valid text, controls, quotes, backslashes, line separators and astral
// scalars included, comes back from a JSON parser exactly.
TEST(AppendString, EveryValidTextRoundTripsThroughAJSONParser) {
    std::mt19937 random(7);
    const std::vector<char32_t> interesting{0,      0x08,   0x09,   0x0A,   0x0C,   0x0D,   0x1F,    0x20,    '"',
                                            '\\',   '/',    0x7F,   0x80,   0x85,   0xA0,   0x7FF,   0x800,   0x2028,
                                            0x2029, 0xD7FF, 0xE000, 0xFEFF, 0xFFFD, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
    std::uniform_int_distribution<int> length(0, 24);
    std::uniform_int_distribution<int> kind(0, 4);
    std::uniform_int_distribution<std::uint32_t> anyScalar(0, 0x10FFFF - 0x800);
    std::uniform_int_distribution<std::uint32_t> ascii(0, 0x7F);
    std::uniform_int_distribution<size_t> pick(0, interesting.size() - 1);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = length(random); n > 0; --n) {
            char32_t scalar;
            switch (kind(random)) {
            case 0:
            case 1: scalar = ascii(random); break;
            case 2: scalar = interesting[pick(random)]; break;
            default: {
                scalar = anyScalar(random);
                if (scalar >= 0xD800) scalar += 0x800; // skip the surrogates
            }
            }
            text += utf8(scalar);
        }
        std::string json = jsonString(text);
        ASSERT_EQ(nlohmann::json::parse(json).get<std::string>(), text) << json;
    }
}

// Random bytes are mostly invalid UTF-8; the result must still be valid JSON
// and keep every valid part.
TEST(AppendString, RandomBytesAlwaysGiveValidJSON) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 16);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = length(random); n > 0; --n) text += static_cast<char>(byte(random));
        std::string json = jsonString(text);
        std::string back;
        ASSERT_NO_THROW(back = nlohmann::json::parse(json).get<std::string>()) << testing::PrintToString(text);
        if (back.find("\uFFFD") == std::string::npos && text.find("\uFFFD") == std::string::npos) {
            ASSERT_EQ(back, text);
        }
    }
}

TEST(Integers, AreBareUpToTwoToTheFiftyThreeMinusOne) {
    EXPECT_EQ(integer(std::int64_t{9007199254740991}), "9007199254740991");
    EXPECT_EQ(integer(std::int64_t{9007199254740992}), "\"9007199254740992\"");
    EXPECT_EQ(integer(std::int64_t{-9007199254740991}), "-9007199254740991");
    EXPECT_EQ(integer(std::int64_t{-9007199254740992}), "\"-9007199254740992\"");
    EXPECT_EQ(integer(std::numeric_limits<std::int64_t>::min()), "\"-9223372036854775808\"");
    EXPECT_EQ(integer(std::numeric_limits<std::uint64_t>::max()), "\"18446744073709551615\"");
    EXPECT_EQ(integer(std::uint64_t{9007199254740991}), "9007199254740991");
    EXPECT_EQ(integer(std::uint64_t{9007199254740992}), "\"9007199254740992\"");
    EXPECT_EQ(integer(std::int64_t{0}), "0");
    EXPECT_EQ(integer(std::int64_t{-7}), "-7");
}

TEST(Instant, CutsMillisecondsRatherThanRounding) {
    EXPECT_EQ(Log::instant(Log::Date(1999900us)), "1970-01-01T00:00:01.999Z");
    EXPECT_EQ(Log::instant(Log::Date(0s)), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(Log::instant(Log::Date(1772356502347ms + 999us)), "2026-03-01T09:15:02.347Z");
    EXPECT_EQ(Log::instant(Log::Date(std::chrono::sys_days(std::chrono::year(2024) / 2 / 29) + 23h + 59min + 59s)),
              "2024-02-29T23:59:59.000Z");
}

TEST(Instant, CountsBackBefore1970) {
    EXPECT_EQ(Log::instant(Log::Date(-1ms)), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(Log::instant(Log::Date(-1us)), "1969-12-31T23:59:59.999Z");
    std::string text;
    Log::appendInstant(-62167219200000 - 1, text); // a millisecond before year 0
    EXPECT_EQ(text, "-001-12-31T23:59:59.999Z");
}

TEST(Instant, AgreesWithTheCLibraryAcrossTheCalendar) {
    std::mt19937_64 random(3);
    std::uniform_int_distribution<std::int64_t> milliseconds(0, 253402300799999); // up to 9999-12-31
    for (int i = 0; i < 5000; ++i) {
        std::int64_t ms = milliseconds(random);
        std::time_t seconds = ms / 1000;
        std::tm broken{};
        ASSERT_NE(gmtime_r(&seconds, &broken), nullptr);
        char expected[96];
        std::snprintf(expected, sizeof expected, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", broken.tm_year + 1900,
                      broken.tm_mon + 1, broken.tm_mday, broken.tm_hour, broken.tm_min, broken.tm_sec,
                      static_cast<int>(ms % 1000));
        std::string text;
        Log::appendInstant(ms, text);
        ASSERT_EQ(text, expected);
    }
}

TEST(HumanText, LeavesPlainWordsAlone) {
    for (const char* plain : {"/tmp/a", "caf\u00e9", "a,b;c", "x", "\u2713", "tab-free"})
        EXPECT_EQ(Log::humanText(plain), plain);
}

TEST(HumanText, QuotesWhatWouldNotReadAsOneValue) {
    EXPECT_EQ(Log::humanText("two words"), "\"two words\"");
    EXPECT_EQ(Log::humanText(""), "\"\"");
    EXPECT_EQ(Log::humanText("a\tb"), R"("a\tb")");
    EXPECT_EQ(Log::humanText("a=b"), "\"a=b\"");
    EXPECT_EQ(Log::humanText("say\"hi"), R"("say\"hi")");
    EXPECT_EQ(Log::humanText("del\x7f"), "\"del\x7f\"");
    EXPECT_EQ(Log::humanText("line\nbreak"), R"("line\nbreak")");
    // Unicode white space and C1 controls.
    for (const char* spaced : {"a\u00a0b", "a\u0085b", "a\u2003b", "a\u2028b", "a\u3000b", "a\u1680b", "a\u009bb"})
        EXPECT_EQ(Log::humanText(spaced), "\"" + std::string(spaced) + "\"") << spaced;
    EXPECT_EQ(Log::humanText("bad\xff"), "\"bad\uFFFD\"");
}

TEST(Base64, MatchesTheStandardVectors) {
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("foob"), "Zm9vYg==");
    EXPECT_EQ(base64("fooba"), "Zm9vYmE=");
    EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64("\xff\xfe\xfd"), "//79");
}

} // namespace
