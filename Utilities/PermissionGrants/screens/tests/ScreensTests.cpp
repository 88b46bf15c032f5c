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

// The frame's lines without their trailing blanks, and without the blank
// lines under the last one drawn; in ASCII unless told otherwise, so that
// the goldens read plainly.
std::string render(const Ink::Element& root, const Ink::Look& look = Ink::Look::ascii(), int columns = 40,
                   int rows = 30, const std::string& focused = {}) {
    Ink::Frame frame = Ink::layout(root, {columns, rows}, look, focused);
    std::string text;
    for (std::string line : frame.lines) {
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    while (text.ends_with("\n\n")) text.pop_back();
    return text == "\n" ? "" : text;
}

// The target of a frame with that focus key; fails the test without one.
Ink::Target target(const Ink::Element& root, const std::string& key) {
    for (const auto& candidate : Ink::layout(root, {60, 30}, Ink::Look::plain()).targets)
        if (candidate.key == key) return candidate;
    ADD_FAILURE() << "no target " << key;
    return {};
}

std::vector<std::string> keys(const Ink::Element& root) {
    std::vector<std::string> found;
    for (const auto& candidate : Ink::layout(root, {60, 30}, Ink::Look::plain()).targets)
        found.push_back(candidate.key);
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

// Runs `step` on the main loop, then what it posted there.
void onLoop(const std::function<void()>& step) {
    bool ran = false;
    Platform::mainLoop().async([&] {
        step();
        Platform::mainLoop().async([&] { ran = true; });
    });
    ASSERT_TRUE(runLoopUntil([&] { return ran; }));
}

} // namespace

namespace {

using Style = PermissionGrant::Row::Style;

// Each standing's detail line and trailing element, in a row and in a card.
TEST(GrantScreens, RowsAndCardsShowTheStandingsWords) {
    struct Case {
        Standing standing;
        Style style;
        Ink::Look look;
        std::string drawn;
    } const cases[] = {
        {askable, Style::row, Ink::Look::ascii(),
         "! Camera                     ( Allow ^ )\n"
         "  Asks once.\n"},
        {Standing::askable("Allow"), Style::row, Ink::Look::ascii(),
         "! Camera                     ( Allow ^ )\n"
         "  Why it is needed.\n"},
        {broken, Style::row, Ink::Look::ascii(),
         "! Camera             ( Open Settings ^ )\n"
         "  Turned off in\n"
         "  Settings.\n"},
        {Standing::unknown("Cannot be read."), Style::row, Ink::Look::ascii(),
         "! Camera                         unknown\n"
         "  Cannot be read.\n"},
        {Standing::good(), Style::row, Ink::Look::ascii(),
         "! Camera                       v allowed\n"
         "  Why it is needed.\n"},
        {askable, Style::card, Ink::Look::ascii(),
         "+--------------------------------------+\n"
         "| ! Camera                             |\n"
         "| Asks once.                           |\n"
         "| ( Allow ^ )                          |\n"
         "+--------------------------------------+\n"},
        {Standing::good(), Style::card, Ink::Look::ascii(),
         "+--------------------------------------+\n"
         "| ! Camera                             |\n"
         "| Why it is needed.                    |\n"
         "| v allowed                            |\n"
         "+--------------------------------------+\n"},
        {askable, Style::row, Ink::Look::plain(),
         "\xF0\x9F\x94\x94 Camera                    ( Allow \xE2\x86\x97 )\n"
         "   Asks once.\n"},
        {Standing::good(), Style::row, Ink::Look::plain(),
         "\xF0\x9F\x94\x94 Camera                      \xE2\x9C\x93 allowed\n"
         "   Why it is needed.\n"},
    };
    Surfaces surfaces;
    for (const auto& c : cases) {
        auto shown =
            show(PermissionGrant::Row(grant(standing(c.standing), "Camera"), c.style, surfaces.context()), [] {});
        EXPECT_EQ(render(shown->draw(), c.look), c.drawn);
    }
    EXPECT_TRUE(surfaces.told.empty()) << "drawing is not appearing";
}

// Required first, the sections' titles and every action title in the
// letter case, the grants' own words as given; the button reads "Later"
// while a required grant needs the person.
TEST(GrantScreens, TheSheetInEachLetterCase) {
    struct Case {
        Letters letterCase;
        std::vector<std::pair<Standing, bool>> grants; // standing, required
        std::string drawn;
    } const cases[] = {
        {Letters::lower,
         {{Standing::good(), false}, {askable, true}, {broken, false}},
         "C  Lumra\n"
         "   What it needs.\n"
         "\n"
         "required\n"
         "! Grant 1 Title              ( allow ^ )\n"
         "  Asks once.\n"
         "\n"
         "optional\n"
         "! Grant 0 Title                v allowed\n"
         "  Why it is needed.\n"
         "! Grant 2 Title      ( open settings ^ )\n"
         "  Turned off in\n"
         "  Settings.\n"
         "Works without these.\n"
         "\n"
         "----------------------------------------\n"
         "                            ( later <- )\n"},
        {Letters::title,
         {{Standing::good(), true}, {broken, false}},
         "C  Lumra\n"
         "   What it needs.\n"
         "\n"
         "Required\n"
         "! Grant 0 Title                v allowed\n"
         "  Why it is needed.\n"
         "\n"
         "Optional\n"
         "! Grant 1 Title      ( Open Settings ^ )\n"
         "  Turned off in\n"
         "  Settings.\n"
         "Works without these.\n"
         "\n"
         "----------------------------------------\n"
         "                             ( Done <- )\n"},
        // Optional grants only: no "Required" section, and "Done" whatever they say.
        {Letters::title,
         {{askable, false}, {broken, false}},
         "C  Lumra\n"
         "   What it needs.\n"
         "\n"
         "Optional\n"
         "! Grant 0 Title              ( Allow ^ )\n"
         "  Asks once.\n"
         "! Grant 1 Title      ( Open Settings ^ )\n"
         "  Turned off in\n"
         "  Settings.\n"
         "Works without these.\n"
         "\n"
         "----------------------------------------\n"
         "                             ( Done <- )\n"},
    };
    for (const auto& c : cases) {
        std::vector<PermissionGrant> grants;
        for (const auto& [now, required] : c.grants)
            grants.push_back(grant(standing(now), "Grant " + std::to_string(grants.size()) + " Title", required));
        Surfaces surfaces;
        auto shown =
            show(PermissionGrant::Sheet(
                     "Lumra", "What it needs.", grants, "Works without these.", [] {}, surfaces.context(c.letterCase)),
                 [] {});
        EXPECT_EQ(render(shown->draw()), c.drawn);
    }
}

} // namespace

namespace {

// The step dots, the page and its one footer button: "Continue" disabled
// (no target) while a required grant needs the person, "Skip" for an
// optional one, "Done" on the last page; the welcome page is the host's.
TEST(GrantScreens, TheOnboardingsPagesAndFooterButton) {
    auto camera = standing(askable);
    auto alerts = standing(broken);
    int done = 0;
    Surfaces surfaces;
    auto steps = [&](bool welcome) {
        return PermissionGrant::Steps(
            {grant(camera, "Camera", true), grant(alerts, "Alerts", false, "")}, welcome, [&] { ++done; },
            surfaces.context());
    };
    auto hello = [] { return Ink::text("Hello there", Ink::Role::largeTitle); };

    auto without = show(
        steps(false), [] {}, hello);
    EXPECT_EQ(render(without->draw()), "                  * o\n"
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
    EXPECT_EQ(keys(without->draw()), std::vector<std::string>{"steps:action"});
    camera->set(Standing::good());
    EXPECT_EQ(render(without->draw()), "                  * o\n"
                                       "\n"
                                       "!\n"
                                       "\n"
                                       "Camera\n"
                                       "\n"
                                       "Why it is needed.\n"
                                       "\n"
                                       "v allowed\n"
                                       "\n"
                                       "----------------------------------------\n"
                                       "                         ( Continue <- )\n");
    target(without->draw(), "steps:button").onPress();
    EXPECT_EQ(render(without->draw()), "                  o *\n"
                                       "\n"
                                       "!\n"
                                       "\n"
                                       "Alerts\n"
                                       "\n"
                                       "Turned off in Settings.\n"
                                       "\n"
                                       "(           Open Settings ^            )\n"
                                       "\n"
                                       "----------------------------------------\n"
                                       "                                ( Skip )\n");
    alerts->set(Standing::good());
    EXPECT_EQ(render(without->draw()), "                  o *\n"
                                       "\n"
                                       "!\n"
                                       "\n"
                                       "Alerts\n"
                                       "\n"
                                       "v allowed\n"
                                       "\n"
                                       "----------------------------------------\n"
                                       "                             ( Done <- )\n");
    target(without->draw(), "steps:button").onPress();
    target(without->draw(), "steps:button").onPress();
    EXPECT_EQ(done, 1);

    auto with = show(
        steps(true), [] {}, hello);
    EXPECT_EQ(render(with->draw()), "                 * o o\n"
                                    "\n"
                                    "Hello there\n"
                                    "\n"
                                    "----------------------------------------\n"
                                    "                         ( Continue <- )\n");
    EXPECT_EQ(keys(with->draw()), std::vector<std::string>{"steps:button"});

    // No grants and no welcome page: one page, "Done".
    auto empty = show(PermissionGrant::Steps(
                          {}, false, [&] { ++done; }, surfaces.context()),
                      [] {});
    EXPECT_EQ(render(empty->draw()), "                   *\n"
                                     "\n"
                                     "----------------------------------------\n"
                                     "                             ( Done <- )\n");
    target(empty->draw(), "steps:button").onPress();
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
        {askable, std::nullopt, true, Letters::title, "(           Camera, Allow ^            )\n"},
        {Standing::good(), std::nullopt, true, Letters::title, ""},
        {Standing::unknown("Cannot be read."), "Alerts", false, Letters::title, ""},
    };
    for (const auto& c : cases) {
        auto camera = standing(c.standing);
        Surfaces surfaces;
        auto shown = show(
            PermissionGrant::Chip(grant(camera, "Camera"), c.label, c.fill, surfaces.context(c.letterCase)), [] {});
        EXPECT_EQ(render(shown->draw()), c.drawn);
        if (c.drawn.empty()) continue;
        onLoop(target(shown->draw(), "chip").onPress);
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

TEST(GrantScreens, TheLoginSwitchAsksUnregistersAndLinksToApproval) {
    const Standing awaiting = Standing::broken("Open Login Items", "Waiting for your approval in Login Items.");
    struct Case {
        Standing standing;
        bool awaiting;
        std::string drawn;
    } const cases[] = {
        {Standing::askable("Turn On"), false, "Open Lumra at login                                  ( off )\n"},
        {awaiting, true,
         "Open Lumra at login                                  ( on  )\n"
         "(Waiting for your approval in Login Items.)\n"},
        {Standing::good(), false, "Open Lumra at login                                  ( on  )\n"},
    };
    auto watched = standing(Standing::good());
    for (const auto& c : cases) {
        LoginItem item{c.standing, c.awaiting, {}, 0, 0};
        Surfaces surfaces;
        auto shown = show(
            PermissionGrant::LaunchAtLogin("Open Lumra at login", item.controls(), surfaces.context()), [] {},
            grant(watched, "open at login"));
        shown->appeared();
        EXPECT_EQ(render(shown->draw(), Ink::Look::ascii(), 60), c.drawn);
        EXPECT_EQ(surfaces.told, std::vector<std::string>{"a surface appeared"});
    }

    // Switched on it asks, and stays disabled (no target) until the ask
    // completes; the completion redraws.
    LoginItem item;
    int invalidated = 0;
    auto shown = show(
        PermissionGrant::LaunchAtLogin("Open Lumra at login", item.controls(), Surfaces{}.context()),
        [&] { ++invalidated; }, grant(watched, "open at login"));
    shown->appeared();
    target(shown->draw(), "login:switch").onPress();
    ASSERT_EQ(item.asks.size(), 1u);
    EXPECT_EQ(keys(shown->draw()), std::vector<std::string>{});
    item.standing = awaiting;
    item.awaiting = true;
    int before = invalidated;
    item.asks.front()(false);
    EXPECT_EQ(invalidated, before + 1);
    EXPECT_EQ(keys(shown->draw()), (std::vector<std::string>{"login:switch", "login:approval"}));
    target(shown->draw(), "login:approval").onPress();
    EXPECT_EQ(item.acted, 1);
    target(shown->draw(), "login:switch").onPress();
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
    Ink::Frame frame = Ink::layout(shown->draw(), {60, 20}, Ink::Look::plain());
    for (const auto& line : frame.lines)
        for (char c : line) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7f) << line;
    EXPECT_EQ(render(shown->draw(), Ink::Look::ascii(), 60),
              "C  Lumra\\x1B[2J\n"
              "\n"
              "Required\n"
              "! Evil\\x1B]52;c;aGk=\\x07\\nrm -rf ~         ( Fix\\x1B[31m ^ )\n"
              "  Off\\r\\nreally\\x07\n"
              "\n"
              "------------------------------------------------------------\n"
              "                                                ( Later <- )\n");
}

} // namespace

namespace {

// A sheet on the main loop: an askable row keeps its look when the grant
// turns broken, shows broken once the application comes forward, and any
// other change at once; each redraws. Only appearing tells the hub.
TEST(GrantScreensLive, ARowFollowsItsGrantWhileShown) {
    auto camera = standing(askable);
    int invalidated = 0;
    Surfaces surfaces;
    auto shown =
        show(PermissionGrant::Sheet(
                 "Lumra", std::nullopt, {grant(camera, "Camera", true)}, std::nullopt, [] {}, surfaces.context()),
             [&] { ++invalidated; });
    onLoop([&] { shown->appeared(); });
    EXPECT_EQ(surfaces.told, std::vector<std::string>{"a surface appeared"});
    const std::string asking = render(shown->draw());
    EXPECT_EQ(asking, "C  Lumra\n"
                      "\n"
                      "Required\n"
                      "! Camera                     ( Allow ^ )\n"
                      "  Asks once.\n"
                      "\n"
                      "----------------------------------------\n"
                      "                            ( Later <- )\n");

    int before = invalidated;
    onLoop([&] { camera->set(broken); });
    EXPECT_EQ(invalidated, before + 1);
    EXPECT_EQ(render(shown->draw()), asking);

    Platform::AppEvents::current().post(Platform::didBecomeActive);
    EXPECT_TRUE(runLoopUntil([&] { return render(shown->draw()) != asking; }));
    EXPECT_EQ(render(shown->draw()), "C  Lumra\n"
                                     "\n"
                                     "Required\n"
                                     "! Camera             ( Open Settings ^ )\n"
                                     "  Turned off in\n"
                                     "  Settings.\n"
                                     "\n"
                                     "----------------------------------------\n"
                                     "                            ( Later <- )\n");

    onLoop([&] { camera->set(Standing::good()); });
    EXPECT_EQ(render(shown->draw()), "C  Lumra\n"
                                     "\n"
                                     "Required\n"
                                     "! Camera                       v allowed\n"
                                     "  Why it is needed.\n"
                                     "\n"
                                     "----------------------------------------\n"
                                     "                             ( Done <- )\n");
    // Back to askable, then broken again: kept askable until the terminal
    // gets focus.
    onLoop([&] { camera->set(askable); });
    onLoop([&] { camera->set(broken); });
    EXPECT_EQ(render(shown->draw()), asking);
    shown->becameActive();
    EXPECT_NE(render(shown->draw()), asking);
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
    EXPECT_EQ(render(shown->draw()), "                  o *\n"
                                     "\n"
                                     "!\n"
                                     "\n"
                                     "Microphone\n"
                                     "\n"
                                     "Turned off in Settings.\n"
                                     "\n"
                                     "(           Open Settings ^            )\n"
                                     "\n"
                                     "----------------------------------------\n"
                                     "                                  Done\n");
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

    Ink::Target stale = target(shown->draw(), "row:0");
    shown.reset();
    onLoop(stale.onPress);
    EXPECT_EQ(camera->acted, 0);
    EXPECT_EQ(invalidated, 1);
}

} // namespace
