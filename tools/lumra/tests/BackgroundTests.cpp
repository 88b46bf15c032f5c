// `lumra background …` with the real programs on a temporary simulated Mac:
// the registry, launchd running lumrad, the person's answers.

#include <AppInstallations/Job.hpp>
#include <Platform/Launchd.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;
using TestSupport::Finished;

const std::string label = "app.lumra.service.lumrad";
const std::string steer =
    "In Login Items, under Background App Activity, turn on Lumra (it may be listed as “Lumra Project”).";

// A fresh machine whose time runs 20 times faster, with a copy of the built
// app in /Applications. No job outlives it.
class Machine {
public:
    Machine() {
        Platform::SimulatedHost::initialize(root);
        std::ofstream(root / "clock.json") << R"({"rate": 20})";
        copyApp(root / "Applications/Lumra.app");
    }
    ~Machine() { Platform::Launchd::stopAll(root); }

    void copyApp(const fs::path& to) const {
        fs::create_directories(to.parent_path());
        fs::copy(fs::canonical(LUMRA_EXE).parent_path().parent_path().parent_path(), to,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    Finished lumra(const std::vector<std::string>& arguments,
                   const fs::path& app = fs::path("Applications/Lumra.app")) const {
        fs::path copy = app.is_absolute() ? app : root / app;
        return TestSupport::runProcess(copy / "Contents/MacOS/lumra", arguments, environment, 60s);
    }
    Finished sim(const std::vector<std::string>& arguments) const {
        return TestSupport::runProcess(LUMRA_SIM_EXE, arguments, environment);
    }
    std::string printed() const {
        std::string domain = sim({"launchd", "list"}).out;
        domain = domain.substr(0, domain.find('\t'));
        return TestSupport::runProcess(root / "bin/launchctl", {"print", domain + "/" + label}, environment).out;
    }
    std::vector<std::string> openedURLs() const {
        std::vector<std::string> lines;
        std::istringstream text(TestSupport::contents(root / "opened-urls.log"));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }

    TestSupport::TempDir home, scratch;
    fs::path root = scratch / "machine";
    std::map<std::string, std::string> environment{{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", root.string()}};
};

std::string environOf(int32_t pid) {
    std::string text = TestSupport::contents("/proc/" + std::to_string(pid) + "/environ");
    std::replace(text.begin(), text.end(), '\0', '\n');
    return text;
}

// Waits up to `limit` for `done`.
bool within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(20ms))
        if (done()) return true;
    return done();
}

TEST(Background, ApprovedItRunsUnderLaunchdUntilTurnedOff) {
    Machine machine;
    ASSERT_EQ(machine.sim({"background", "policy", "agent", "ask", "approve", "3"}).status, 0);
    EXPECT_EQ(machine.lumra({"background", "status"}).out, "not installed\n");

    // Two installs at once: one registration, both see it run.
    Finished first, second;
    std::thread other([&] { second = machine.lumra({"background", "on"}); });
    first = machine.lumra({"background", "on"});
    other.join();
    for (const Finished* on : {&first, &second}) {
        EXPECT_EQ(on->status, 0) << on->err;
        EXPECT_EQ(on->out, "running\n");
    }
    auto registered = machine.sim({"background", "list"}).out;
    EXPECT_EQ(std::count(registered.begin(), registered.end(), '\n'), 1) << registered;
    EXPECT_THAT(registered, HasSubstr("\t1 enabled\t/Applications/Lumra.app\n"));
    EXPECT_FALSE(machine.openedURLs().empty());

    std::string printed = machine.printed();
    EXPECT_THAT(printed, HasSubstr("\tstate = running\n"));
    EXPECT_THAT(printed, HasSubstr("\"Executable\" => \"/Applications/Lumra.app/Contents/MacOS/lumrad\""));
    auto pid = AppInstallation::pidIn(printed);
    ASSERT_TRUE(pid);
    EXPECT_THAT(environOf(*pid), HasSubstr("\nXPC_SERVICE_NAME=" + label + "\n"));
    EXPECT_EQ(machine.lumra({"status"}).status, 0);
    EXPECT_EQ(machine.lumra({"background", "status"}).out, "running\n");

    // Killed, launchd starts it again, and it answers.
    ::kill(*pid, SIGKILL);
    std::optional<int32_t> again;
    EXPECT_TRUE(within(10s, [&] {
        again = AppInstallation::pidIn(machine.printed());
        return again && *again != *pid && machine.lumra({"status"}).status == 0;
    }));

    auto off = machine.lumra({"background", "off"});
    EXPECT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(off.out, "not installed\n");
    EXPECT_TRUE(within(10s, [&] { return TestSupport::hasEnded(again.value_or(*pid)); }));
    EXPECT_EQ(machine.sim({"launchd", "list"}).out, "no jobs loaded\n");
    EXPECT_EQ(machine.sim({"background", "list"}).out, "no registrations\n");
}

TEST(Background, RefusalsSayWhy) {
    struct Case {
        std::string name;
        std::vector<std::vector<std::string>> setUp; // lumra-sim commands
        std::vector<std::string> on;
        std::string error;
        std::string status; // the words after the refusal
        size_t opened;      // Login Items opened
    };
    const Case cases[] = {
        {"never approved",
         {{"background", "policy", "agent", "ask"}},
         {"background", "on", "--wait", "2"},
         "still awaiting approval in System Settings › General › Login Items & Extensions",
         "awaiting approval: " + steer,
         1},
        {"switched off",
         {{"background", "policy", "agent", "switchedOff"}},
         {"background", "on"},
         "switched off in System Settings › General › Login Items & Extensions. " + steer,
         "not installed",
         1},
        {"registered, yet not there",
         {{"background", "policy", "agent", "ignored"}},
         {"background", "on"},
         "macOS refused the registration: status 0 after registering",
         "not installed",
         0},
        {"ad hoc copy",
         {{"sign", "@APP", "--adhoc"}},
         {"background", "on"},
         "macOS refused the registration: The application's code signature does not meet the requirements to perform "
         "the operation. (SMAppService needs the bundle signed by a team, never ad hoc)",
         "not installed",
         0},
        {"registry keeps failing",
         {{"background", "fail", "register", "5", "6"}},
         {"background", "on"},
         "macOS refused the registration: The specified path does not exist or the helper tool at the specified path "
         "is not valid.",
         "not installed",
         0},
        {"copy in Downloads",
         {},
         {"background", "on"},
         "running from ~/Downloads: lumrad runs only from an Applications folder",
         "running from ~/Downloads: lumrad runs only from an Applications folder",
         0},
    };
    for (const auto& c : cases) {
        Machine machine;
        fs::path app = machine.root / "Applications/Lumra.app";
        if (c.name == "copy in Downloads") {
            app = machine.home / "Downloads/Lumra.app";
            machine.copyApp(app);
        }
        for (auto command : c.setUp) {
            std::replace(command.begin(), command.end(), std::string("@APP"), app.string());
            ASSERT_EQ(machine.sim(command).status, 0) << c.name;
        }
        auto on = machine.lumra(c.on, app);
        EXPECT_EQ(on.status, 1) << c.name;
        EXPECT_EQ(on.err, c.error + "\n") << c.name;
        EXPECT_EQ(on.out, "") << c.name;
        EXPECT_EQ(machine.lumra({"background", "status"}, app).out, c.status + "\n") << c.name;
        EXPECT_EQ(machine.openedURLs().size(), c.opened) << c.name;
        EXPECT_EQ(machine.sim({"launchd", "list"}).out, "no jobs loaded\n") << c.name;
    }
}

} // namespace
