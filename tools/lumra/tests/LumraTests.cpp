// The real lumra, for what needs no service: help, usage errors, a service
// that is not there, and the grant on a simulated machine of its own.

#include "Grant.hpp"
#include "Usage.hpp"

#include <LumraKit/Wire.hpp>
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
        environment.emplace("LUMRA_SIM_USER", "alice");
        environment.emplace("NO_COLOR", "1");
        environment.emplace("FORCE_COLOR", "");
        return TestSupport::runProcess(LUMRA_EXE, arguments, environment);
    }

    TestSupport::TempDir home;
    TestSupport::TempDir root;
};

TEST_F(Lumra, HelpExitsZero) {
    auto help = lumra({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, Client::Usage::main);
    EXPECT_EQ(help.err, "");

    auto holdHelp = lumra({"hold", "-h"});
    EXPECT_EQ(holdHelp.status, 0);
    EXPECT_EQ(holdHelp.out, Client::Usage::hold);
}

TEST_F(Lumra, AUsageErrorExitsTwo) {
    auto bad = lumra({"floor", "lots"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "lumra floor: \"lots\" is not a whole number\n\n" + std::string(Client::Usage::floor));

    EXPECT_EQ(lumra({}).status, 2);
}

TEST_F(Lumra, NobodyListeningExitsThree) {
    // A fresh home has no socket.
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"status", "--json"}, {"hold", "--for", "1h"}}) {
        auto silent = lumra(arguments);
        EXPECT_EQ(silent.status, 3) << arguments[0];
        EXPECT_EQ(silent.err, "lumra: the service did not answer (is lumrad running?)\n");
        EXPECT_EQ(silent.out, "");
    }
}

// Answers one client on the socket the release bundle's programs share, the
// way the service would, with `reply`.
class OneReply {
public:
    OneReply(const std::filesystem::path& home, LumraKit::Reply reply)
        : listener_(listenIn(home / ".local/state/lumra")), thread_([this, reply] {
              // Never wait for a client that does not come.
              pollfd waiting{listener_, POLLIN, 0};
              if (::poll(&waiting, 1, 10000) != 1) return;
              LumraKit::Wire::acceptAndServe(listener_, [&](const LumraKit::Command& command) {
                  received_ = command;
                  return reply;
              });
          }) {}
    ~OneReply() {
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    // The command the client sent; waits for the exchange to end.
    const std::optional<LumraKit::Command>& received() {
        if (thread_.joinable()) thread_.join();
        return received_;
    }

private:
    static int listenIn(const std::filesystem::path& stateDir) {
        std::filesystem::create_directories(stateDir);
        return LumraKit::Wire::listen(stateDir / "lumra.sock");
    }

    int listener_;
    std::optional<LumraKit::Command> received_;
    std::thread thread_;
};

TEST_F(Lumra, TalksToTheServiceOnItsSocket) {
    LumraKit::Reply refusal;
    refusal.error = "The sudoers grant is missing. Run: lumra grant";
    {
        OneReply service(home.path(), refusal);
        auto refused = lumra({"hold", "--for", "1h", "--owner", "backup"});
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, "lumra: The sudoers grant is missing. Run: lumra grant\n");
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

TEST_F(Lumra, GrantInstallsTheDropInOnTheSimulatedMachine) {
    auto granted = lumra({"grant"});
    EXPECT_EQ(granted.status, 0) << granted.err;
    EXPECT_EQ(granted.out, "Installed /etc/sudoers.d/lumra: alice may now switch sleep off and on "
                           "(pmset -a disablesleep 0|1) without a password.\n");
    EXPECT_EQ(TestSupport::contents(root / "etc/sudoers.d/lumra"), Client::Grant::rule("alice"));
}

TEST_F(Lumra, GrantRefusesAnUnsafeUserAndExitsOne) {
    auto refused = lumra({"grant"}, {{"LUMRA_SIM_USER", "alice ALL"}});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.starts_with("lumra grant: cannot grant \"alice ALL\": ")) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(root / "etc/sudoers.d/lumra"));
}

TEST_F(Lumra, ColourOnlyWhenAsked) {
    EXPECT_EQ(lumra({"grant"}).out.find('\x1B'), std::string::npos);
    auto coloured = lumra({"grant"}, {{"FORCE_COLOR", "1"}});
    EXPECT_NE(coloured.out.find('\x1B'), std::string::npos) << coloured.out;
}

} // namespace
