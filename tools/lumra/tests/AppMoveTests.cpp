// `lumra app move` from copies of the real app on a temporary simulated Mac:
// the copy into Applications, the jobs handed to it, the new copy opened,
// the copy left behind.

#include <AppInstallations/Job.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/AppCopies.hpp>
#include <TestSupport/Processes.hpp>
#include <TestSupport/SimMachine.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using testing::HasSubstr;
using testing::Not;
using TestSupport::Finished;

const std::string plist = "app.lumra.service.lumrad.plist";
const json turnOnLumrad = json::array({"--app-installation-turn-on", plist});

// A fresh machine whose time runs 5 times faster: a wait for lumrad to
// answer still lasts two seconds, time enough on a busy machine. Every app
// the tests had opened ends with it, before its launchd jobs are booted out.
struct Machine : TestSupport::SimMachine {
    Machine() : SimMachine(LUMRA_SIM_EXE) {
        Platform::SimulatedHost::initialize(root);
        TestSupport::writeFile(root / "clock.json", R"({"rate": 5})");
    }
    ~Machine() {
        for (const json& launch : launches())
            if (launch["new"] == true) end(launch["pid"].get<pid_t>());
    }
    static void end(pid_t pid) {
        ::kill(pid, SIGTERM);
        if (!TestSupport::ends(pid)) ::kill(pid, SIGKILL);
    }

    const fs::path& place(const fs::path& app) const {
        TestSupport::copyBundle(fs::canonical(LUMRA_EXE).parent_path().parent_path().parent_path(), app);
        return app;
    }
    // Its log lines on standard error, one JSON object each.
    Finished lumra(const fs::path& app, const std::vector<std::string>& arguments) const {
        auto logging = environment();
        logging.insert({{"LOG_LEVEL", "info"}, {"LOG_FORMAT", "json"}});
        return TestSupport::runProcess(app / "Contents/MacOS/lumra", arguments, logging, 60s);
    }
    Finished move(const fs::path& app, std::vector<std::string> options) const {
        options.insert(options.begin(), {"app", "move"});
        return lumra(app, options);
    }
    Finished open(const std::string& app) const { // a macOS path
        return TestSupport::runProcess(root / "usr/bin/open", {app}, environment());
    }
    // The copy in ~/Applications with lumrad on as its agent; lumrad's pid.
    pid_t mineRunningLumrad() const {
        place(mine);
        auto on = lumra(mine, {"background", "on"});
        EXPECT_EQ(on.out, "running\n") << on.err;
        return AppInstallation::pidIn(printed()).value_or(0);
    }
    std::string printed() const {
        std::string domain = sim({"launchd", "list"}).out;
        domain = domain.substr(0, domain.find('\t'));
        return TestSupport::runProcess(root / "bin/launchctl", {"print", domain + "/app.lumra.service.lumrad"},
                                       environment())
            .out;
    }
    std::vector<json> launches() const {
        std::vector<json> lines;
        for (const std::string& line : TestSupport::lines(root / "open/launches.jsonl"))
            lines.push_back(json::parse(line));
        return lines;
    }
    std::vector<std::string> trash() const {
        return fs::exists(home / ".Trash") ? TestSupport::entries(home / ".Trash") : std::vector<std::string>{};
    }

    fs::path everyone = root / "Applications/Lumra.app", mine = home / "Applications/Lumra.app",
             download = home / "Downloads/Lumra.app";
};

// The installation layer's log lines in a move's standard error, each
// message's fields by message, and the messages in order.
std::vector<std::string> messages(const std::string& err, json* fields = nullptr) {
    std::vector<std::string> texts;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        json parsed = json::parse(line, nullptr, false);
        if (!parsed.is_object() || parsed["scope"] != json::array({"install"})) continue;
        texts.push_back(parsed["msg"]);
        if (fields) (*fields)[texts.back()] = parsed["fields"];
    }
    return texts;
}

