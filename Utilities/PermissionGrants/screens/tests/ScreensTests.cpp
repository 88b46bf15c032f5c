// The grant pieces as the terminal shows them (colour off), and kept
// current while shown: observed changes, the application becoming active
// and presses, on the real main loop of this process.

#include <PermissionGrants/Observe.hpp>
#include <PermissionGrants/Screens.hpp>

#include <Ink/Window.hpp>
#include <Platform/AppEvents.hpp>
#include <Platform/Dispatch.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using PermissionGrants::PermissionGrant;
using PermissionGrants::Standing;
using PermissionGrants::ViewContext;
using PermissionGrants::Screens::show;
using PermissionGrants::Screens::Shown;
using Letters = PermissionGrant::LetterCase;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

// A custom grant whose standing the test sets, observable like any other.
struct Switch {
    explicit Switch(Standing now) : standing(std::move(now)) {}
    Standing standing;
    int acted = 0;
    PermissionGrants::ObservationRegistrar registrar;
    void set(Standing now) {
        standing = std::move(now);
        registrar.didChange();
    }
};

PermissionGrant grant(const std::shared_ptr<Switch>& state, std::string title, bool required = false,
                      std::string why = "Why it is needed.", std::string symbol = "bell") {
    return PermissionGrant(
        std::move(title), std::move(why), std::move(symbol), required,
        [state] {
            state->registrar.access();
            return state->standing;
        },
        [state] { ++state->acted; });
}

std::shared_ptr<Switch> standing(Standing now) { return std::make_shared<Switch>(std::move(now)); }

const Standing askable = Standing::askable("Allow", "Asks once.");
const Standing broken = Standing::broken("Open Settings", "Turned off in Settings.");

// What the pieces told the hub.
struct Surfaces {
    std::vector<std::string> told;
    ViewContext context(Letters letterCase = Letters::title) {
        return {letterCase, [this](std::string_view why) { told.emplace_back(why); }};
    }
};

// The frame's lines (in ASCII unless told otherwise, so that the goldens
// read plainly) without trailing blanks or the empty lines under the last.
// `rows` tall; a pager's footer goes to the bottom of the rows.
std::string render(const Ink::Element& root, const Ink::Look& look = Ink::Look::ascii(), int columns = 60,
                   int rows = 30) {
    std::string text;
    for (std::string line : Ink::layout(root, {columns, rows}, look).lines)
        text += line.erase(line.find_last_not_of(' ') + 1) + "\n";
    while (text.ends_with("\n\n")) text.pop_back();
    return text == "\n" ? "" : text;
}

// The last line drawn, without its indent: the footer of a sheet or a pager.
std::string footer(Shown& shown) {
    std::string text = render(shown.draw());
    text.pop_back();
    text.erase(0, text.find_last_of('\n') + 1);
    return text.erase(0, text.find_first_not_of(' '));
}

std::vector<Ink::Target> targets(Shown& shown) {
    return Ink::layout(shown.draw(), {60, 30}, Ink::Look::ascii()).targets;
}

std::vector<std::string> keys(Shown& shown) {
    std::vector<std::string> found;
    for (const auto& target : targets(shown)) found.push_back(target.key);
    return found;
}

// Serves the process's main loop on this thread until `done` holds, at most
// a second.
bool runLoopUntil(const std::function<bool()>& done) {
    auto& loop = Platform::mainLoop();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    bool reached = false;
    std::function<void()> check = [&] {
        if ((reached = done()) || std::chrono::steady_clock::now() > deadline) return loop.stop();
        loop.asyncAfter(std::chrono::milliseconds(1), check);
    };
    loop.async(check);
    loop.run();
    return reached;
}

// Runs `step` on the main loop, then what it posted there (a grant's act()).
void onLoop(const std::function<void()>& step) {
    bool ran = false;
    Platform::mainLoop().async([&] {
        step();
        Platform::mainLoop().async([&] { ran = true; });
    });
    ASSERT_TRUE(runLoopUntil([&] { return ran; }));
}

