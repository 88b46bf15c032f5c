// The sudoers drop-in: its one rule, its careful installation, and the
// simulated sudo honouring exactly what it grants.

#include "Grant.hpp"

#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

namespace Grant = Client::Grant;
using TestSupport::contents;
using TestSupport::entries;
using TestSupport::writeFile;

const std::string aliceRule =
    "alice ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n";

mode_t modeOf(const std::filesystem::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}

TEST(GrantRule, IsOneLineForTheUser) { EXPECT_EQ(Grant::rule("alice"), aliceRule); }

TEST(GrantRule, OnlyPlainUserNamesCanBeGranted) {
    for (const char* name : {"alice", "a.b", "a_b-c", "Alice", "A1b", "_admin2"})
        EXPECT_EQ(Grant::unsafeUserName(name), std::nullopt) << name;
    // Each of these would change the rule's meaning, or break it.
    for (const char* name :
         {"",     "a b",  "a,b", "#501",        "%admin", "+group", "a\tb", "a\nb",     "al:ice", "a=b",
          "a\\b", "a(b)", "a!",  "caf\xC3\xA9", "-a",     ".a",     "ALL",  "Defaults", "ADMIN",  "ADMINS_2"})
        EXPECT_NE(Grant::unsafeUserName(name), std::nullopt) << name;
    EXPECT_EQ(Grant::unsafeUserName("ADMIN"), "sudoers would read the user name ADMIN as a keyword or an alias");
    EXPECT_EQ(Grant::unsafeUserName(""), "the user name is empty");
}

TEST(GrantCheck, AcceptsOnlyTheExactGrant) {
    EXPECT_EQ(Grant::check(aliceRule, "alice"), std::nullopt);
    const std::string different = "sudoers reads the drop-in as a different grant than intended";
    EXPECT_EQ(Grant::check(aliceRule, "bob"), different);
    EXPECT_EQ(Grant::check("alice ALL=(root) NOPASSWD: ALL\n", "alice"), different);
    EXPECT_EQ(
        Grant::check("alice ALL=(root) /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n", "alice"),
        different);
    EXPECT_EQ(Grant::check(aliceRule + aliceRule, "alice"), different);
    EXPECT_EQ(Grant::check("", "alice"), different);
    EXPECT_EQ(Grant::check("alice is allowed everything\n", "alice"), "sudoers cannot parse the drop-in");
}

class Install : public testing::Test {
protected:
    std::filesystem::path folder() const { return dir / "etc/sudoers.d"; }
    std::filesystem::path file() const { return folder() / "lumra"; }
    TestSupport::TempDir dir;
};

TEST_F(Install, WritesTheRuleReadOnlyWithNothingLeftBeside) {
    auto installed = Grant::install(file(), "alice");
    ASSERT_TRUE(installed.ok()) << installed.error().reason;
    EXPECT_EQ(installed.value().user, "alice");
    EXPECT_EQ(contents(file()), aliceRule);
    EXPECT_EQ(modeOf(file()), 0440u);
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"lumra"});
}

TEST_F(Install, ReplacesAnEarlierDropIn) {
    writeFile(file(), "bob ALL=(root) NOPASSWD: ALL\n");
    ASSERT_TRUE(Grant::install(file(), "alice").ok());
    EXPECT_EQ(contents(file()), aliceRule);
    EXPECT_EQ(modeOf(file()), 0440u);
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"lumra"});
}

TEST_F(Install, AFailedCheckKeepsTheEarlierDropIn) {
    writeFile(file(), "earlier\n");
    std::string checked;
    auto refused = Grant::install(file(), "alice", [&](std::string_view text, std::string_view) {
        checked = text;
        return std::optional<std::string>("sudoers cannot parse the drop-in");
    });
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().reason, "sudoers cannot parse the drop-in; nothing was changed");
    // The check read what was written, before anything was replaced.
    EXPECT_EQ(checked, aliceRule);
    EXPECT_EQ(contents(file()), "earlier\n");
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"lumra"});
}

