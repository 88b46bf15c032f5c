// The background-service registry as apps see it: policies, the person's
// answers, signatures, scripted failures and copies of one app.

#include <Platform/BackgroundServices.hpp>
#include <Platform/CodeSigning.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/Launchd.hpp>
#include <Platform/PropertyList.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/LaunchdJobs.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <latch>
#include <thread>

namespace {

namespace fs = std::filesystem;
namespace Background = Platform::BackgroundServices;
using Background::Failure;
using Background::Handle;
using Decision = Background::Policy::Decision;
using Kind = Handle::Kind;
using Platform::PropertyDictionary;

const std::string identifier = "test.registry.app";
const Handle agent{Kind::agent, "test.registry.agent.plist"};
const Handle daemon{Kind::daemon, "test.registry.daemon.plist"};
const Handle loginItem{Kind::loginItem, ""};

Failure failure(int32_t code) { return {code, Background::describe(code)}; }

enum class Signature { developer, adhoc, none, broken };

class Registry : public testing::Test {
protected:
    fs::path root() const { return machine.path(); }
    // An app with one agent and one daemon; their definitions run nothing
    // at load, so loading them starts no process.
    fs::path makeApp(const fs::path& app, Signature signature = Signature::developer) {
        PropertyDictionary info{{"CFBundleIdentifier", identifier}, {"CFBundleExecutable", std::string("App")}};
        TestSupport::writeFile(app / "Contents/Info.plist",
                               Platform::encodePropertyList(info, Platform::PropertyListFormat::xml));
        TestSupport::writeFile(app / "Contents/MacOS/App", "#!/bin/sh\n");
        for (const auto& [folder, handle] : {std::pair{"LaunchAgents", agent}, std::pair{"LaunchDaemons", daemon}}) {
            std::string label = handle.plist.substr(0, handle.plist.size() - 6);
            PropertyDictionary definition{{"Label", label}, {"BundleProgram", std::string("Contents/MacOS/App")}};
            TestSupport::writeFile(app / "Contents/Library" / folder / handle.plist,
                                   Platform::encodePropertyList(definition, Platform::PropertyListFormat::xml));
        }
        if (signature == Signature::none) return app;
        Platform::CodeSigning::Identity identity;
        if (signature != Signature::adhoc) identity.subject = "Developer ID Application: Example Maker (AB12CD34EF)";
        EXPECT_EQ(Platform::CodeSigning::sign(app, {identity, std::nullopt, true, nlohmann::json::object()}),
                  std::nullopt);
        if (signature == Signature::broken) TestSupport::writeFile(app / "Contents/MacOS/App", "changed");
        return app;
    }

    std::unique_ptr<Background::Registry> app(const fs::path& bundle) { return Background::forApp(bundle, root()); }
    void setPolicy(Kind kind, Decision decision, std::optional<Background::Answer> answer = {}, double after = 0) {
        ASSERT_TRUE(Background::setPolicy(kind, {decision, answer, after}, root()));
    }

    // Whether launchd holds the handle's job.
    bool loaded(const Handle& handle) const {
        if (handle.kind == Kind::loginItem) return false;
        std::string label = handle.plist.substr(0, handle.plist.size() - 6);
        return Platform::Launchd::find(handle.kind == Kind::agent ? gui() : "system", label, root()).has_value();
    }

    std::string gui() const { return Platform::Launchd::guiDomain(Platform::Credentials::currentUID(root())); }
    nlohmann::json lastCall() const {
        auto calls = TestSupport::lines(root() / "background/calls.jsonl");
        return calls.empty() ? nlohmann::json() : nlohmann::json::parse(calls.back());
    }

