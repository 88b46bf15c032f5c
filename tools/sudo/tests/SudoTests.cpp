// The real sudo stand-in, running the real pmset stand-in, against a
// temporary simulation root: who may run what, which drop-ins it trusts,
// the password, and the environment the command gets.

#include <Platform/Accounts.hpp>
#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/AsRoot.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using TestSupport::writeFile;
namespace Accounts = Platform::Accounts;
namespace Power = Platform::Power;

const std::string person = Accounts::person().name;
const std::string uid = std::to_string(Accounts::person().uid);
const std::string passwordRequired = "sudo: a password is required\n";

class Sudo : public testing::Test {
protected:
    Sudo() { Platform::SimulatedHost::initialize(root.path()); }

    std::map<std::string, std::string> environment() const {
        return {{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", root.path().string()}};
    }
    TestSupport::Finished sudo(const std::vector<std::string>& arguments) {
        return TestSupport::runProcess(SUDO_EXE, arguments, environment());
    }
    // sudo -S ARGUMENTS, with `typed` on its standard input.
    TestSupport::Finished typing(const std::string& typed, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"-c", "printf '%s' \"$TYPED\" | \"$0\" -S \"$@\"", SUDO_EXE});
        auto variables = environment();
        variables["TYPED"] = typed;
        return TestSupport::runProcess("/bin/sh", arguments, variables);
    }
    // A drop-in as root leaves it: written, then given to root through sudo.
    void grant(const std::string& text, const std::string& file = "lumra", const std::string& owner = "root:wheel") {
        std::filesystem::remove(root / "etc/sudoers.d" / file);
        writeFile(root / "etc/sudoers.d" / file, text);
        ::chmod((root / "etc/sudoers.d" / file).c_str(), 0440);
        auto given = TestSupport::runAsRoot(root.path(), {"/usr/sbin/chown", owner, "/etc/sudoers.d/" + file});
        ASSERT_EQ(given.status, 0) << given.err;
    }
    std::string notAllowed(const std::string& commandLine, const std::string& as = "root") const {
        return "Sorry, user " + person + " is not allowed to execute '" + commandLine + "' as " + as + " on " +
               Platform::SimulatedHost::hostName() + ".\n";
    }

    const std::string grantBoth =
        person + " ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n";
    const std::vector<std::string> flipOn{"-n", "/usr/bin/pmset", "-a", "disablesleep", "1"};
    TestSupport::TempDir home;
    TestSupport::TempDir root;
};

TEST_F(Sudo, WithoutAnyRuleAPasswordIsRequired) {
    auto refused = sudo(flipOn);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, passwordRequired);
    EXPECT_EQ(refused.out, "");
    EXPECT_FALSE(Power::sleepDisabled(root.path()));
}

TEST_F(Sudo, AGrantRunsTheCommandAsRootAndOnlyThatCommand) {
    grant(grantBoth);
    auto on = sudo(flipOn);
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_EQ(on.out + on.err, "");
    EXPECT_TRUE(Power::sleepDisabled(root.path()));
    EXPECT_EQ(sudo({"-n", "/usr/bin/pmset", "-a", "disablesleep", "0"}).status, 0);
    EXPECT_FALSE(Power::sleepDisabled(root.path()));

    // An admin may run anything else too, with the password.
    EXPECT_EQ(sudo({"-n", "/usr/bin/pmset", "sleepnow"}).err, passwordRequired);
    ASSERT_TRUE(Accounts::setAdmin(person, false, root.path()));
    auto other = sudo({"-n", "/usr/bin/pmset", "sleepnow"});
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err, notAllowed("/usr/bin/pmset sleepnow"));
    auto asSomeoneElse = sudo({"-n", "-u", person, "/usr/bin/pmset", "-a", "disablesleep", "1"});
    EXPECT_EQ(asSomeoneElse.err, notAllowed("/usr/bin/pmset -a disablesleep 1", person));
}

