// The simulated accounts: the directory and its changes, passwords, who a
// process runs as, and who owns a file.

#include <Platform/Accounts.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace Accounts = Platform::Accounts;
namespace Credentials = Platform::Credentials;
using TestSupport::TempDir;
using TestSupport::writeFile;

std::vector<std::string> names(const std::vector<Accounts::Group>& groups) {
    std::vector<std::string> result;
    for (const auto& group : groups) result.push_back(group.name);
    return result;
}

TEST(Accounts, AFreshMachineHasThePersonRootAndTheirGroups) {
    Accounts::User person = Accounts::person();
    if (::getuid() == 0) {
        EXPECT_EQ(person.uid, 501u);
        EXPECT_EQ(person.name, "person");
    } else {
        EXPECT_EQ(person.uid, ::getuid());
    }
    EXPECT_EQ(person.gid, 20u);
    EXPECT_EQ(person.home, "/Users/" + person.name);

    Accounts::Directory directory = Accounts::fresh();
    ASSERT_NE(directory.user("root"), nullptr);
    EXPECT_EQ(directory.user("root")->uid, 0u);
    EXPECT_EQ(directory.user(person.uid)->name, person.name);
    EXPECT_EQ(directory.user(0u)->home, "/var/root");
    EXPECT_EQ(directory.user("nobody-here"), nullptr);
    EXPECT_EQ(directory.user(12345u), nullptr);
    EXPECT_EQ(directory.group("admin")->gid, 80u);
    EXPECT_EQ(directory.group(20u)->name, "staff");
    EXPECT_EQ(names(directory.groupsOf(person.name)), (std::vector<std::string>{"staff", "admin"}));
    EXPECT_EQ(names(directory.groupsOf("root")), (std::vector<std::string>{"wheel", "staff", "admin"}));
    EXPECT_TRUE(directory.groupsOf("nobody-here").empty());
    EXPECT_TRUE(directory.isMember(person.name, Accounts::adminGID));
    EXPECT_EQ(directory.console, person.name);
}

TEST(Accounts, TheFileRoundTripsAndADamagedOneReadsAsFresh) {
    TempDir root;
    EXPECT_EQ(Accounts::load(root.path()), Accounts::fresh()); // no file yet
    Accounts::Directory directory = Accounts::fresh();
    directory.users.push_back(Accounts::User{"bob", 502, 20, "/Users/bob", "/bin/zsh", ""});
    directory.console.reset();
    EXPECT_EQ(Accounts::decode(Accounts::encode(directory)), directory);

    for (const char* damaged : {"", "[]", "{\"users\":[],\"groups\":{}}", "{\"users\":[{\"name\":\"x\"}],\"groups\":[]}",
                                "{\"users\":[{\"name\":\"\",\"uid\":1,\"gid\":1}],\"groups\":[]}",
                                "{\"users\":[{\"name\":\"x\",\"uid\":-1,\"gid\":1}],\"groups\":[]}"}) {
        EXPECT_EQ(Accounts::decode(damaged), std::nullopt) << damaged;
        writeFile(root / "accounts/directory.json", damaged);
        EXPECT_EQ(Accounts::load(root.path()), Accounts::fresh()) << damaged;
    }
}

