#include <Ink/Element.hpp>
#include <Ink/Window.hpp>

#include <Terminal/Text.hpp>

#include <gtest/gtest.h>

namespace {

using namespace Ink;
using Lines = std::vector<std::string>;

// A view of buttons whose presses are recorded; `keys` says which exist.
struct View {
    std::vector<std::string> keys{"a", "b", "c"};
    std::string defaultKey;
    std::vector<std::string> pressed;
    int renders = 0;

    Element render() {
        ++renders;
        std::vector<Element> rows{text("Title")};
        for (const std::string& key : keys)
            rows.push_back(button(Button{
                .key = key, .label = key, .tinted = false, .isDefault = key == defaultKey, .onPress = [this, key] {
                    pressed.push_back(key);
                }}));
        return vstack(std::move(rows));
    }
};

struct WindowTest : testing::Test {
    View view;
    int quits = 0;
    int activations = 0;
    Window window{[this] { return view.render(); }, Look::plain(),
                  Window::Handlers{[this] { ++quits; }, [this] { ++activations; }}};

    WindowTest() { window.resize({20, 5}); }
    void keys(std::initializer_list<Key> keys) {
        for (Key key : keys) {
            window.redraw();
            window.key(key);
        }
        window.redraw();
    }
};

TEST_F(WindowTest, FocusMovesByKeyAndWraps) {
    struct Case {
        std::vector<Key> keys;
        std::string focused;
    };
    for (const Case& c : std::vector<Case>{
             {{}, ""},
             {{Key::tab}, "a"},
             {{Key::tab, Key::tab}, "b"},
             {{Key::down, Key::right, Key::tab}, "c"},
             {{Key::tab, Key::tab, Key::tab, Key::tab}, "a"},
             {{Key::backTab}, "c"},
             {{Key::up}, "c"},
             {{Key::tab, Key::left}, "c"},
             {{Key::tab, Key::tab, Key::up}, "a"},
             {{Key::focusOut, Key::space}, ""},
         }) {
        Window fresh{[this] { return view.render(); }, Look::plain()};
        fresh.resize({20, 5});
        for (Key key : c.keys) {
            fresh.redraw();
            fresh.key(key);
        }
        EXPECT_EQ(fresh.focused(), c.focused) << c.keys.size();
    }
}

TEST_F(WindowTest, TheFocusedTargetIsBracketed) {
    keys({Key::tab, Key::tab});
    EXPECT_EQ(window.frame().lines, (Lines{"Title", "( a )", "[ b ]", "( c )", ""}));
}

TEST_F(WindowTest, EnterAndSpacePress) {
    view.defaultKey = "c";
    window.invalidate();
    keys({Key::space, Key::enter, Key::tab, Key::space, Key::enter});
    // Space with nothing focused presses nothing; Enter presses the default.
    EXPECT_EQ(view.pressed, (std::vector<std::string>{"c", "a", "a"}));
}

TEST_F(WindowTest, FocusStaysOnItsKeyOrMovesToTheNearest) {
    keys({Key::tab, Key::tab});
    view.keys = {"x", "b", "c"};
    window.invalidate();
    keys({});
    EXPECT_EQ(window.focused(), "b");
    view.keys = {"x", "c"};
    window.invalidate();
    keys({});
    EXPECT_EQ(window.focused(), "c") << "c took b's line";
    EXPECT_EQ(window.frame().lines[2], "[ c ]");
    view.keys = {"x"};
    window.invalidate();
    keys({});
    EXPECT_EQ(window.focused(), "x");
    view.keys = {};
    window.invalidate();
    keys({Key::enter});
    EXPECT_EQ(window.focused(), "");
    EXPECT_TRUE(view.pressed.empty());
}


// A pager whose page action and footer button keep their keys from page to
// page: a press that turns the page leaves the focus behind, so a second
// Enter presses only the new page's default, never its action or the
// footer's button again.
TEST(WindowPager, APageTurnLeavesTheFocusBehind) {
    int page = 0;
    std::vector<std::string> pressed;
    auto render = [&] {
        auto act = [&](std::string what) {
            return [&, what] {
                pressed.push_back(what + " " + std::to_string(page));
                page = std::min(page + 1, 2);
            };
        };
        return pager({Hue::none, Hue::none, Hue::none}, page,
                     button(Button{.key = "action", .label = "Allow", .tinted = false, .onPress = act("action")}),
                     footerBar({button(Button{.key = "next",
                                              .label = "Continue",
                                              .tinted = false,
                                              .isDefault = page == 2,
                                              .onPress = act("next")})}));
    };
    for (std::string first : {"action", "next"}) {
        page = 0;
        pressed.clear();
        Window window{render, Look::plain()};
        window.resize({30, 8});
        window.redraw();
        while (window.focused() != first) window.key(Key::tab);
        window.redraw();
        window.key(Key::enter);
        window.redraw();
        EXPECT_EQ(window.focused(), "") << first;
        window.key(Key::enter); // page 1 has no default: nothing
        window.redraw();
        window.key(Key::tab);
        window.key(Key::enter);
        window.redraw();
        window.key(Key::enter); // page 2's default
        EXPECT_EQ(pressed, (std::vector<std::string>{first + " 0", "action 1", "next 2"})) << first;
    }
}
TEST_F(WindowTest, QuitKeysAndFocusIn) {
    keys({Key::escape, Key::quit, Key::interrupt});
    EXPECT_EQ(quits, 3);
    keys({Key::focusIn});
    EXPECT_EQ(activations, 1);
}

TEST_F(WindowTest, RedrawsOnlyWhenSomethingChanged) {
    std::string first = window.redraw();
    EXPECT_EQ(first, "\x1B[H\x1B[2J\x1B[1;1HTitle\x1B[2;1H( a )\x1B[3;1H( b )\x1B[4;1H( c )");
    int renders = view.renders;
    EXPECT_EQ(window.redraw(), "");
    EXPECT_EQ(view.renders, renders) << "nothing changed: nothing laid out";
    window.invalidate();
    EXPECT_EQ(window.redraw(), "");
    EXPECT_EQ(view.renders, renders + 1);
    window.key(Key::tab);
    EXPECT_EQ(window.redraw(), "\x1B[2;1H[ a ]\x1B[K");
    window.resize({20, 5});
    EXPECT_EQ(window.redraw(), "");
    window.resize({30, 3});
    EXPECT_EQ(window.redraw(), "\x1B[H\x1B[2J\x1B[1;1HTitle\x1B[2;1H[ a ]\x1B[3;1H( b )");
}

TEST(Repaint, WritesOnlyChangedLines) {
    Frame before{{"one", "two", "three"}, {}};
    Frame same = before;
    Frame changed{{"one", "2", ""}, {}};
    Frame taller{{"one", "", "three", "four"}, {}};
    EXPECT_EQ(repaint(&before, same), "");
    EXPECT_EQ(repaint(&before, changed), "\x1B[2;1H2\x1B[K\x1B[3;1H\x1B[K");
    EXPECT_EQ(repaint(&before, taller), "\x1B[H\x1B[2J\x1B[1;1Hone\x1B[3;1Hthree\x1B[4;1Hfour");
    EXPECT_EQ(repaint(nullptr, Frame{{"", "x"}, {}}), "\x1B[H\x1B[2J\x1B[2;1Hx");
}

TEST_F(WindowTest, DialogsTakeTheKeysUntilAnswered) {
    std::vector<size_t> answers;
    keys({Key::tab, Key::tab});
    window.resize({30, 9});
    window.present("Install?", "", {"Install", "Cancel", "Later"}, [&](size_t button) { answers.push_back(button); });
    EXPECT_TRUE(window.presenting());
    keys({});
    EXPECT_EQ(window.focused(), "dialog.0");
    EXPECT_EQ(window.frame().targets.size(), 3u);
    // q is no answer; keys move among the dialog's buttons only.
    keys({Key::quit, Key::tab, Key::tab, Key::tab, Key::tab});
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(window.focused(), "dialog.1");
    keys({Key::enter});
    EXPECT_EQ(answers, std::vector<size_t>{1});
    EXPECT_FALSE(window.presenting());
    EXPECT_EQ(window.focused(), "b") << "the view's focus comes back";
    EXPECT_TRUE(view.pressed.empty());

    window.present("Again?", "", {"Yes", "No"}, [&](size_t button) { answers.push_back(button); });
    keys({Key::escape});
    window.present("Default?", "", {"Yes", "No"}, [&](size_t button) { answers.push_back(button); });
    keys({Key::enter});
    window.present("Nothing?", "", {}, [&](size_t button) { answers.push_back(button); });
    keys({Key::escape});
    EXPECT_EQ(answers, (std::vector<size_t>{1, 1, 0, 0}));
    EXPECT_EQ(quits, 0);
}

TEST_F(WindowTest, ADialogIsDrawnOverTheView) {
    window.resize({24, 10});
    window.present("Sure?", "Really.", {"OK"}, {});
    keys({});
    EXPECT_EQ(window.frame().lines,
              (Lines{"Title", "╭──────────────────────╮", "│ Sure?                │", "│                      │",
                     "│ Really.              │", "│                      │", "│ ──────────────────── │",
                     "│             [ OK ⏎ ] │", "╰──────────────────────╯", ""}));
}

TEST_F(WindowTest, ADialogFitsAnyTerminal) {
    window.present("A question far too long for the terminal", "And more text.", {"Yes", "No"}, {});
    for (Size size : {Size{0, 0}, Size{1, 1}, Size{4, 2}, Size{8, 3}, Size{200, 60}}) {
        window.resize(size);
        window.redraw();
        ASSERT_EQ(window.frame().lines.size(), static_cast<size_t>(size.rows));
        for (const std::string& line : window.frame().lines)
            EXPECT_LE(Terminal::width(line), static_cast<size_t>(size.columns)) << line;
    }
    EXPECT_EQ(window.frame().lines[27], "                                                                      │ A "
                                        "question far too long for the terminal                 │");
}

TEST_F(WindowTest, ADialogPresentedFromItsCompletionShowsNext) {
    std::vector<std::string> seen;
    window.resize({30, 12});
    window.present("First", "", {"Next"}, [&](size_t) {
        seen.push_back("first");
        window.present("Second", "", {"Done"}, [&](size_t) { seen.push_back("second"); });
    });
    keys({Key::enter});
    EXPECT_TRUE(window.presenting());
    EXPECT_EQ(window.frame().lines[4], "│ Second                     │");
    keys({Key::enter});
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second"}));
    EXPECT_FALSE(window.presenting());
}

TEST(WindowCopy, ACommandLineCopiesThroughTheSideOutput) {
    Window window{
        [] {
            return vstack({commandLine("cmd", "sudo lumra grant"), button(Button{.key = "ok", .label = "OK"})});
        },
        Look::plain()};
    window.resize({40, 2});
    window.redraw();
    window.key(Key::tab);
    window.redraw();
    EXPECT_EQ(window.takeSideOutput(), "");
    window.key(Key::enter);
    EXPECT_EQ(window.takeSideOutput(), "\x1B]52;c;c3VkbyBsdW1yYSBncmFudA==\x07");
    EXPECT_EQ(window.takeSideOutput(), "");
    window.redraw();
    EXPECT_EQ(window.frame().lines[0], "$ sudo lumra grant            [ copied ]");
    // Another press, and the button reads "copy" again.
    window.key(Key::tab);
    window.key(Key::space);
    window.redraw();
    EXPECT_EQ(window.frame().lines[0], "$ sudo lumra grant              ( copy )");
}

TEST(WindowToggle, ASwitchFlipsAndADisabledOneTakesNoFocus) {
    bool on = false;
    bool enabled = true;
    Window window{[&] { return toggle("login", "Open at login", on, enabled, [&](bool now) { on = now; }); },
                  Look::plain()};
    window.resize({30, 1});
    window.redraw();
    window.key(Key::tab);
    window.key(Key::space);
    EXPECT_TRUE(on);
    window.redraw();
    EXPECT_EQ(window.frame().lines, Lines{"Open at login          [ on  ]"});
    window.key(Key::enter);
    EXPECT_FALSE(on);
    enabled = false;
    window.invalidate();
    window.redraw();
    EXPECT_EQ(window.focused(), "");
    window.key(Key::space);
    window.key(Key::tab);
    window.key(Key::enter);
    EXPECT_FALSE(on);
}

TEST(WindowScroll, TheFocusedTargetStaysInView) {
    std::vector<Element> rows;
    for (int i = 0; i < 10; ++i) rows.push_back(text("line " + std::to_string(i)));
    rows.push_back(button(Button{.key = "end", .label = "End"}));
    Window window{[&] { return vstack(rows); }, Look::plain()};
    window.resize({20, 4});
    window.redraw();
    EXPECT_EQ(window.frame().lines, (Lines{"line 0", "line 1", "line 2", "line 3"}));
    window.key(Key::tab);
    window.redraw();
    EXPECT_EQ(window.frame().lines, (Lines{"line 7", "line 8", "line 9", "[ End ]"}));
}

} // namespace
