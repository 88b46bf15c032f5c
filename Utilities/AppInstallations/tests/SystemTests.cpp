// Tools, apps and quitting, through real child processes on a simulated
// machine.

#include <AppInstallations/System.hpp>
#include <Platform/ProcessTable.hpp>
#include <Platform/QuitRequests.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace {

using namespace AppInstallation;
using testing::HasSubstr;
namespace fs = std::filesystem;

fs::path script(const TestSupport::TempDir& folder, const std::string& name, const std::string& body) {
    fs::path path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms(0755));
    return path;
}

TEST(Spawn, OutcomesOfTools) {
    TestSupport::TempDir folder;
    struct Case {
        std::string name, body;
        Spawned expected;
    };
    const Case cases[] = {
        {"ok", "printf 'hello\\n'", Ran{0, "hello\n"}},
        {"stderr-only", "echo oops >&2; exit 3", Ran{3, ""}},
        {"killed", "printf before; kill -9 $$", Ran{-1, "before"}},
        {"bad-utf8", "printf 'a\\377b'",
         Ran{0, "a\xEF\xBF\xBD"
                "b"}},
        {"no-stdin", "cat; echo $?", Ran{0, "0\n"}},
    };
    for (const auto& c : cases) EXPECT_EQ(spawn(script(folder, c.name, c.body).string(), {}), c.expected) << c.name;

    EXPECT_EQ(spawn((folder / "missing").string(), {}), Spawned{NotStarted{ENOENT}});
    EXPECT_EQ(spawn("/bin/true", {}, [](posix_spawnattr_t&) { return false; }), Spawned{NotStarted{1}});
    EXPECT_EQ(spawn("/bin/echo", {"a b", "c"}), (Spawned{Ran{0, "a b c\n"}}));
}

// A descriptor the caller opened without close-on-exec stays out of the child.
TEST(Spawn, TheChildGetsOnlyItsThreeDescriptors) {
    int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    auto spawned = spawn("/bin/sh", {"-c", "ls /proc/self/fd | wc -l"});
    ::close(leaked);
    // 0, 1, 2 and the descriptor ls reads the folder through.
    EXPECT_EQ(spawned, (Spawned{Ran{0, "4\n"}}));
}

TEST(Tool, MergesBothOutputsAndReportsWhatCannotStart) {
    TestSupport::TempDir folder;
    auto both = script(folder, "both", "echo one; echo two >&2; echo three; exit 2");
    EXPECT_EQ(tool(both.string(), {}), (ToolResult{2, "one\ntwo\nthree\n"}));
    std::string missing = (folder / "nothing").string();
    EXPECT_EQ(tool(missing, {}), (ToolResult{127, missing + " did not start"}));
}

TestSupport::Finished probe(const std::vector<std::string>& arguments, std::map<std::string, std::string> env = {}) {
    env.emplace("LOG_FORMAT", "json");
    return TestSupport::runProcess(PROBE_EXE, arguments, env, std::chrono::seconds(20));
}

TEST(Run, AToolThatCannotStartLogsDidNotStartWithItsNumber) {
    auto finished = probe({"run", "/nonexistent/tool", "-x", "y"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.out, "-1 ");
    EXPECT_THAT(finished.err, HasSubstr(R"("msg":"did not start")"));
    EXPECT_THAT(finished.err, HasSubstr(R"("args":["-x","y"])"));
    EXPECT_THAT(finished.err, HasSubstr(R"("errno":2)"));
    EXPECT_THAT(finished.err, HasSubstr(R"("tool":"/nonexistent/tool")"));
}

TEST(AtExit, OnlyTheLastWorkRunsAndOnlyOnce) {
    auto finished = probe({"at-exit", "3"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.out, "main done\nwork 2\n");
}

// clock.json's rate shortens the ten seconds: to 10 ms where nothing
// answers, to 2 s where the answer must come first even on a busy machine.
class Quit : public testing::Test {
protected:
    TestSupport::Finished run(const std::string& mode, int rate) {
        fs::create_directories(root.path());
        std::ofstream(root / "clock.json") << "{\"rate\":" << rate << "}";
        return probe({mode}, {{"LUMRA_SIM_ROOT", root.path().string()}});
    }
    TestSupport::TempDir root;
};

TEST_F(Quit, WithoutAnAnswerTheFallbackExitsZeroAfterTheExitWork) {
    auto finished = run("quit", 1000);
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.out, "exit work\n");
    EXPECT_THAT(finished.err, HasSubstr(R"("msg":"quitting")"));
    EXPECT_THAT(finished.err, HasSubstr(R"("msg":"nothing answered the quit: exiting")"));
}

TEST_F(Quit, AnAppThatAnswersEndsNormally) {
    auto finished = run("quit-handled", 5);
    EXPECT_EQ(finished.status, 3); // main's own return after the loop stopped
    EXPECT_EQ(finished.out, "asked to quit\nexit work\n");
    EXPECT_THAT(finished.err, testing::Not(HasSubstr("nothing answered")));
}

TEST(Reopen, ABareBuildLogsTheFailureAndKeepsRunning) {
    auto finished = probe({"reopen"});
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.out, "still running\n");
    EXPECT_THAT(finished.err, HasSubstr(R"("msg":"reopen failed")"));
    EXPECT_THAT(finished.err, HasSubstr(R"("why":"test")"));
}

