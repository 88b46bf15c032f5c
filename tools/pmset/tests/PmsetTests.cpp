// The real pmset stand-in against a temporary simulation root.

#include <Platform/Power.hpp>
#include <TestSupport/AsRoot.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using TestSupport::contents;
using TestSupport::writeFile;
namespace Power = Platform::Power;

class Pmset : public testing::Test {
protected:
    // As the person, or as the simulated root (through sudo, typing the
    // person's password).
    TestSupport::Finished pmset(const std::vector<std::string>& arguments, bool asRoot = false) {
        std::map<std::string, std::string> environment{{"HOME", home.path().string()},
                                                       {"LUMRA_SIM_ROOT", root.path().string()}};
        if (!asRoot) return TestSupport::runProcess(PMSET_EXE, arguments, environment);
        std::vector<std::string> command{"/usr/bin/pmset"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return TestSupport::runAsRoot(root.path(), command, environment);
    }

    TestSupport::TempDir home;
    TestSupport::TempDir root;
};

std::string settings(const char* sleepDisabled, const char* lowPowerMode) {
    return std::string("System-wide power settings:\n"
                       " SleepDisabled\t\t") +
           sleepDisabled +
           "\n"
           "Currently in use:\n"
           " standby              1\n"
           " Sleep On Power Button 1\n"
           " hibernatefile        /var/vm/sleepimage\n"
           " powernap             1\n"
           " networkoversleep     0\n"
           " disksleep            10\n"
           " sleep                1 (sleep prevented by powerd)\n"
           " hibernatemode        3\n"
           " ttyskeepawake        1\n"
           " displaysleep         10\n"
           " tcpkeepalive         1\n"
           " lowpowermode         " +
           lowPowerMode + "\n womp                 1\n";
}

TEST_F(Pmset, SettingsShowTheFlagAndLowPowerMode) {
    auto fresh = pmset({"-g"});
    EXPECT_EQ(fresh.status, 0);
    EXPECT_EQ(fresh.out, settings("0", "0"));
    EXPECT_EQ(fresh.err, "");

    Power::setSleepDisabled(true, root.path());
    Power::setLowPowerMode(true, root.path());
    EXPECT_EQ(pmset({"-g"}).out, settings("1", "1"));
}

TEST_F(Pmset, DamagedStateReadsAsAFreshMachine) {
    writeFile(root / "power/state.json", "{\"sleepDisabled\":");
    EXPECT_EQ(pmset({"-g"}).out, settings("0", "0"));
    writeFile(root / "power/state.json", "{\"sleepDisabled\":1,\"lowPowerMode\":\"yes\"}");
    EXPECT_EQ(pmset({"-g"}).out, settings("0", "0"));
}

TEST_F(Pmset, OnlyRootChangesTheFlag) {
    auto refused = pmset({"-a", "disablesleep", "1"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Error: Insufficient privileges\n");
    // Nobody is root by saying so.
    EXPECT_EQ(TestSupport::runProcess(PMSET_EXE, {"-a", "disablesleep", "1"},
                                      {{"LUMRA_SIM_ROOT", root.path().string()}, {"LUMRA_SIM_USER", "root"}})
                  .err,
              "Error: Insufficient privileges\n");
    EXPECT_EQ(refused.out, "");
    EXPECT_FALSE(Power::sleepDisabled(root.path()));

    auto on = pmset({"-a", "disablesleep", "1"}, true);
    EXPECT_EQ(on.status, 0);
    EXPECT_EQ(on.out + on.err, "");
    EXPECT_TRUE(Power::sleepDisabled(root.path()));

    EXPECT_EQ(pmset({"-a", "disablesleep", "0"}).status, 1);
    EXPECT_TRUE(Power::sleepDisabled(root.path()));
    EXPECT_EQ(pmset({"-a", "disablesleep", "0"}, true).status, 0);
    EXPECT_FALSE(Power::sleepDisabled(root.path()));
}

TEST_F(Pmset, EveryPowerSourceSelectorAndNoneSetTheOneFlag) {
    for (auto arguments : std::vector<std::vector<std::string>>{{"-b", "disablesleep", "1"},
                                                                {"-c", "disablesleep", "1"},
                                                                {"-u", "disablesleep", "1"},
                                                                {"disablesleep", "1"}}) {
        Power::setSleepDisabled(false, root.path());
        EXPECT_EQ(pmset(arguments, true).status, 0) << arguments[0];
        EXPECT_TRUE(Power::sleepDisabled(root.path())) << arguments[0];
    }
}

TEST_F(Pmset, SleepNowIsRecorded) {
    auto first = pmset({"sleepnow"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, "Sleeping now...\n");
    EXPECT_EQ(first.err, "");
    pmset({"sleepnow"});
    auto requests = TestSupport::lines(root / "power/sleepnow.log");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_THAT(requests[0], testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z"));
}

TEST_F(Pmset, SleepNowFailsAsInjected) {
    writeFile(root / "power/sleepnow-error.json", R"({"status":1,"stderr":"busy\n"})");
    auto failed = pmset({"sleepnow"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "busy\n");
    EXPECT_EQ(failed.out, "");
    EXPECT_FALSE(std::filesystem::exists(root / "power/sleepnow.log"));

    writeFile(root / "power/sleepnow-error.json", R"({"status":77})");
    EXPECT_EQ(pmset({"sleepnow"}).status, 77);

    // An injection that makes no sense is no injection.
    for (const char* nonsense : {R"({"status":0,"stderr":"x"})", R"({"status":"1"})", R"({"status":256})", "{", "[]"}) {
        writeFile(root / "power/sleepnow-error.json", nonsense);
        EXPECT_EQ(pmset({"sleepnow"}).status, 0) << nonsense;
    }
}

TEST_F(Pmset, AnythingElseIsAUsageError) {
    for (auto arguments : std::vector<std::vector<std::string>>{{},
                                                                {"-g", "batt"},
                                                                {"-a", "disablesleep"},
                                                                {"-a", "disablesleep", "2"},
                                                                {"-x", "disablesleep", "1"},
                                                                {"disablesleep", "yes"},
                                                                {"sleepnow", "now"},
                                                                {"-a", "sleep", "1"}}) {
        auto finished = pmset(arguments, true);
        EXPECT_EQ(finished.status, 1);
        EXPECT_EQ(finished.err.rfind("Usage: pmset", 0), 0u) << finished.err;
    }
    EXPECT_FALSE(Power::sleepDisabled(root.path()));
}

} // namespace