// sudo trusts only files that root owns and nobody else may write, and
// says why it skips the others.
TEST_F(Sudo, DropInsRootDoesNotOwnAloneAreIgnoredWithAWarning) {
    const std::string file = "/etc/sudoers.d/lumra";
    writeFile(root / "etc/sudoers.d/lumra", grantBoth);
    auto unowned = sudo(flipOn);
    EXPECT_EQ(unowned.err, "sudo: " + file + " is owned by uid " + uid + ", should be 0\n" + passwordRequired);

    grant(grantBoth, "lumra", "root:staff");
    ::chmod((root / "etc/sudoers.d/lumra").c_str(), 0460);
    EXPECT_EQ(sudo(flipOn).err, "sudo: " + file + " is owned by gid 20, should be 0\n" + passwordRequired);
    ::chmod((root / "etc/sudoers.d/lumra").c_str(), 0446);
    EXPECT_EQ(sudo(flipOn).err, "sudo: " + file + " is world writable\n" + passwordRequired);

    // Rewritten by the person after root gave it away: the person's again.
    grant(grantBoth);
    std::filesystem::remove(root / "etc/sudoers.d/lumra");
    writeFile(root / "etc/sudoers.d/lumra", grantBoth + "\n");
    EXPECT_EQ(sudo(flipOn).err, "sudo: " + file + " is owned by uid " + uid + ", should be 0\n" + passwordRequired);
    EXPECT_FALSE(Power::sleepDisabled(root.path()));

    grant(grantBoth, "lumra", "root:wheel");
    ::chmod((root / "etc/sudoers.d/lumra").c_str(), 0460); // group wheel may write: still root's alone
    EXPECT_EQ(sudo(flipOn).status, 0);
}

TEST_F(Sudo, ADamagedOrSkippedDropInGrantsNothing) {
    grant(person + " ALL=(root) NOPASSWD: ALL\nthis is not a rule\n");
    EXPECT_EQ(sudo(flipOn).err, passwordRequired);
    std::filesystem::remove(root / "etc/sudoers.d/lumra");
    // sudo skips drop-ins whose names hold a dot or end in a tilde.
    grant(grantBoth, "lumra.bak");
    grant(grantBoth, "lumra~");
    EXPECT_EQ(sudo(flipOn).err, passwordRequired);
    grant(grantBoth, "other");
    EXPECT_EQ(sudo(flipOn).status, 0);
}

TEST_F(Sudo, PassesTheCommandsOutputAndStatusThrough) {
    grant(person + " ALL=(root) NOPASSWD: ALL\n");
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

// The admin group may run anything with the person's password, asked for
// on standard input with -S; without -S and a terminal there is no asking.
TEST_F(Sudo, AnAdminsPasswordIsCheckedAsSudoChecksIt) {
    ASSERT_TRUE(Accounts::setPassword(person, "secret", root.path()));
    std::vector<std::string> interactive(flipOn.begin() + 1, flipOn.end());
    auto noTerminal = sudo(interactive);
    EXPECT_EQ(noTerminal.status, 1);
    EXPECT_EQ(noTerminal.err, "sudo: a terminal is required to read the password; either use the -S option to read "
                              "from standard input or configure an askpass helper\n" + passwordRequired);

    const std::string prompt = "[sudo] password for " + person + ": ";
    auto right = typing("secret\n", interactive);
    EXPECT_EQ(right.status, 0) << right.err;
    EXPECT_EQ(right.err, prompt);
    EXPECT_TRUE(Power::sleepDisabled(root.path()));

    auto secondTry = typing("guess\nsecret\n", {"/usr/bin/pmset", "-a", "disablesleep", "0"});
    EXPECT_EQ(secondTry.status, 0);
    EXPECT_EQ(secondTry.err, prompt + "Sorry, try again.\n" + prompt);
    EXPECT_FALSE(Power::sleepDisabled(root.path()));

    auto wrong = typing("a\nb\nc\nsecret\n", interactive);
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, prompt + "Sorry, try again.\n" + prompt + "Sorry, try again.\n" + prompt +
                             "sudo: 3 incorrect password attempts\n");
    auto nothing = typing("", interactive);
    EXPECT_EQ(nothing.err, prompt + "\nsudo: no password was provided\n" + passwordRequired);
    EXPECT_FALSE(Power::sleepDisabled(root.path()));

    // Out of the admin group the right password gets nobody anywhere.
    ASSERT_TRUE(Accounts::setAdmin(person, false, root.path()));
    auto notAdmin = typing("secret\n", interactive);
    EXPECT_EQ(notAdmin.status, 1);
    EXPECT_EQ(notAdmin.err, prompt + person + " is not in the sudoers file.\n");
    EXPECT_FALSE(Power::sleepDisabled(root.path()));
}