    TestSupport::TempDir machine, downloads;
    TestSupport::LaunchdJobs jobs{machine.path()};
    fs::path installed = root() / "Applications/Registry Test.app";
};

// Each policy answers a first registration, and a second one from the same
// copy, with the platform's errors and statuses.
TEST_F(Registry, PolicyDecidesWhatRegisteringDoes) {
    struct Case {
        Handle handle;
        Decision decision;
        std::optional<Failure> first;
        int32_t statusAfterFirst;
        std::optional<Failure> second;
        int32_t statusAfterSecond;
    };
    const Case cases[] = {
        {agent, Decision::enabled, {}, 1, failure(12), 1},
        {daemon, Decision::enabled, {}, 1, failure(12), 1},
        {loginItem, Decision::enabled, {}, 1, failure(12), 1},
        {agent, Decision::ask, {}, 2, failure(1), 2},
        {daemon, Decision::ask, {}, 2, failure(1), 2},
        {loginItem, Decision::ask, {}, 2, failure(1), 2},
        {agent, Decision::denied, failure(1), 0, failure(1), 0},
        {daemon, Decision::switchedOff, failure(11), 0, failure(11), 0},
        {loginItem, Decision::switchedOff, failure(11), 0, failure(11), 0},
        {agent, Decision::ignored, {}, 0, {}, 0},
    };
    auto registry = app(makeApp(installed));
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.handle.plist << " policy " << static_cast<int>(c.decision));
        setPolicy(c.handle.kind, c.decision);
        EXPECT_EQ(registry->status(c.handle), 0);
        EXPECT_EQ(registry->registerService(c.handle), c.first);
        EXPECT_EQ(registry->status(c.handle), c.statusAfterFirst);
        EXPECT_EQ(loaded(c.handle), c.statusAfterFirst == 1 && c.handle.kind != Kind::loginItem);
        EXPECT_EQ(registry->registerService(c.handle), c.second);
        EXPECT_EQ(registry->status(c.handle), c.statusAfterSecond);
        EXPECT_EQ(registry->unregisterService(c.handle), c.statusAfterSecond ? std::nullopt : std::optional(failure(6)));
        EXPECT_EQ(registry->status(c.handle), 0);
        EXPECT_FALSE(loaded(c.handle));
    }
    const std::pair<int32_t, std::string> descriptions[] = {
        {1, "Operation not permitted"},
        {3, "The application's code signature does not meet the requirements to perform the operation."},
        {5, "The specified path does not exist or the helper tool at the specified path is not valid."},
        {6, "A job with the given label could not be found."},
        {8, "A plist for the job could not be found."},
        {11, "The user denied the app's launch request."},
        {12, "The application is already registered."},
        {42, "The operation could not be completed (error 42)."}};
    for (const auto& [code, text] : descriptions) EXPECT_EQ(Background::describe(code), text);
}

TEST_F(Registry, AFreshMachineEnablesAgentsAndAsksForDaemons) {
    auto registry = app(makeApp(installed));
    for (auto [handle, status] : {std::pair{agent, 1}, std::pair{daemon, 2}, std::pair{loginItem, 1}}) {
        EXPECT_EQ(registry->registerService(handle), std::nullopt);
        EXPECT_EQ(registry->status(handle), status) << handle.plist;
    }
    EXPECT_EQ(Background::records(root()),
              (std::vector<Background::Record>{
                  {gui(), identifier, "agent test.registry.agent.plist", 1, "/Applications/Registry Test.app"},
                  {"system", identifier, "daemon test.registry.daemon.plist", 2, "/Applications/Registry Test.app"},
                  {gui(), identifier, "login item", 1, "/Applications/Registry Test.app"}}));
    // Every register and unregister is one line of the call record.
    EXPECT_EQ(registry->unregisterService(daemon), std::nullopt);
    auto line = lastCall();
    line.erase("at");
    EXPECT_EQ(line, nlohmann::json({{"call", "unregister"}, {"domain", "system"}, {"identifier", identifier},
                                    {"handle", "daemon " + daemon.plist}, {"bundle", "/Applications/Registry Test.app"},
                                    {"result", 0}, {"status", 0}}));
    EXPECT_EQ(TestSupport::lines(root() / "background/calls.jsonl").size(), 4u);

    registry->openSystemSettingsLoginItems();
    EXPECT_EQ(TestSupport::contents(root() / "opened-urls.log"),
              "x-apple.systempreferences:com.apple.LoginItems-Settings.extension\n");
}

