#include <Ink/Element.hpp>
#include <Ink/Window.hpp>

#include <Terminal/Text.hpp>

#include <gtest/gtest.h>

namespace {

using namespace Ink;
using Lines = std::vector<std::string>;

Button tinted(std::string key, std::string label, Hue hue) {
    return Button{.key = std::move(key), .label = std::move(label), .hue = hue, .arrow = true};
}

Lines draw(const Element& element, Size size, const Look& look = Look::plain(), const std::string& focused = {}) {
    return layout(element, size, look, focused).lines;
}

TEST(Layout, GoldenRendersOfEachPiece) {
    struct Case {
        const char* what;
        Element element;
        Size size;
        Lines lines;
        Look look = Look::plain();
    };
    std::vector<Case> cases{
        {"text wraps at words", text("Keeps the Mac awake while you work"), {12, 4}, {"Keeps the", "Mac awake", "while you", "work"}},
        {"a long word is cut", text("supercalifragilistic ok"), {8, 2}, {"superca…", "ok"}},
        {"mark good", mark(true), {20, 1}, {"✓ allowed"}},
        {"mark unknown", mark(false), {20, 1}, {"unknown"}},
        {"mark in ASCII", mark(true), {20, 1}, {"v allowed"}, Look::ascii()},
        {"symbol", symbol("gearshape.2"), {5, 1}, {"⚙"}},
        {"unknown symbol", symbol("no.such"), {5, 1}, {"•"}},
        {"unknown symbol in ASCII", symbol("no.such"), {5, 1}, {"*"}, Look::ascii()},
        {"tinted button with arrow", button(tinted("a", "Allow", Hue::yellow)), {20, 1}, {"( Allow ↗ )"}},
        {"default button", button(Button{.key = "c", .label = "Continue", .isDefault = true}), {20, 1},
         {"( Continue ⏎ )"}},
        {"default button in ASCII", button(Button{.key = "c", .label = "Continue", .isDefault = true}), {20, 1},
         {"( Continue <- )"}, Look::ascii()},
        {"disabled button", button(Button{.key = "c", .label = "Continue", .enabled = false, .isDefault = true}),
         {20, 1}, {"  Continue"}},
        {"fill button", button(Button{.key = "f", .label = "Open", .fill = true, .arrow = true}), {16, 1},
         {"(    Open ↗    )"}},
        {"narrow button", button(tinted("a", "Open Settings", Hue::orange)), {10, 1}, {"( Open … )"}},
        {"link", link("l", "Approve in Settings", {}), {30, 1}, {"(Approve in Settings)"}},
        {"switch on", toggle("t", "Open at login", true, true, {}), {24, 1}, {"Open at login    ( on  )"}},
        {"switch off disabled", toggle("t", "Open at login", false, false, {}), {24, 1}, {"Open at login      off"}},
        {"command line", commandLine("cmd", "sudo lumra grant"), {30, 1}, {"$ sudo lumra grant    ( copy )"}},
        {"row", row(text("Notifications"), mark(true)), {30, 1}, {"Notifications        ✓ allowed"}},
        {"row, long leading wraps beside the trailing",
         row(text("Sleep with the lid closed"), button(tinted("a", "Allow", Hue::yellow))), {24, 3},
         {"Sleep with   ( Allow ↗ )", "the lid", "closed"}},
        {"hstack", hstack({symbol("bell"), text("Notifications")}), {20, 1}, {"🔔 Notifications"}},
        {"vstack with gap and empty", vstack({text("a"), empty(), text("b")}, 1), {5, 4}, {"a", "", "b", ""}},
        {"card", card(text("Inside")), {12, 3}, {"╭──────────╮", "│ Inside   │", "╰──────────╯"}},
        {"card in ASCII", card(text("Inside")), {10, 3}, {"+--------+", "| Inside |", "+--------+"}, Look::ascii()},
        {"section", section("Required", {text("row one"), text("row two")}, "Later is fine"), {20, 5},
         {"Required", "row one", "row two", "Later is fine", ""}},
        {"section without header or footer", section(std::nullopt, {text("row")}), {10, 2}, {"row", ""}},
        {"pager", pager({Hue::green, Hue::yellow, Hue::none}, 1, text("Page"), footerBar({button(Button{.key = "n", .label = "Continue", .isDefault = true})})),
         {20, 6}, {"       ○ ● ○", "", "Page", "", "────────────────────", "      ( Continue ⏎ )"}},
        {"pager in ASCII", pager({Hue::none, Hue::none}, 0, empty(), empty()), {7, 1}, {"  * o"}, Look::ascii()},
        {"footer bar", footerBar({button(Button{.key = "s", .label = "Skip", .tinted = false}),
                                  button(Button{.key = "d", .label = "Done", .isDefault = true})}),
         {24, 2}, {"────────────────────────", "    ( Skip )  ( Done ⏎ )"}},
        {"dialog", dialog("Install for everyone?", "Needs an admin.", {"Install", "Cancel"}, {}), {34, 8},
         {"╭────────────────────────────────╮", "│ Install for everyone?          │", "│                                │",
          "│ Needs an admin.                │", "│                                │", "│ ────────────────────────────── │",
          "│      ( Install ⏎ )  ( Cancel ) │", "╰────────────────────────────────╯"}},
        {"taller than the screen is cut at the bottom", vstack({text("1"), text("2"), text("3")}), {5, 2}, {"1", "2"}},
        {"nothing on a frame of no rows", text("x"), {5, 0}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(draw(c.element, c.size, c.look), c.lines) << c.what;
}

} // namespace
