#include <LumraKit/JSONCoder.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using LumraKit::DecodingError;
using LumraKit::JSONCoder;
using nlohmann::json;
using namespace std::chrono_literals;

const Platform::Date referenceDate{LumraKit::referenceDateSinceEpoch};

TEST(PlainDates, AreSecondsWithFractionSince2001) {
    EXPECT_EQ(JSONCoder::plain.encodeDate(referenceDate), json(0.0));
    EXPECT_EQ(JSONCoder::plain.encodeDate(referenceDate + 1500ms), json(1.5));
    EXPECT_EQ(JSONCoder::plain.encodeDate(referenceDate - 86400s), json(-86400.0));
    EXPECT_EQ(JSONCoder::plain.decodeDate(json(1.5)), referenceDate + 1500ms);
    EXPECT_EQ(JSONCoder::plain.decodeDate(json(0)), referenceDate);
    // 2026-01-01T00:00:00Z
    EXPECT_EQ(JSONCoder::plain.decodeDate(json(788918400)), Platform::Date(1767225600s));
}

TEST(PlainDates, RoundTripToTheMicrosecond) {
    Platform::Date date = Platform::Date(1767225600s) + 123456us;
    auto back = JSONCoder::plain.decodeDate(JSONCoder::plain.encodeDate(date));
    EXPECT_LE(std::chrono::abs(back - date), 1us);
}

TEST(PlainDates, RejectTextAndDatesOutOfRange) {
    EXPECT_THROW((void)JSONCoder::plain.decodeDate(json("2026-01-01T00:00:00Z")), DecodingError);
    EXPECT_THROW((void)JSONCoder::plain.decodeDate(json(nullptr)), DecodingError);
    EXPECT_THROW((void)JSONCoder::plain.decodeDate(json(1e300)), DecodingError);
}

TEST(IsoDates, AreWholeSecondsInUTC) {
    EXPECT_EQ(JSONCoder::iso.encodeDate(referenceDate), json("2001-01-01T00:00:00Z"));
    EXPECT_EQ(JSONCoder::iso.encodeDate(Platform::Date(1767225600s) + 999ms), json("2026-01-01T00:00:00Z"));
    EXPECT_EQ(LumraKit::iso8601(Platform::Date(951782400s)), "2000-02-29T00:00:00Z");
}

TEST(IsoDates, DecodeUTCAndOffsets) {
    EXPECT_EQ(JSONCoder::iso.decodeDate(json("2001-01-01T00:00:00Z")), referenceDate);
    EXPECT_EQ(JSONCoder::iso.decodeDate(json("2001-01-01T02:00:00+02:00")), referenceDate);
    EXPECT_EQ(JSONCoder::iso.decodeDate(json("2000-12-31T23:30:00-00:30")), referenceDate);
    EXPECT_EQ(JSONCoder::iso.decodeDate(json("2000-02-29T00:00:00Z")), Platform::Date(951782400s));
}

TEST(IsoDates, RejectAnythingElseWithTheDecoderMessage) {
    for (json bad : {json("2001-01-01"), json("2001-01-01 00:00:00Z"), json("2001-13-01T00:00:00Z"),
                     json("2001-01-01T00:00:00"), json("2001-01-01T00:00:00+0200"), json("x"), json(0)}) {
        try {
            (void)JSONCoder::iso.decodeDate(bad);
            ADD_FAILURE() << bad.dump() << " decoded";
        } catch (const DecodingError& error) {
            EXPECT_STREQ(error.what(), "Expected date string to be ISO8601-formatted.") << bad.dump();
        }
    }
}

TEST(Encoding, IsCompactAndSurvivesBytesThatAreNotUTF8) {
    json value{{"a", json::array({1, 2})}, {"b", "x y"}};
    EXPECT_EQ(JSONCoder::plain.encode(value), R"({"a":[1,2],"b":"x y"})");
    EXPECT_EQ(JSONCoder::plain.encode(json("bad \xFF byte")), "\"bad \xEF\xBF\xBD byte\"");
}

TEST(Decoding, ThrowsDecodingErrorForDamagedText) {
    EXPECT_THROW((void)JSONCoder::plain.decode("{"), DecodingError);
    EXPECT_THROW((void)JSONCoder::plain.decode(""), DecodingError);
    EXPECT_THROW((void)JSONCoder::plain.decode("\"a\" \"b\""), DecodingError);
    EXPECT_EQ(JSONCoder::plain.decode(" \"allowed\"\n"), json("allowed"));
}

} // namespace
