// The real sudo stand-in, running the real pmset stand-in, against a
// temporary simulation root.

#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

namespace {

using TestSupport::writeFile;
namespace Power = Platform::Power;

const std::string grantBoth =
    "alice ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n";

class Sudo : public testing::Test {
protected:
    TestSupport::Finished sudo(const std::vector<std::string>& arguments, const std::string& user = "alice") {
        return TestSupport::runProcess(
            SUDO_EXE, arguments,
            {{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", root.path().string()}, {"LUMRA_SIM_USER", user}});
    }
    void grant(const std::string& text, const std::string& file = "lumra") {
        writeFile(root / "etc/sudoers.d" / file, text);
    }
    std::string notAllowed(const std::string& commandLine) const {
        return "Sorry, user alice is not allowed to execute '" + commandLine + "' as root on " +
               Platform::SimulatedHost::hostName() + ".\n";
    }

    const std::vector<std::string> flipOn{"-n", "/usr/bin/pmset", "-a", "disablesleep", "1"};
    TestSupport::TempDir home;
    TestSupport::TempDir root;
};

TEST_F(Sudo, WithoutAnyRuleAPasswordIsRequired) {
    auto refused = sudo(flipOn);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "sudo: a password is required\n");
    EXPECT_EQ(refused.out, "");
    EXPECT_FALSE(Power::sleepDisabled(root.path()));
}

TEST_F(Sudo, AGrantRunsTheCommandAsRoot) {
    grant(grantBoth);
    auto on = sudo(flipOn);
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_EQ(on.out + on.err, "");
    EXPECT_TRUE(Power::sleepDisabled(root.path()));

    EXPECT_EQ(sudo({"-n", "/usr/bin/pmset", "-a", "disablesleep", "0"}).status, 0);
    EXPECT_FALSE(Power::sleepDisabled(root.path()));
}

TEST_F(Sudo, RulesForTheUserButNotThisCommandAreNotAllowed) {
    grant("alice ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0\n");
    auto refused = sudo(flipOn);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, notAllowed("/usr/bin/pmset -a disablesleep 1"));
    EXPECT_FALSE(Power::sleepDisabled(root.path()));
}

TEST_F(Sudo, RulesForSomeoneElseOrWithAPasswordDoNotHelp) {
    grant("bob ALL=(root) NOPASSWD: ALL\n");
    EXPECT_EQ(sudo(flipOn).err, "sudo: a password is required\n");
    grant("alice ALL=(ALL) ALL\n");
    EXPECT_EQ(sudo(flipOn).err, "sudo: a password is required\n");
    EXPECT_FALSE(Power::sleepDisabled(root.path()));
}

TEST_F(Sudo, ADamagedOrIgnoredDropInGrantsNothing) {
    grant("alice ALL=(root) NOPASSWD: ALL\nthis is not a rule\n");
    EXPECT_EQ(sudo(flipOn).err, "sudo: a password is required\n");
    std::filesystem::remove(root / "etc/sudoers.d/lumra");
    // sudo skips drop-ins whose names hold a dot or end in a tilde.
    grant(grantBoth, "lumra.bak");
    grant(grantBoth, "lumra~");
    EXPECT_EQ(sudo(flipOn).err, "sudo: a password is required\n");
    grant(grantBoth, "other");
    EXPECT_EQ(sudo(flipOn).status, 0);
}

TEST_F(Sudo, PassesTheCommandsOutputAndStatusThrough) {
    grant("alice ALL=(root) NOPASSWD: ALL\n");
    auto settings = sudo({"-n", "/usr/bin/pmset", "-g"});
    EXPECT_EQ(settings.status, 0);
    EXPECT_EQ(settings.out.rfind("System-wide power settings:\n SleepDisabled\t\t0\n", 0), 0u) << settings.out;

    auto wrong = sudo({"-n", "/usr/bin/pmset", "bogus"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err.rfind("Usage: pmset", 0), 0u) << wrong.err;

    // A command named without a path is found where sudo looks.
    EXPECT_EQ(sudo({"-n", "pmset", "-a", "disablesleep", "1"}).status, 0);
    EXPECT_TRUE(Power::sleepDisabled(root.path()));

    auto missing = sudo({"-n", "/usr/bin/lumra-no-such-tool"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "sudo: /usr/bin/lumra-no-such-tool: command not found\n");
}

TEST_F(Sudo, WithoutDashNOnlyAPasswordlessGrantRuns) {
    std::vector<std::string> interactive(flipOn.begin() + 1, flipOn.end());
    auto refused = sudo(interactive);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "sudo: a terminal is required to read the password; either use the -S option to read from "
                           "standard input or configure an askpass helper\nsudo: a password is required\n");
    grant(grantBoth);
    EXPECT_EQ(sudo(interactive).status, 0);
    EXPECT_TRUE(Power::sleepDisabled(root.path()));
}

TEST_F(Sudo, RootNeedsNoGrant) {
    EXPECT_EQ(sudo(flipOn, "root").status, 0);
    EXPECT_TRUE(Power::sleepDisabled(root.path()));
}

// Without $LUMRA_SIM_USER the host's user runs the tools, and needs a grant
// even when the host user is root.
TEST_F(Sudo, TheHostUserNeedsAGrantWhoeverItIs) {
    auto refused = sudo(flipOn, "");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "sudo: a password is required\n");
    EXPECT_FALSE(Power::sleepDisabled(root.path()));

    grant(Platform::SimulatedHost::userName() +
          " ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n");
    EXPECT_EQ(sudo(flipOn, "").status, 0);
    EXPECT_TRUE(Power::sleepDisabled(root.path()));
}

TEST_F(Sudo, BadOptionsAndNoCommandAreUsageErrors) {
    auto badOption = sudo({"-k", "/usr/bin/pmset", "-g"});
    EXPECT_EQ(badOption.status, 1);
    EXPECT_EQ(badOption.err.rfind("sudo: invalid option -- 'k'\nusage: sudo", 0), 0u) << badOption.err;
    for (auto arguments : {std::vector<std::string>{}, std::vector<std::string>{"-n"}}) {
        auto finished = sudo(arguments);
        EXPECT_EQ(finished.status, 1);
        EXPECT_EQ(finished.err.rfind("usage: sudo", 0), 0u) << finished.err;
    }
}

} // namespace
