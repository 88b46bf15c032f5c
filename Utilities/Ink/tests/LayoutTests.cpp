#include <Ink/Element.hpp>
#include <Ink/Window.hpp>

#include <Platform/UTF8.hpp>
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
        {"text wraps at words",
         text("Keeps the Mac awake while you work"),
         {12, 4},
         {"Keeps the", "Mac awake", "while you", "work"}},
        {"a text that fits keeps its runs of spaces", text("state   held"), {12, 1}, {"state   held"}},
        {"a long word is cut", text("supercalifragilistic ok"), {8, 2}, {"superca…", "ok"}},
        {"a long word is cut in ASCII", text("supercalifragilistic ok"), {8, 2}, {"superca~", "ok"}, Look::ascii()},
        {"mark good", mark(true), {20, 1}, {"✓ allowed"}},
        {"mark unknown", mark(false), {20, 1}, {"unknown"}},
        {"mark in ASCII", mark(true), {20, 1}, {"v allowed"}, Look::ascii()},
        {"symbol", symbol("gearshape.2"), {5, 1}, {"⚙"}},
        {"unknown symbol", symbol("no.such"), {5, 1}, {"•"}},
        {"unknown symbol in ASCII", symbol("no.such"), {5, 1}, {"*"}, Look::ascii()},
        {"tinted button with arrow", button(tinted("a", "Allow", Hue::yellow)), {20, 1}, {"( Allow ↗ )"}},
        {"default button",
         button(Button{.key = "c", .label = "Continue", .isDefault = true}),
         {20, 1},
         {"( Continue ⏎ )"}},
        {"default button in ASCII",
         button(Button{.key = "c", .label = "Continue", .isDefault = true}),
         {20, 1},
         {"( Continue <- )"},
         Look::ascii()},
        {"disabled button",
         button(Button{.key = "c", .label = "Continue", .enabled = false, .isDefault = true}),
         {20, 1},
         {"  Continue"}},
        {"fill button",
         button(Button{.key = "f", .label = "Open", .fill = true, .arrow = true}),
         {16, 1},
         {"(    Open ↗    )"}},
        {"narrow button", button(tinted("a", "Open Settings", Hue::orange)), {10, 1}, {"( Open … )"}},
        {"link", link("l", "Approve in Settings", {}), {30, 1}, {"(Approve in Settings)"}},
        {"switch on", toggle("t", "Open at login", true, true, {}), {24, 1}, {"Open at login    ( on  )"}},
        {"switch off disabled", toggle("t", "Open at login", false, false, {}), {24, 1}, {"Open at login      off"}},
        {"command line", commandLine("cmd", "sudo lumra grant"), {30, 1}, {"$ sudo lumra grant    ( copy )"}},
        {"row", row(text("Notifications"), mark(true)), {30, 1}, {"Notifications        ✓ allowed"}},
        {"row, long leading wraps beside the trailing",
         row(text("Sleep with the lid closed"), button(tinted("a", "Allow", Hue::yellow))),
         {24, 3},
         {"Sleep with   ( Allow ↗ )", "the lid", "closed"}},
        {"hstack", hstack({symbol("bell"), text("Notifications")}), {20, 1}, {"🔔 Notifications"}},
        {"vstack with gap and empty", vstack({text("a"), empty(), text("b")}, 1), {5, 4}, {"a", "", "b", ""}},
        {"card", card(text("Inside")), {12, 3}, {"╭──────────╮", "│ Inside   │", "╰──────────╯"}},
        {"card in ASCII", card(text("Inside")), {10, 3}, {"+--------+", "| Inside |", "+--------+"}, Look::ascii()},
        {"section",
         section("Required", {text("row one"), text("row two")}, "Later is fine"),
         {20, 5},
         {"Required", "row one", "row two", "Later is fine", ""}},
        {"section without header or footer", section(std::nullopt, {text("row")}), {10, 2}, {"row", ""}},
        {"pager",
         pager({Hue::green, Hue::yellow, Hue::none}, 1, text("Page"),
               footerBar({button(Button{.key = "n", .label = "Continue", .isDefault = true})})),
         {20, 6},
         {"       ○ ● ○", "", "Page", "", "────────────────────", "      ( Continue ⏎ )"}},
        {"pager on a taller screen: the footer at the bottom",
         vstack({pager({Hue::none}, 0, text("Page"), footerBar({button(Button{.key = "n", .label = "Next"})})),
                 text("Below")}),
         {20, 9},
         {"         ●", "", "Page", "", "", "", "────────────────────", "            ( Next )", "Below"}},
        {"pager in ASCII", pager({Hue::none, Hue::none}, 0, empty(), empty()), {7, 1}, {"  * o"}, Look::ascii()},
        {"footer bar",
         footerBar({button(Button{.key = "s", .label = "Skip", .tinted = false}),
                    button(Button{.key = "d", .label = "Done", .isDefault = true})}),
         {24, 2},
         {"────────────────────────", "    ( Skip )  ( Done ⏎ )"}},
        {"footer bar too narrow for its buttons keeps every label whole",
         footerBar({button(Button{.key = "e", .label = "Everyone", .tinted = false}),
                    button(Button{.key = "m", .label = "Just me", .tinted = false}),
                    button(Button{.key = "c", .label = "Cancel", .tinted = false})}),
         {26, 3},
         {"──────────────────────────", " ( Everyone )  ( Just me )", "                ( Cancel )"}},
        {"dialog",
         dialog("Install for everyone?", "Needs an admin.", {"Install", "Cancel"}, {}),
         {34, 8},
         {"╭────────────────────────────────╮", "│ Install for everyone?          │",
          "│                                │", "│ Needs an admin.                │",
          "│                                │", "│ ────────────────────────────── │",
          "│      ( Install ⏎ )  ( Cancel ) │", "╰────────────────────────────────╯"}},
        {"taller than the screen is cut at the bottom", vstack({text("1"), text("2"), text("3")}), {5, 2}, {"1", "2"}},
        {"nothing on a frame of no rows", text("x"), {5, 0}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(draw(c.element, c.size, c.look), c.lines) << c.what;
}

