// The app's window off the terminal: an AppWindow drawn by Ink's headless
// Window on fake grants, driven by keys as the person would.

#include "AppWindow.hpp"
#include "WindowSession.hpp"

#include <Ink/Window.hpp>
#include <PermissionGrants/Views/LaunchAtLogin.hpp>
#include <Platform/Dispatch.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

using LumraApp::AppWindow;
using LumraApp::LidGrant;
using LumraApp::ServiceStatus;
using PermissionGrants::PermissionGrant;
using PermissionGrants::Standing;

const std::string aliceRule =
    "alice ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n";

// A grant whose standing the test sets.
PermissionGrant fakeGrant(const std::string& title, bool required, const std::shared_ptr<Standing>& standing) {
    return PermissionGrant(title, title + " matters.", "bell", required, [standing] { return *standing; }, [] {});
}

// Runs what was posted to the main loop (asks, observers' news, the switch
// out of the onboarding), on this thread.
void drainMainLoop() {
    auto& loop = Platform::mainLoop();
    loop.async([&loop] { loop.stop(); });
    loop.run();
}

class AppWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The pieces hear the simulated machine's activations: a machine and
        // a home of this process's own, made once.
        static TestSupport::TempDir machine;
        ::setenv("HOME", machine.path().c_str(), 1);
        ::setenv("LUMRA_SIM_ROOT", (machine / "machine").c_str(), 1);
    }

    std::unique_ptr<AppWindow> open(bool onboarded) {
        auto app = std::make_unique<AppWindow>(
            AppWindow::Parts{
                .backgroundService = fakeGrant("Background service", true, background),
                .lid = lid,
                .notifications = fakeGrant("Notifications", false, notifications),
                .openAtLogin = loginGrant,
                .loginControls = {.standing = [this] { return *login; },
                                  .awaitingApproval = [] { return false; },
                                  .ask = [](std::function<void(bool)> done) { done(false); },
                                  .unregister = [] {},
                                  .act = [] {}},
                .status = status,
                .onboarded = onboarded,
                .rememberOnboarded = [this] { ++remembered; },
                .context = {.letterCase = {}, .watchSettings = [](std::string_view) {}},
            },
            Platform::mainLoop(), [this] { window.invalidate(); });
        shown = app.get();
        app->appeared();
        return app;
    }

    // The screen as the person sees it now, one line each, right ends trimmed.
    std::vector<std::string> screen() {
        window.redraw();
        std::vector<std::string> lines;
        for (std::string line : window.frame().lines) {
            line.erase(line.find_last_not_of(' ') + 1);
            if (!line.empty()) lines.push_back(line);
        }
        return lines;
    }
    bool shows(const std::string& text) {
        auto lines = screen();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
    void focus(const std::string& key) {
        for (int tries = 0; tries < 20 && window.focused() != key; ++tries) window.key(Ink::Key::tab);
        ASSERT_EQ(window.focused(), key);
    }
    void press(const std::string& key) {
        focus(key);
        window.key(Ink::Key::enter);
        drainMainLoop();
    }

    TestSupport::TempDir dir;
    std::shared_ptr<Standing> background = std::make_shared<Standing>(Standing::askable("Turn On"));
    std::shared_ptr<Standing> notifications = std::make_shared<Standing>(Standing::askable("Allow"));
    std::shared_ptr<Standing> login = std::make_shared<Standing>(Standing::askable("Turn On"));
    PermissionGrant loginGrant = fakeGrant("open at login", false, login);
    LidGrant lid{dir / "sudoers.d/lumra", "alice"};
    std::shared_ptr<ServiceStatus> status = std::make_shared<ServiceStatus>([this] { return answer; });
    std::string answer = "State:     idle\n\nNo claims.\n";
    int remembered = 0;
    AppWindow* shown = nullptr;
    int quits = 0;
    Ink::Window window{[this] { return shown->render(); }, Ink::Look::plain(), {.quit = [this] { ++quits; }, .becameActive = {}}};
};

