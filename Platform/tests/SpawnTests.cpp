#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using Platform::Environment;
using Platform::LaunchFailure;
using Platform::ProgramExit;
using Platform::runProgram;

ProgramExit exited(const Platform::ProgramRun& run) {
    if (auto* failure = std::get_if<LaunchFailure>(&run)) ADD_FAILURE() << "did not start: " << failure->description;
    auto* exit = std::get_if<ProgramExit>(&run);
    return exit ? *exit : ProgramExit{};
}

ProgramExit shell(const std::string& script, const std::optional<Environment>& environment = std::nullopt) {
    return exited(runProgram("/bin/sh", {"-c", script}, environment));
}

void writeScript(const std::filesystem::path& file, const std::string& body) {
    TestSupport::writeFile(file, "#!/bin/sh\n" + body);
    ::chmod(file.c_str(), 0755);
}

TEST(Spawn, CollectsBothOutputsAndTheExitStatus) {
    auto exit = shell("printf 'to out'; printf 'to err' >&2; exit 3");
    EXPECT_EQ(exit.status, 3);
    EXPECT_EQ(exit.out, "to out");
    EXPECT_EQ(exit.err, "to err");
    EXPECT_EQ(shell("true").status, 0);
    EXPECT_EQ(shell("exit 255").status, 255);
}

TEST(Spawn, ASignalEndingTheChildGivesOneHundredTwentyEightPlusItsNumber) {
    EXPECT_EQ(shell("kill -9 $$").status, 128 + 9);
    EXPECT_EQ(shell("kill -15 $$").status, 128 + 15);
}

// The child fills standard error far past any pipe buffer before writing a
// byte of standard output, then does the opposite: reading one pipe to its
// end before the other would never finish.
TEST(Spawn, AChildFillingBothPipesNeverStalls) {
    auto pending = std::async(std::launch::async, [] {
        return shell("head -c 3000000 /dev/zero | tr '\\0' e >&2; head -c 3000000 /dev/zero | tr '\\0' o; "
                     "head -c 1000000 /dev/zero | tr '\\0' E >&2");
    });
    if (pending.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fprintf(stderr, "runProgram stalled on full pipes\n");
        std::abort(); // the stuck thread cannot be joined
    }
    auto exit = pending.get();
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.out, std::string(3000000, 'o'));
    EXPECT_EQ(exit.err, std::string(3000000, 'e') + std::string(1000000, 'E'));
}

TEST(Spawn, AGivenEnvironmentReplacesTheWholeOne) {
    ::setenv("LUMRA_SPAWN_INHERITED", "from the parent", 1);
    EXPECT_EQ(shell("printf %s \"$LUMRA_SPAWN_INHERITED\"").out, "from the parent");

    auto replaced = shell("printf '%s|%s|%s' \"$ONLY\" \"${LUMRA_SPAWN_INHERITED-unset}\" \"${HOME-unset}\"",
                          Environment{{"ONLY", "this one"}});
    EXPECT_EQ(replaced.out, "this one|unset|unset");
    EXPECT_EQ(shell("printf %s \"${HOME-unset}\"", Environment{}).out, "unset");
    ::unsetenv("LUMRA_SPAWN_INHERITED");
}

// The descriptors this process lets every child inherit (the test runner
// may hand some down to it).
std::set<std::string> inheritable() {
    std::set<std::string> fds{"0", "1", "2"};
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        int fd = std::stoi(entry.path().filename());
        int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) fds.insert(entry.path().filename());
    }
    return fds;
}

TEST(Spawn, StandardInputIsTheNullDeviceAndNoDescriptorLeaks) {
    EXPECT_EQ(shell("readlink /proc/$$/fd/0").out, "/dev/null\n");
    // Lines such as "l-wx------ 1 root root 64 Dec 9 07:20 1 -> pipe:[49874]";
    // ls's own descriptor on the folder it lists does not count.
    auto listing = exited(runProgram("/bin/ls", {"-l", "/proc/self/fd"})).out;
    std::set<std::string> childFds;
    for (std::istringstream lines(listing); std::getline(lines, listing);) {
        size_t arrow = listing.find(" -> ");
        if (arrow == std::string::npos || listing.substr(arrow).ends_with("/fd")) continue;
        size_t space = listing.rfind(' ', arrow - 1);
        childFds.insert(listing.substr(space + 1, arrow - space - 1));
    }
    auto allowed = inheritable();
    for (const auto& fd : childFds) EXPECT_TRUE(allowed.contains(fd)) << "descriptor " << fd << " leaked";
    for (const char* standard : {"0", "1", "2"}) EXPECT_TRUE(childFds.contains(standard)) << standard;
}