TEST(Layout, HostileTextNeverEscapesItsPlace) {
    std::vector<std::string> hostile{
        "\x1B[2J\x1B[Hwiped",
        "line\nbreak\rreturn\ttab",
        "\xC2\x9B"
        "31mred",
        "bad \xFF\xFE\xC0\xAF utf",
        "a\u202Eevil\u2028b",
        "\x1B]52;c;ZXZpbA==\x07 clip",
        "\x1BP1$r\x1B\\ dcs",
        std::string(300, 'w') + " long",
        "\x07\x08\x7F",
    };
    std::vector<Element (*)(const std::string&)> pieces{
        [](const std::string& t) { return text(t); },
        [](const std::string& t) { return text(t, Role::largeTitle, Hue::red); },
        [](const std::string& t) { return button(Button{.key = "k", .label = t, .fill = true, .arrow = true}); },
        [](const std::string& t) { return link("k", t, {}); },
        [](const std::string& t) { return toggle("k", t, true, true, {}); },
        [](const std::string& t) { return commandLine("k", t); },
        [](const std::string& t) { return section(t, {row(text(t), mark(false))}, t); },
        [](const std::string& t) {
            return card(hstack({symbol(t), text(t)}));
        },
        [](const std::string& t) {
            return pager({Hue::green}, 0, text(t), footerBar({button(Button{.key = "k", .label = t})}));
        },
        [](const std::string& t) {
            return dialog(t, t, {t, t}, {});
        },
    };
    for (const Look& look : {Look::plain(), Look::ascii(), Look{true, true}})
        for (Size size : {Size{12, 4}, Size{40, 9}, Size{1, 1}, Size{0, 2}, Size{-3, -1}})
            for (const std::string& outside : hostile)
                for (auto piece : pieces) {
                    Frame frame = layout(piece(outside), size, look, "k");
                    ASSERT_EQ(frame.lines.size(), static_cast<size_t>(std::max(0, size.rows)));
                    for (const std::string& line : frame.lines) {
                        std::string shown = Terminal::ANSI::strip(line);
                        EXPECT_LE(Terminal::width(line), static_cast<size_t>(std::max(0, size.columns))) << line;
                        EXPECT_TRUE(Platform::UTF8::isValid(line)) << line;
                        for (unsigned char byte : shown) ASSERT_TRUE(byte >= 0x20 && byte != 0x7F) << line;
                        EXPECT_EQ(shown.find("\xC2\x9B"), std::string::npos) << line;
                        EXPECT_EQ(shown.find("\u202E"), std::string::npos) << line;
                        if (!look.color) {
                            EXPECT_EQ(shown, line);
                        }
                    }
                }
}

