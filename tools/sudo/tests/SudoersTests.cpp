// The drop-in language the sudo stand-in understands.

#include "Sudoers.hpp"

#include <gtest/gtest.h>

namespace {

using Sudo::Verdict;

const std::vector<std::string> flipOn{"/usr/bin/pmset", "-a", "disablesleep", "1"};

Verdict verdict(const std::string& text, const std::vector<std::string>& command = flipOn,
                const std::string& user = "alice", const std::string& host = "mac.local",
                const std::string& runAs = "root") {
    auto rules = Sudo::parse(text);
    EXPECT_TRUE(rules.has_value()) << text;
    return Sudo::decide(rules.value_or(std::vector<Sudo::Rule>{}), Sudo::Asker{user, {"staff", "admin"}}, host,
                        command, runAs);
}

TEST(Sudoers, TheGrantLineAllowsExactlyItsCommands) {
    std::string grant =
        "alice ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n";
    EXPECT_EQ(verdict(grant), Verdict::run);
    EXPECT_EQ(verdict(grant, {"/usr/bin/pmset", "-a", "disablesleep", "0"}), Verdict::run);
    EXPECT_EQ(verdict(grant, {"/usr/bin/pmset", "-a", "disablesleep", "1", "extra"}), Verdict::notAllowed);
    EXPECT_EQ(verdict(grant, {"/usr/bin/pmset", "sleepnow"}), Verdict::notAllowed);
    EXPECT_EQ(verdict(grant, {"/bin/sh"}), Verdict::notAllowed);
    EXPECT_EQ(verdict(grant, flipOn, "bob"), Verdict::notListed);
}

TEST(Sudoers, CommandArgumentsAllowAnyNoneOrExactlyThese) {
    EXPECT_EQ(verdict("alice ALL=(root) NOPASSWD: /usr/bin/pmset"), Verdict::run);
    EXPECT_EQ(verdict("alice ALL=(root) NOPASSWD: /usr/bin/pmset \"\""), Verdict::notAllowed);
    EXPECT_EQ(verdict("alice ALL=(root) NOPASSWD: /usr/bin/pmset \"\"", {"/usr/bin/pmset"}), Verdict::run);
    EXPECT_EQ(verdict("alice ALL=(root) NOPASSWD: ALL", {"/anything", "at", "all"}), Verdict::run);
}

TEST(Sudoers, TheLanguagesOtherFormsAreUnderstood) {
    EXPECT_EQ(verdict("alice ALL=(ALL:ALL) NOPASSWD:/usr/bin/pmset"), Verdict::run);
    EXPECT_EQ(verdict("alice ALL = NOPASSWD: /usr/bin/pmset"), Verdict::run); // run-as root by default
    EXPECT_EQ(verdict("bob,alice mac=(root) NOPASSWD: /usr/bin/pmset"), Verdict::run);
    EXPECT_EQ(verdict("ALL ALL=(root) NOPASSWD: /usr/bin/pmset"), Verdict::run);
    EXPECT_EQ(verdict("# the service's grant\n\nDefaults:alice !lecture\n"
                      "alice ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, \\\n"
                      "    /usr/bin/pmset -a disablesleep 1   # both ways\n"),
              Verdict::run);
    EXPECT_EQ(verdict("alice ALL=(root) NOPASSWD: /usr/bin/pmset\nalice ALL=(root) PASSWD: /usr/bin/pmset"),
              Verdict::run);
    EXPECT_EQ(verdict("alice ALL=(root) /usr/bin/pmset"), Verdict::passwordRequired);
    EXPECT_EQ(verdict("alice ALL=(root) NOPASSWD: PASSWD: /usr/bin/pmset"), Verdict::passwordRequired);
}

TEST(Sudoers, RulesForOtherHostsOrRunAsUsersDoNotCount) {
    EXPECT_EQ(verdict("alice otherhost=(root) NOPASSWD: ALL"), Verdict::notListed);
    EXPECT_EQ(verdict("alice mac.local=(root) NOPASSWD: ALL"), Verdict::run);
    EXPECT_EQ(verdict("alice ALL=(bob) NOPASSWD: ALL"), Verdict::notAllowed);
    EXPECT_EQ(verdict("alice ALL=(bob) NOPASSWD: ALL", flipOn, "alice", "mac.local", "bob"), Verdict::run);
    EXPECT_EQ(verdict("alice ALL=(ALL) ALL", flipOn, "alice", "mac.local", "bob"), Verdict::passwordRequired);
}

// The main file a Mac ships grants the admin group everything, with a
// password; a group the user is not in grants nothing.
TEST(Sudoers, GroupsGrantTheirMembers) {
    const std::string shipped = "root ALL = (ALL) ALL\n%admin ALL = (ALL) ALL\n";
    EXPECT_EQ(verdict(shipped), Verdict::passwordRequired);
    EXPECT_EQ(verdict(shipped, {"/bin/sh"}, "alice", "mac.local", "bob"), Verdict::passwordRequired);
    EXPECT_EQ(verdict("%admin ALL=(root) NOPASSWD: ALL"), Verdict::run);
    EXPECT_EQ(verdict("%wheel ALL=(root) NOPASSWD: ALL"), Verdict::notListed);
    auto rules = Sudo::parse(shipped);
    ASSERT_TRUE(rules.has_value());
    EXPECT_EQ(Sudo::decide(*rules, Sudo::Asker{"alice", {"staff"}}, "mac", flipOn), Verdict::notListed);
}

TEST(Sudoers, AnythingNotUnderstoodMakesTheFileGrantNothing) {
    for (const char* damaged : {"alice", "alice ALL", "alice ALL=(root NOPASSWD: ALL",
                                "alice ALL=(root) NOPASSWD: pmset", "alice ALL=(root) NOPASSWD: /usr/bin/pmset,",
                                "Cmnd_Alias FLAG = /usr/bin/pmset", "alice ALL=(root) NOPASSWD: !/usr/bin/pmset",
                                "alice ALL=(root) NOPASSWD: /usr/bin/pmset\nalice ALL=(root) NOPASSWD: sh",
                                ",alice ALL=(root) NOPASSWD: ALL", "alice a b=(root) NOPASSWD: ALL"})
        EXPECT_FALSE(Sudo::parse(damaged).has_value()) << damaged;
    EXPECT_TRUE(Sudo::parse("").has_value());
    EXPECT_TRUE(Sudo::parse("# nothing\n\n   \n").has_value());
}

} // namespace
