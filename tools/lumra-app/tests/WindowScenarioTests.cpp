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

} // namespace