TEST(AppMove, BetweenApplicationsFoldersTheAgentGoesAlong) {
    Machine machine;
    pid_t lumrad = machine.mineRunningLumrad();
    ASSERT_GT(lumrad, 0);

    // Not asked for, but on: carried to the new copy, stopped in the old one.
    auto moved = machine.move(machine.mine, {"--for-everyone"});
    EXPECT_EQ(moved.status, 0) << moved.err;
    EXPECT_EQ(moved.out, "Lumra is now in /Applications/Lumra.app\n");
    json fields;
    EXPECT_EQ(messages(moved.err, &fields),
              (std::vector<std::string>{"copied into Applications", "uninstalled",
                                        "opened the app in Applications; leaving",
                                        "the copy left behind moved to the Trash", "quitting"}));
    EXPECT_EQ(fields["copied into Applications"],
              (json{{"from", machine.mine.string()}, {"to", "/Applications/Lumra.app"}}));
    EXPECT_EQ(fields["uninstalled"], (json{{"job", plist}}));
    EXPECT_EQ(fields["opened the app in Applications; leaving"],
              (json{{"from", machine.mine.string()}, {"jobs handed over", {plist}}}));
    EXPECT_EQ(fields["the copy left behind moved to the Trash"],
              (json{{"path", machine.mine.string()}, {"now", (machine.home / ".Trash/Lumra.app").string()}}));
    auto launches = machine.launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0]["path"], "/Applications/Lumra.app");
    EXPECT_EQ(launches[0]["arguments"], turnOnLumrad);
    EXPECT_THAT(machine.sim({"background", "list"}).out, Not(HasSubstr(machine.mine.string())));
}

TEST(AppMove, ACopyAlreadyInApplicationsIsTakenAsItIs) {
    Machine machine;
    machine.place(machine.everyone);
    TestSupport::writeFile(machine.everyone / "Contents/Resources/mark", "the copy that was there");

    // Not running: opened with the switches, the download left where it is.
    machine.place(machine.download);
    auto moved = machine.move(machine.download, {"--for-everyone", "--turn-on"});
    EXPECT_EQ(moved.status, 0) << moved.err;
    EXPECT_EQ(moved.out, "Lumra is now in /Applications/Lumra.app\n");
    EXPECT_EQ(TestSupport::contents(machine.everyone / "Contents/Resources/mark"), "the copy that was there");
    auto launches = machine.launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0]["arguments"], turnOnLumrad);
    EXPECT_TRUE(fs::exists(machine.download));
}

TEST(AppMove, ARunningCopyInApplicationsIsOnlyBroughtForward) {
    Machine machine;
    machine.place(machine.everyone);
    ASSERT_EQ(machine.open("/Applications/Lumra.app").status, 0);

    // The copy moving there keeps its jobs and stays.
    pid_t lumrad = machine.mineRunningLumrad();
    ASSERT_GT(lumrad, 0);
    auto moved = machine.move(machine.mine, {"--for-everyone", "--turn-on"});
    EXPECT_EQ(moved.status, 0) << moved.err;
    EXPECT_EQ(moved.out, "Lumra is now in /Applications/Lumra.app\n");
    const std::string forward = "the app in Applications is already running: brought forward; leaving";
    json fields;
    EXPECT_EQ(messages(moved.err, &fields), (std::vector<std::string>{forward, "quitting"}));
    // lumrad, asked for, and the enabled agent behind it are one job.
    EXPECT_EQ(fields[forward], (json{{"from", machine.mine.string()}, {"jobs not carried", {"lumrad"}}}));
    auto launches = machine.launches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_EQ(launches[1]["path"], "/Applications/Lumra.app");
    EXPECT_EQ(launches[1]["new"], false);
    EXPECT_EQ(launches[1]["arguments"], json::array());
    EXPECT_EQ(launches[1]["pid"], launches[0]["pid"]);
    EXPECT_EQ(AppInstallation::pidIn(machine.printed()), lumrad);
    EXPECT_TRUE(fs::exists(machine.mine));
    EXPECT_EQ(machine.trash(), std::vector<std::string>{});
}

