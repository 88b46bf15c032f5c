#include <Terminal/ANSI.hpp>
#include <Terminal/Text.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using Terminal::clip;
using Terminal::padEnd;
using Terminal::padStart;
using Terminal::width;
namespace ANSI = Terminal::ANSI;

const std::string reset(ANSI::reset);

TEST(Width, CountsColumnsPerGraphemeCluster) {
    EXPECT_EQ(width(""), 0u);
    EXPECT_EQ(width("abc def"), 7u);
    EXPECT_EQ(width("日本"), 4u);
    EXPECT_EQ(width("e\u0301"), 1u);                    // one character, combining accent
    EXPECT_EQ(width("cafe\u0301 ok"), 7u);              // the accent joins the last ASCII letter
    EXPECT_EQ(width("\U0001F44D"), 2u);                 // thumbs up
    EXPECT_EQ(width("\u263A\uFE0F"), 2u);               // text-default smiley asked as emoji
    EXPECT_EQ(width("\u263A"), 1u);                     // without the selector it stays narrow
    EXPECT_EQ(width("\U0001F44D\U0001F3FD"), 2u);       // skin tone modifier
    EXPECT_EQ(width("\U0001F469\u200D\U0001F4BB"), 2u); // ZWJ sequence
    EXPECT_EQ(width("\U0001F1EF\U0001F1F5"), 2u);       // flag: two regional indicators
    EXPECT_EQ(width("\u1100\u1161\u11A8"), 2u);         // conjoining Hangul syllable
    EXPECT_EQ(width("\u00E9\u0416\u03A9"), 3u);
}

TEST(Width, WideRangesIncludeBothEnds) {
    struct Edge {
        const char* inside;
        const char* outside;
    };
    // First and last scalar of some ranges, and their neighbours outside.
    for (Edge edge :
         {Edge{"\u1100", "\u10FF"}, Edge{"\u115F", "\u1160"}, Edge{"\u2E80", "\u2E7F"}, Edge{"\u303E", "\u303F"},
          Edge{"\u3041", "\u3040"}, Edge{"\uA4CF", "\uA4D0"}, Edge{"\uAC00", "\uABFF"}, Edge{"\uD7A3", "\uD7A4"},
          Edge{"\uFF60", "\uFF61"}, Edge{"\uFFE0", "\uFFDF"}, Edge{"\uFFE6", "\uFFE7"},
          Edge{"\U00020000", "\U0001FFFF"}, Edge{"\U0002FFFD", "\U0002FFFE"}, Edge{"\U0003FFFD", "\U0003FFFE"}}) {
        EXPECT_EQ(width(edge.inside), 2u) << edge.inside;
        EXPECT_EQ(width(edge.outside), 1u) << edge.outside;
    }
}

TEST(Width, EveryCharacterCountsAtLeastOne) {
    EXPECT_EQ(width("\u0301"), 1u); // a combining mark alone
    EXPECT_EQ(width("\u200B"), 1u); // zero width space
    EXPECT_EQ(width("a\tb"), 3u);   // control characters
    EXPECT_EQ(width("a\r\nb"), 3u); // CR LF is one character
    EXPECT_EQ(width(std::string_view("a\0b", 3)), 3u);
}

TEST(Width, IgnoresSGRSequences) {
    EXPECT_EQ(width("\x1B[1mbold\x1B[0m"), 4u);
    EXPECT_EQ(width("\x1B[38;5;1m日本\x1B[0m"), 4u);
    EXPECT_EQ(width("\x1B[38;2;1;2;3m\U0001F44D\x1B[0m ok"), 5u);
    // A style between a letter and its accent does not split the character.
    EXPECT_EQ(width("e\x1B[1m\u0301"), 1u);
    // Other escape sequences are not styles: each byte shows as a character.
    EXPECT_EQ(width("\x1B[2J"), 4u);
}

TEST(Width, IllFormedUTF8CountsOneColumnPerBadSequence) {
    EXPECT_EQ(width("\xFF"), 1u);
    EXPECT_EQ(width("a\xFF"
                    "b"),
              3u);
    EXPECT_EQ(width("\xC0\xAF"), 2u); // overlong: two bad bytes
    EXPECT_EQ(width("\xE6\x97"), 1u); // a wide character cut short
    EXPECT_EQ(width("\xE6\x97"
                    "abc"),
              4u);
    EXPECT_EQ(width("\xED\xA0\x80"), 3u);     // an encoded surrogate
    EXPECT_EQ(width("\x80\x80\x80\x80"), 4u); // stray continuation bytes
    EXPECT_EQ(width("\xF4\x90\x80\x80"), 4u); // beyond U+10FFFF
}

TEST(Padding, AddsSpacesUpToTheWidth) {
    EXPECT_EQ(padEnd("日本", 6), "日本  ");
    EXPECT_EQ(padStart("日本", 6), "  日本");
    EXPECT_EQ(padStart("abcdef", 3), "abcdef");
    EXPECT_EQ(padEnd("abcdef", 6), "abcdef");
    EXPECT_EQ(padEnd("abc", 0), "abc");
    EXPECT_EQ(padStart("abc", -5), "abc");
    EXPECT_EQ(padStart("", 2), "  ");
    // Styles take no room.
    EXPECT_EQ(padEnd("\x1B[1mab\x1B[0m", 4), "\x1B[1mab\x1B[0m  ");
}

