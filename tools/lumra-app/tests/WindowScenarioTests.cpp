// The grant screens and the app's window in a real terminal, end to end: a
// private tmux server runs grantlab's views and lumra-app on a fresh
// simulated Mac, keys are typed as a person types them, the screen is read
// back, and after quitting the terminal must be as it was before.

#include <TestSupport/LabMachine.hpp>
#include <TestSupport/Tmux.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;
using TestSupport::Tmux;

const std::string grantlabID = "app.lumra.grantlab";

// The command run by a shell that, once it has ended, shows its status and
// whether the terminal reads lines and echoes again, then waits for Enter
// (a terminal left non-blocking fails that read: status 125), so the
// terminal can still be looked at after the program is gone.
std::vector<std::string> thenShowTerminal(std::vector<std::string> command) {
    command.insert(command.begin(), {"sh", "-c",
                                     "\"$@\"; s=$?; printf '\\nexited %s, terminal:%s\\n' \"$s\" "
                                     "\"$(stty -a | tr ' ;' '\\n\\n' | grep -x -e '-*icanon' -e '-*echo' | "
                                     "sed 's/^/ /' | tr -d '\\n')\"; read -r line || exit 125; exit $s",
                                     "sh"});
    return command;
}

// The lab machine, with terminals of its own. A terminal is declared after
// it, so it closes first.
struct Machine : TestSupport::LabMachine {
    Machine() : LabMachine(LUMRA_SIM_EXE, GRANTLAB_APP) {}

