// Jobs against an in-memory registry, a scripted launchctl and virtual time.

#include <AppInstallations/InstallFlights.hpp>
#include <AppInstallations/Job.hpp>
#include <Log/Settings.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/RedirectedStandardError.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/TempDir.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <TestSupport/LogLines.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <fstream>
#include <map>
#include <regex>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

using namespace AppInstallation;
using TestSupport::LogLines;
using TestSupport::logged;
using namespace std::chrono_literals;
using testing::HasSubstr;
namespace fs = std::filesystem;
namespace BS = Platform::BackgroundServices;
using State = Job::State;
using Failure = Job::Failure;

// The registry as scripted: statuses read in turn (the last one stays),
// refusals of register in turn, and every call counted.
class FakeRegistry final : public BS::Registry {
public:
    std::deque<int32_t> statuses{BS::notRegistered};
    std::deque<std::optional<BS::Failure>> registerAnswers;
    std::optional<BS::Failure> unregisterAnswer;
    int registers = 0, unregisters = 0, opened = 0;
    std::function<void()> duringRegister;
    std::mutex lock;

    int32_t status(const BS::Handle&) override {
        std::lock_guard guard(lock);
        int32_t now = statuses.front();
        if (statuses.size() > 1) statuses.pop_front();
        return now;
    }
    std::optional<BS::Failure> registerService(const BS::Handle&) override {
        if (duringRegister) duringRegister();
        std::lock_guard guard(lock);
        ++registers;
        if (registerAnswers.empty()) return std::nullopt;
        auto answer = registerAnswers.front();
        if (registerAnswers.size() > 1) registerAnswers.pop_front();
        return answer;
    }
    std::optional<BS::Failure> unregisterService(const BS::Handle&) override {
        ++unregisters;
        return unregisterAnswer;
    }
    void openSystemSettingsLoginItems() override { ++opened; }
};

struct Machine {
    TestSupport::TempDir folder;
    TestSupport::VirtualTime time;
    FakeRegistry registry;
    std::map<std::string, std::string> printed; // launchctl print output by target
    std::vector<std::vector<std::string>> tools;
    Home home{Home::Installed{Scope::everyone}};
    bool admin = true;
    std::string bundle = (folder / "Test.app").string();

    Machine() {
        define("LaunchAgents/agent.plist", "app.test.agent");
        define("LaunchDaemons/daemon.plist", "app.test.daemon");
    }
    void define(const std::string& file, const std::string& label) {
        fs::create_directories(fs::path(bundle) / "Contents/Library" / fs::path(file).parent_path());
        std::ofstream(fs::path(bundle) / "Contents/Library" / file)
            << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" << label
            << "</string></dict></plist>";
    }
    std::shared_ptr<JobSystem> system() {
        auto made = std::make_shared<JobSystem>();
        made->registry = [this]() -> BS::Registry& { return registry; };
        made->clock = &time;
        made->sleeper = &time;
        made->run = [this](const std::string& tool, const std::vector<std::string>& args) {
            std::vector<std::string> call{tool};
            call.insert(call.end(), args.begin(), args.end());
            tools.push_back(call);
            auto found = args.size() == 2 ? printed.find(args[1]) : printed.end();
            return found == printed.end() ? ToolResult{113, ""} : ToolResult{0, found->second};
        };
        made->bundle = [this] { return std::optional<std::string>(bundle); };
        made->home = [this] { return home; };
        made->userIsAdmin = [this] { return admin; };
        made->uid = [] { return 501u; };
        made->homeFolder = [this] { return (folder / "home").string(); };
        return made;
    }
    Job agent(std::function<bool()> answers = {}, std::function<void()> handBack = {}) {
        return Job(Job::Kind::agent("agent.plist"), "the agent", std::move(answers), std::move(handBack), system());
    }
    Job daemon() { return Job(Job::Kind::daemon("daemon.plist"), "the daemon", {}, {}, system()); }
};

// What `act` throws as a Failure; empty when it succeeds.
std::string failureOf(const std::function<void()>& act) {
    try {
        act();
    } catch (const Failure& failure) {
        return failure.what();
    }
    return "";
}