// Registrations made at once, as from several processes, make one record.
TEST_F(Registry, ConcurrentRegistrationsMakeOne) {
    fs::path bundle = makeApp(installed);
    std::vector<std::optional<Failure>> results(4);
    std::latch start(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&] {
            auto registry = app(bundle);
            start.arrive_and_wait();
            result = registry->registerService(loginItem);
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(std::count(results.begin(), results.end(), std::nullopt), 1);
    EXPECT_EQ(std::count(results.begin(), results.end(), failure(12)), 3);
    EXPECT_EQ(Background::records(root()).size(), 1u);
}

// Only code signed by a team, and intact, may register.
TEST_F(Registry, CodeThatIsNotSignedByATeamIsRefused) {
    for (auto signature : {Signature::none, Signature::adhoc, Signature::broken}) {
        TestSupport::TempDir folder;
        auto registry = app(makeApp(folder / "Copy.app", signature));
        for (const auto& handle : {agent, daemon, loginItem}) {
            EXPECT_EQ(registry->registerService(handle), failure(3));
            EXPECT_EQ(registry->status(handle), 0);
        }
    }
    EXPECT_TRUE(Background::records(root()).empty());
}

// A plist name never leaves the bundle's definition folders, even when the
// file it would reach exists.
TEST_F(Registry, AHandleWithoutItsDefinitionIsNotFound) {
    fs::path bundle = makeApp(installed);
    TestSupport::writeFile(bundle / "Contents/Library/escape.plist", "x");
    TestSupport::writeFile(bundle / "Contents/Library/LaunchAgents/.hidden.plist", "x");
    auto registry = app(bundle);
    for (const auto& handle : {Handle{Kind::agent, "missing.plist"}, Handle{Kind::agent, "../escape.plist"},
                               Handle{Kind::daemon, "../LaunchAgents/test.registry.agent.plist"},
                               Handle{Kind::agent, ".hidden.plist"}, Handle{Kind::agent, ""},
                               Handle{Kind::daemon, "test.registry.agent.plist"}}) {
        SCOPED_TRACE(handle.plist);
        EXPECT_EQ(registry->status(handle), 3);
        EXPECT_EQ(registry->registerService(handle), failure(8));
        EXPECT_EQ(registry->unregisterService(handle), failure(8));
    }
    // Outside any bundle, or in a bundle without an identifier, nothing is found.
    for (const fs::path& bundle : {fs::path(), downloads.path()}) {
        auto outside = app(bundle);
        EXPECT_EQ(outside->status(loginItem), 3);
        EXPECT_EQ(outside->registerService(loginItem), failure(8));
    }
    EXPECT_TRUE(Background::records(root()).empty());
}

// The registry is keyed by the bundle identifier: another copy sees the
// registration, and registering from it moves the registration there.
TEST_F(Registry, AnotherCopyTakesTheRegistrationOver) {
    auto here = app(makeApp(installed));
    auto there = app(makeApp(downloads / "Registry Test.app"));
    std::string moved = (downloads / "Registry Test.app").string();
    ASSERT_EQ(here->registerService(agent), std::nullopt);
    EXPECT_EQ(there->status(agent), 1);
    EXPECT_EQ(there->registerService(agent), std::nullopt);
    EXPECT_EQ(Background::records(root()).at(0).bundle, moved);
    EXPECT_EQ(there->registerService(agent), failure(12));
    EXPECT_EQ(lastCall()["bundle"], moved);

    // Awaiting approval, the request follows the copy that asked last.
    setPolicy(Kind::daemon, Decision::ask);
    ASSERT_EQ(here->registerService(daemon), std::nullopt);
    EXPECT_EQ(there->registerService(daemon), failure(1));
    EXPECT_EQ(there->status(daemon), 2);
    ASSERT_TRUE(Background::answer(identifier, daemon.plist, Background::Answer::approve, root()));
    EXPECT_EQ(here->status(daemon), 1);
    EXPECT_EQ(Background::records(root()).at(1).bundle, moved);

    // Either copy may unregister.
    EXPECT_EQ(here->unregisterService(agent), std::nullopt);
    EXPECT_EQ(there->unregisterService(agent), failure(6));
}

TEST_F(Registry, ThePersonAnswersByHand) {
    setPolicy(Kind::agent, Decision::ask);
    auto registry = app(makeApp(installed));
    ASSERT_EQ(registry->registerService(agent), std::nullopt);
    using Background::Answer;
    const std::tuple<std::string, Answer, bool, int32_t> steps[] = { // job, answer, whether it matched, status
        {agent.plist, Answer::deny, true, 2},       {agent.plist, Answer::approve, true, 1},
        {agent.plist, Answer::approve, true, 1},    {agent.plist, Answer::deny, true, 2},
        {"other.plist", Answer::approve, false, 2}, {"login-item", Answer::approve, false, 2}};
    for (const auto& [job, answer, matched, status] : steps) {
        EXPECT_EQ(Background::answer(identifier, job, answer, root()), matched) << job;
        EXPECT_EQ(registry->status(agent), status) << job;
        EXPECT_EQ(loaded(agent), status == 1) << job;
    }
    EXPECT_FALSE(Background::answer("test.other", agent.plist, Answer::approve, root()));
    EXPECT_EQ(lastCall()["call"], "deny");
    EXPECT_EQ(lastCall()["by"], "person");
}

// The policy's answer comes after its delay in simulated time, applied by
// whoever reads the registry next.
TEST_F(Registry, TimedAnswersFollowTheSimulatedClock) {
    TestSupport::writeFile(root() / "clock.json", "{\"rate\":1000}");
    auto registry = app(makeApp(installed));
    setPolicy(Kind::agent, Decision::ask, Background::Answer::approve, 200); // 200 ms
    setPolicy(Kind::daemon, Decision::ask, Background::Answer::deny, 0);
    ASSERT_EQ(registry->registerService(agent), std::nullopt);
    ASSERT_EQ(registry->registerService(daemon), std::nullopt);
    EXPECT_EQ(registry->status(agent), 2);
    EXPECT_EQ(registry->status(daemon), 2);
    EXPECT_EQ(lastCall()["call"], "deny");
    EXPECT_EQ(lastCall()["by"], "policy");
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(Background::records(root()).at(0).status, 1);
    EXPECT_EQ(registry->status(agent), 1);
    EXPECT_EQ(lastCall()["call"], "approve");
}

TEST_F(Registry, ScriptedFailuresComeFirstAndChangeNothing) {
    auto registry = app(makeApp(installed));
    ASSERT_TRUE(Background::queueFailure(Background::Call::registration, 5, 2, root()));
    ASSERT_TRUE(Background::queueFailure(Background::Call::registration, 42, 1, root()));
    ASSERT_TRUE(Background::queueFailure(Background::Call::unregistration, 7, 1, root()));
    for (const auto& failure : {failure(5), failure(5), failure(42)}) {
        EXPECT_EQ(registry->registerService(agent), failure);
        EXPECT_EQ(registry->status(agent), 0);
    }
    ASSERT_EQ(registry->registerService(agent), std::nullopt);
    EXPECT_EQ(registry->unregisterService(agent), failure(7));
    EXPECT_EQ(registry->status(agent), 1);
    ASSERT_TRUE(Background::queueFailure(Background::Call::unregistration, 1, 3, root()));
    ASSERT_TRUE(Background::clearFailures(root()));
    EXPECT_EQ(registry->unregisterService(agent), std::nullopt);
}

// Damaged files read as fresh ones and never crash; entries that cannot be
// read survive the next write.
TEST_F(Registry, DamagedFilesReadAsFresh) {
    auto registry = app(makeApp(installed));
    for (const char* file : {"registry.json", "policy.json", "failures.json"})
        TestSupport::writeFile(root() / "background" / file, "{\"registrations\": [ 42, {\"status\": ");
    EXPECT_EQ(registry->status(agent), 0);
    EXPECT_EQ(Background::policy(Kind::daemon, root()), (Background::Policy{Decision::ask, {}, 0}));
    EXPECT_EQ(registry->registerService(agent), std::nullopt);

    TestSupport::writeFile(root() / "background/registry.json",
                           R"({"registrations":[42,{"domain":"system","status":"x"},)"
                           R"({"domain":"gui/../x","identifier":"test.registry.app","handle":"login item",)"
                           R"("status":1,"bundle":"/x","label":"../y"}]})");
    TestSupport::writeFile(root() / "background/policy.json",
                           R"({"agent":"sometimes","daemon":{"decision":"ask","answer":"maybe"},"loginItem":7})");
    TestSupport::writeFile(root() / "background/failures.json", R"({"register":[{"code":"x"},7,{"times":-1}]})");
    EXPECT_EQ(registry->registerService(daemon), std::nullopt);
    EXPECT_EQ(registry->status(daemon), 2);
    EXPECT_EQ(registry->status(loginItem), 0);
    auto stored = nlohmann::json::parse(TestSupport::contents(root() / "background/registry.json"));
    EXPECT_EQ(stored["registrations"].size(), 4u);
    EXPECT_NE(stored.dump().find(R"({"domain":"system","status":"x"})"), std::string::npos);
    EXPECT_EQ(Background::policy(Kind::agent, root()).decision, Decision::enabled);
}

} // namespace