TEST(AppMove, OpeningFailsAfterStoppingTheJobsComeBack) {
    Machine machine;
    pid_t lumrad = machine.mineRunningLumrad();
    ASSERT_GT(lumrad, 0);
    // A copy in /Applications that open cannot start.
    machine.place(machine.everyone);
    fs::remove(machine.everyone / "Contents/MacOS/lumra-app");

    auto moved = machine.move(machine.mine, {"--for-everyone"});
    EXPECT_EQ(moved.status, 1);
    EXPECT_THAT(moved.err, testing::EndsWith("\nlumra app move: opening the app in Applications: open exited 1\n"));
    EXPECT_EQ(messages(moved.err),
              (std::vector<std::string>{"uninstalled", "registered", "turned back on after the failed move"}));
    EXPECT_EQ(moved.out, "");
    // It was stopped for the new copy, and runs again here (launchd may
    // need a second try while the stopped one still ends).
    EXPECT_TRUE(TestSupport::eventually([&] { return TestSupport::hasEnded(lumrad); }, 10s));
    EXPECT_TRUE(TestSupport::eventually(
        [&] {
            return machine.lumra(machine.mine, {"background", "status"}).out == "running\n";
        },
        20s));
    EXPECT_THAT(machine.sim({"background", "list"}).out, HasSubstr("\t1 enabled\t" + machine.mine.string() + "\n"));
    EXPECT_TRUE(fs::exists(machine.mine));
    EXPECT_EQ(machine.trash(), std::vector<std::string>{});
    EXPECT_EQ(machine.launches().size(), 0u);
}

// Moves that end before anything is opened, and the command's refusals.
TEST(AppMove, RefusalsChangeNothing) {
    Machine machine;
    machine.place(machine.everyone);
    machine.place(machine.download);
    const std::string usage = "\n\nusage: lumra app where\n", copying = "lumra app move: copying into Applications: ";
    struct Case {
        std::string what;
        std::vector<std::string> arguments;
        int status;
        std::string error; // the whole of it, or its start when the usage follows
        std::function<fs::path()> setUp = {}; // answers the app to run; the download when none
    } const cases[] = {
        {"to where it is installed already", {"--for-everyone"}, 1, copying + "File exists\n",
         [&] { return machine.everyone; }},
        {"a part that cannot be copied", {"--just-for-me"}, 1, copying + "Invalid argument\n",
         [&] {
             fs::path app = machine.place(machine.scratch / "Broken/Lumra.app");
             EXPECT_EQ(::mkfifo((app / "Contents/pipe").c_str(), 0600), 0);
             return app;
         }},
        {"a file where the folder goes", {"--just-for-me", "--turn-on"}, 1, copying + "File exists\n",
         [&] {
             // The failed copy before left the folder it made, and nothing in it.
             EXPECT_EQ(TestSupport::entries(machine.home / "Applications"), std::vector<std::string>{});
             fs::remove(machine.home / "Applications");
             TestSupport::writeFile(machine.home / "Applications", "not a folder");
             return machine.download;
         }},
        {"outside any app", {"--for-everyone"}, 1, "lumra app move: not running from an app bundle\n",
         [&] { return machine.scratch.path(); }},
        {"no scope", {"--turn-on"}, 2, "lumra app move: --for-everyone or --just-for-me?" + usage},
        {"two scopes", {"--for-everyone", "--just-for-me"}, 2,
         "lumra app move: --for-everyone or --just-for-me, once" + usage},
        {"--turn-on twice", {"--turn-on", "--for-everyone", "--turn-on"}, 2,
         "lumra app move: --turn-on given twice" + usage},
        {"an unknown option", {"--for-everyone", "--now"}, 2, "lumra app move: unknown option: --now" + usage},
    };
    fs::copy_file(LUMRA_EXE, machine.scratch / "lumra");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::path app = c.setUp ? c.setUp() : machine.download;
        std::vector<std::string> arguments{"app", "move"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        auto moved = TestSupport::runProcess(app == machine.scratch.path() ? app / "lumra" : app / "Contents/MacOS/lumra",
                                             arguments, machine.environment(), 60s);
        EXPECT_EQ(moved.status, c.status);
        EXPECT_EQ(moved.err.substr(0, c.error.size()), c.error);
        EXPECT_EQ(moved.out, "");
    }
    EXPECT_EQ(TestSupport::entries(machine.root / "Applications"), std::vector<std::string>{"Lumra.app"});
    EXPECT_FALSE(fs::is_directory(machine.home / "Applications"));
    EXPECT_EQ(machine.launches().size(), 0u);
    EXPECT_EQ(machine.trash(), std::vector<std::string>{});
}

} // namespace
