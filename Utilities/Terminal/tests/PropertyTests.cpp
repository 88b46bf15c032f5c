// Properties of width and clip over generated texts that mix ASCII, wide and
// combining characters, emoji sequences, styles and ill-formed bytes. Cluster
// boundaries come from ICU over UTF-16, a different road from the module's.

#include <Terminal/ANSI.hpp>
#include <Terminal/Text.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

namespace ANSI = Terminal::ANSI;
using Terminal::width;

const std::vector<std::string> visiblePieces{
    "a",          "Z",          "~",          " ",          "0",          "#", // ASCII
    "\u00E9",     "\u0416",     "\u03A9",     "\u05D0",                        // narrow letters
    "\u0301",     "\u0308",     "\u20DD",     "\u0E31",                        // combining marks
    "日",         "本",         "\uAC00",     "\uFF21",     "\U00020001",      // wide
    "\u1100",     "\u1161",     "\u11A8",                                      // Hangul jamo L, V, T
    "\U0001F44D", "\U0001F3FD", "\u200D",     "\uFE0F",     "\u263A",          // emoji parts
    "\U0001F469", "\U0001F4BB", "\U0001F1EF", "\U0001F1F5",                    // more, regional indicators
    "\u200B",     "\u2026",     "\u00A0",                                      // zero width, ellipsis, no-break space
    "\xFF",       "\xE6\x97",   "\x80",       "\xC3",                          // ill-formed
};
const std::vector<std::string> controlPieces{"\t", "\n", "\r", "\r\n", "\x01", "\x7F", "\x1B", "\x1B[2J"};
const std::vector<std::string> stylePieces{"\x1B[1m", "\x1B[0m", "\x1B[38;5;196m", "\x1B[m", "\x1B[38;2;1;2;3m"};

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    std::string text(bool controls, bool styles) {
        std::string out;
        int pieces = pick(0, 24);
        for (int i = 0; i < pieces; ++i) {
            int kind = pick(0, 9);
            if (styles && kind == 0)
                out += from(stylePieces);
            else if (controls && kind == 1)
                out += from(controlPieces);
            else
                out += from(visiblePieces);
        }
        return out;
    }

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

private:
    const std::string& from(const std::vector<std::string>& pieces) {
        return pieces[static_cast<std::size_t>(pick(0, static_cast<int>(pieces.size()) - 1))];
    }

    std::mt19937 random_;
};

// The text cut into its extended grapheme clusters, as UTF-8 pieces.
std::vector<std::string> clustersOf(const std::string& text) {
    UErrorCode status = U_ZERO_ERROR;
    static std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    EXPECT_TRUE(U_SUCCESS(status));
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    breaks->setText(unicode);
    std::vector<std::string> out;
    int32_t start = breaks->first();
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; start = end, end = breaks->next()) {
        std::string piece;
        unicode.tempSubStringBetween(start, end).toUTF8String(piece);
        out.push_back(piece);
    }
    return out;
}

bool hasStyle(const std::string& text) { return ANSI::strip(text) != text; }

constexpr int cases = 4000;

TEST(WidthProperty, AtLeastOneAndAtMostTwoColumnsPerCluster) {
    Generator generate(20240611);
    for (int i = 0; i < cases; ++i) {
        std::string text = generate.text(false, true);
        std::size_t clusters = clustersOf(ANSI::strip(text)).size();
        std::size_t columns = width(text);
        ASSERT_GE(columns, clusters) << testing::PrintToString(text);
        ASSERT_LE(columns, 2 * clusters) << testing::PrintToString(text);
    }
}

// Whatever the fast paths take, the whole is the sum of its characters.
TEST(WidthProperty, IsTheSumOverClustersAndIgnoresStyles) {
    Generator generate(7);
    for (int i = 0; i < cases; ++i) {
        // A run of plain ASCII in front takes the word-at-a-time path.
        std::string text =
            std::string("The quick brown fox jumps").substr(0, generate.pick(0, 25)) + generate.text(true, false);
        // Ill-formed bytes come back from UTF-16 as U+FFFD; measure the text
        // ICU read.
        std::string read;
        icu::UnicodeString::fromUTF8(text).toUTF8String(read);
        std::size_t sum = 0;
        std::string styled;
        for (const std::string& cluster : clustersOf(read)) {
            sum += width(cluster);
            styled += cluster;
            if (generate.pick(0, 3) == 0) styled += "\x1B[1;31m";
        }
        ASSERT_EQ(width(read), sum) << testing::PrintToString(read);
        ASSERT_EQ(width(styled), sum) << testing::PrintToString(styled);
    }
}