// Only sudo makes root: not a variable in anyone's environment. Root's own
// sudo needs nothing, and runs as other users too.
TEST_F(Sudo, OnlySudoMakesRoot) {
    auto pretending = TestSupport::runProcess(SUDO_EXE, flipOn,
                                              {{"LUMRA_SIM_ROOT", root.path().string()}, {"LUMRA_SIM_USER", "root"}});
    EXPECT_EQ(pretending.err, passwordRequired);
    EXPECT_FALSE(Power::sleepDisabled(root.path()));

    auto nested = TestSupport::runAsRoot(root.path(), {"/usr/bin/sudo", "-n", "/usr/bin/pmset", "-a", "disablesleep", "1"});
    EXPECT_EQ(nested.status, 0) << nested.err;
    EXPECT_TRUE(Power::sleepDisabled(root.path()));
    auto asPerson = TestSupport::runAsRoot(root.path(), {"/usr/bin/sudo", "-n", "-u", person, "/usr/bin/pmset", "-a",
                                                         "disablesleep", "0"});
    EXPECT_EQ(asPerson.status, 1);
    EXPECT_NE(asPerson.err.find("Error: Insufficient privileges\n"), std::string::npos) << asPerson.err;
    EXPECT_TRUE(Power::sleepDisabled(root.path()));
}

// The command gets sudo's reset environment: the simulation's and the
// logging's variables survive, anything else of the caller's does not.
TEST_F(Sudo, ResetsTheEnvironment) {
    grant(person + " ALL=(ALL) NOPASSWD: ALL\n");
    auto variables = environment();
    variables["LOG_LEVEL"] = "debug";
    variables["LD_PRELOAD"] = "/tmp/evil.so";
    variables["FOO"] = "bar";
    variables["TERM"] = "xterm";
    auto run = [&](std::vector<std::string> arguments) {
        arguments.push_back("env");
        return TestSupport::runProcess(SUDO_EXE, arguments, variables).out;
    };
    std::string plain = run({"-n"});
    for (const std::string& kept : std::vector<std::string>{
             "LOG_LEVEL=debug\n", "TERM=xterm\n", "LUMRA_SIM_ROOT=" + root.path().string() + "\n",
          "HOME=" + home.path().string() + "\n", "USER=root\n", "LOGNAME=root\n", "SUDO_USER=" + person + "\n",
          "SUDO_UID=" + uid + "\n", "SUDO_COMMAND=/bin/env\n"})
        EXPECT_NE(plain.find(kept), std::string::npos) << kept << plain;
    for (const char* gone : {"LD_PRELOAD=", "FOO="}) EXPECT_EQ(plain.find(gone), std::string::npos) << gone;

    std::string rootHome = run({"-n", "-H"});
    EXPECT_NE(rootHome.find("HOME=" + (root.path() / "var/root").string() + "\n"), std::string::npos) << rootHome;
    std::string asPerson = run({"-nH", "-u", person});
    EXPECT_NE(asPerson.find("USER=" + person + "\n"), std::string::npos) << asPerson;
    EXPECT_NE(asPerson.find("HOME=/Users/" + person + "\n"), std::string::npos) << asPerson;
}

TEST_F(Sudo, BadOptionsUnknownUsersAndNoCommandAreRefused) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"-k", "/usr/bin/pmset", "-g"}, "sudo: invalid option -- 'k'\nusage: sudo"},
        {{"--bogus", "/usr/bin/pmset"}, "sudo: unrecognized option '--bogus'\nusage: sudo"},
        {{"-u"}, "sudo: option requires an argument -- 'u'\nusage: sudo"},
        {{}, "usage: sudo"},
        {{"-n"}, "usage: sudo"},
        {{"-n", "-u", "nobody-here", "/usr/bin/pmset", "-g"}, "sudo: unknown user nobody-here\n"},
    };
    for (const auto& [arguments, start] : rows) {
        auto finished = sudo(arguments);
        EXPECT_EQ(finished.status, 1);
        EXPECT_EQ(finished.err.rfind(start, 0), 0u) << finished.err;
    }
}

} // namespace
