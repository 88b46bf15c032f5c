#include <Platform/UTF8.hpp>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

namespace UTF8 = Platform::UTF8;

TEST(UTF8, WellFormedTextIsValidAndKept) {
    for (std::string_view text : std::initializer_list<std::string_view>{
             "", "plain", "caf\xC3\xA9", "\xE2\x82\xAC 5", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD", "\xF4\x8F\xBF\xBF",
             std::string_view("nul\0inside", 10)}) {
        EXPECT_TRUE(UTF8::isValid(text)) << text;
        EXPECT_EQ(UTF8::repaired(text), text);
    }
}

// Overlong forms, surrogates, code points past U+10FFFF, stray continuation
// bytes and sequences cut short are all ill-formed.
TEST(UTF8, IllFormedSequencesAreInvalid) {
    for (std::string_view text : std::initializer_list<std::string_view>{
             "\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF0\x80\x80\xAF", "\xF4\x90\x80\x80",
             "\xF5\x80\x80\x80", "\xFF", "caf\xC3", "\xE2\x82", "a\xC3(b"})
        EXPECT_FALSE(UTF8::isValid(text)) << testing::PrintToString(text);
}

// One U+FFFD per maximal ill-formed subpart: a truncated sequence counts
// once, a byte that cannot start anything counts alone.
TEST(UTF8, RepairReplacesEachMaximalSubpartOnce) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(UTF8::repaired("a\xFF\xFE"
                             "b"),
              "a" + r + r + "b");
    EXPECT_EQ(UTF8::repaired("\xE2\x82"
                             "x"),
              r + "x");
    EXPECT_EQ(UTF8::repaired("\xF0\x9F\x98"), r);
    EXPECT_EQ(UTF8::repaired("\xC0\xAF"), r + r);
    EXPECT_EQ(UTF8::repaired("\xED\xA0\x80"), r + r + r);
    EXPECT_EQ(UTF8::repaired("ok \xC3\xA9 \x80"), "ok \xC3\xA9 " + r);
}

TEST(UTF8, TrimsUnicodeWhiteSpaceAtTheEndsOnly) {
    EXPECT_EQ(UTF8::trimmingWhitespace(" \t\r\n two  words \v\f"), "two  words");
    EXPECT_EQ(UTF8::trimmingWhitespace("\xC2\xA0\xE2\x80\xA8\xE1\x9A\x80x\xE2\x80\x8A\xE3\x80\x80\xC2\x85"), "x");
    EXPECT_EQ(UTF8::trimmingWhitespace("\xC3\xA9 "), "\xC3\xA9");
    EXPECT_EQ(UTF8::trimmingWhitespace(" \n "), "");
    // Bytes that are not UTF-8 are never white space: a stray 0xA0, an
    // overlong space, a cut-off ideographic space.
    EXPECT_EQ(UTF8::trimmingWhitespace(" \xFF\xA0 "), "\xFF\xA0");
    EXPECT_EQ(UTF8::trimmingWhitespace("x\xC0\xA0"), "x\xC0\xA0");
    EXPECT_EQ(UTF8::trimmingWhitespace("\xE3\x80"), "\xE3\x80");
}

TEST(UTF8, NextCodePointStepsOverOneBadByteAtATime) {
    std::string_view text = "a\xC3\xA9\xF0\x9F\x98\x80\xE2\x82\xC0\xAF";
    std::vector<int32_t> codes;
    for (size_t at = 0; at < text.size();) codes.push_back(UTF8::nextCodePoint(text, at));
    EXPECT_EQ(codes, (std::vector<int32_t>{'a', 0xE9, 0x1F600, -1, -1, -1, -1}));
}

// Full case mapping in the root locale; bytes that are no UTF-8 stay.
TEST(UTF8, LowercasedMapsEveryScriptAndKeepsStrayBytes) {
    const std::pair<std::string_view, std::string_view> rows[] = {{"", ""},
                                                                  {"Turn On", "turn on"},
                                                                  {"\u00C9CLAIR \u03A9", "\u00E9clair \u03C9"},
                                                                  {"\xC3\x80Q\xFFZ", "\xC3\xA0q\xFFz"},
                                                                  {"\xC4\xB0", "i\xCC\x87"}};
    for (auto [text, lower] : rows) EXPECT_EQ(UTF8::lowercased(text), lower) << testing::PrintToString(text);
}

} // namespace