TEST(JobTexts, FailuresAndSentences) {
    Home me{Home::Installed{Scope::me}};
    const std::pair<Failure::Reason, std::string> cases[] = {
        {Failure::Misplaced{me, "x runs only from an Applications folder"},
         "running from your own Applications folder: x runs only from an Applications folder"},
        {Failure::Bare{"an app bundle"}, "not part of this build (no an app bundle)"},
        {Failure::Register{"Invalid code signature"}, "macOS refused the registration: Invalid code signature"},
        {Failure::AwaitingApproval{false},
         "still awaiting approval in System Settings › General › Login Items & Extensions"},
        {Failure::AwaitingApproval{true}, "still awaiting approval in System Settings › General › Login Items & "
                                          "Extensions; approving it needs an admin"},
        {Failure::SwitchedOff{},
         "switched off in System Settings › General › Login Items & Extensions. " + Job::approvalSteer()},
        {Failure::Silent{}, "registered and approved, but not answering; its log says why"},
    };
    for (const auto& [reason, text] : cases) EXPECT_EQ(Failure(reason).what(), text);
    EXPECT_EQ(Job::approvalSteer("Lumra", std::nullopt),
              "In Login Items, under Background App Activity, turn on Lumra.");
    EXPECT_EQ(Job::approvalSteer("Lumra", "Lumra Project"),
              "In Login Items, under Background App Activity, turn on Lumra (it may be listed as “Lumra Project”).");
}

TEST(JobState, FromRegistryLaunchdAndProbe) {
    struct Case {
        std::string name;
        std::function<Job(Machine&)> job;
        std::function<void(Machine&)> set;
        State expected;
        std::string words;
    };
    auto agent = [](Machine& m) { return m.agent(); };
    auto daemon = [](Machine& m) { return m.daemon(); };
    auto item = [](Machine& m) { return Job::loginItem(m.system()); };
    auto status = [](int32_t status, bool admin = true) {
        return [=](Machine& m) { m.registry.statuses = {status}, m.admin = admin; };
    };
    auto launchd = [](std::string line) {
        return [=](Machine& m) {
            m.registry.statuses = {BS::enabled};
            m.printed["gui/501/app.test.agent"] =
                "\tstate = running\n\t" + std::regex_replace(line, std::regex("@"), m.bundle);
        };
    };
    auto steer = Job::approvalSteer();
    Home me{Home::Installed{Scope::me}};
    // clang-format off
    const Case cases[] = {
        {"definition removed", agent, [](Machine& m) { fs::remove_all(m.bundle + "/Contents/Library/LaunchAgents"); },
         {State::Bare{"Contents/Library/LaunchAgents/agent.plist"}}, "not part of this build (no Contents/Library/LaunchAgents/agent.plist)"},
        {"daemon in ~/Applications", daemon, [=](Machine& m) { m.home = me; }, {State::Misplaced{me}},
         "running from your own Applications folder: the daemon runs only from an install for everyone (/Applications)"},
        {"login item enabled", item, status(BS::enabled), {State::Running{}}, "running"},
        {"agent run from its bundle", agent, launchd("\"Executable\" => \"@/x\"\n"), {State::Running{}}, "running"},
        {"agent run from another copy", agent, launchd("pid = " + std::to_string(::getpid()) + "\n"), {State::Silent{}},
         "registered for another copy of the app (moved or replaced)"},
        {"agent enabled, not running", agent, status(BS::enabled), {State::Silent{}}, "registered, but not answering"},
        {"probe answers", [](Machine& m) { return m.agent([] { return true; }); }, status(BS::enabled), {State::Running{}}, "running"},
        {"daemon awaiting, no admin", daemon, status(BS::requiresApproval, false), {State::AwaitingApproval{true}},
         "awaiting approval (an admin's act): " + steer},
        {"agent awaiting, no admin", agent, status(BS::requiresApproval, false), {State::AwaitingApproval{false}},
         "awaiting approval: " + steer},
        {"agent not found", agent, status(BS::notFound), {State::Off{}}, "not installed"},
        {"login item off", item, status(BS::notRegistered), {State::Off{}}, "off"},
    };
    // clang-format on
    for (const auto& c : cases) {
        Machine machine;
        c.set(machine);
        Job job = c.job(machine);
        EXPECT_EQ(job.state(), c.expected) << c.name;
        EXPECT_EQ(job.words(), c.words) << c.name;
    }
    // Without probing, launchd decides even when the app has a probe.
    Machine machine;
    machine.registry.statuses = {BS::enabled};
    EXPECT_EQ(machine.agent([] { return true; }).state(false), State{State::Silent{}});
}