// open starts a bundle's program through the stand-in, isRunning and
// processes(inside:) see it, and a quit request ends it.
TEST(Open, StartsTheBundlesProgramWhichIsRunningSees) {
    TestSupport::TempDir home;
    std::string app = (home / "Apps/Probe.app").string();
    auto made = TestSupport::runProcess(LUMRA_SIM_EXE, {"bundle", "make", app, "--identifier", "test.probe"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_FALSE(isRunning(app));

    ASSERT_EQ(AppInstallation::open(app, {"--flag"}, true), 0);
    auto launches = TestSupport::contents(Platform::SimulatedHost::root() / "open/launches.jsonl");
    auto line = nlohmann::json::parse(launches.substr(0, launches.find('\n')));
    EXPECT_EQ(line["path"], app);
    EXPECT_EQ(line["arguments"], nlohmann::json::array({"--flag"}));
    EXPECT_EQ(line["new"], true);
    EXPECT_EQ(line["background"], true);
    EXPECT_EQ(line["hidden"], true);
    pid_t pid = line["pid"].get<pid_t>();

    EXPECT_TRUE(isRunning(app));
    EXPECT_EQ(processes(home.path().string()), std::vector<pid_t>{pid});
    // Without -n a running app is only activated.
    EXPECT_EQ(tool("/usr/bin/open", {app}), (ToolResult{0, ""}));
    auto activation =
        nlohmann::json::parse(TestSupport::lines(Platform::SimulatedHost::root() / "open/launches.jsonl").back());
    EXPECT_EQ(activation["new"], false);
    EXPECT_EQ(activation["pid"], pid);
    EXPECT_EQ(processes((home / "Apps/Other").string()), std::vector<pid_t>{});

    // A request sent before the app listens is lost, as an event sent to an
    // app still launching would be: wait for its first line.
    fs::path log = Platform::SimulatedHost::root() / "open/Probe.log";
    for (int i = 0; i < 400 && TestSupport::contents(log).find("app started") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(Platform::QuitRequests::send(pid));
    for (int i = 0; i < 200 && Platform::ProcessTable::executablePath(pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(isRunning(app));
}

// What the stand-in says, and what the app it starts gets.
TEST(Open, RefusalsAndTheStartedProgramsEnvironment) {
    TestSupport::TempDir home;
    std::string none = (home / "None.app").string(), bare = (home / "Bare.app").string(),
                env = (home / "Env.app").string();
    for (auto arguments :
         {std::vector<std::string>{"bundle", "make", bare, "--identifier", "t.bare", "--no-program"},
          std::vector<std::string>{"bundle", "make", env, "--identifier", "t.env", "--program", "/usr/bin/env"}})
        ASSERT_EQ(TestSupport::runProcess(LUMRA_SIM_EXE, arguments).status, 0);
    const std::pair<std::vector<std::string>, ToolResult> cases[] = {
        {{none}, {1, "The file " + none + " does not exist.\n"}},
        {{bare}, {1, "The application cannot be opened because its executable is missing.\n"}},
        {{"-x", bare}, {1, "Usage: open [-n] [-g] [-j] <application> [--args arguments]\n"}},
        {{}, {1, "Usage: open [-n] [-g] [-j] <application> [--args arguments]\n"}},
    };
    for (const auto& [arguments, expected] : cases) EXPECT_EQ(tool("/usr/bin/open", arguments), expected);

    ::setenv("XPC_SERVICE_NAME", "test.job", 1);
    ::setenv("OPEN_TEST_MARK", "kept", 1);
    EXPECT_EQ(tool("/usr/bin/open", {"-n", env}), (ToolResult{0, ""}));
    ::unsetenv("XPC_SERVICE_NAME");
    fs::path log = Platform::SimulatedHost::root() / "open/Env.log";
    for (int i = 0; i < 200 && TestSupport::contents(log).find("OPEN_TEST_MARK") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::string seen = TestSupport::contents(log);
    EXPECT_THAT(seen, HasSubstr("OPEN_TEST_MARK=kept\n"));
    EXPECT_THAT(seen, testing::Not(HasSubstr("XPC_SERVICE_NAME")));
}

TEST(Open, WithoutTheToolTheFailureIsLoggedAndMinusOne) {
    fs::path tool = Platform::SimulatedHost::hostPath("/usr/bin/open");
    fs::remove(tool);
    fs::create_directories(tool); // a folder cannot be run, nor replaced by the stand-in
    EXPECT_EQ(AppInstallation::open("/Applications/X.app", {}, false), -1);
    fs::remove(tool);
}

} // namespace