TEST(Accounts, AdminConsoleAndPasswordChangesAreKept) {
    TempDir root;
    const std::string person = Accounts::person().name;
    ASSERT_TRUE(Accounts::setAdmin(person, false, root.path()));
    EXPECT_EQ(names(Accounts::load(root.path()).groupsOf(person)), std::vector<std::string>{"staff"});
    ASSERT_TRUE(Accounts::setAdmin(person, true, root.path()));
    ASSERT_TRUE(Accounts::setAdmin(person, true, root.path())); // once is enough
    auto admin = Accounts::load(root.path()).group("admin")->members;
    EXPECT_EQ(std::count(admin.begin(), admin.end(), person), 1);

    ASSERT_TRUE(Accounts::setConsole(std::nullopt, root.path()));
    EXPECT_EQ(Accounts::load(root.path()).console, std::nullopt);
    ASSERT_TRUE(Accounts::setConsole("root", root.path()));
    EXPECT_EQ(Accounts::load(root.path()).console, "root");

    EXPECT_FALSE(Accounts::checkPassword(person, "", root.path())); // no password: nothing passes
    ASSERT_TRUE(Accounts::setPassword(person, "s3cret words", root.path()));
    EXPECT_TRUE(Accounts::checkPassword(person, "s3cret words", root.path()));
    for (const char* wrong : {"", "s3cret", "s3cret words ", "S3cret words"})
        EXPECT_FALSE(Accounts::checkPassword(person, wrong, root.path())) << wrong;
    EXPECT_TRUE(Accounts::load(root.path()).user(person)->passwordHash.starts_with("$6$"));

    // Unknown users change nothing.
    Accounts::Directory before = Accounts::load(root.path());
    EXPECT_FALSE(Accounts::setAdmin("nobody-here", true, root.path()));
    EXPECT_FALSE(Accounts::setConsole("nobody-here", root.path()));
    EXPECT_FALSE(Accounts::setPassword("nobody-here", "x", root.path()));
    EXPECT_FALSE(Accounts::checkPassword("nobody-here", "x", root.path()));
    EXPECT_EQ(Accounts::load(root.path()), before);
}

// A record names one process: its ID and its start. The person is who runs
// without any.
TEST(Credentials, RecordsHoldForTheirProcessAlone) {
    TempDir root;
    EXPECT_EQ(Credentials::currentUID(root.path()), Accounts::person().uid);
    EXPECT_EQ(Credentials::recordedUID(::getpid(), root.path()), std::nullopt);

    pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    EXPECT_TRUE(Credentials::recordProcess(child, 0, root.path()));
    EXPECT_EQ(Credentials::recordedUID(child, root.path()), 0u);
    // A record whose start is not the process's (a reused ID) counts for nothing.
    writeFile(root / "accounts/processes" / std::to_string(child), "{\"uid\":0,\"started\":1}\n");
    EXPECT_EQ(Credentials::recordedUID(child, root.path()), std::nullopt);
    writeFile(root / "accounts/processes" / std::to_string(child), "not json");
    EXPECT_EQ(Credentials::recordedUID(child, root.path()), std::nullopt);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(Credentials::recordProcess(child, 0, root.path())); // gone
    EXPECT_EQ(Credentials::currentUID(root.path()), Accounts::person().uid);
}

TEST(Credentials, FilesAreThePersonsUnlessRootGaveThemAway) {
    TempDir root;
    std::filesystem::path file = root / "etc/sudoers.d/lumra";
    EXPECT_EQ(Credentials::ownerOf(file, root.path()), std::nullopt);
    writeFile(file, "text\n");
    Credentials::Owner persons{Accounts::person().uid, Accounts::staffGID};
    EXPECT_EQ(Credentials::ownerOf(file, root.path()), persons);
    // Only root may give a file away; this test runs as the person.
    EXPECT_FALSE(Credentials::changeOwner(file, {0, 0}, root.path()));
    EXPECT_EQ(Credentials::ownerOf(file, root.path()), persons);

    // A fresh machine's main sudoers file is root's.
    Platform::SimulatedHost::initialize(root.path());
    EXPECT_EQ(Credentials::ownerOf(root / "etc/sudoers", root.path()), (Credentials::Owner{0, 0}));
    EXPECT_EQ(TestSupport::contents(root / "etc/sudoers"), "root ALL = (ALL) ALL\n%admin ALL = (ALL) ALL\n");
    std::filesystem::remove(root / "etc/sudoers");
    writeFile(root / "etc/sudoers", "person ALL = (ALL) NOPASSWD: ALL\n");
    EXPECT_EQ(Credentials::ownerOf(root / "etc/sudoers", root.path()), persons);
}

} // namespace