// Presses the target with that focus key on the main loop; fails without one.
void press(Shown& shown, const std::string& key) {
    for (const auto& target : targets(shown))
        if (target.key == key) return onLoop(target.onPress);
    ADD_FAILURE() << "no target " << key;
}

using Style = PermissionGrant::Row::Style;

// Each standing's detail line and trailing element, in a row and a card.
TEST(GrantScreens, RowsAndCardsShowTheStandingsWords) {
    struct Case {
        Standing standing;
        Style style;
        Ink::Look look;
        std::string drawn;
    } const cases[] = {
        {askable, Style::row, Ink::Look::ascii(),
         "! Camera                                         ( Allow ^ )\n  Asks once.\n"},
        {broken, Style::row, Ink::Look::ascii(),
         "! Camera                                 ( Open Settings ^ )\n  Turned off in Settings.\n"},
        {Standing::unknown("Cannot be read."), Style::row, Ink::Look::ascii(),
         "! Camera                                             unknown\n  Cannot be read.\n"},
        {Standing::good(), Style::row, Ink::Look::ascii(),
         "! Camera                                           v allowed\n  Why it is needed.\n"},
        {askable, Style::card, Ink::Look::ascii(),
         "+----------------------------------------------------------+\n"
         "| ! Camera                                                 |\n"
         "| Asks once.                                               |\n"
         "| ( Allow ^ )                                              |\n"
         "+----------------------------------------------------------+\n"},
        {Standing::good(), Style::row, Ink::Look::plain(),
         "\xF0\x9F\x94\x94 Camera                                          \xE2\x9C\x93 allowed\n   Why it is "
         "needed.\n"},
    };
    Surfaces surfaces;
    for (const auto& c : cases) {
        auto shown =
            show(PermissionGrant::Row(grant(standing(c.standing), "Camera"), c.style, surfaces.context()), [] {});
        EXPECT_EQ(render(shown->draw(), c.look), c.drawn);
    }
    EXPECT_TRUE(surfaces.told.empty()) << "drawing is not appearing";
}

// Required first; the sections' titles, the button and every action title
// in the letter case, the grants' own words as given. With optional grants
// only there is no "Required" section and the button reads "Done".
TEST(GrantScreens, TheSheetInLowerCase) {
    auto grants = [](Standing first, bool required) {
        return std::vector{grant(standing(Standing::good()), "Grant 0 Title"),
                           grant(standing(first), "Grant 1 Title", required), grant(standing(broken), "Grant 2 Title")};
    };
    auto sheet = [&](std::vector<PermissionGrant> grants) {
        return show(PermissionGrant::Sheet(
                        "Lumra", "What it needs.", std::move(grants), "Works without these.", [] {},
                        Surfaces{}.context(Letters::lower)),
                    [] {});
    };
    EXPECT_EQ(render(sheet(grants(askable, true))->draw()),
              "C  Lumra\n"
              "   What it needs.\n"
              "\n"
              "required\n"
              "! Grant 1 Title                                  ( allow ^ )\n"
              "  Asks once.\n"
              "\n"
              "optional\n"
              "! Grant 0 Title                                    v allowed\n"
              "  Why it is needed.\n"
              "! Grant 2 Title                          ( open settings ^ )\n"
              "  Turned off in Settings.\n"
              "Works without these.\n"
              "\n"
              "------------------------------------------------------------\n"
              "                                                ( later <- )\n");
    auto optional = sheet(grants(askable, false));
    EXPECT_EQ(render(optional->draw()).find("required"), std::string::npos);
    EXPECT_EQ(footer(*optional), "( done <- )");
    EXPECT_EQ(footer(*sheet(grants(Standing::good(), true))), "( done <- )");
}

