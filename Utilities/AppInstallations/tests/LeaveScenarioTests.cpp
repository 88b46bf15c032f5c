// A launchd job of a test bundle leaving launchd for real, on a fresh
// simulated machine: its own job booted out, or another copy's left running.

#include <Platform/Accounts.hpp>
#include <Platform/Launchd.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/Processes.hpp>
#include <TestSupport/SimMachine.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

const std::string domain = Platform::Launchd::guiDomain(Platform::Accounts::person().uid);

struct Machine : TestSupport::SimMachine {
    Machine() : SimMachine(LUMRA_SIM_EXE) {}

    fs::path host(const std::string& macPath) const { return Platform::SimulatedHost::hostPath(macPath, root); }

    // An app at `app` whose program is the probe, with an agent `label`
    // running the probe with `arguments` once loaded.
    void makeApp(const std::string& app, const std::string& label, const std::vector<std::string>& arguments) {
        auto made = sim({"bundle", "make", app, "--identifier", "app.test.leaving", "--executable", "settle-probe",
                         "--program", SETTLE_PROBE_EXE, "--agent", label + ".plist"});
        ASSERT_EQ(made.status, 0) << made.err;
        std::string listed = "<string>settle-probe</string>";
        for (const auto& argument : arguments) listed += "<string>" + argument + "</string>";
        TestSupport::writeFile(host(app + "/Contents/Library/LaunchAgents/" + label + ".plist"),
                               "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" + label +
                                   "</string><key>BundleProgram</key><string>Contents/MacOS/settle-probe</string>"
                                   "<key>ProgramArguments</key><array>" +
                                   listed + "</array><key>RunAtLoad</key><true/></dict></plist>");
    }
    std::map<std::string, std::string> jobEnvironment() const {
        auto environment = this->environment();
        environment["LOG_FORMAT"] = "json";
        return environment;
    }
    void load(const std::string& app, const std::string& label) {
        auto loaded = TestSupport::runProcess(
            host("/bin/launchctl"), {"bootstrap", domain, app + "/Contents/Library/LaunchAgents/" + label + ".plist"},
            jobEnvironment());
        ASSERT_EQ(loaded.status, 0) << loaded.err;
    }
    std::string log(const std::string& label) const {
        return TestSupport::contents(Platform::Launchd::logFile(domain, label, root));
    }
};

TEST(Leave, AJobHandsOverBootsItselfOutAndExitsZero) {
    Machine machine;
    const std::string label = "app.test.leaver";
    machine.makeApp("/Applications/Old.app", label, {"leave", "/Applications/New.app", label + ".plist"});
    machine.makeApp("/Applications/New.app", label, {"linger"});
    machine.load("/Applications/Old.app", label);

    // Leaving ends in the exit work only when the process ends as it means
    // to, not by launchd's SIGTERM or the SIGKILL after it.
    ASSERT_TRUE(TestSupport::eventually([&] { return machine.log(label).find("exit work ran") != std::string::npos; },
                                        std::chrono::seconds(15)))
        << machine.log(label);
    EXPECT_EQ(Platform::Launchd::find(domain, label, machine.root), std::nullopt) << "still loaded";
    std::string log = machine.log(label);
    std::smatch pid;
    ASSERT_TRUE(std::regex_search(log, pid, std::regex("pid (\\d+)")));
    EXPECT_TRUE(TestSupport::ends(std::stoi(pid[1])));

    const std::string target = domain + "/" + label;
    EXPECT_THAT(log, HasSubstr("\"msg\":\"asking the app's current copy to take this job\""));
    EXPECT_THAT(log, HasSubstr("\"fields\":{\"job\":\"" + target + "\",\"to\":\"/Applications/New.app\"}"));
    EXPECT_THAT(log, HasSubstr("\"msg\":\"still running after the hand-over\""));
    EXPECT_THAT(log, HasSubstr("\"fields\":{\"job\":\"" + target + "\",\"status\":0}"));
    EXPECT_THAT(log, HasSubstr("\"msg\":\"leaving launchd\",\"service\""));
    EXPECT_THAT(log, Not(HasSubstr("another copy's")));
    // The copy taken over never took itself for the job.
    EXPECT_EQ(TestSupport::contents(machine.home / "handed-over"), label + ".plist\nXPC_SERVICE_NAME unset\n");
}

TEST(Leave, AnotherCopysJobIsLeftRunning) {
    Machine machine;
    const std::string label = "app.test.kept";
    machine.makeApp("/Applications/Old.app", label, {"linger"});
    machine.makeApp("/Applications/New.app", label, {"linger"});
    machine.load("/Applications/New.app", label);
    auto running = Platform::Launchd::find(domain, label, machine.root);
    ASSERT_TRUE(running && running->pid);

    auto environment = machine.jobEnvironment();
    environment["XPC_SERVICE_NAME"] = label;
    auto left = TestSupport::runProcess(machine.host("/Applications/Old.app/Contents/MacOS/settle-probe"), {"leave"},
                                        environment);
    EXPECT_EQ(left.status, 0) << left.err;
    EXPECT_THAT(left.err, HasSubstr("\"msg\":\"launchd's job is another copy's now: exiting only\""));
    EXPECT_THAT(left.err, Not(HasSubstr("leaving launchd")));
    auto after = Platform::Launchd::find(domain, label, machine.root);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->pid, running->pid);
}

} // namespace
