// The image watch of a running test app, on a fresh simulated machine: the
// app deleted, and the app moved to another Applications folder.

#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Processes.hpp>
#include <TestSupport/SimMachine.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;

const std::string identifier = "app.test.watched";

struct Machine : TestSupport::SimMachine {
    std::string home = this->SimMachine::home.path().string();

    Machine() : SimMachine(LUMRA_SIM_EXE) {
        EXPECT_EQ(sim({"init"}).status, 0);
        // A simulated second lasts a tenth of a real one.
        TestSupport::writeFile(root / "clock.json", R"({"rate": 10})");
    }
    ~Machine() {
        for (pid_t pid : launched()) ::kill(pid, SIGKILL);
    }
    fs::path host(const std::string& macPath) const { return Platform::SimulatedHost::hostPath(macPath, root); }

    void makeApp(const std::string& app) {
        auto made = sim({"bundle", "make", app, "--identifier", identifier, "--executable", "watch-probe", "--program",
                         WATCH_PROBE_EXE});
        ASSERT_EQ(made.status, 0) << made.err;
        auto signed_ = sim({"sign", app, "--identity", "Developer ID Application: Test (AB12CD34EF)"});
        ASSERT_EQ(signed_.status, 0) << signed_.err;
    }
    std::map<std::string, std::string> appEnvironment() const {
        auto environment = this->environment();
        environment["LOG_FORMAT"] = "json";
        return environment;
    }
    // Opens the app and answers its pid once it watches.
    pid_t open(const std::string& app) {
        auto opened = TestSupport::runProcess(host("/usr/bin/open"), {"-n", app}, appEnvironment());
        EXPECT_EQ(opened.status, 0) << opened.err;
        EXPECT_TRUE(TestSupport::eventually([&] { return log().find("watching the image") != std::string::npos; }))
            << log();
        return launched().back();
    }
    std::vector<pid_t> launched() const {
        std::vector<pid_t> pids;
        std::istringstream lines(TestSupport::contents(root / "open/launches.jsonl"));
        for (std::string line; std::getline(lines, line);)
            pids.push_back(nlohmann::json::parse(line, nullptr, false).value("pid", 0));
        return pids;
    }
    std::string log() const { return TestSupport::contents(root / "open/Watched.log"); }
};

TEST(WatchScenario, ADeletedAppForgetsThePersonsStateAsItQuits) {
    Machine machine;
    machine.makeApp("/Applications/Watched.app");
    fs::create_directories(machine.home + "/Library/Caches/" + identifier);
    pid_t app = machine.open("/Applications/Watched.app");

    fs::remove_all(machine.host("/Applications/Watched.app"));
    ASSERT_TRUE(TestSupport::eventually([&] { return TestSupport::hasEnded(app); }, 15s)) << machine.log();
    std::string log = machine.log();
    EXPECT_THAT(log, HasSubstr(R"("msg":"the app was deleted: cleaning up and leaving")"));
    EXPECT_THAT(log, HasSubstr(R"("msg":"tombstone written")"));
    EXPECT_THAT(log, Not(HasSubstr(R"("level":"error")")));
    EXPECT_TRUE(fs::exists(machine.home + "/.Trash/" + identifier));
    EXPECT_FALSE(fs::exists(machine.home + "/Library/Caches/" + identifier));
    EXPECT_TRUE(fs::exists(machine.home + "/Library/Application Support/AppInstallations/" + identifier + ".deleted"));
    EXPECT_EQ(machine.launched().size(), 1u);
}

TEST(WatchScenario, AMovedAppReopensFromItsNewPlaceAndForgetsNothing) {
    Machine machine;
    machine.makeApp("/Applications/Watched.app");
    fs::create_directories(machine.home + "/Library/Caches/" + identifier);
    pid_t app = machine.open("/Applications/Watched.app");

    fs::create_directories(machine.home + "/Applications");
    fs::rename(machine.host("/Applications/Watched.app"), machine.home + "/Applications/Watched.app");
    ASSERT_TRUE(TestSupport::eventually([&] { return TestSupport::hasEnded(app); }, 15s)) << machine.log();
    std::string log = machine.log();
    EXPECT_THAT(log, HasSubstr(R"("msg":"the app moved: leaving, nothing forgotten")"));
    EXPECT_THAT(log, Not(HasSubstr(R"("msg":"tombstone written")")));
    EXPECT_THAT(log, Not(HasSubstr(R"("level":"error")")));
    EXPECT_TRUE(fs::exists(machine.home + "/Library/Caches/" + identifier));
    ASSERT_EQ(machine.launched().size(), 2u);
    EXPECT_THAT(TestSupport::contents(machine.root / "open/launches.jsonl"),
                HasSubstr("\"path\":\"" + machine.home + "/Applications/Watched.app\""));
}

} // namespace
