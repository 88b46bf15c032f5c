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
using Set = std::function<void(JobMachine&)>;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

std::filesystem::path root() { return Platform::SimulatedHost::root(); }

const std::vector<Scope> both{Scope::everyone, Scope::me}, me{Scope::me}, everyone{Scope::everyone};
const std::string elsewhere = "Only works from the Applications folder.";

Set registry(int32_t now, std::optional<int32_t> afterRegister = {}, bool answering = false, bool admin = true) {
    return [=](JobMachine& m) {
        m.registry.current = now;
        m.registry.afterRegister = afterRegister;
        m.answering = answering;
        m.admin = admin;
    };
}

// The app runs from ~/Downloads, with copies in these scopes already.
Set misplaced(std::set<Scope> copies, std::function<void()> duringMove = {}) {
    return [=](JobMachine& m) {
        m.home = {AppInstallation::Home::Elsewhere{"/Users/a/Downloads/Test.app", AppInstallation::Home::Origin::folder}};
        m.copies = copies;
        m.duringMove = duringMove;
    };
}

const Set bare = [](JobMachine& m) { std::filesystem::remove_all(m.bundle + "/Contents/Library"); };

TEST(JobGrant, StandingOfEveryState) {
    const std::string steer = Job::approvalSteer();
    const std::string refused = "macOS refused the registration: Invalid code signature (SMAppService needs the "
                                "bundle signed by a team, never ad hoc)";
    struct Row {
        std::string name; // an agent, unless it says daemon or login item
        Set set;
        std::vector<Scope> installFor;
        Standing expected;
        bool failed = false; // a failure to turn it on is recorded first
    };
    // clang-format off
    const Row rows[] = {
        {"daemon awaiting an admin", registry(BS::requiresApproval, {}, false, false), everyone,
         Standing::broken("Open Login Items", "Needs an admin's OK. " + steer)},
        {"awaiting you", registry(BS::requiresApproval, {}, false, false), both,
         Standing::broken("Open Login Items", "Waiting for your OK. " + steer)},
        {"awaiting, a failure recorded", registry(BS::requiresApproval), both,
         Standing::broken("Open Login Items", "Waiting for your OK. " + steer), true},
        {"misplaced, one scope", misplaced({}), me, Standing::broken("Move to Applications", elsewhere)},
        {"misplaced, two scopes", misplaced({}), both, Standing::broken("Move to Applications\u2026", elsewhere)},
        {"misplaced, a copy for me", misplaced({Scope::me}), both, Standing::broken("Open in Applications", elsewhere)},
        {"misplaced, a copy elsewhere", misplaced({Scope::everyone}), me, Standing::broken("Move to Applications", elsewhere)},
        {"daemon misplaced", misplaced({Scope::everyone}), everyone,
         Standing::broken("Open in Applications", "Only works installed for everyone, in Applications.")},
        {"bare", bare, both, Standing::unknown("Not part of this build.")},
        {"running", registry(BS::enabled, {}, true), both, Standing::good()},
        {"running, a failure recorded", registry(BS::enabled, {}, true), both, Standing::good(), true},
        {"login item on", registry(BS::enabled), both, Standing::good()},
        {"off", registry(BS::notRegistered), both, Standing::askable("Turn On")},
        {"silent", registry(BS::enabled), both, Standing::broken("Restart", "Installed, but not answering.")},
        {"off, a failure recorded", registry(BS::notRegistered), both, Standing::broken("Try Again", refused), true},
        {"silent, a failure recorded", registry(BS::enabled), both, Standing::broken("Try Again", refused), true},
    };
    // clang-format on
    for (const auto& row : rows) {
        JobMachine machine;
        Job job = row.name.starts_with("daemon")       ? machine.daemon(row.name)
                  : row.name.starts_with("login item") ? machine.loginItem()
                                                       : machine.agent(row.name);
        if (row.failed) {
            machine.registry.refusal = BS::Failure{BS::invalidSignature, "Invalid code signature"};
            EXPECT_THROW(JobGrant::turnOn(job, 0s), Job::Failure);
            machine.registry.refusal.reset();
        }
        row.set(machine);
        EXPECT_EQ(JobGrant::standing(job, row.installFor, machine.relocation()), row.expected) << row.name;
    }
}