// The step dots, the page and its one footer button: "Continue" disabled
// (no target) while a required grant needs the person, "Skip" for an
// optional one, "Done" on the last page; the welcome page is the host's.
TEST(GrantScreens, TheOnboardingsPagesAndFooterButton) {
    auto camera = standing(askable);
    auto alerts = standing(broken);
    int done = 0;
    Surfaces surfaces;
    auto steps = [&](bool welcome) {
        return show(
            PermissionGrant::Steps(
                {grant(camera, "Camera", true), grant(alerts, "Alerts", false, "")}, welcome, [&] { ++done; },
                surfaces.context()),
            [] {}, [] { return Ink::text("Hello there", Ink::Role::largeTitle); });
    };
    auto without = steps(false);
    EXPECT_EQ(render(without->draw(), Ink::Look::ascii(), 40, 12), "                  * o\n"
                                                               "\n"
                                                               "!\n"
                                                               "\n"
                                                               "Camera\n"
                                                               "\n"
                                                               "Asks once.\n"
                                                               "\n"
                                                               "(               Allow ^                )\n"
                                                               "\n"
                                                               "----------------------------------------\n"
                                                               "                              Continue\n");
    EXPECT_EQ(keys(*without), std::vector<std::string>{"steps:action"});
    camera->set(Standing::good());
    EXPECT_EQ(footer(*without), "( Continue <- )");
    press(*without, "steps:button");
    EXPECT_EQ(footer(*without), "( Skip )");
    EXPECT_NE(render(without->draw()).find("Alerts\n\nTurned off in Settings.\n"), std::string::npos);
    alerts->set(Standing::good());
    EXPECT_EQ(footer(*without), "( Done <- )");
    press(*without, "steps:button");
    press(*without, "steps:button");
    EXPECT_EQ(done, 1);

    auto with = steps(true);
    EXPECT_EQ(render(with->draw(), Ink::Look::ascii(), 40, 8), "                 * o o\n"
                                                            "\n"
                                                            "Hello there\n"
                                                            "\n"
                                                            "\n"
                                                            "\n"
                                                            "----------------------------------------\n"
                                                            "                         ( Continue <- )\n");

    // No grants and no welcome page: one page, "Done".
    auto empty = show(PermissionGrant::Steps(
                          {}, false, [&] { ++done; }, surfaces.context()),
                      [] {});
    EXPECT_EQ(footer(*empty), "( Done <- )");
    press(*empty, "steps:button");
    EXPECT_EQ(done, 2);
    // Only the page moved to appeared; drawing tells nobody.
    EXPECT_EQ(surfaces.told, std::vector<std::string>{"a surface appeared"});
}

TEST(GrantScreens, AChipShowsTheActionOfAGrantThatNeedsThePerson) {
    struct Case {
        Standing standing;
        std::optional<std::string> label;
        bool fill;
        Letters letterCase;
        std::string drawn;
    } const cases[] = {
        {askable, std::nullopt, false, Letters::title, "( Camera, Allow ^ )\n"},
        {broken, "Alerts", false, Letters::lower, "( Alerts, open settings ^ )\n"},
        {askable, std::nullopt, true, Letters::title, "(                     Camera, Allow ^                      )\n"},
        {Standing::good(), std::nullopt, true, Letters::title, ""},
        {Standing::unknown("Cannot be read."), "Alerts", false, Letters::title, ""},
    };
    for (const auto& c : cases) {
        auto camera = standing(c.standing);
        auto shown = show(
            PermissionGrant::Chip(grant(camera, "Camera"), c.label, c.fill, Surfaces{}.context(c.letterCase)), [] {},
            "chip:camera");
        EXPECT_EQ(render(shown->draw()), c.drawn);
        if (c.drawn.empty()) continue;
        press(*shown, "chip:camera");
        EXPECT_EQ(camera->acted, 1);
    }
}

// A login item the test drives: its standing, whether it awaits approval,
// and the asks it was given.
struct LoginItem {
    Standing standing = Standing::askable("Turn On");
    bool awaiting = false;
    std::vector<std::function<void(bool)>> asks;
    int unregistered = 0;
    int acted = 0;

