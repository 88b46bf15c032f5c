#include <Platform/Spawn.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Platform::Environment;
using Platform::LaunchFailure;
using Platform::startProgram;
using TestSupport::contents;
using TestSupport::TempDir;

pid_t shell(const std::string& script, const std::optional<Environment>& environment = std::nullopt) {
    auto start = startProgram("/bin/sh", {"-c", script}, environment);
    if (auto* failure = std::get_if<LaunchFailure>(&start)) ADD_FAILURE() << "did not start: " << failure->description;
    return std::holds_alternative<pid_t>(start) ? std::get<pid_t>(start) : -1;
}

// The exit status, or 128 + the signal, once the child has ended.
int reaped(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The child still runs when the call returns; its outputs are the caller's.
TEST(StartProgram, ReturnsAtOnceAndLeavesTheChildToTheCaller) {
    TempDir folder;
    std::fflush(stderr);
    int savedErr = ::dup(STDERR_FILENO);
    int file = ::open((folder / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    pid_t pid = shell("readlink /proc/$$/fd/0 >&2; exec sleep 30");
    ::dup2(savedErr, STDERR_FILENO);
    ::close(savedErr);
    ASSERT_GT(pid, 0);

    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "the child ended on its own";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (contents(folder / "err").empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(contents(folder / "err"), "/dev/null\n");
    ::kill(pid, SIGKILL);
    EXPECT_EQ(reaped(pid), 128 + SIGKILL);
}

// A service blocks SIGTERM to read it from a descriptor, ignores SIGPIPE and
// may hold descriptors not marked close-on-exec; a notifier it starts must
// inherit none of that, nor a Ctrl-C meant for the service.
TEST(StartProgram, TheChildStartsCleanInAProcessGroupOfItsOwn) {
    TempDir folder;
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
    auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
    int leaky = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC

    // Read by the child's own program: a shell's mask changes while it waits.
    auto signals = folder / "signals";
    pid_t pid = shell("[ -e /proc/$$/fd/" + std::to_string(leaky) + " ] && exit 1; exec grep -E '^Sig(Blk|Ign)' " +
                      "/proc/self/status > '" + signals.string() + "'");
    ::close(leaky);
    std::signal(SIGPIPE, oldPipe);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_GT(pid, 0);

    EXPECT_EQ(::getpgid(pid), pid);
    EXPECT_EQ(reaped(pid), 0) << "1: the caller's descriptor leaked";
    std::string text = contents(signals);
    EXPECT_NE(text.find("SigBlk:\t0000000000000000"), std::string::npos) << text;
    // Signals outside this test's control may be ignored; SIGPIPE must not.
    size_t ignored = text.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos) << text;
    EXPECT_EQ(std::stoull(text.substr(ignored + 8, 16), nullptr, 16) & (uint64_t(1) << (SIGPIPE - 1)), 0u) << text;
}

TEST(StartProgram, AGivenEnvironmentReplacesTheCallersAndToolsSeeTheirMachine) {
    TestSupport::ScopedEnvironment inherited{{"LUMRA_START_INHERITED", "from the parent"}};
    EXPECT_EQ(Platform::currentEnvironment().at("LUMRA_START_INHERITED"), "from the parent");
    TempDir folder;
    auto report = (folder / "report").string();

    EXPECT_EQ(reaped(shell("printf '%s|%s' \"$ONLY\" \"${LUMRA_START_INHERITED-unset}\" > '" + report + "'",
                           Environment{{"ONLY", "this one"}})),
              0);
    EXPECT_EQ(contents(report), "this one|unset");
    EXPECT_EQ(reaped(shell("printf %s \"$LUMRA_START_INHERITED\" > '" + report + "'")), 0);
    EXPECT_EQ(contents(report), "from the parent");

    // A macOS tool path runs the simulated machine's program, which is told
    // its root even in a replaced environment.
    TempDir root;
    TestSupport::writeFile(root / "usr/bin/lumra-tool",
                           "#!/bin/sh\nprintf '%s|%s' \"$1\" \"$LUMRA_SIM_ROOT\" > \"$2\"\n");
    ::chmod((root / "usr/bin/lumra-tool").c_str(), 0755);
    auto tool = startProgram("/usr/bin/lumra-tool", {"first", report}, Environment{}, root.path());
    ASSERT_TRUE(std::holds_alternative<pid_t>(tool));
    EXPECT_EQ(reaped(std::get<pid_t>(tool)), 0);
    EXPECT_EQ(contents(report), "first|" + root.path().string());
}

TEST(StartProgram, AProgramThatCannotStartIsALaunchFailureAndLeavesNoChild) {
    auto missing = startProgram("/nonexistent/program", {});
    ASSERT_TRUE(std::holds_alternative<LaunchFailure>(missing));
    EXPECT_EQ(std::get<LaunchFailure>(missing).error, ENOENT);
    EXPECT_EQ(std::get<LaunchFailure>(missing).description, "No such file or directory");

    TempDir folder;
    TestSupport::writeFile(folder / "not-executable", "#!/bin/sh\n");
    auto refused = startProgram((folder / "not-executable").string(), {});
    ASSERT_TRUE(std::holds_alternative<LaunchFailure>(refused));
    EXPECT_EQ(std::get<LaunchFailure>(refused).error, EACCES);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

} // namespace