TEST(Spawn, AProgramThatCannotStartIsALaunchFailure) {
    auto missing = runProgram("/nonexistent/program", {});
    ASSERT_TRUE(std::holds_alternative<LaunchFailure>(missing));
    EXPECT_EQ(std::get<LaunchFailure>(missing).error, ENOENT);
    EXPECT_EQ(std::get<LaunchFailure>(missing).description, "No such file or directory");

    TestSupport::TempDir folder;
    TestSupport::writeFile(folder / "not-executable", "#!/bin/sh\n");
    auto refused = runProgram((folder / "not-executable").string(), {});
    ASSERT_TRUE(std::holds_alternative<LaunchFailure>(refused));
    EXPECT_EQ(std::get<LaunchFailure>(refused).description, "Permission denied");
}

TEST(Spawn, EveryChildIsReaped) {
    for (int i = 0; i < 3; ++i) shell("exit 1");
    runProgram("/nonexistent/program", {});
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// A macOS tool path runs the simulated machine's program there, which sees
// the simulation root even in a replaced environment.
TEST(Spawn, MacOSToolPathsRunTheSimulatedMachinesProgram) {
    TestSupport::TempDir root;
    writeScript(root / "usr/bin/lumra-tool", "printf '%s|%s|%s' \"$1\" \"$LUMRA_SIM_ROOT\" \"${HOME-unset}\"\n");
    auto exit = exited(runProgram("/usr/bin/lumra-tool", {"first"}, Environment{}, root.path()));
    EXPECT_EQ(exit.out, "first|" + root.path().string() + "|unset");

    std::string processRoot = Platform::SimulatedHost::root().string();
    std::optional<std::string> home;
    if (const char* value = std::getenv("HOME")) home = value;
    ::setenv("LUMRA_SIM_ROOT", "/somewhere/else", 1);
    ::setenv("HOME", "/home/inherited", 1);
    EXPECT_EQ(exited(runProgram("/usr/bin/lumra-tool", {"x"}, std::nullopt, root.path())).out,
              "x|" + root.path().string() + "|/home/inherited");
    ::setenv("LUMRA_SIM_ROOT", processRoot.c_str(), 1);
    home ? ::setenv("HOME", home->c_str(), 1) : ::unsetenv("HOME");

    // No such tool on the machine and no stand-in for it: the platform has none.
    auto missing = runProgram("/usr/bin/lumra-no-such-tool", {}, std::nullopt, root.path());
    ASSERT_TRUE(std::holds_alternative<LaunchFailure>(missing));
    EXPECT_EQ(std::get<LaunchFailure>(missing).error, ENOENT);
}

// A hung program and what it started are killed together at the limit, with
// what they wrote by then; one that ends in time is untouched. Neither the
// sleeping grandchild nor one that lets go of its pipes can hold the caller.
TEST(SpawnWithALimit, KillsTheWholeGroupAtTheLimit) {
    TestSupport::TempDir folder;
    auto pids = folder / "pids";
    struct Case {
        std::string script;
        bool timedOut;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {"echo started; sleep 30 & echo $! > " + pids.string() + "; sleep 30", true, 128 + SIGKILL, "started\n"},
        {"exec >/dev/null 2>&1; sleep 30", true, 128 + SIGKILL, ""},
        {"echo quick; exit 3", false, 3, "quick\n"},
    };
    for (const auto& [script, timedOut, status, out] : cases) {
        auto begun = std::chrono::steady_clock::now();
        Platform::SpawnOptions options;
        options.limit = std::chrono::milliseconds(300);
        auto exit = exited(runProgram("/bin/sh", {"-c", script}, std::nullopt, Platform::SimulatedHost::root(), options));
        auto took = std::chrono::steady_clock::now() - begun;
        EXPECT_EQ(exit.timedOut, timedOut) << script;
        EXPECT_EQ(exit.status, status) << script;
        EXPECT_EQ(exit.out, out) << script;
        EXPECT_LT(took, std::chrono::seconds(5)) << script;
    }
    // The sleeping grandchild went with its group.
    pid_t grandchild = std::stoi(TestSupport::contents(pids));
    bool gone = false;
    for (int attempt = 0; attempt < 200 && !(gone = TestSupport::hasEnded(grandchild)); ++attempt) ::usleep(5000);
    EXPECT_TRUE(gone);
}

// A started program's output can go to a descriptor of the caller's choice.
TEST(StartProgram, StandardOutputAndErrorGoWhereAsked) {
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    Platform::SpawnOptions options;
    options.output = pipe[1];
    auto started = Platform::startProgram("/bin/sh", {"-c", "echo out; echo err >&2"}, std::nullopt,
                                          Platform::SimulatedHost::root(), options);
    ::close(pipe[1]);
    ASSERT_TRUE(std::holds_alternative<pid_t>(started));
    std::string written;
    char buffer[256];
    for (ssize_t count; (count = ::read(pipe[0], buffer, sizeof buffer)) > 0;) written.append(buffer, size_t(count));
    ::close(pipe[0]);
    ::waitpid(std::get<pid_t>(started), nullptr, 0);
    EXPECT_EQ(written, "out\nerr\n");
}

} // namespace