TEST(JobState, LaunchctlPrintIsParsed) {
    EXPECT_EQ(pidIn("x = {\n\tstate = running\n\tpid = 42\n}"), 42);
    EXPECT_EQ(pidIn("\tstate = not running\n\tpid = 42\n"), std::nullopt);
    EXPECT_EQ(pidIn("\tstate = running\n\tpid = x\n\tpid = 7 \n"), 7);
    EXPECT_EQ(pidIn("\tstate = running\n\tpid = 99999999999\n"), std::nullopt);
    EXPECT_EQ(imageIn("a\n\t\t\"Executable\" => \"/Applications/A.app/x\"\n\t\"Executable\" => \"/b\"\n"),
              "/Applications/A.app/x");
    EXPECT_EQ(imageIn("\t\"Executable\" => \"/cut\n\"\n"), std::nullopt);
    EXPECT_EQ(imageIn(""), std::nullopt);
}

TEST(JobModel, AdminsDeclaredJobsAndLabelsThatCannotNameFiles) {
    Platform::Accounts::Directory directory = Platform::Accounts::fresh();
    std::string person = directory.users.front().name;
    for (uint32_t gid = 1000; gid < 1100; ++gid) directory.groups.push_back({"g" + std::to_string(gid), gid, {person}});
    std::rotate(directory.groups.begin(), directory.groups.begin() + 3, directory.groups.end());
    EXPECT_TRUE(isAdmin(directory, person)) << "an admin in a hundred groups";
    directory.users.push_back({"guest", 502, Platform::Accounts::staffGID, "/Users/guest", "/bin/zsh", ""});
    EXPECT_FALSE(isAdmin(directory, "guest"));
    EXPECT_FALSE(isAdmin(directory, "nobody-here"));

    Machine machine;
    for (const char* name : {"z.plist", "b.plist", ".hidden.plist", "notes.txt", "a.plist"})
        machine.define(std::string("LaunchAgents/") + name, "l");
    Job own(Job::Kind::agent("b.plist"), "own b", {}, {}, machine.system());
    std::vector<std::string> names;
    for (const Job& job : Job::declared(machine.bundle, {own, Job::loginItem(machine.system())}))
        names.push_back(job.name());
    EXPECT_THAT(names, testing::ElementsAre("a.plist", "agent.plist", "own b", "z.plist", "daemon.plist"));

    for (const char* label : {"../../escape", ".hidden", "a/b", ""}) {
        machine.define("LaunchAgents/agent.plist", label);
        fs::create_directories(machine.folder / "home/Library/LaunchAgents");
        EXPECT_EQ(machine.agent().label(), std::nullopt) << label;
        machine.agent().removeStrayDefinition();
    }
    EXPECT_TRUE(machine.tools.empty());
    EXPECT_EQ(Job(Job::Kind::agent("../x.plist"), "x", {}, {}, machine.system()).plistPath(), std::nullopt);
}