    PermissionGrant::LaunchAtLogin::Controls controls() {
        return {[this] { return standing; }, [this] { return awaiting; },
                [this](std::function<void(bool)> completion) { asks.push_back(std::move(completion)); },
                [this] { ++unregistered; }, [this] { ++acted; }};
    }
};

// Drawn from what the item said when last read: on appearing, after an
// ask, and when the watched grant changes. Switched on it asks and stays
// disabled (no target) until the ask completes; the completion redraws.
TEST(GrantScreens, TheLoginSwitchAsksUnregistersAndLinksToApproval) {
    LoginItem item;
    auto watched = standing(item.standing);
    int invalidated = 0;
    Surfaces surfaces;
    auto shown = show(
        PermissionGrant::LaunchAtLogin("Open Lumra at login", item.controls(), surfaces.context()),
        [&] { ++invalidated; }, grant(watched, "open at login"));
    onLoop([&] { shown->appeared(); });
    EXPECT_EQ(surfaces.told, std::vector<std::string>{"a surface appeared"});
    EXPECT_EQ(render(shown->draw()), "Open Lumra at login                                  ( off )\n");
    press(*shown, "login:switch");
    ASSERT_EQ(item.asks.size(), 1u);
    EXPECT_EQ(keys(*shown), std::vector<std::string>{});
    item.standing = Standing::broken("Open Login Items", "Waiting for your approval in Login Items.");
    item.awaiting = true;
    int before = invalidated;
    item.asks.front()(false);
    EXPECT_EQ(invalidated, before + 1);
    EXPECT_EQ(render(shown->draw()), "Open Lumra at login                                  ( on  )\n"
                                     "(Waiting for your approval in Login Items.)\n");
    press(*shown, "login:approval");
    EXPECT_EQ(item.acted, 1);
    item.standing = Standing::good();
    item.awaiting = false;
    onLoop([&] { watched->set(Standing::good()); });
    EXPECT_EQ(render(shown->draw()), "Open Lumra at login                                  ( on  )\n");
    press(*shown, "login:switch");
    EXPECT_EQ(item.unregistered, 1);
}

// Control characters and escape sequences in a grant's words show as
// visible escapes on their own line; nothing reaches the terminal raw.
TEST(GrantScreens, HostileWordsAreDrawnAsVisibleEscapes) {
    auto evil = standing(Standing::broken("Fix\x1b[31m", "Off\r\nreally\x07"));
    auto shown =
        show(PermissionGrant::Sheet(
                 "Lumra\x1b[2J", std::nullopt, {grant(evil, "Evil\x1b]52;c;aGk=\x07\nrm -rf ~", true, "Why\tnot")},
                 std::nullopt, [] {}, Surfaces{}.context()),
             [] {});
    for (const auto& line : Ink::layout(shown->draw(), {60, 20}, Ink::Look::plain()).lines)
        for (char c : line) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << line;
    EXPECT_EQ(render(shown->draw()), "C  Lumra\\x1B[2J\n"
                                     "\n"
                                     "Required\n"
                                     "! Evil\\x1B]52;c;aGk=\\x07\\nrm -rf ~         ( Fix\\x1B[31m ^ )\n"
                                     "  Off\\r\\nreally\\x07\n"
                                     "\n"
                                     "------------------------------------------------------------\n"
                                     "                                                ( Later <- )\n");
}

