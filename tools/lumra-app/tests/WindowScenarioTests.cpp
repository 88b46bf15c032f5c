// The grant screens and the app's window in a real terminal, end to end: a
// private tmux server runs grantlab's views and lumra-app on a fresh
// simulated Mac, keys are typed as a person types them, the screen is read
// back, and after quitting the terminal must be as it was before.

#include <Platform/Launchd.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/AppCopies.hpp>
#include <TestSupport/ProcessGuard.hpp>
#include <TestSupport/Processes.hpp>
#include <TestSupport/SimMachine.hpp>
#include <TestSupport/Tmux.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;
using TestSupport::Tmux;

const std::string grantlabID = "app.lumra.grantlab";

// The command run by a shell that, once it has ended, shows its status and
// whether the terminal reads lines and echoes again, then waits for Enter:
// the terminal can still be looked at after the program is gone.
std::vector<std::string> thenShowTerminal(std::vector<std::string> command) {
    command.insert(command.begin(), {"sh", "-c",
                                     "\"$@\"; s=$?; printf '\\nexited %s, terminal:%s\\n' \"$s\" "
                                     "\"$(stty -a | tr ' ;' '\\n\\n' | grep -x -e '-*icanon' -e '-*echo' | "
                                     "sed 's/^/ /' | tr -d '\\n')\"; read -r line; exit $s",
                                     "sh"});
    return command;
}

// A fresh machine whose time runs 10 times faster, with GrantLab.app
// installed for everyone. Booting the jobs out is how it shuts down; any
// process of an app still running then fails the test. A terminal is
// declared after it, so it closes first.
struct Machine : TestSupport::SimMachine {
    Machine() : SimMachine(LUMRA_SIM_EXE) {
        Platform::SimulatedHost::initialize(root);
        TestSupport::writeFile(root / "clock.json", R"({"rate": 10})");
        TestSupport::copyBundle(GRANTLAB_APP, lab);
    }
    ~Machine() {
        Platform::Launchd::stopAll(root);
        TestSupport::eventually([&] { return guard.running().empty(); });
    }

    Tmux::Options terminal(int columns = 80, int lines = 30) const {
        return {.columns = columns, .lines = lines, .environment = environment()};
    }
    // grantlab's views on a terminal of their own.
    std::unique_ptr<Tmux> grantlab(const std::vector<std::string>& arguments, int lines = 30) const {
        std::vector<std::string> command{(lab / "Contents/MacOS/grantlab").string()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return std::make_unique<Tmux>(thenShowTerminal(command), terminal(80, lines));
    }
    void ok(const std::vector<std::string>& command) const {
        auto done = sim(command);
        EXPECT_EQ(done.status, 0) << done.err;
    }
    void rules(const std::string& json) const { TestSupport::writeFile(root / "person/rules.json", json); }

    fs::path lab = root / "Applications/GrantLab.app";
    TestSupport::ProcessGuard guard{{root, home.path()}};
};

// Waits for `text` on the screen; the screen is shown when it never comes.
#define EXPECT_SHOWS(tmux, text) EXPECT_TRUE((tmux).waitFor(text)) << "waiting for: " << (text) << "\n" << (tmux).capture()

// Quits with q: the program ends with 0 and leaves the terminal as it found
// it: cooked and echoing, the main screen back with the cursor shown, and
// whatever the program printed after it left the window.
void quitsCleanly(const Tmux& tmux, const std::string& printed = "") {
    tmux.sendKeys({"q"});
    EXPECT_SHOWS(tmux, printed + "\nexited 0, terminal: icanon echo\n");
    EXPECT_EQ(tmux.query("#{alternate_on} #{cursor_flag}"), "0 1");
    tmux.sendKeys({"Enter"});
    EXPECT_EQ(tmux.exitStatus(), 0);
}

// With --lower the pieces' own labels are lower case, section titles and
// action titles alike, while the grants' titles, notes and whys keep their
// capitals; a required grant still askable makes the button "later".
TEST(GrantViews, SheetInLowerCase) {
    Machine machine;
    auto tmux = machine.grantlab({"sheet", "--lower", "required:camera", "notifications", "custom:Lab Grant"});
    EXPECT_SHOWS(*tmux, "later");
    std::string screen = tmux->capture();
    for (const char* shown : {"required", "optional", "Camera", "Lab Grant", "allow", "GrantLab works without these."})
        EXPECT_THAT(screen, HasSubstr(shown)) << screen;
    for (const char* hidden : {"Required", "Optional", "Later", "Allow"}) EXPECT_THAT(screen, Not(HasSubstr(hidden))) << screen;
    quitsCleanly(*tmux);
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
    quitsCleanly(*tmux);
}

} // namespace