    Tmux::Options terminal(int columns = 80, int lines = 30) const {
        return {.columns = columns, .lines = lines, .environment = environment()};
    }
    // grantlab's views on a terminal of their own.
    std::unique_ptr<Tmux> grantlab(const std::vector<std::string>& arguments, int columns = 80) const {
        std::vector<std::string> command{(lab / "Contents/MacOS/grantlab").string()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return std::make_unique<Tmux>(thenShowTerminal(command), terminal(columns, 30));
    }
};

// Waits for `text` on the screen; the screen is shown when it never comes.
#define EXPECT_SHOWS(tmux, text) EXPECT_TRUE((tmux).waitFor(text)) << "waiting for: " << (text) << "\n" << (tmux).capture()

// Whether `label` is drawn focused: between square brackets, with the
// padding a filled button puts around it.
bool focused(const std::string& screen, const std::string& label) {
    return std::regex_search(screen, std::regex("\\[ *" + std::regex_replace(label, std::regex("[()*+.?]"), "\\$&") + " *\\]"));
}

// Moves the focus with Tab until `label` has it: where it starts depends on
// what was focused before a page changed under it.
void focusOn(const Tmux& tmux, const std::string& label) {
    auto has = [&](const std::string& screen) { return focused(screen, label); };
    for (int tabs = 0; tabs < 6 && !tmux.waitFor(has, 300ms); ++tabs) tmux.sendKeys({"Tab"});
    EXPECT_TRUE(tmux.waitFor(has, 300ms)) << label << "\n" << tmux.capture();
}

// Presses `keys` (q, to quit) and waits for the program to end with 0,
// leaving the terminal as it found it: cooked and echoing, the main screen
// back with the cursor shown, and after it what the program printed.
void endsCleanly(const Tmux& tmux, const std::vector<std::string>& keys = {"q"}, const std::string& printed = "") {
    tmux.sendKeys(keys);
    EXPECT_SHOWS(tmux, printed + "\nexited 0, terminal: icanon echo\n");
    EXPECT_EQ(tmux.query("#{alternate_on} #{cursor_flag}"), "0 1");
    tmux.sendKeys({"Enter"});
    EXPECT_EQ(tmux.exitStatus(), 0);
}

// The terminal itself: bytes reach the program untouched, the screen and
// the exit status come back even from a program that ends at once, and a
// signal reads as no status.
TEST(Terminal, CarriesBytesScreenAndExitStatus) {
    struct Case {
        std::string script;
        std::string bytes;
        std::string screen;
        int status;
    } const cases[] = {
        {"stty raw -echo; echo ready; head -c 4 | od -An -c; stty sane; exit 7", "\x1b[I\t", "033   [   I  \\t", 7},
        {"printf 'é ✓'; exit 0", "", "é ✓", 0},
        {"sleep 0.2; kill -TERM $$", "", "", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        Tmux tmux({"sh", "-c", c.script}, {.columns = 40, .lines = 5, .environment = {}});
        if (!c.bytes.empty()) {
            ASSERT_TRUE(tmux.waitFor("ready"));
            tmux.sendBytes(c.bytes);
        }
        EXPECT_EQ(tmux.exitStatus(), c.status) << tmux.capture({.escapes = false, .history = true});
        EXPECT_THAT(tmux.capture({.history = true}), HasSubstr(c.screen));
    }
}


// With --lower the pieces' own labels are lower case, section titles and
// action titles alike, while the grants' titles, notes and whys keep their
// capitals; a required grant still askable makes the button "later".
TEST(GrantViews, SheetInLowerCase) {
    Machine machine;
    auto tmux = machine.grantlab({"sheet", "--lower", "required:camera", "notifications", "custom:Lab Grant"});
    EXPECT_SHOWS(*tmux, "later");
    std::string screen = tmux->capture();
    for (const char* shown : {"GrantLab\n   What GrantLab may use on this machine.", "required", "optional", "Camera",
                              "Lab Grant", "allow", "GrantLab works without these."})
        EXPECT_THAT(screen, HasSubstr(shown)) << screen;
    for (const char* hidden : {"Required", "Optional", "Later", "Allow", "[grant]"})
        EXPECT_THAT(screen, Not(HasSubstr(hidden))) << screen;
    endsCleanly(*tmux);
    EXPECT_THAT(TestSupport::contents(machine.home / "Library/Logs/GrantLab.log"),
                HasSubstr("watching for permission changes"));
}

// A grant whose title carries escape sequences and line breaks is drawn
// with them made visible, on its own line, and the rest of the screen
// stays as it should: nothing cleared, retitled or moved.
TEST(GrantViews, HostileTitleShownEscaped) {
    Machine machine;
    auto tmux = machine.grantlab({"sheet", "custom:Evil\x1b[2J\x1b]0;owned\x07\r\nTail", "camera"});
    EXPECT_SHOWS(*tmux, "Done");
    std::string screen = tmux->capture();
    EXPECT_THAT(screen, HasSubstr("Evil\\x1B[2J\\x1B]0;owned\\x07\\r\\nTail")) << screen;
    for (const char* shown : {"Optional", "Camera", "GrantLab"}) EXPECT_THAT(screen, HasSubstr(shown)) << screen;
    EXPECT_THAT(tmux->capture({.escapes = true, .history = false}), Not(HasSubstr("owned\x07")));
    EXPECT_THAT(tmux->query("#{pane_title}"), Not(HasSubstr("owned")));
    endsCleanly(*tmux);
}

// An onboarding moves on by itself when the person allows after a while:
// no key is pressed between asking and the next page. The required page
// keeps its Continue disabled until then; the last page's Skip ends it.
TEST(GrantViews, StepsAdvanceWhenThePersonAllows) {
    Machine machine;
    machine.rules(R"([{"kind":"notifications","answer":"allow","after":10}])");
    auto tmux = machine.grantlab({"steps", "--welcome", "required:notifications", "camera"});
    EXPECT_SHOWS(*tmux, "Welcome to GrantLab");
    EXPECT_SHOWS(*tmux, "● ○ ○");
    EXPECT_SHOWS(*tmux, "( Continue ⏎ )");
    tmux->sendKeys({"Enter"});
    EXPECT_SHOWS(*tmux, "○ ● ○");
    std::string page = tmux->capture();
    EXPECT_THAT(page, HasSubstr("Notifications\n\nGrantLab posts under its own identifier.")) << page;
    EXPECT_THAT(page, Not(HasSubstr("( Continue"))) << page; // disabled: no edges
    focusOn(*tmux, "Allow… ↗");
    tmux->sendKeys({"Enter"});
    EXPECT_TRUE(TestSupport::eventually(
        [&] { return TestSupport::contents(machine.root / "person/log.jsonl").find("\"kind\":\"notifications\"") != std::string::npos; }));
    EXPECT_SHOWS(*tmux, "○ ○ ●");
    page = tmux->capture();
    EXPECT_THAT(page, HasSubstr("Camera\n\nGrantLab reads, asks and watches it end to end.")) << page;
    EXPECT_THAT(page, HasSubstr("Skip )")) << page;
    focusOn(*tmux, "Skip");
    endsCleanly(*tmux, {"Enter"}, "done\n");
}

// A row that asked keeps showing "Allow…" when the person denies, until the
// app comes forward again (the terminal gains focus): then it shows what
// to do now.
TEST(GrantViews, RowKeepsAskableUntilFocusIn) {
    Machine machine;
    machine.rules(R"([{"kind":"privacy","subject":"kTCCServiceCamera","answer":"deny","after":5}])");
    auto tmux = machine.grantlab({"sheet", "camera"});
    EXPECT_SHOWS(*tmux, "( Allow… ↗ )");
    focusOn(*tmux, "Allow… ↗");
    tmux->sendKeys({"Enter"});
    EXPECT_TRUE(TestSupport::eventually(
        [&] { return TestSupport::contents(machine.root / "person/log.jsonl").find("\"answer\":\"deny\"") != std::string::npos; }));
    std::this_thread::sleep_for(1s); // the app hears the answer
    std::string kept = tmux->capture();
    EXPECT_TRUE(focused(kept, "Allow… ↗")) << kept;
    EXPECT_THAT(kept, Not(HasSubstr("Open Settings"))) << kept;

    tmux->sendBytes("\x1b[I");
    EXPECT_SHOWS(*tmux, "Open Settings… ↗");
    EXPECT_SHOWS(*tmux, "Off in Privacy & Security › Camera.");
    endsCleanly(*tmux);
}

// The launch-at-login switch through the person's approval: switched on it
// waits for the OK, disabled, with a link to Login Items under it; approved
// from outside it is on and can be switched off again.
TEST(GrantViews, LoginSwitchThroughApproval) {
    Machine machine;
    TestSupport::writeFile(machine.root / "background/policy.json", R"({"loginItem":"ask"})");
    const std::string note = "Waiting for your OK. In Login Items, under Background App Activity, turn on GrantLab "
                             "(it may be listed as “Lumra Project”).";
    auto tmux = machine.grantlab({"login-switch"}, 140);
    EXPECT_SHOWS(*tmux, "Open GrantLab at login");
    EXPECT_SHOWS(*tmux, "( off )");
    tmux->sendKeys({"Tab", "Space"});
    EXPECT_SHOWS(*tmux, note);
    std::string waiting = tmux->capture();
    EXPECT_THAT(waiting, testing::ContainsRegex("Open GrantLab at login +on\n")) << waiting; // on, disabled
    EXPECT_EQ(machine.sim({"background", "list"}).out,
              "gui/501\tapp.lumra.grantlab\tlogin item\t2 requires approval\t/Applications/GrantLab.app\n");
    const std::string loginItems = "x-apple.systempreferences:com.apple.LoginItems-Settings.extension";
    focusOn(*tmux, note);
    tmux->sendKeys({"Enter"});
    EXPECT_TRUE(TestSupport::eventually([&] { return TestSupport::lines(machine.root / "opened-urls.log").size() == 2; }));
    EXPECT_THAT(TestSupport::lines(machine.root / "opened-urls.log"), testing::Each(loginItems));

    machine.ok({"background", "approve", grantlabID, "login-item"});
    EXPECT_TRUE(tmux->waitFor([](const std::string& screen) { return focused(screen, "on ") || screen.find("( on  )") != std::string::npos; }));
    EXPECT_THAT(tmux->capture(), Not(HasSubstr("Waiting for your OK")));
    focusOn(*tmux, "on ");
    tmux->sendKeys({"Space"});
    EXPECT_TRUE(tmux->waitFor([](const std::string& screen) { return focused(screen, "off"); }));
    EXPECT_EQ(machine.sim({"background", "list"}).out, "no registrations\n");
    endsCleanly(*tmux);
}

// The app opened in a terminal on a fresh Mac walks the person through its
// grants: a welcome, the background service turned on (lumrad then runs),
// the command for the lid grant, notifications allowed after the prompt,
// open at login skipped. Then, and at every later opening, it shows the
// service's status over its grants, while its log lines go to app.log.
TEST(AppWindow, FirstRunWalksThroughTheGrants) {
    Machine machine;
    fs::path app = machine.root / "Applications/Lumra.app";
    TestSupport::copyBundle(LUMRA_APP, app);
    machine.rules(R"([{"kind":"notifications","subject":"app.lumra.service.notifier","answer":"allow","after":5}])");
    auto open = [&] {
        return std::make_unique<Tmux>(thenShowTerminal({(app / "Contents/MacOS/lumra-app").string()}),
                                      machine.terminal(80, 60));
    };
    auto tmux = open();
    EXPECT_SHOWS(*tmux, "● ○ ○ ○ ○");
    EXPECT_SHOWS(*tmux, "Welcome to Lumra");
    EXPECT_SHOWS(*tmux, "The next pages turn on what it needs.");
    tmux->sendKeys({"Enter"});
    EXPECT_SHOWS(*tmux, "Background service\n\nRuns lumrad, which holds your claims, from login on and again whenever it ends.");
    focusOn(*tmux, "Turn On ↗");
    tmux->sendKeys({"Enter"});
    EXPECT_SHOWS(*tmux, "○ ○ ● ○ ○");
    EXPECT_SHOWS(*tmux, "Sleep with the lid closed");
    EXPECT_EQ(machine.sim({"background", "list"}).out,
              "gui/501\tapp.lumra.service\tagent app.lumra.service.lumrad.plist\t1 enabled\t/Applications/Lumra.app\n");
    focusOn(*tmux, "Show Command ↗");
    tmux->sendKeys({"Enter"});
    EXPECT_SHOWS(*tmux, "$ sudo lumra grant");
    focusOn(*tmux, "Skip");
    tmux->sendKeys({"Enter"});
    EXPECT_SHOWS(*tmux, "○ ○ ○ ● ○");
    EXPECT_SHOWS(*tmux, "Notifications");
    focusOn(*tmux, "Allow… ↗");
    tmux->sendKeys({"Enter"});
    EXPECT_SHOWS(*tmux, "○ ○ ○ ○ ●");
    EXPECT_SHOWS(*tmux, "open at login");
    focusOn(*tmux, "Skip");
    tmux->sendKeys({"Enter"});

    // The window proper: the status as `lumra status` gives it, then the
    // sheet with both grants allowed, the lid's command and the switch.
    const std::vector<std::string> window{
        "Service", "holding         nothing", "No claims.", "Lumra\n   Keeps this Mac awake for as long as you need it.", "Required", "Background service", "Optional",
        "Sleep with the lid closed", "Show Command ↗", "Lumra works without these; each one adds something.",
        "( Done ⏎ )", "Open at login"};
    auto showsWindow = [&](const Tmux& shown) {
        EXPECT_TRUE(shown.waitFor([&](const std::string& screen) {
            return std::all_of(window.begin(), window.end(),
                               [&](const std::string& part) { return screen.find(part) != std::string::npos; });
        })) << shown.capture();
        std::string screen = shown.capture();
        EXPECT_THAT(screen, testing::ContainsRegex("Background service +✓ allowed")) << screen;
        EXPECT_THAT(screen, testing::ContainsRegex("Notifications +✓ allowed")) << screen;
        EXPECT_THAT(screen, testing::ContainsRegex("Open at login +\\( off \\)")) << screen;
        EXPECT_THAT(screen, Not(HasSubstr("\"msg\""))) << screen;
        EXPECT_THAT(screen, Not(HasSubstr("[install]"))) << screen;
    };
    showsWindow(*tmux);
    endsCleanly(*tmux);
    std::string log = TestSupport::contents(machine.home / "Library/Logs/lumra/app.log");
    EXPECT_THAT(log, HasSubstr("app started"));
    EXPECT_THAT(log, HasSubstr("app quit"));

    tmux = open();
    showsWindow(*tmux);
    EXPECT_THAT(tmux->capture(), Not(HasSubstr("Continue")));
    endsCleanly(*tmux);
}

} // namespace