// Two reads of unchanged words log once; each change logs once more.
TEST(JobGrant, EachChangeOfItsWordsIsLoggedOnce) {
    JobMachine machine;
    Job job = machine.agent("read again");
    TestSupport::LogLines log;
    for (bool answering : {false, false, true, true, false, true}) {
        if (answering) machine.registry.current = BS::enabled;
        machine.answering = answering;
        JobGrant::standing(job, me, machine.relocation());
    }
    std::string lines = log.text();
    std::vector<std::string> said;
    for (size_t at = lines.find(R"("msg":"reads )"); at != std::string::npos; at = lines.find(R"("msg":"reads )", at + 1))
        said.push_back(lines.substr(at + 7, lines.find('"', at + 7) - at - 7));
    EXPECT_EQ(said, (std::vector<std::string>{"reads not installed", "reads allowed",
                                              "reads registered, but not answering", "reads allowed"}));
    EXPECT_THAT(lines, logged(R"("msg":"reads allowed" {"grant":"read again"})"));
}

std::vector<nlohmann::json> prompts() {
    std::vector<nlohmann::json> shown;
    for (const auto& line : TestSupport::lines(root() / "person/log.jsonl"))
        if (auto parsed = nlohmann::json::parse(line); parsed["event"] == "prompt") shown.push_back(parsed);
    return shown;
}

void personAnswersAlerts(const std::string& answer) {
    Platform::Files::createDirectories(root() / "person");
    Platform::Files::writeAtomically(root() / "person/rules.json", R"([{"kind":"alert","answer":")" + answer + "\"}]");
}

TEST(JobGrant, PickTakesAnInstalledCopyOrTheOnlyScopeElseAsksThePerson) {
    const std::string question = "Install PermissionGrants_tests for everyone on this Mac, or just for you?";
    const std::string text = question + "\nFor everyone puts it in Applications. Just for you puts it in the "
                                        "Applications folder in your home folder. Settings stay yours either way.";
    const std::string all = "For Everyone on This Mac", mine = "Just for Me";
    struct Row {
        std::vector<Scope> installFor;
        std::set<Scope> copies;
        std::string answer; // the person's, when asked
        std::optional<Scope> picked;
        std::vector<std::string> buttons; // none: no alert
    };
    const Row rows[] = {
        {me, {}, "", Scope::me, {}},
        {everyone, {Scope::me}, "", Scope::everyone, {}},
        {both, {Scope::me}, "", Scope::me, {}},
        {{Scope::me, Scope::everyone}, {Scope::me, Scope::everyone}, "", Scope::me, {}},
        {both, {}, all, Scope::everyone, {all, mine, "Cancel"}},
        {both, {}, mine, Scope::me, {all, mine, "Cancel"}},
        {{Scope::me, Scope::everyone}, {}, "Cancel", std::nullopt, {mine, all, "Cancel"}},
    };
    TestSupport::LoopThread serving(Platform::mainLoop());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer + " " + std::to_string(row.copies.size()));
        JobMachine machine;
        machine.copies = row.copies;
        personAnswersAlerts(row.answer);
        size_t before = prompts().size();
        std::promise<std::optional<Scope>> picked;
        Platform::mainLoop().async([&] {
            JobGrant::pick(row.installFor, [&](std::optional<Scope> scope) { picked.set_value(scope); },
                           machine.relocation());
        });
        EXPECT_EQ(picked.get_future().get(), row.picked);
        auto shown = prompts();
        ASSERT_EQ(shown.size(), before + (row.buttons.empty() ? 0 : 1));
        if (row.buttons.empty()) continue;
        EXPECT_EQ(shown.back()["kind"], "alert");
        EXPECT_EQ(shown.back()["subject"], question);
        EXPECT_EQ(shown.back()["text"], text);
        EXPECT_EQ(shown.back()["choices"].get<std::vector<std::string>>(), row.buttons);
    }
}