TEST(Layout, ColourStylesWithoutMovingAnything) {
    Look color{true, true};
    struct Case {
        const char* what;
        Element element;
        std::string focused;
        std::string line;
    };
    for (const Case& c : std::vector<Case>{
             {"tinted", button(tinted("a", "Allow", Hue::yellow)), "", "\x1B[48;5;220m\x1B[38;5;16m( Allow ↗ )\x1B[0m"},
             {"tinted, focused", button(tinted("a", "Allow", Hue::orange)), "a",
              "\x1B[48;5;208m\x1B[38;5;16m\x1B[7m[ Allow ↗ ]\x1B[0m"},
             {"plain default, focused", button(Button{.key = "d", .label = "Done", .tinted = false, .isDefault = true}),
              "d", "\x1B[1m\x1B[7m[ Done ⏎ ]\x1B[0m"},
             {"disabled", button(Button{.key = "d", .label = "Done", .hue = Hue::green, .enabled = false}), "d",
              "\x1B[2m  Done  \x1B[0m"},
             {"mark good", mark(true), "", "\x1B[38;5;34m✓ allowed\x1B[0m"},
             {"mark unknown", mark(false), "", "\x1B[2munknown\x1B[0m"},
             {"large title", text("Welcome", Role::largeTitle), "", "\x1B[1;4mWelcome\x1B[0m"},
             {"caption in a hue", text("note", Role::caption, Hue::accent), "", "\x1B[2m\x1B[38;5;33mnote\x1B[0m"},
         }) {
        Frame frame = layout(c.element, {30, 1}, color, c.focused);
        EXPECT_EQ(frame.lines[0], c.line) << c.what;
        std::string stripped = Terminal::ANSI::strip(frame.lines[0]);
        while (stripped.ends_with(' ')) stripped.pop_back();
        EXPECT_EQ(stripped, layout(c.element, {30, 1}, Look::plain(), c.focused).lines[0]) << c.what;
    }
}

TEST(Layout, TargetsAreInReadingOrderWithTheirLines) {
    bool pressed = false;
    Element tree =
        vstack({text("Head"), row(text("Camera"), button(tinted("cam", "Allow", Hue::yellow))),
                card(toggle("login", "Open at login", false, true, {})), toggle("off", "Disabled", false, false, {}),
                footerBar({button(Button{.key = "later", .label = "Later", .onPress = [&] { pressed = true; }}),
                           button(Button{.key = "done", .label = "Done", .enabled = false})})});
    Frame frame = layout(tree, {40, 10}, Look::plain());
    std::vector<std::pair<std::string, int>> targets;
    for (const Target& target : frame.targets) targets.emplace_back(target.key, target.line);
    EXPECT_EQ(targets, (std::vector<std::pair<std::string, int>>{{"cam", 1}, {"login", 3}, {"later", 7}}));
    frame.targets[2].onPress();
    EXPECT_TRUE(pressed);
}

TEST(Look, DetectsColourAndCharacterSet) {
    struct Case {
        Terminal::Environment environment;
        bool terminal;
        Look look;
    };
    for (const Case& c : std::vector<Case>{
             {{{"LANG", "en_US.UTF-8"}}, true, {true, true}},
             {{{"LANG", "en_US.UTF-8"}}, false, {false, true}},
             {{{"LANG", "C.utf8"}, {"NO_COLOR", "1"}}, true, {false, true}},
             {{{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}}, true, {true, false}},
             {{{"LC_ALL", ""}, {"LC_CTYPE", "UTF-8"}, {"LANG", "C"}}, true, {true, true}},
             {{{"LANG", "de_DE.UTF-8@euro"}, {"FORCE_COLOR", "1"}}, false, {true, true}},
             {{{"LANG", "en_US.ISO-8859-1"}, {"TERM", "dumb"}}, true, {false, false}},
             {{}, true, {true, false}},
         }) {
        Look look = Look::detected(c.environment, c.terminal);
        EXPECT_EQ(look.color, c.look.color);
        EXPECT_EQ(look.unicode, c.look.unicode);
    }
}

TEST(Look, GlyphsHaveAnASCIIStandIn) {
    struct Case {
        const char* symbol;
        const char* unicode;
        const char* ascii;
    };
    for (const Case& c : std::vector<Case>{{"checkmark", "✓", "v"},
                                           {"arrow.up.forward", "↗", "^"},
                                           {"gearshape.2", "⚙", "@"},
                                           {"bell", "🔔", "!"},
                                           {"lock", "🔒", "#"},
                                           {"moon", "☾", "C"},
                                           {"power", "⏻", "I"},
                                           {"hand.raised", "✋", "!"},
                                           {"person", "👤", "p"},
                                           {"folder", "📁", "/"},
                                           {"camera", "📷", "o"},
                                           {"mic", "🎤", "m"},
                                           {"keyboard", "⌨", "#"},
                                           {"display", "▭", "="},
                                           {"cup.and.saucer", "☕", "c"},
                                           {"", "•", "*"},
                                           {"checkmark.nope", "•", "*"}}) {
        EXPECT_EQ(glyph(c.symbol, Look::plain()), c.unicode) << c.symbol;
        EXPECT_EQ(glyph(c.symbol, Look::ascii()), c.ascii) << c.symbol;
    }
}

} // namespace