// Registering, then awaiting approval: the registry's answers, the time
// each waits, what the person is shown and what the install log keeps.
TEST(Register, RefusalsRetriesWaitsAndTheirTexts) {
    struct Case {
        std::string name;
        bool awaits; // awaitApproval rather than registerJob
        std::vector<std::optional<BS::Failure>> answers;
        std::deque<int32_t> statuses;
        std::string error; // empty: done
        int attempts;
        Platform::Duration waited;
        int opened;         // Login Items opened
        std::string logged; // `"msg":"…" {fields}`, or nothing logged
        Platform::Duration wait = 60s;
        bool admin = true;
    };
    const BS::Failure odd{99, "Something odd"};
    const std::string refused = "macOS refused the registration: ",
                      awaiting = "still awaiting approval in System Settings › General › Login Items & Extensions",
                      registered = R"("msg":"registered" {"job":"the agent","status":)",
                      opened = R"("msg":"awaiting approval: opened Login Items" {"job":"the agent"})";
    std::deque<int32_t> approvedAfter3s(7, BS::requiresApproval);
    approvedAfter3s.push_back(BS::enabled);
    // clang-format off
    const Case cases[] = {
        {"first time", false, {std::nullopt}, {BS::requiresApproval}, "", 1, 0s, 0, registered + "2}"},
        {"already", false, {BS::Failure{BS::alreadyRegistered, "Already"}}, {0}, "", 1, 0s, 0, ""},
        {"ad hoc", false, {BS::Failure{BS::invalidSignature, "Invalid code signature"}}, {0},
         refused + "Invalid code signature (SMAppService needs the bundle signed by a team, never ad hoc)", 1, 0s, 0, ""},
        {"held", false, {odd}, {BS::requiresApproval}, "", 1, 0s, 0,
         R"("msg":"held for approval already" {"job":"the agent","refusal":"Something odd"})"},
        {"keeps failing", false, {odd}, {0}, refused + "Something odd", 6, 5s, 0, ""},
        {"denied", false, {BS::Failure{BS::launchDeniedByUser, "Denied"}}, {0}, Failure(Failure::SwitchedOff{}).what(), 6, 5s, 1, ""},
        {"not permitted, then fine", false, {BS::Failure{BS::operationNotPermitted, "EPERM"}, std::nullopt}, {0, 1}, "", 2, 1s, 0,
         registered + "1}"},
        {"enabled at once", true, {}, {BS::enabled}, "", 0, 0s, 0, ""},
        {"approved after 3 s", true, {}, approvedAfter3s, "", 0, 3500ms, 1, opened},
        {"zero wait", true, {}, {BS::requiresApproval}, awaiting + "; approving it needs an admin", 0, 0s, 1, opened, 0s, false},
        {"never approved", true, {}, {BS::requiresApproval}, awaiting, 0, 2s, 1, opened, 2s},
        {"not registered", true, {}, {BS::notRegistered}, refused + "status 0 after registering", 0, 0s, 0, ""},
        {"switched off while waiting", true, {}, {2, 2, 3}, refused + "status 3 after registering", 0, 1s, 1, opened},
    };
    // clang-format on
    for (const auto& c : cases) {
        Machine machine;
        machine.registry.registerAnswers = {c.answers.begin(), c.answers.end()};
        machine.registry.statuses = c.statuses;
        machine.admin = c.admin;
        auto start = machine.time.now();
        LogLines log;
        auto act = [&] { c.awaits ? machine.agent().awaitApproval(c.wait) : machine.agent().registerJob(); };
        EXPECT_EQ(failureOf(act), c.error) << c.name;
        std::string lines = log.text();
        EXPECT_EQ(machine.registry.registers, c.attempts) << c.name;
        EXPECT_EQ(machine.time.now() - start, c.waited) << c.name;
        EXPECT_EQ(machine.registry.opened, c.opened) << c.name;
        EXPECT_THAT(lines, c.logged.empty() ? testing::Matcher<std::string>("") : logged(c.logged)) << c.name;
    }
}

TEST(Answering, AHangingProbeEndsAtTheDeadline) {
    Machine machine;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto start = machine.time.now();
    EXPECT_FALSE(machine.agent().answering([released] {
        released.wait();
        return true;
    }));
    EXPECT_GE(machine.time.now() - start, 10s);
    release.set_value();

    int calls = 0;
    start = machine.time.now();
    EXPECT_TRUE(machine.agent().answering([&calls] { return ++calls == 3; }));
    EXPECT_EQ(calls, 3);
    EXPECT_LT(machine.time.now() - start, 2s);
}

TEST(Install, TheWholeRoadAndItsShortCuts) {
    Machine machine;
    machine.registry.statuses = {BS::notRegistered, BS::notRegistered, BS::requiresApproval, BS::requiresApproval,
                                 BS::enabled};
    bool up = false;
    machine.registry.duringRegister = [&] { up = true; };
    LogLines log;
    EXPECT_EQ(machine.agent([&] { return up; }).install(60s), State{State::Running{}});
    EXPECT_THAT(log.text(), testing::AllOf(HasSubstr(R"("msg":"registered")"),
                                           HasSubstr(R"("msg":"awaiting approval: opened Login Items")")));

    // Running already, nothing is registered; afresh, the registration is
    // handed back, dropped and made anew.
    for (bool afresh : {false, true}) {
        Machine running;
        running.registry.statuses = {BS::enabled};
        int handedBack = 0;
        EXPECT_EQ(running.agent([] { return true; }, [&] { ++handedBack; }).install(60s, afresh), State{State::Running{}});
        EXPECT_EQ((std::vector{handedBack, running.registry.unregisters, running.registry.registers}),
                  std::vector<int>(3, afresh));
    }

    Machine misplaced;
    misplaced.home = {Home::Elsewhere{"/Users/a/Downloads/Test.app", Home::Origin::folder}};
    EXPECT_EQ(failureOf([&] { misplaced.daemon().install(60s); }),
              Failure(Failure::Misplaced{misplaced.home, misplaced.daemon().needs()}).what());
    EXPECT_EQ(misplaced.registry.registers, 0);

    // Registered and approved but launchd never runs it.
    Machine silent;
    silent.registry.statuses = {BS::notRegistered, BS::notRegistered, BS::enabled};
    EXPECT_EQ(failureOf([&] { silent.agent().install(1s); }), Failure(Failure::Silent{}).what());
}

