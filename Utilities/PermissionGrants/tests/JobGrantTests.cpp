// Background services as grants, on jobs of a scratch bundle against an
// in-memory registry: every standing, what asking does in each state, where
// the app goes when it must move, and the failures kept and logged.

#include "JobMachine.hpp"
#include "PrintStanding.hpp"

#include <AppInstallations/Move.hpp>
#include <Platform/Files.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/LogLines.hpp>
#include <TestSupport/LoopThread.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <future>

namespace {

using namespace PermissionGrantsTests;
using PermissionGrants::JobGrant;
using PermissionGrants::Standing;
using TestSupport::logged;
using testing::HasSubstr;
using testing::Not;
using namespace std::chrono_literals;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

const std::filesystem::path& root() {
    static const std::filesystem::path path = Platform::SimulatedHost::root();
    return path;
}

std::string refusedSignature() {
    return Job::Failure(Job::Failure::Register{"Invalid code signature (SMAppService needs the bundle signed by a "
                                               "team, never ad hoc)"})
        .what();
}

// Leaves a failure to turn `job` on recorded: the registry refuses the
// signature once.
void failOnce(JobMachine& machine, const Job& job) {
    auto status = machine.registry.current.load();
    machine.registry.refusal = BS::Failure{BS::invalidSignature, "Invalid code signature"};
    EXPECT_THROW(JobGrant::turnOn(job, 0s), Job::Failure);
    machine.registry.refusal.reset();
    machine.registry.current = status;
}

TEST(JobGrant, StandingOfEveryState) {
    const std::string steer = Job::approvalSteer();
    const AppInstallation::Home downloads{AppInstallation::Home::Elsewhere{"/Users/a/Downloads/Test.app",
                                                                          AppInstallation::Home::Origin::folder}};
    struct Row {
        std::string name;
        std::function<Job(JobMachine&, const std::string&)> job;
        std::function<void(JobMachine&)> set;
        std::vector<Scope> installFor;
        Standing expected;
        bool failed = false; // a failure to turn it on is recorded first
    };
    auto agent = [](JobMachine& m, const std::string& name) { return m.agent(name); };
    auto daemon = [](JobMachine& m, const std::string& name) { return m.daemon(name); };
    auto status = [](int32_t code, bool admin = true, bool answering = false) {
        return [=](JobMachine& m) {
            m.registry.current = code;
            m.admin = admin;
            m.answering = answering;
        };
    };
    auto misplaced = [&](std::set<Scope> copies) {
        return [=](JobMachine& m) {
            m.home = downloads;
            m.copies = copies;
        };
    };
    const std::vector<Scope> both{Scope::everyone, Scope::me}, me{Scope::me}, everyone{Scope::everyone};
    const Standing tryAgain = Standing::broken("Try Again", refusedSignature());
    // clang-format off
    const Row rows[] = {
        {"daemon awaiting an admin", daemon, status(BS::requiresApproval, false), everyone,
         Standing::broken("Open Login Items", "Needs an admin's OK. " + steer)},
        {"agent awaiting you", agent, status(BS::requiresApproval, false), both,
         Standing::broken("Open Login Items", "Waiting for your OK. " + steer)},
        {"awaiting, a failure recorded", agent, status(BS::requiresApproval), both,
         Standing::broken("Open Login Items", "Waiting for your OK. " + steer), true},
        {"misplaced, one scope", agent, misplaced({}), me,
         Standing::broken("Move to Applications", "Only works from the Applications folder.")},
        {"misplaced, two scopes", agent, misplaced({}), both,
         Standing::broken("Move to Applications\u2026", "Only works from the Applications folder.")},
        {"misplaced, copy for me", agent, misplaced({Scope::me}), both,
         Standing::broken("Open in Applications", "Only works from the Applications folder.")},
        {"misplaced, copy outside installFor", agent, misplaced({Scope::everyone}), me,
         Standing::broken("Move to Applications", "Only works from the Applications folder.")},
        {"daemon misplaced", daemon, misplaced({Scope::everyone}), everyone,
         Standing::broken("Open in Applications", "Only works installed for everyone, in Applications.")},
        {"bare", agent, [](JobMachine& m) { std::filesystem::remove_all(m.bundle + "/Contents/Library"); }, both,
         Standing::unknown("Not part of this build.")},
        {"running", agent, status(BS::enabled, true, true), both, Standing::good()},
        {"running, a failure recorded", agent, status(BS::enabled, true, true), both, Standing::good(), true},
        {"login item on", [](JobMachine& m, const std::string&) { return m.loginItem(); }, status(BS::enabled), both, Standing::good()},
        {"off", agent, status(BS::notRegistered), both, Standing::askable("Turn On")},
        {"silent", agent, status(BS::enabled), both, Standing::broken("Restart", "Installed, but not answering.")},
        {"off, a failure recorded", agent, status(BS::notRegistered), both, tryAgain, true},
        {"silent, a failure recorded", agent, status(BS::enabled), both, tryAgain, true},
    };
    // clang-format on
    for (const auto& row : rows) {
        JobMachine machine;
        Job job = row.job(machine, row.name);
        if (row.failed) failOnce(machine, job);
        row.set(machine);
        EXPECT_EQ(JobGrant::standing(job, row.installFor, machine.relocation()), row.expected) << row.name;
    }
}

// Two reads of unchanged words log once; each change logs once more.
TEST(JobGrant, EachChangeOfItsWordsIsLoggedOnce) {
    JobMachine machine;
    Job job = machine.agent("agent read again");
    TestSupport::LogLines log;
    auto read = [&] { return JobGrant::standing(job, {Scope::me}, machine.relocation()); };
    for (int i = 0; i < 2; ++i) EXPECT_EQ(read(), Standing::askable("Turn On"));
    machine.registry.current = BS::enabled;
    machine.answering = true;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(read(), Standing::good());
    machine.answering = false;
    read();
    machine.answering = true;
    read();
    std::string lines = log.text();
    const char* const said[] = {"reads not installed", "reads allowed", "reads registered, but not answering",
                                "reads allowed"};
    size_t from = 0;
    for (const char* words : said) {
        size_t at = lines.find(std::string(R"("msg":")") + words + "\"", from);
        ASSERT_NE(at, std::string::npos) << words << "\n" << lines;
        from = at + 1;
    }
    EXPECT_EQ(lines.find(R"("msg":"reads)", from), std::string::npos) << lines;
    EXPECT_THAT(lines, logged(R"("msg":"reads allowed" {"grant":"agent read again"})"));
}

void writeRules(const std::string& rules) {
    Platform::Files::createDirectories(root() / "person");
    Platform::Files::writeAtomically(root() / "person/rules.json", rules);
}

std::vector<nlohmann::json> prompts() {
    std::vector<nlohmann::json> shown;
    for (const auto& line : TestSupport::lines(root() / "person/log.jsonl"))
        if (auto parsed = nlohmann::json::parse(line); parsed["event"] == "prompt") shown.push_back(parsed);
    return shown;
}

const std::string question = "Install PermissionGrants_tests for everyone on this Mac, or just for you?";
const std::string explanation = "For everyone puts it in Applications. Just for you puts it in the Applications "
                                "folder in your home folder. Settings stay yours either way.";

TEST(JobGrant, PickTakesAnInstalledCopyOrTheOnlyScopeElseAsksThePerson) {
    struct Row {
        std::string name;
        std::vector<Scope> installFor;
        std::set<Scope> copies;
        std::string answer; // the person's, when asked
        std::optional<Scope> picked;
        std::vector<std::string> buttons; // none: no alert
    };
    const std::string everyone = "For Everyone on This Mac", me = "Just for Me";
    const Row rows[] = {
        {"one scope", {Scope::me}, {}, "", Scope::me, {}},
        {"one scope, copy elsewhere", {Scope::everyone}, {Scope::me}, "", Scope::everyone, {}},
        {"a copy for me", {Scope::everyone, Scope::me}, {Scope::me}, "", Scope::me, {}},
        {"copies in both, the first wins", {Scope::me, Scope::everyone}, {Scope::me, Scope::everyone}, "", Scope::me, {}},
        {"asked, for everyone", {Scope::everyone, Scope::me}, {}, everyone, Scope::everyone, {everyone, me, "Cancel"}},
        {"asked, just for me", {Scope::everyone, Scope::me}, {}, me, Scope::me, {everyone, me, "Cancel"}},
        {"asked in the other order, cancelled", {Scope::me, Scope::everyone}, {}, "Cancel", std::nullopt,
         {me, everyone, "Cancel"}},
    };
    TestSupport::LoopThread serving(Platform::mainLoop());
    for (const auto& row : rows) {
        JobMachine machine;
        machine.copies = row.copies;
        writeRules(R"([{"kind":"alert","subject":")" + question + R"(","answer":")" + row.answer + R"("}])");
        size_t before = prompts().size();
        std::promise<std::optional<Scope>> picked;
        Platform::mainLoop().async([&] {
            JobGrant::pick(row.installFor, [&](std::optional<Scope> scope) { picked.set_value(scope); },
                           machine.relocation());
        });
        EXPECT_EQ(picked.get_future().get(), row.picked) << row.name;
        auto shown = prompts();
        ASSERT_EQ(shown.size(), before + (row.buttons.empty() ? 0 : 1)) << row.name;
        if (row.buttons.empty()) continue;
        EXPECT_EQ(shown.back()["kind"], "alert") << row.name;
        EXPECT_EQ(shown.back()["subject"], question) << row.name;
        EXPECT_EQ(shown.back()["text"], question + "\n" + explanation) << row.name;
        EXPECT_EQ(shown.back()["choices"].get<std::vector<std::string>>(), row.buttons) << row.name;
    }
}

// Asks on the main loop, waits for the completion and answers the log.
std::string askOnMainLoop(const Job& job, const std::vector<Scope>& installFor, JobMachine& machine) {
    TestSupport::LoopThread serving(Platform::mainLoop());
    TestSupport::LogLines log;
    std::promise<std::thread::id> done;
    Platform::mainLoop().async([&] {
        JobGrant::ask(job, installFor, [&] { done.set_value(std::this_thread::get_id()); }, machine.relocation());
    });
    EXPECT_EQ(done.get_future().get(), serving.id());
    return log.text();
}

TEST(JobGrant, AskingActsByState) {
    const std::string steer = Job::approvalSteer();
    const AppInstallation::Home downloads{AppInstallation::Home::Elsewhere{"/Users/a/Downloads/Test.app",
                                                                          AppInstallation::Home::Origin::folder}};
    struct Row {
        std::string name;
        std::function<void(JobMachine&)> set;
        std::vector<Scope> installFor;
        std::string answer;    // the person's answer to the install-scope alert
        std::string logged;    // the grant's line, `"msg":"…" {fields}`; empty: none
        int registers;         // registrations made
        std::optional<Scope> moved;
        Standing after;
    };
    auto registry = [](int32_t now, std::optional<int32_t> afterRegister, bool answering) {
        return [=](JobMachine& m) {
            m.registry.current = now;
            m.registry.afterRegister = afterRegister;
            m.answering = answering;
        };
    };
    auto misplaced = [&](std::set<Scope> copies, std::function<void()> duringMove = {}) {
        return [=](JobMachine& m) {
            m.home = downloads;
            m.copies = copies;
            m.duringMove = duringMove;
        };
    };
    const std::vector<Scope> both{Scope::everyone, Scope::me};
    const std::string silent = Job::Failure(Job::Failure::Silent{}).what();
    const Standing moveThere = Standing::broken("Move to Applications\u2026", "Only works from the Applications folder.");
    // clang-format off
    const Row rows[] = {
        {"off, turned on", registry(BS::notRegistered, BS::enabled, true), both, "", "", 1, {}, Standing::good()},
        {"off, approval never comes", registry(BS::notRegistered, BS::requiresApproval, false), both, "", "", 1, {},
         Standing::broken("Open Login Items", "Waiting for your OK. " + steer)},
        {"silent, never answers", registry(BS::enabled, BS::enabled, false), both, "",
         R"("msg":"could not turn on" {"grant":"silent, never answers","why":")" + silent + "\"}", 1, {},
         Standing::broken("Try Again", silent)},
        {"awaiting approval", registry(BS::requiresApproval, {}, false), both, "",
         R"("msg":"opened Login Items" {"grant":"awaiting approval"})", 0, {},
         Standing::broken("Open Login Items", "Waiting for your OK. " + steer)},
        {"misplaced, one scope", misplaced({}), {Scope::me}, "", "", 0, Scope::me,
         Standing::broken("Move to Applications", "Only works from the Applications folder.")},
        {"misplaced, a copy for everyone", misplaced({Scope::everyone}), both, "", "", 0, Scope::everyone,
         Standing::broken("Open in Applications", "Only works from the Applications folder.")},
        {"misplaced, the person picks", misplaced({}), both, "Just for Me", "", 0, Scope::me, moveThere},
        {"misplaced, the person cancels", misplaced({}), both, "Cancel", "", 0, {}, moveThere},
        {"misplaced, the move fails", misplaced({}, [] { throw AppInstallation::MoveError::noBundle(); }), {Scope::me},
         "", R"("msg":"could not turn on" {"grant":"misplaced, the move fails","why":"not running from an app bundle"})",
         0, Scope::me, Standing::broken("Move to Applications", "Only works from the Applications folder.")},
        {"bare", [](JobMachine& m) { std::filesystem::remove_all(m.bundle + "/Contents/Library"); }, both, "", "", 0, {},
         Standing::unknown("Not part of this build.")},
        {"running", registry(BS::enabled, {}, true), both, "", "", 0, {}, Standing::good()},
    };
    // clang-format on
    for (const auto& row : rows) {
        JobMachine machine;
        row.set(machine);
        writeRules(R"([{"kind":"alert","answer":")" + row.answer + R"("}])");
        Job job = machine.agent(row.name);
        size_t opened = TestSupport::lines(root() / "opened-urls.log").size();
        std::string log = askOnMainLoop(job, row.installFor, machine);
        if (row.logged.empty())
            EXPECT_THAT(log, Not(HasSubstr(R"("scope":["grant"])"))) << row.name;
        else
            EXPECT_THAT(log, logged(row.logged)) << row.name;
        EXPECT_EQ(machine.registry.registers, row.registers) << row.name;
        EXPECT_EQ(machine.moves.size(), row.moved ? 1u : 0u) << row.name;
        if (row.moved && !machine.moves.empty()) {
            EXPECT_EQ(machine.moves[0].first, *row.moved) << row.name;
            EXPECT_EQ(machine.moves[0].second, std::vector<std::string>{row.name}) << row.name;
        }
        EXPECT_EQ(TestSupport::lines(root() / "opened-urls.log").size() - opened, row.name == "awaiting approval")
            << row.name;
        EXPECT_EQ(JobGrant::standing(job, row.installFor, machine.relocation()), row.after) << row.name;
    }
}

// A failure stays until the job is asked again, whatever that ask does.
TEST(JobGrant, TheNextAskForgetsTheLastFailure) {
    JobMachine machine;
    Job job = machine.agent("asked twice");
    machine.registry.current = BS::enabled;
    machine.registry.afterRegister = BS::enabled;
    askOnMainLoop(job, {Scope::me}, machine);
    const std::string silent = Job::Failure(Job::Failure::Silent{}).what();
    EXPECT_EQ(JobGrant::standing(job, {Scope::me}, machine.relocation()), Standing::broken("Try Again", silent));
    EXPECT_EQ(JobGrant::standing(job, {Scope::me}, machine.relocation()), Standing::broken("Try Again", silent));

    machine.registry.current = BS::requiresApproval;
    askOnMainLoop(job, {Scope::me}, machine);
    machine.registry.current = BS::enabled;
    EXPECT_EQ(JobGrant::standing(job, {Scope::me}, machine.relocation()),
              Standing::broken("Restart", "Installed, but not answering."));

    // Turning on by hand records like asking, except a wait for approval.
    machine.registry.current = BS::notRegistered;
    machine.registry.afterRegister = BS::requiresApproval;
    TestSupport::LogLines log;
    EXPECT_THROW(JobGrant::turnOn(job, 1s), Job::Failure);
    EXPECT_THAT(log.text(), Not(HasSubstr("could not turn on")));
    EXPECT_EQ(JobGrant::standing(job, {Scope::me}, machine.relocation()),
              Standing::broken("Open Login Items", "Waiting for your OK. " + Job::approvalSteer()));
}

} // namespace
