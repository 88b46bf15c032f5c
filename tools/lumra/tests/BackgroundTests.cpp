// `lumra background …` with the real programs on a temporary simulated Mac:
// the registry, launchd running lumrad, the person's answers.

#include <AppInstallations/Job.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/Processes.hpp>
#include <TestSupport/SimMachine.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::StartsWith;
using TestSupport::Finished;

const std::string steer =
    "In Login Items, under Background App Activity, turn on Lumra (it may be listed as “Lumra Project”).";

// A fresh machine whose time runs 20 times faster, with a copy of the built
// app in /Applications.
struct Machine : TestSupport::SimMachine {
    Machine() : SimMachine(LUMRA_SIM_EXE) {
        Platform::SimulatedHost::initialize(root);
        TestSupport::writeFile(root / "clock.json", R"({"rate": 20})");
        copyApp(app);
    }
    void copyApp(const fs::path& to) const {
        fs::create_directories(to.parent_path());
        fs::copy(fs::canonical(LUMRA_EXE).parent_path().parent_path().parent_path(), to,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    Finished lumra(const std::vector<std::string>& arguments) const {
        return TestSupport::runProcess(app / "Contents/MacOS/lumra", arguments, environment(), 60s);
    }
    std::string printed() const {
        std::string domain = sim({"launchd", "list"}).out;
        domain = domain.substr(0, domain.find('\t'));
        return TestSupport::runProcess(root / "bin/launchctl", {"print", domain + "/app.lumra.service.lumrad"},
                                       environment()).out;
    }
    size_t openedURLs() const { return TestSupport::lines(root / "opened-urls.log").size(); }

    fs::path app = root / "Applications/Lumra.app";
};

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
    EXPECT_GT(machine.openedURLs(), 0u);
    EXPECT_THAT(machine.lumra({"grants"}).out, StartsWith("Background service  good\nLogin item  askable  Turn On\n"));

    std::string printed = machine.printed();
    EXPECT_THAT(printed, HasSubstr("\"Executable\" => \"/Applications/Lumra.app/Contents/MacOS/lumrad\""));
    auto pid = AppInstallation::pidIn(printed);
    ASSERT_TRUE(pid);
    EXPECT_THAT(TestSupport::environmentOf(*pid), HasSubstr("\nXPC_SERVICE_NAME=app.lumra.service.lumrad\n"));
    EXPECT_EQ(machine.lumra({"status"}).status, 0);

    // Killed, launchd starts it again, and it answers.
    ::kill(*pid, SIGKILL);
    std::optional<int32_t> again;
    EXPECT_TRUE(TestSupport::eventually([&] {
        again = AppInstallation::pidIn(machine.printed());
        return again && *again != *pid && machine.lumra({"status"}).status == 0;
    }, 10s));

    auto off = machine.lumra({"background", "off"});
    EXPECT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(off.out, "not installed\n");
    EXPECT_TRUE(TestSupport::eventually([&] { return TestSupport::hasEnded(again.value_or(*pid)); }, 10s));
    EXPECT_EQ(machine.sim({"launchd", "list"}).out, "no jobs loaded\n");
    EXPECT_EQ(machine.sim({"background", "list"}).out, "no registrations\n");
}

TEST(Background, RefusalsSayWhy) {
    const std::string refused = "macOS refused the registration: ", misplaced =
        "running from ~/Downloads: lumrad runs only from an Applications folder";
    struct Case {
        std::vector<std::string> setUp; // a lumra-sim command; @APP is the app
        std::string wait, error, status;
        size_t opened;     // Login Items opened
        std::string grant = "Background service  askable  Turn On\n"; // the first line of `lumra grants`
    } const cases[] = {
        {{"background", "policy", "agent", "ask"}, "2",
         "still awaiting approval in System Settings › General › Login Items & Extensions",
         "awaiting approval: " + steer, 1, "Background service  broken  Open Login Items  Waiting for your OK. " +
         steer + "\n"},
        {{"background", "policy", "agent", "switchedOff"}, "",
         "switched off in System Settings › General › Login Items & Extensions. " + steer, "not installed", 1},
        {{"background", "policy", "agent", "ignored"}, "", refused + "status 0 after registering", "not installed", 0},
        {{"sign", "@APP", "--adhoc"}, "", refused + "The application's code signature does not meet the requirements "
         "to perform the operation. (SMAppService needs the bundle signed by a team, never ad hoc)", "not installed", 0},
        {{"background", "fail", "register", "5", "6"}, "", refused + "The specified path does not exist or the "
         "helper tool at the specified path is not valid.", "not installed", 0},
        {{}, "", misplaced, misplaced, 0, // a copy in ~/Downloads, and one in /Applications
         "Background service  broken  Open in Applications  Only works from the Applications folder.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Machine machine;
        if (c.setUp.empty()) machine.copyApp(machine.app = machine.home / "Downloads/Lumra.app");
        auto command = c.setUp;
        std::replace(command.begin(), command.end(), std::string("@APP"), machine.app.string());
        if (!command.empty()) {
            ASSERT_EQ(machine.sim(command).status, 0);
        }
        auto on = machine.lumra(c.wait.empty() ? std::vector<std::string>{"background", "on"}
                                               : std::vector<std::string>{"background", "on", "--wait", c.wait});
        EXPECT_EQ(on.status, 1);
        EXPECT_EQ(on.err, c.error + "\n");
        EXPECT_EQ(on.out, "");
        EXPECT_EQ(machine.lumra({"background", "status"}).out, c.status + "\n");
        EXPECT_THAT(machine.lumra({"grants"}).out, StartsWith(c.grant));
        EXPECT_EQ(machine.openedURLs(), c.opened);
        EXPECT_EQ(machine.sim({"launchd", "list"}).out, "no jobs loaded\n");
    }
}

} // namespace