TEST_F(Install, AnUnsafeNameTouchesNothing) {
    writeFile(file(), "earlier\n");
    auto refused = Grant::install(file(), "al ice");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().reason,
              "cannot grant \"al ice\": the user name holds characters a sudoers rule cannot carry safely (only "
              "letters, digits, '_', '-' and '.' can be granted)");
    EXPECT_EQ(contents(file()), "earlier\n");
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"lumra"});
}

TEST_F(Install, AFailedRenameLeavesNoTemporaryFile) {
    // Something that is no file where the drop-in goes: the rename fails.
    std::filesystem::create_directories(file() / "inside");
    auto refused = Grant::install(file(), "alice");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().reason, "cannot put the drop-in in place at " + file().string() + ": Is a directory");
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"lumra"});
    EXPECT_EQ(entries(file()), std::vector<std::string>{"inside"});
}

TEST_F(Install, AFolderThatCannotBeMadeIsReported) {
    writeFile(dir / "etc", "a file, not a folder\n");
    auto refused = Grant::install(file(), "alice");
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().reason.starts_with("cannot create " + folder().string() + ": "))
        << refused.error().reason;
    EXPECT_EQ(contents(dir / "etc"), "a file, not a folder\n");
}

// The simulated sudo, running the pmset stand-in, on a machine of its own.
class SudoWithGrant : public testing::Test {
protected:
    Platform::ProgramRun sudo(const std::vector<std::string>& arguments, const std::string& user = "alice") {
        return Platform::runProgram("/usr/bin/sudo", arguments,
                                    Platform::Environment{{"HOME", home.path().string()}, {"LUMRA_SIM_USER", user}},
                                    root.path());
    }
    static int status(const Platform::ProgramRun& run) {
        const auto* exit = std::get_if<Platform::ProgramExit>(&run);
        return exit ? exit->status : -1;
    }
    static std::string err(const Platform::ProgramRun& run) {
        const auto* exit = std::get_if<Platform::ProgramExit>(&run);
        return exit ? exit->err : "did not start";
    }

    TestSupport::TempDir home;
    TestSupport::TempDir root;
};

TEST_F(SudoWithGrant, LetsTheUserFlipTheFlagAndNothingElse) {
    ASSERT_TRUE(Grant::install(Platform::SimulatedHost::hostPath("/etc/sudoers.d/lumra", root.path()), "alice").ok());

    auto on = sudo({"-n", "/usr/bin/pmset", "-a", "disablesleep", "1"});
    EXPECT_EQ(status(on), 0) << err(on);
    EXPECT_TRUE(Platform::Power::sleepDisabled(root.path()));
    auto off = sudo({"-n", "/usr/bin/pmset", "-a", "disablesleep", "0"});
    EXPECT_EQ(status(off), 0) << err(off);
    EXPECT_FALSE(Platform::Power::sleepDisabled(root.path()));

    for (const std::vector<std::string>& other : std::vector<std::vector<std::string>>{
             {"-n", "/usr/bin/pmset", "-a", "disablesleep", "2"},
             {"-n", "/usr/bin/pmset", "disablesleep", "1"},
             {"-n", "/usr/bin/pmset", "sleepnow"},
             {"-n", "/bin/sh", "-c", "true"},
         }) {
        auto refused = sudo(other);
        EXPECT_EQ(status(refused), 1) << other[1];
        EXPECT_TRUE(err(refused).starts_with("Sorry, user alice is not allowed to execute")) << err(refused);
    }
    // Nobody else gains anything.
    auto bob = sudo({"-n", "/usr/bin/pmset", "-a", "disablesleep", "1"}, "bob");
    EXPECT_EQ(status(bob), 1);
    EXPECT_EQ(err(bob), "sudo: a password is required\n");
    EXPECT_FALSE(Platform::Power::sleepDisabled(root.path()));
}

} // namespace