TEST_F(AppWindowTest, TheFirstRunWalksThroughTheOnboardingThenRemembersIt) {
    window.resize({100, 40});
    auto app = open(false);
    EXPECT_TRUE(app->onboarding());
    EXPECT_TRUE(shows("Welcome to Lumra"));
    EXPECT_TRUE(shows("Lumra keeps this Mac awake for as long as you need it"));
    window.key(Ink::Key::enter); // Continue, the default
    EXPECT_TRUE(shows("Background service"));
    // Required and not yet on: Return does not leave the page.
    window.key(Ink::Key::enter);
    drainMainLoop();
    EXPECT_TRUE(shows("Background service"));
    *background = Standing::good(); // the person approved it, elsewhere
    app->becameActive();            // and came back to the terminal
    EXPECT_TRUE(shows("Sleep with the lid closed"));
    EXPECT_TRUE(shows("Show Command"));
    EXPECT_FALSE(shows("$ sudo lumra grant"));
    press("steps:action");
    EXPECT_TRUE(shows("$ sudo lumra grant"));
    EXPECT_TRUE(shows("Run this in a terminal, as an admin (sudo asks for your password):"));
    // Someone runs the command in another terminal: the next poll sees it,
    // the page moves on by itself and the command goes.
    TestSupport::writeFile(dir / "sudoers.d/lumra", aliceRule);
    EXPECT_TRUE(LumraApp::WindowSession::poll(*status, lid));
    drainMainLoop();
    EXPECT_TRUE(shows("Notifications"));
    EXPECT_FALSE(shows("$ sudo lumra grant"));
    press("steps:button"); // Skip
    EXPECT_TRUE(shows("open at login"));
    EXPECT_EQ(remembered, 0);
    press("steps:button"); // Skip, on the last page: done
    EXPECT_EQ(remembered, 1);
    EXPECT_FALSE(app->onboarding());
    EXPECT_TRUE(shows("State:     idle"));
    EXPECT_TRUE(shows("Open at login"));
    EXPECT_FALSE(shows("Welcome to Lumra"));
}

TEST_F(AppWindowTest, ALaterStartOpensOnTheStatusOverTheGrantsAndTheSwitch) {
    window.resize({100, 50});
    auto app = open(true);
    EXPECT_FALSE(app->onboarding());
    EXPECT_TRUE(shows("Asking lumrad…")); // before the first poll
    answer = "Holding:   idle, lid\n"
             "\n"
             "ID        OWNER  MODES      TERM\n"
             "1F0A2B3C  you    lid, idle  until ended\n";
    ASSERT_TRUE(status->refresh());
    window.invalidate();
    auto lines = screen();
    std::string seen;
    for (const auto& line : lines) seen += line + "\n";
    for (const char* expected : {"Service", "Holding:   idle, lid", "ID        OWNER  MODES      TERM",
                                 "1F0A2B3C  you    lid, idle  until ended", "Required", "Background service",
                                 "Optional", "Sleep with the lid closed", "Notifications",
                                 "Lumra works without these; each one adds something.", "Open at login", "Later"})
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& line) { return line.find(expected) != std::string::npos; }))
            << expected << " in\n"
            << seen;
    // The sheet's button closes nothing: it confirms the onboarding, and
    // the window stays as it was.
    window.key(Ink::Key::enter);
    drainMainLoop();
    EXPECT_EQ(remembered, 1);
    EXPECT_EQ(screen(), lines);
    // The lid grant's action shows the command here too.
    press("row:1");
    EXPECT_TRUE(shows("$ sudo lumra grant"));
}

TEST_F(AppWindowTest, TheStatusRedrawsOnlyWhenItsTextOrTheLidGrantChanged) {
    window.resize({80, 40});
    auto app = open(true);
    struct Step {
        std::string answer;
        bool installGrant;
        bool redraw;
        std::string shown;
    };
    for (const auto& [text, installGrant, redraw, shown] : std::vector<Step>{
             {"State:     idle\n", false, true, "State:     idle"},
             {"State:     idle\n", false, false, "State:     idle"},
             {"lumra: the service is not running (start lumrad)\n", false, true,
              "lumra: the service is not running (start lumrad)"},
             {"lumra: the service is not running (start lumrad)\n", true, true,
              "lumra: the service is not running (start lumrad)"},
             {"lumra: the service is not running (start lumrad)\n", false, false,
              "lumra: the service is not running (start lumrad)"},
         }) {
        answer = text;
        if (installGrant) TestSupport::writeFile(dir / "sudoers.d/lumra", aliceRule);
        EXPECT_EQ(LumraApp::WindowSession::poll(*status, lid), redraw) << text;
        if (redraw) window.invalidate();
        drainMainLoop();
        EXPECT_TRUE(shows(shown)) << text;
    }
    // Nothing changed: nothing is laid out again, no byte goes out.
    EXPECT_EQ(window.redraw(), "");
}

TEST_F(AppWindowTest, QAndEscAndCtrlCQuit) {
    window.resize({80, 40});
    auto app = open(true);
    for (Ink::Key key : {Ink::Key::quit, Ink::Key::escape, Ink::Key::interrupt}) window.key(key);
    EXPECT_EQ(quits, 3);
}

} // namespace
