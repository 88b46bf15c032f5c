// The real lumra: help, usage errors, a service that is not there, a
// command held around, and the grant through sudo on a simulated machine of
// its own.

#include "Grant.hpp"
#include "Usage.hpp"

#include <LumraKit/Wire.hpp>
#include <Platform/Accounts.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/AsRoot.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

class Lumra : public testing::Test {
protected:
    TestSupport::Finished lumra(const std::vector<std::string>& arguments,
                                std::map<std::string, std::string> environment = {}) {
        environment.emplace("HOME", home.path().string());
        environment.emplace("LUMRA_SIM_ROOT", root.path().string());
        environment.emplace("NO_COLOR", "1");
        environment.emplace("FORCE_COLOR", "");
        return TestSupport::runProcess(LUMRA_EXE, arguments, environment);
    }

    TestSupport::TempDir home;
    TestSupport::TempDir root;
};

TEST_F(Lumra, HelpAndVersionExitZero) {
    const std::pair<std::vector<std::string>, std::string_view> rows[] = {
        {{"--help"}, Client::Usage::main},   {{"help"}, Client::Usage::main},
        {{"hold", "-h"}, Client::Usage::hold}, {{"help", "end"}, Client::Usage::end},
        {{"--version"}, Client::Usage::version},
    };
    for (const auto& [arguments, text] : rows) {
        auto shown = lumra(arguments);
        EXPECT_EQ(shown.status, 0) << arguments[0];
        EXPECT_EQ(shown.out, text);
        EXPECT_EQ(shown.err, "");
    }
}

TEST_F(Lumra, AUsageErrorIsOneLineAndAHintAndExitsTwo) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"floor", "lots"}, "lumra: \"lots\" is not a whole number\nTry 'lumra floor --help'.\n"},
        {{"floor", "60"}, "lumra: the floor is a percentage from 0 to 50, not 60\nTry 'lumra floor --help'.\n"},
        {{}, "lumra: no command given\nTry 'lumra --help'.\n"},
        {{"hold", "--until", "2300-01-01T00:00"},
         "lumra: --until: \"2300-01-01T00:00\": out of range (dates from 1678-01-01 to 2261-12-31)\nTry 'lumra hold --help'.\n"},
    };
    for (const auto& [arguments, text] : rows) {
        auto bad = lumra(arguments);
        EXPECT_EQ(bad.status, 2);
        EXPECT_EQ(bad.out, "");
        EXPECT_EQ(bad.err, text);
    }
}

TEST_F(Lumra, NobodyListeningExitsThree) {
    // A fresh home has no socket.
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"status", "--json"}, {"hold", "--for", "1h"}}) {
        auto silent = lumra(arguments);
        EXPECT_EQ(silent.status, 3) << arguments[0];
        EXPECT_EQ(silent.err, "lumra: the service is not running (start lumrad)\n");
        EXPECT_EQ(silent.out, "");
    }
}

// Answers `count` clients on the socket the release bundle's programs
// share, the way the service would, with `reply`.
class OneReply {
public:
    OneReply(const std::filesystem::path& home, LumraKit::Reply reply, int count = 1)
        : listener_(listenIn(home / ".local/state/lumra")), thread_([this, reply, count] {
              for (int served = 0; served < count; ++served) {
                  // Never wait for a client that does not come.
                  pollfd waiting{listener_, POLLIN, 0};
                  if (::poll(&waiting, 1, 10000) != 1) return;
                  LumraKit::Wire::acceptAndServe(listener_, [&](const LumraKit::Command& command) {
                      received_ = command;
                      all_.push_back(command);
                      return reply;
                  });
              }
          }) {}
    ~OneReply() {
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    // The command the client sent last; waits for the exchanges to end.
    const std::optional<LumraKit::Command>& received() {
        if (thread_.joinable()) thread_.join();
        return received_;
    }
    const std::vector<LumraKit::Command>& all() {
        if (thread_.joinable()) thread_.join();
        return all_;
    }

private:
    static int listenIn(const std::filesystem::path& stateDir) {
        std::filesystem::create_directories(stateDir);
        return LumraKit::Wire::listen(stateDir / "lumra.sock");
    }

    int listener_;
    std::optional<LumraKit::Command> received_;
    std::vector<LumraKit::Command> all_;
    std::thread thread_;
};

TEST_F(Lumra, TalksToTheServiceOnItsSocket) {
    LumraKit::Reply refusal;
    refusal.error = "The sudoers grant is missing. Run: lumra grant";
    {
        OneReply service(home.path(), refusal);
        auto refused = lumra({"hold", "--lid", "--for", "1h", "--owner", "backup"});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "lumra: the sudoers grant is missing. Run: lumra grant\n");
        EXPECT_EQ(refused.out, "");
        ASSERT_TRUE(service.received().has_value());
        EXPECT_EQ(service.received()->kind(), LumraKit::Command::Kind::engage);
        EXPECT_EQ(service.received()->claim().owner, "backup");
    }
    LumraKit::Reply answer;
    answer.ok = true;
    answer.status.floor = 20;
    {
        OneReply service(home.path(), answer);
        auto set = lumra({"floor", "20"});
        EXPECT_EQ(set.status, 0) << set.err;
        EXPECT_EQ(set.out, "Battery floor: 20%.\n");
        EXPECT_EQ(service.received(), LumraKit::Command::setFloor(20));
    }
}

