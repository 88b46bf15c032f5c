// The privacy, automation and background-service kinds of grant: how they
// are made, their keys in the readings cache, and turning a service off.

#include "JobMachine.hpp"
#include "PrintStanding.hpp"

#include <PermissionGrants/PermissionGrant.hpp>
#include <PermissionGrants/Readings.hpp>
#include <TestSupport/LogLines.hpp>
#include <TestSupport/LoopThread.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

namespace {

using namespace PermissionGrantsTests;
using PermissionGrants::PermissionGrant;
using PermissionGrants::Privacy;
using Standing = PermissionGrant::Standing;
using TestSupport::logged;
using testing::HasSubstr;
using testing::Not;

[[maybe_unused]] testing::Environment* const machine =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

PermissionGrant service(Job job, std::vector<Scope> installFor) {
    return PermissionGrant::backgroundService(std::move(job), "Helper", "It helps.", "gearshape", true,
                                              std::move(installFor));
}

TEST(GrantKinds, PrivacyGrantsShowThePermissionsSymbolUnlessGivenOne) {
    auto camera = PermissionGrant::privacy(Privacy::camera, "Camera", "To see.", std::nullopt, true);
    EXPECT_EQ(std::get<Privacy>(camera.kind.value), Privacy::camera);
    EXPECT_EQ(camera.symbol, "camera");
    EXPECT_EQ(PermissionGrant::privacy(Privacy::motion, "T", "W", "star", false).symbol, "star");
}

TEST(GrantKinds, KindsAndKeys) {
    auto automation = PermissionGrant::automation("app.test.target", "Target", "To drive it.", "gearshape", false);
    EXPECT_EQ(std::get<PermissionGrant::Kind::Automation>(automation.kind.value).bundleID, "app.test.target");
    EXPECT_EQ(automation.title + automation.why + automation.symbol, "TargetTo drive it.gearshape");
    EXPECT_EQ(PermissionGrant::automationKey("app.test.target"), "automation app.test.target");

    JobMachine machine;
    auto daemon = service(machine.daemon("d"), {Scope::everyone});
    const auto& kind = std::get<PermissionGrant::Kind::BackgroundService>(daemon.kind.value);
    EXPECT_EQ(kind.job.name(), "d");
    EXPECT_EQ(kind.installFor, std::vector<Scope>{Scope::everyone});
    const std::tuple<Job, std::vector<Scope>, std::string> keys[] = {
        {machine.agent("a"), {Scope::everyone, Scope::me}, "job agent agent.plist for everyone me"},
        {machine.agent("a"), {Scope::me}, "job agent agent.plist for me"},
        {machine.daemon("d"), {Scope::everyone}, "job daemon daemon.plist for everyone"},
        {machine.loginItem(), {Scope::me, Scope::everyone}, "job login item for me everyone"},
    };
    for (const auto& [job, installFor, key] : keys) EXPECT_EQ(PermissionGrant::jobKey(job, installFor), key);
}

// Read through the cache with the machine's own consent service.
TEST(GrantKinds, AnAutomationGrantOfATargetThatDoesNotRunIsAskable) {
    auto grant = PermissionGrant::automation("app.test.nowhere", "Nowhere", "To drive it.", "gearshape", false);
    EXPECT_EQ(grant.standing(), Standing::askable("Allow\u2026"));
    EXPECT_FALSE(grant.isAllowed());
}

// Two grants of one job that may be installed in different places read
// apart, though they share the cache.
TEST(GrantKinds, TheCacheKeepsAJobsGrantsApartByWhereTheyInstall) {
    // This program runs from no bundle: the login item is misplaced.
    auto justMe = service(Job::loginItem(), {Scope::me});
    auto either = service(Job::loginItem(), {Scope::everyone, Scope::me});
    const std::string note = "Only works from the Applications folder.";
    for (int read = 0; read < 2; ++read) {
        EXPECT_EQ(justMe.standing(), Standing::broken("Move to Applications", note));
        EXPECT_EQ(either.standing(), Standing::broken("Move to Applications\u2026", note));
    }
    EXPECT_TRUE(justMe.blocking());
    EXPECT_FALSE(either.isAllowed());
}

// Asking goes through the job's grant: here the move it needs fails, is
// logged and leaves the grant as it was.
TEST(GrantKinds, AskingABackgroundServiceAnswersItsStandingAfterwards) {
    auto grant = service(Job::loginItem(), {Scope::me});
    TestSupport::LoopThread serving(Platform::mainLoop());
    TestSupport::LogLines log;
    std::promise<bool> allowed;
    Platform::mainLoop().async([&] { grant.ask([&](bool answer) { allowed.set_value(answer); }); });
    EXPECT_FALSE(allowed.get_future().get());
    EXPECT_THAT(log.text(),
                logged(R"("msg":"could not turn on" {"grant":"the login item","why":"not running from an app bundle"})"));
}

TEST(GrantKinds, UnregisteringLogsAFailureAndGoesOn) {
    const std::pair<std::optional<BS::Failure>, std::string> rows[] = {
        {std::nullopt, ""},
        {BS::Failure{BS::jobNotFound, "Not found"}, ""},
        {BS::Failure{BS::operationNotPermitted, "Not permitted"},
         R"("msg":"could not turn off" {"err":"macOS refused the registration: Not permitted","grant":"to stop"})"},
    };
    for (const auto& [refusal, line] : rows) {
        JobMachine machine;
        machine.registry.current = BS::enabled;
        machine.registry.unregisterRefusal = refusal;
        TestSupport::LogLines log;
        service(machine.agent("to stop"), {Scope::me}).unregister();
        EXPECT_EQ(machine.registry.unregisters, 1);
        EXPECT_THAT(log.text(), line.empty() ? Not(HasSubstr("could not turn off")) : logged(line));
    }
}

TEST(GrantKindsDeath, BrokenPreconditionsStopTheProcess) {
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    JobMachine machine;
    EXPECT_DEATH(service(machine.agent("nowhere"), {}),
                 "PermissionGrant: the background service nowhere has nowhere to be installed");
    EXPECT_DEATH(service(machine.daemon("the daemon"), {Scope::everyone, Scope::me}),
                 "PermissionGrant: the background service the daemon cannot be installed for me");
    auto notifications = PermissionGrant::notifications("Notifications", "To tell you.", "bell", false, 6);
    EXPECT_DEATH(notifications.unregister(),
                 "PermissionGrant: unregister\\(\\) on Notifications, which is no background service");
}

} // namespace