TEST(Install, TwoCallersOfOneJobShareOneRegistration) {
    Machine machine;
    machine.registry.statuses = {BS::notRegistered, BS::notRegistered, BS::enabled};
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    std::atomic<int> registrations = 0;
    machine.registry.duringRegister = [&] {
        if (registrations++ > 0) return;
        entered.set_value();
        released.wait();
    };
    Job job = machine.agent([] { return true; });
    std::optional<State> first, second;
    std::thread starter([&] { first = job.install(60s); });
    entered.get_future().wait();
    EXPECT_EQ(InstallFlights::shared().inFlight(), 1u);
    std::thread joiner([&] { second = job.install(60s); });
    while (InstallFlights::shared().joined() == 0) std::this_thread::yield();
    release.set_value();
    starter.join();
    joiner.join();
    EXPECT_EQ(machine.registry.registers, 1);
    EXPECT_EQ(first, State{State::Running{}});
    EXPECT_EQ(second, first);
    EXPECT_EQ(InstallFlights::shared().inFlight(), 0u);

    // After an error the key is free again.
    InstallFlights flights;
    EXPECT_THROW(flights.run("k", []() -> State { throw Failure(Failure::Silent{}); }), Failure);
    EXPECT_EQ(flights.inFlight(), 0u);
}

TEST(Uninstall, OnlyWhatIsRegisteredAndItsErrors) {
    struct Case {
        std::string name;
        int32_t status;
        std::optional<BS::Failure> answer;
        std::string error;
        int unregisters;
        bool logged;
    };
    const Case cases[] = {
        {"not registered", BS::notRegistered, {}, "", 0, false}, {"enabled", BS::enabled, {}, "", 1, true},
        {"awaiting", BS::requiresApproval, {}, "", 1, true},
        {"gone already", BS::enabled, BS::Failure{BS::jobNotFound, "Not found"}, "", 1, false},
        {"refused", BS::enabled, BS::Failure{BS::operationNotPermitted, "Not permitted"},
         "macOS refused the registration: Not permitted", 1, false}};
    for (const auto& c : cases) {
        Machine machine;
        machine.registry.statuses = {c.status};
        machine.registry.unregisterAnswer = c.answer;
        int handedBack = 0;
        LogLines log;
        EXPECT_EQ(failureOf([&] { machine.agent({}, [&] { ++handedBack; }).uninstall(); }), c.error) << c.name;
        std::string lines = log.text();
        EXPECT_EQ(machine.registry.unregisters, c.unregisters) << c.name;
        EXPECT_EQ(handedBack, c.unregisters) << c.name;
        EXPECT_EQ(lines.find(R"("msg":"uninstalled")") != std::string::npos, c.logged) << c.name;
    }
}

TEST(Restart, KickstartsAnAgentAndNothingWithoutALabel) {
    Machine machine;
    LogLines log;
    machine.agent().restart();
    machine.define("LaunchAgents/agent.plist", "bad/label");
    machine.agent().restart();
    std::string lines = log.text();
    EXPECT_EQ(machine.tools,
              (std::vector<std::vector<std::string>>{{"/bin/launchctl", "kickstart", "-k", "gui/501/app.test.agent"}}));
    EXPECT_THAT(lines, logged(R"("msg":"restarted" {"job":"the agent","status":113})"));
    EXPECT_THAT(lines, logged(R"("msg":"cannot restart: no label in its definition" {"job":"the agent"})"));
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a probe thread may still be ending
    EXPECT_DEATH(machine.daemon().restart(), "restart asked for a job that is no agent");
}

TEST(RemoveStrayDefinition, BootsOutAndTrashesTheUsersCopy) {
    Machine machine;
    TestSupport::ScopedEnvironment home{{"HOME", (machine.folder / "home").c_str()}};
    machine.agent().removeStrayDefinition();
    EXPECT_TRUE(machine.tools.empty()) << "no stray file, no tool";

    fs::path stray = machine.folder / "home/Library/LaunchAgents/app.test.agent.plist";
    fs::create_directories(stray.parent_path());
    std::ofstream(stray) << "old";
    LogLines log;
    machine.agent().removeStrayDefinition();
    EXPECT_THAT(log.text(), HasSubstr(R"("msg":"a stray definition went to the Trash")"));
    EXPECT_EQ(machine.tools,
              (std::vector<std::vector<std::string>>{{"/bin/launchctl", "bootout", "gui/501", stray.string()}}));
    EXPECT_FALSE(fs::exists(stray));
    EXPECT_EQ(TestSupport::contents(machine.folder / "home/.Trash/app.test.agent.plist"), "old");
}

} // namespace