// Asks on the main loop and answers the log once the completion ran there.
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
    const std::string silent = Job::Failure(Job::Failure::Silent{}).what();
    const Standing awaiting = Standing::broken("Open Login Items", "Waiting for your OK. " + Job::approvalSteer());
    const Standing moveThere = Standing::broken("Move to Applications\u2026", elsewhere);
    struct Row {
        std::string name;
        Set set;
        std::vector<Scope> installFor;
        std::string answer; // the person's answer to the install-scope alert
        std::string logged; // the grant's line, `"msg":"…" {fields}`; empty: none
        int registers;
        std::optional<Scope> moved;
        Standing after;
    };
    // clang-format off
    const Row rows[] = {
        {"off, turned on", registry(BS::notRegistered, BS::enabled, true), both, "", "", 1, {}, Standing::good()},
        {"off, approval never comes", registry(BS::notRegistered, BS::requiresApproval), both, "", "", 1, {}, awaiting},
        {"silent, never answers", registry(BS::enabled, BS::enabled), both, "",
         R"("msg":"could not turn on" {"grant":"silent, never answers","why":")" + silent + "\"}", 1, {},
         Standing::broken("Try Again", silent)},
        {"awaiting approval", registry(BS::requiresApproval), both, "",
         R"("msg":"opened Login Items" {"grant":"awaiting approval"})", 0, {}, awaiting},
        {"misplaced, one scope", misplaced({}), me, "", "", 0, Scope::me, Standing::broken("Move to Applications", elsewhere)},
        {"misplaced, a copy for everyone", misplaced({Scope::everyone}), both, "", "", 0, Scope::everyone,
         Standing::broken("Open in Applications", elsewhere)},
        {"misplaced, the person picks", misplaced({}), both, "Just for Me", "", 0, Scope::me, moveThere},
        {"misplaced, the person cancels", misplaced({}), both, "Cancel", "", 0, {}, moveThere},
        {"misplaced, the move fails", misplaced({}, [] { throw AppInstallation::MoveError::noBundle(); }), both,
         "For Everyone on This Mac",
         R"("msg":"could not turn on" {"grant":"misplaced, the move fails","why":"not running from an app bundle"})",
         0, Scope::everyone, moveThere},
        {"bare", bare, both, "", "", 0, {}, Standing::unknown("Not part of this build.")},
        {"running", registry(BS::enabled, {}, true), both, "", "", 0, {}, Standing::good()},
    };
    // clang-format on
    for (const auto& row : rows) {
        JobMachine machine;
        row.set(machine);
        personAnswersAlerts(row.answer);
        Job job = machine.agent(row.name);
        size_t opened = TestSupport::lines(root() / "opened-urls.log").size();
        std::string log = askOnMainLoop(job, row.installFor, machine);
        EXPECT_THAT(log, row.logged.empty() ? Not(HasSubstr(R"("scope":["grant"])")) : logged(row.logged)) << row.name;
        EXPECT_EQ(machine.registry.registers, row.registers) << row.name;
        using Moves = std::vector<std::pair<Scope, std::vector<std::string>>>;
        EXPECT_EQ(machine.moves, (row.moved ? Moves{{*row.moved, {row.name}}} : Moves{})) << row.name;
        EXPECT_EQ(TestSupport::lines(root() / "opened-urls.log").size() - opened, row.name == "awaiting approval")
            << row.name;
        EXPECT_EQ(JobGrant::standing(job, row.installFor, machine.relocation()), row.after) << row.name;
    }
}

// A failure stays until the job is asked again, whatever that ask does;
// turning on by hand records like asking, a wait for approval aside.
TEST(JobGrant, TheNextAskForgetsTheLastFailure) {
    JobMachine machine;
    Job job = machine.agent("asked twice");
    registry(BS::enabled, BS::enabled)(machine);
    askOnMainLoop(job, me, machine);
    const Standing tryAgain = Standing::broken("Try Again", Job::Failure(Job::Failure::Silent{}).what());
    for (int read = 0; read < 2; ++read) EXPECT_EQ(JobGrant::standing(job, me, machine.relocation()), tryAgain);

    machine.registry.current = BS::requiresApproval;
    askOnMainLoop(job, me, machine);
    machine.registry.current = BS::enabled;
    EXPECT_EQ(JobGrant::standing(job, me, machine.relocation()),
              Standing::broken("Restart", "Installed, but not answering."));

    registry(BS::notRegistered, BS::requiresApproval)(machine);
    TestSupport::LogLines log;
    EXPECT_THROW(JobGrant::turnOn(job, 1s), Job::Failure);
    EXPECT_THAT(log.text(), Not(HasSubstr("could not turn on")));
    machine.registry.current = BS::notRegistered;
    EXPECT_EQ(JobGrant::standing(job, me, machine.relocation()), Standing::askable("Turn On"));
}

} // namespace