TEST(Clip, ATextThatFitsIsUnchanged) {
    EXPECT_EQ(clip("abcd", 4), "abcd");
    EXPECT_EQ(clip("日本", 4), "日本");
    EXPECT_EQ(clip("", 0), "");
    EXPECT_EQ(clip("\x1B[1mabcd", 4), "\x1B[1mabcd"); // no reset added when nothing is cut
}

TEST(Clip, CutsWithAnEllipsisInTheLastColumn) {
    EXPECT_EQ(clip("abcdef", 4), "abc…");
    EXPECT_EQ(clip("abcde", 4), "abc…");
    EXPECT_EQ(clip("abcdef", 1), "…");
    EXPECT_EQ(clip("日本語", 4), "日…");
    EXPECT_EQ(clip("日本語", 5), "日本…");
    // Clusters stay whole.
    EXPECT_EQ(clip("e\u0301e\u0301e\u0301", 2), "e\u0301…");
    EXPECT_EQ(clip("\U0001F469\u200D\U0001F4BB\U0001F469\u200D\U0001F4BB", 3), "\U0001F469\u200D\U0001F4BB…");
}

TEST(Clip, AStyledCutEndsWithReset) {
    EXPECT_EQ(clip("\x1B[31mabcdef\x1B[0m", 4), "\x1B[31mabc…" + reset);
    // A style right after the cut is not copied.
    EXPECT_EQ(clip("abc\x1B[1mdef", 3), "ab…");
    // A style the cut passed was already closed; a reset still ends the result.
    EXPECT_EQ(clip("\x1B[1mab\x1B[0mcdef", 4), "\x1B[1mab\x1B[0mc…" + reset);
    // A reset met before the cut is copied; the ellipsis after it still gets one.
    EXPECT_EQ(clip("ab\x1B[0mcdef", 3), "ab\x1B[0m…" + reset);
    // A style inside a character travels with it.
    EXPECT_EQ(clip("e\x1B[1m\u0301xyz", 2), "e\x1B[1m\u0301…" + reset);
}

TEST(Clip, ZeroOrNegativeMaxLeavesOnlyTheEllipsis) {
    EXPECT_EQ(clip("abc", 0), "…");
    EXPECT_EQ(clip("abc", -3), "…");
    EXPECT_EQ(clip("\x1B[1m\x1B[31mabc", 0), "\x1B[1m\x1B[31m…" + reset);
    // Nothing visible: nothing to cut.
    EXPECT_EQ(clip("", -1), "");
    EXPECT_EQ(clip("\x1B[1m", -1), "\x1B[1m" + reset);
    EXPECT_EQ(clip("\x1B[1m\x1B[0m", -1), "\x1B[1m\x1B[0m"); // ends in a reset already
}

TEST(Clip, IllFormedBytesAreCopiedAsTheyCame) {
    EXPECT_EQ(clip("\xFF\xFE"
                   "abc",
                   3),
              "\xFF\xFE…");
    EXPECT_EQ(clip("ab\xE6\x97"
                   "cd",
                   4),
              "ab\xE6\x97…");
}

TEST(Printable, EscapesWhatCouldMoveTheCursorOrBreakTheLine) {
    struct Case {
        std::string text;
        std::string shown;
    };
    for (const Case& c : std::vector<Case>{
             {"a\nb\tc\r\x1B[31m\x7F\x01", "a\\nb\\tc\\r\\x1B[31m\\x7F\\x01"},
             // C1 controls, which some terminals obey, in their UTF-8 form.
             {"x\xC2\x9B"
              "2J",
              "x\\u009B2J"},
             {"\xC2\x85next", "\\u0085next"},
             {"caf\xC3\xA9 \xE2\x9C\x93", "caf\xC3\xA9 \xE2\x9C\x93"},
             {"back\\slash", "back\\slash"},
             // Separators and bidirectional overrides.
             {"a\u2028b\u2029c", "a\\u2028b\\u2029c"},
             {"evil\u202Etxt.exe\u2066\u2069", "evil\\u202Etxt.exe\\u2066\\u2069"},
             // Ill-formed UTF-8: one U+FFFD per maximal bad subpart, never a raw C1 byte.
             {"a\x9B"
              "2Jb",
              "a\uFFFD2Jb"},
             {"\xC0\xAF", "\uFFFD\uFFFD"},
             {"\xE2\x9C", "\uFFFD"},
             {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
             {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
             {std::string("nul\0end", 7), "nul\\x00end"},
             {"", ""},
         }) {
        EXPECT_EQ(Terminal::printable(c.text), c.shown) << c.text;
        // Whatever came in, only printable characters go out.
        for (unsigned char byte : Terminal::printable(c.text)) EXPECT_TRUE(byte >= 0x20 && byte != 0x7F) << c.text;
    }
}

} // namespace
