#include <Terminal/ANSI.hpp>
#include <Terminal/Layout.hpp>
#include <Terminal/Text.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using Terminal::Palette;
using Terminal::Row;
using Terminal::table;
namespace ANSI = Terminal::ANSI;

const Palette off{.enabled = false};
const Palette on{.enabled = true};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t feed; (feed = text.find('\n', start)) != std::string::npos; start = feed + 1)
        out.push_back(text.substr(start, feed - start));
    out.push_back(text.substr(start));
    return out;
}

TEST(Table, ShortRowsLoseTheirMissingCellsAndGap) {
    EXPECT_EQ(table({{"a", "bb"}, {"ccc"}}, std::nullopt, "", 2, 0, off), "a    bb\nccc");
}

TEST(Table, ColumnsAlignByDisplayWidth) {
    EXPECT_EQ(table({{"日本", "x"}, {"a", "y"}}, std::nullopt, "", 1, 0, off), "日本 x\na    y");
    EXPECT_EQ(table({{"e\u0301", "x"}, {"ab", "y"}}, std::nullopt, "", 1, 0, off), "e\u0301  x\nab y");
}

TEST(Table, RightAlignedColumnLinesUpWithColouredCells) {
    std::string red = on.red("5");
    std::string text = table({{"disk", red}, {"memory", "120"}, {"swap", on.ok("42")}}, std::nullopt, "lr", 2, 0, off);
    EXPECT_EQ(text, "disk      " + red + "\nmemory  120\nswap     " + on.ok("42"));
    for (const std::string& line : lines(text)) EXPECT_EQ(Terminal::width(line), 11u) << line;
}

TEST(Table, RightAlignmentOnlyForLowerCaseR) {
    EXPECT_EQ(table({{"1", "x"}, {"100", "y"}}, std::nullopt, "R", 1, 0, off), "1   x\n100 y");
    EXPECT_EQ(table({{"1", "x"}, {"100", "y"}}, std::nullopt, "r", 1, 0, off), "  1 x\n100 y");
    // Entries beyond the last column are ignored.
    EXPECT_EQ(table({{"1"}, {"100"}}, std::nullopt, "rrr", 1, 0, off), "  1\n100");
}

TEST(Table, HeadIsBoldOnlyWithColour) {
    std::vector<Row> rows{{"lumra", "1"}};
    Row head{"name", "size"};
    EXPECT_EQ(table(rows, head, "lr", 2, 0, off), "name   size\nlumra     1");
    EXPECT_EQ(table(rows, head, "lr", 2, 0, on), "\x1B[1mname\x1B[0m   \x1B[1msize\x1B[0m\nlumra     1");
    EXPECT_EQ(table({}, head, "", 2, 0, off), "name  size");
    // Every given head cell is wrapped, an empty one too; cells the head
    // lacks stay plain and vanish with the trimming.
    EXPECT_EQ(table({{"1", "x", "y"}}, Row{"", "num"}, "", 1, 0, on), "\x1B[1m\x1B[0m  \x1B[1mnum\x1B[0m\n1 x   y");
}

TEST(Table, IndentAndGapAreSpaces) {
    EXPECT_EQ(table({{"a", "b"}, {"cc", "d"}}, std::nullopt, "", 3, 2, off), "  a    b\n  cc   d");
    // Negative counts act as none.
    EXPECT_EQ(table({{"a", "b"}}, std::nullopt, "", -1, -4, off), "ab");
}

TEST(Table, TrailingWhiteSpaceIsTrimmedIncludingTheCells) {
    EXPECT_EQ(table({{"a  "}}, std::nullopt, "", 2, 0, off), "a");
    EXPECT_EQ(table({{"a", "b\t \u00A0\u3000"}}, std::nullopt, "", 1, 0, off), "a b");
    EXPECT_EQ(table({{"", ""}, {"x", ""}}, std::nullopt, "", 2, 4, off), "\n    x");
    // A style closed after the space ends the line, so the space stays.
    EXPECT_EQ(table({{on.bold("a ")}}, std::nullopt, "", 2, 0, off), on.bold("a "));
    // A space under a combining mark is a visible character.
    EXPECT_EQ(table({{"a \u0301"}}, std::nullopt, "", 2, 0, off), "a \u0301");
}

TEST(Table, NothingGivesTheEmptyText) {
    EXPECT_EQ(table({}, std::nullopt, "", 2, 0, off), "");
    EXPECT_EQ(table({{}, {}}, std::nullopt, "", 2, 3, off), "\n");
}

TEST(KeyValue, KeysPadToTheWidestAndKeepTrailingSpace) {
    EXPECT_EQ(Terminal::kv({{"name", "lumra"}, {"version", "1 "}}, 2, 1, off), "  name    lumra\n  version 1 ");
    EXPECT_EQ(Terminal::kv({{"日本", "a"}, {"k", ""}}, 0, 2, off), "日本  a\nk     ");
    EXPECT_EQ(Terminal::kv({}, 2, 2, off), "");
}

TEST(KeyValue, DimsTheKeyWithItsPadding) {
    EXPECT_EQ(Terminal::kv({{"id", "7"}, {"name", "x"}}, 1, 1, on), " \x1B[2mid  \x1B[0m 7\n \x1B[2mname\x1B[0m x");
}

TEST(Tree, ChildrenTwoSpacesDeeper) {
    EXPECT_EQ(Terminal::tree("jobs", {"agent", "daemon"}, 2), "  jobs\n    agent\n    daemon");
    EXPECT_EQ(Terminal::tree("jobs", {}, 0), "jobs");
    EXPECT_EQ(Terminal::tree("", {""}, 0), "\n  ");
}

TEST(Indent, EveryLineGetsTheSpacesEmptyOnesToo) {
    EXPECT_EQ(Terminal::indent("a\n\nb", 2), "  a\n  \n  b");
    EXPECT_EQ(Terminal::indent("a\n", 2), "  a\n  ");
    EXPECT_EQ(Terminal::indent("", 3), "   ");
    EXPECT_EQ(Terminal::indent("a\nb", 0), "a\nb");
    EXPECT_EQ(Terminal::indent("a\nb", -2), "a\nb");
}

} // namespace