// lumra holds while the command runs, bound to its own pid, ends the claim
// after and exits with the command's status; an interrupt is the command's
// to take, a termination is passed on to it.
TEST_F(Lumra, HoldAroundACommand) {
    LumraKit::Reply answer;
    answer.ok = true;
    {
        OneReply service(home.path(), answer, 2);
        auto ran = lumra({"hold", "--idle", "--", "/bin/sh", "-c", "echo running; exit 3"});
        EXPECT_EQ(ran.status, 3) << ran.err;
        EXPECT_EQ(ran.out, "running\n");
        ASSERT_EQ(service.all().size(), 2u);
        auto term = service.all()[0].claim().term.ifWhilePid();
        ASSERT_NE(term, nullptr);
        EXPECT_EQ(service.all()[1], LumraKit::Command::end(std::to_string(term->pid)));
    }
    {
        OneReply service(home.path(), answer, 2);
        auto signalled = lumra({"hold", "--idle", "--", "/bin/sh", "-c",
                                "kill -INT $PPID; kill -TERM $PPID; exec sleep 5"});
        EXPECT_EQ(signalled.status, 128 + SIGTERM) << signalled.err;
        EXPECT_EQ(service.all().size(), 2u);
    }
    auto missing = lumra({"hold", "--idle", "--", "/no/such/program"});
    EXPECT_EQ(missing.status, 3); // no service to hold with: nothing runs
}

// The grant is root's to install, through sudo with the person's password;
// then the person switches the flag through sudo without one.
TEST_F(Lumra, GrantRunsThroughSudoForThePerson) {
    const std::string person = Platform::Accounts::person().name;
    auto asPerson = lumra({"grant"});
    EXPECT_EQ(asPerson.status, 1);
    EXPECT_EQ(asPerson.err, "lumra: grant needs root: run sudo lumra grant\n");
    EXPECT_FALSE(std::filesystem::exists(root / "etc/sudoers.d/lumra"));

    std::map<std::string, std::string> environment{{"HOME", home.path().string()}, {"NO_COLOR", "1"}};
    auto granted = TestSupport::runAsRoot(root.path(), {LUMRA_EXE, "grant"}, environment);
    EXPECT_EQ(granted.status, 0) << granted.err;
    EXPECT_EQ(granted.out, "Installed /etc/sudoers.d/lumra: " + person +
                               " may now switch sleep off and on (pmset -a disablesleep 0|1) without a password.\n");
    EXPECT_EQ(TestSupport::contents(root / "etc/sudoers.d/lumra"), Client::Grant::rule(person));
    auto owner = Platform::Credentials::ownerOf(root / "etc/sudoers.d/lumra", root.path());
    ASSERT_TRUE(owner.has_value());
    EXPECT_EQ(owner->uid, 0u);

    auto again = TestSupport::runAsRoot(root.path(), {LUMRA_EXE, "grant"}, environment);
    EXPECT_EQ(again.out, "Nothing to do: /etc/sudoers.d/lumra already lets " + person + " switch sleep off and on.\n");

    auto flip = TestSupport::runProcess(SUDO_EXE, {"-n", "/usr/bin/pmset", "-a", "disablesleep", "1"},
                                        {{"LUMRA_SIM_ROOT", root.path().string()}});
    EXPECT_EQ(flip.status, 0) << flip.err;
    EXPECT_TRUE(Platform::Power::sleepDisabled(root.path()));

    auto forRoot = TestSupport::runAsRoot(root.path(), {"/usr/bin/sudo", "-n", LUMRA_EXE, "grant"}, environment);
    EXPECT_EQ(forRoot.status, 1);
    EXPECT_EQ(forRoot.err, "lumra: grant is for the person who runs sudo lumra grant, not for root itself\n");
}

TEST_F(Lumra, ColourOnlyWhenAsked) {
    LumraKit::Reply answer;
    answer.ok = true;
    for (const char* force : {"", "1"}) {
        OneReply service(home.path(), answer);
        auto held = lumra({"hold", "--idle"}, {{"FORCE_COLOR", force}});
        EXPECT_EQ(held.out.find('\x1B') != std::string::npos, *force == '1') << held.out;
    }
}

// The completion the set-up puts into the build, as bash runs it.
TEST_F(Lumra, BashCompletesCommandsAndTheirWords) {
    const std::pair<std::string, std::string> rows[] = {
        {"lumra ho", "hold"},
        {"lumra keep-display o", "on off"},
        {"lumra hold --mo", "--modes"},
        {"lumra help notify", "notify-hook"},
        {"lumra --vers", "--version"},
        {"lumra status --", "--json --help"},
        {"lumra back", "background"},
        {"lumra background login-item o", "on off"},
        {"lumra background on --", "--wait"},
        {"lumra ap", "app"},
        {"lumra app m", "move"},
        {"lumra app move --", "--for-everyone --just-for-me --turn-on"},
        {"lumra app move --turn-on --", "--for-everyone --just-for-me"},
        {"lumra app move --just-for-me --", "--turn-on"},
    };
    for (const auto& [line, expected] : rows) {
        std::string script = "source \"$COMPLETION\"; COMP_WORDS=(" + line + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                             "_lumra; echo \"${COMPREPLY[*]}\"";
        auto completed = TestSupport::runProcess("/bin/bash", {"-c", script}, {{"COMPLETION", LUMRA_COMPLETION}});
        EXPECT_EQ(completed.out, expected + "\n") << line << completed.err;
    }
}

} // namespace