// Clusters of several scalars, measured without the break iterator where
// their shape allows, and by it where it does not: each total is the width
// of the clusters ICU cuts (checked by measuring them one by one) and the
// figure the rules give.
TEST(WidthProperty, JoinedClustersMeasureAsTheBreakIteratorCutsThem) {
    struct Row {
        const char* text;
        std::size_t columns;
    };
    const Row rows[] = {
        {"👍🏽", 2},                          // modifier
        {"👨‍👩‍👧", 2},    // pictographs joined twice
        {"👩🏽‍💻", 2},          // modifier, then a join
        {"👍́‍💻", 2},              // marks before the joiner keep the join
        {"👩‍́💻", 4},              // a mark after it breaks it
        {"👩‍!", 3},                             // a trailing joiner stays with its pictograph
        {"a‍💻", 3},                             // no pictograph before the joiner
        {"☺‍💻", 2},                        // a text-default pictograph joins too
        {"🇯🇵🇩🇪🇫", 6}, // two flags and a lone indicator
        {"🇯́🇵", 4},                    // a mark between indicators parts them
        {"é̈x", 2},
        {"☺️!", 3},
        {"日́", 2},                                  // wide with a mark
        {"ÿ́", 1},                                    // a bad byte reads as U+FFFD, which takes the mark
        {"xःy", 2},                                      // a spacing mark
        {"각각", 4},                // conjoining Hangul
        {"ok ✅ doné 🇩🇪!", 14},
    };
    for (const auto& row : rows) {
        std::size_t sum = 0;
        for (const std::string& cluster : clustersOf(row.text)) sum += width(cluster);
        EXPECT_EQ(width(row.text), sum) << testing::PrintToString(std::string(row.text));
        EXPECT_EQ(width(row.text), row.columns) << testing::PrintToString(std::string(row.text));
    }
    // A virama joins consonants across a joiner under newer rules only:
    // whatever the rules in force, the width counts the clusters ICU cuts.
    const std::string conjunct = "क्‍ष";
    EXPECT_EQ(width(conjunct), clustersOf(conjunct).size());
}

TEST(ClipProperty, FitsAndNeverLeavesAStyleOpen) {
    Generator generate(99);
    const std::string ellipsis = "\u2026";
    for (int i = 0; i < cases; ++i) {
        std::string text = generate.text(generate.pick(0, 1) == 1, true);
        int max = generate.pick(-1, 30);
        std::string clipped = Terminal::clip(text, max);
        std::string context = testing::PrintToString(text) + " max " + std::to_string(max);
        std::size_t full = width(text);
        if (max >= 0 && full <= static_cast<std::size_t>(max)) {
            ASSERT_EQ(clipped, text) << context;
            continue;
        }
        std::size_t columns = width(clipped);
        if (max >= 1) {
            ASSERT_LE(columns, static_cast<std::size_t>(max)) << context;
            // No earlier cut than a wide character at the edge forces.
            ASSERT_GE(columns + 1, static_cast<std::size_t>(max)) << context;
        }
        if (hasStyle(clipped)) {
            ASSERT_TRUE(clipped.ends_with(ANSI::reset)) << context;
        }
        // What shows is a leading part of what showed, then the ellipsis.
        std::string shown = ANSI::strip(clipped);
        std::string before = ANSI::strip(text);
        if (full > 0) {
            ASSERT_TRUE(shown.ends_with(ellipsis)) << context;
            shown.resize(shown.size() - ellipsis.size());
        }
        ASSERT_TRUE(before.starts_with(shown)) << context;
    }
}

} // namespace
