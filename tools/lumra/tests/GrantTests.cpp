// The sudoers drop-in: its one rule, its careful installation, and the
// simulated sudo honouring exactly what it grants.

#include "Grant.hpp"

#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

namespace {

namespace Grant = Client::Grant;
using TestSupport::modeOf;
using TestSupport::contents;
using TestSupport::entries;
using TestSupport::writeFile;

const std::string aliceRule =
    "alice ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n";

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
    LumraKit::Result<Grant::Installed, Grant::Refused> install(std::string_view user,
                                                               const Grant::Checker& checker = Grant::check) {
        return Grant::install(file(), user, checker, ownership);
    }

    TestSupport::TempDir dir;
    // The files given to root, as chown would record them; giving fails
    // while `chownWorks` is false.
    std::vector<std::filesystem::path> givenToRoot;
    bool chownWorks = true;
    Grant::Ownership ownership{
        [this](const std::filesystem::path& path) {
            if (chownWorks) givenToRoot.push_back(path);
            return chownWorks;
        },
        [this](const std::filesystem::path& path) {
            return std::find(givenToRoot.begin(), givenToRoot.end(), path) != givenToRoot.end();
        },
    };
};

TEST_F(Install, WritesTheRuleReadOnlyForRootWithNothingLeftBeside) {
    auto installed = install("alice");
    ASSERT_TRUE(installed.ok()) << installed.error().reason;
    EXPECT_EQ(installed.value().user, "alice");
    EXPECT_FALSE(installed.value().unchanged);
    EXPECT_EQ(contents(file()), aliceRule);
    EXPECT_EQ(modeOf(file()), 0440u);
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"lumra"});
    // Given to root before it was renamed into place.
    ASSERT_EQ(givenToRoot.size(), 1u);
    EXPECT_EQ(givenToRoot[0].parent_path(), folder());
    EXPECT_TRUE(givenToRoot[0].filename().string().starts_with("lumra.new.")) << givenToRoot[0];
}

// The same grant in place, root's and read-only, is left alone; anything
// less is installed again.
TEST_F(Install, ARepeatedGrantHasNothingToDo) {
    ASSERT_TRUE(install("alice").ok());
    givenToRoot = {file()};
    auto again = install("alice");
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(again.value().unchanged);
    EXPECT_EQ(givenToRoot.size(), 1u);

    ::chmod(file().c_str(), 0644);
    auto loose = install("alice");
    ASSERT_TRUE(loose.ok());
    EXPECT_FALSE(loose.value().unchanged);
    EXPECT_EQ(modeOf(file()), 0440u);

    givenToRoot.clear();
    auto notRoots = install("alice");
    ASSERT_TRUE(notRoots.ok());
    EXPECT_FALSE(notRoots.value().unchanged);
}

TEST_F(Install, ADropInRootCannotOwnIsNotPutInPlace) {
    writeFile(file(), "earlier\n");
    chownWorks = false;
    auto refused = install("alice");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().reason, "cannot give the drop-in to root");
    EXPECT_EQ(contents(file()), "earlier\n");
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"lumra"});
}

TEST_F(Install, ReplacesAnEarlierDropIn) {
    writeFile(file(), "bob ALL=(root) NOPASSWD: ALL\n");
    ASSERT_TRUE(install("alice").ok());
    EXPECT_EQ(contents(file()), aliceRule);
    EXPECT_EQ(modeOf(file()), 0440u);
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"lumra"});
}

TEST_F(Install, AFailedCheckKeepsTheEarlierDropIn) {
    writeFile(file(), "earlier\n");
    std::string checked;
    auto refused = install("alice", [&](std::string_view text, std::string_view) {
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
    auto refused = install("al ice");
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
    auto refused = install("alice");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().reason, "cannot put the drop-in in place at " + file().string() + ": Is a directory");
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"lumra"});
    EXPECT_EQ(entries(file()), std::vector<std::string>{"inside"});
}

TEST_F(Install, AFolderThatCannotBeMadeIsReported) {
    writeFile(dir / "etc", "a file, not a folder\n");
    auto refused = install("alice");
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().reason.starts_with("cannot create " + folder().string() + ": "))
        << refused.error().reason;
    EXPECT_EQ(contents(dir / "etc"), "a file, not a folder\n");
}

} // namespace