// On the main loop: an askable row keeps its look when the grant turns
// broken, shows broken once the application comes forward (the system's
// notification, or the terminal's focus), and any other change at once;
// each redraws. Only appearing tells the hub.
TEST(GrantScreensLive, ARowFollowsItsGrantWhileShown) {
    auto camera = standing(askable);
    int invalidated = 0;
    Surfaces surfaces;
    auto shown =
        show(PermissionGrant::Row(grant(camera, "Camera"), Style::row, surfaces.context()), [&] { ++invalidated; });
    const std::string asking = "! Camera                                         ( Allow ^ )\n  Asks once.\n";
    const std::string refused =
        "! Camera                                 ( Open Settings ^ )\n  Turned off in Settings.\n";
    onLoop([&] { shown->appeared(); });
    EXPECT_EQ(surfaces.told, std::vector<std::string>{"a surface appeared"});
    EXPECT_EQ(render(shown->draw()), asking);

    int before = invalidated;
    onLoop([&] { camera->set(broken); });
    EXPECT_EQ(invalidated, before + 1);
    EXPECT_EQ(render(shown->draw()), asking);
    Platform::AppEvents::current().post(Platform::didBecomeActive);
    EXPECT_TRUE(runLoopUntil([&] { return render(shown->draw()) == refused; }));

    onLoop([&] { camera->set(Standing::good()); });
    EXPECT_EQ(render(shown->draw()),
              "! Camera                                           v allowed\n  Why it is needed.\n");
    onLoop([&] { camera->set(askable); });
    onLoop([&] { camera->set(broken); });
    EXPECT_EQ(render(shown->draw()), asking);
    shown->becameActive();
    EXPECT_EQ(render(shown->draw()), refused);
    EXPECT_EQ(surfaces.told.size(), 1u);

    // Gone: its observation ends with it.
    shown.reset();
    before = invalidated;
    onLoop([&] { camera->set(Standing::good()); });
    EXPECT_EQ(invalidated, before);
}

TEST(GrantScreensLive, TheOnboardingMovesOnWhenThePagesGrantTurnsGood) {
    auto camera = standing(askable);
    auto microphone = standing(askable);
    int invalidated = 0;
    int done = 0;
    Surfaces surfaces;
    auto shown = show(PermissionGrant::Steps(
                          {grant(camera, "Camera", true), grant(microphone, "Microphone", true)}, false,
                          [&] { ++done; }, surfaces.context()),
                      [&] { ++invalidated; });
    onLoop([&] { shown->appeared(); });
    onLoop([&] { microphone->set(broken); });
    EXPECT_NE(render(shown->draw()).find("Camera"), std::string::npos);
    int before = invalidated;
    onLoop([&] { camera->set(Standing::good()); });
    EXPECT_EQ(invalidated, before + 1);
    EXPECT_NE(render(shown->draw()).find("Microphone\n\nTurned off in Settings."), std::string::npos);
    EXPECT_EQ(footer(*shown), "Done");
    onLoop([&] { microphone->set(Standing::good()); });
    EXPECT_EQ(done, 1);
    EXPECT_EQ(surfaces.told, (std::vector<std::string>{"a surface appeared", "a surface appeared"}));
}

// Keys reach the model through the frame's targets; an action of a frame
// drawn before the piece was gone does nothing.
TEST(GrantScreensLive, KeysPressThroughTheModelUntilThePieceIsGone) {
    auto camera = standing(askable);
    auto microphone = standing(askable);
    int invalidated = 0;
    auto shown = show(PermissionGrant::Section("Needed", {grant(camera, "Camera"), grant(microphone, "Microphone")},
                                               std::nullopt, Surfaces{}.context()),
                      [&] { ++invalidated; });
    Ink::Window window([&] { return shown->draw(); }, Ink::Look::ascii());
    window.resize({40, 10});
    window.redraw();
    window.key(Ink::Key::tab);
    window.key(Ink::Key::tab);
    onLoop([&] { window.key(Ink::Key::enter); });
    EXPECT_EQ(window.focused(), "row:1");
    EXPECT_EQ(camera->acted, 0);
    EXPECT_EQ(microphone->acted, 1);
    EXPECT_EQ(invalidated, 1);

    Ink::Target stale = targets(*shown).front();
    shown.reset();
    onLoop(stale.onPress);
    EXPECT_EQ(camera->acted, 0);
    EXPECT_EQ(invalidated, 1);
}

} // namespace
