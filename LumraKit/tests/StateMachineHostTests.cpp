#include "FlagGrant.hpp"

#include <LumraKit/HostWorld.hpp>
#include <LumraKit/Process.hpp>
#include <LumraKit/StateMachine.hpp>

#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>

#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

// The engine against the simulated machine: real pmset and sudo stand-ins,
// simulated assertions and power sources, real state files and real
// processes.
namespace {

using namespace LumraKit;
using TestSupport::TempDir;
namespace fs = std::filesystem;

class EngineOnHost : public testing::Test {
protected:
    void TearDown() override {
        FlagGrant::revoke();
        Platform::Power::setSleepDisabled(false, root);
        Platform::Power::setPowerSources(std::nullopt, root);
    }

    std::vector<std::string> assertionTypes() const {
        std::vector<std::string> types;
        for (const auto& assertion : Platform::Power::assertions(root)) types.push_back(assertion.type);
        return types;
    }

    const fs::path& root = Platform::SimulatedHost::root();
    TempDir home;
    Paths paths = Paths::derive(home.path(), Identity::resolve(std::string(Identity::release)));
    HostWorld world{paths};
};

TEST_F(EngineOnHost, HoldsSurvivesARestartAndReleases) {
    FlagGrant::grant();
    testing::internal::CaptureStderr();
    Claim claim("you", false, {Mode::idle, Mode::lid}, Term::indefinite(), world.now());
    {
        StateMachine engine(world);
        ASSERT_TRUE(engine.engage(claim).ok());
        EXPECT_TRUE(Platform::Power::sleepDisabled(root));
        EXPECT_EQ(assertionTypes(), std::vector<std::string>{"PreventUserIdleSystemSleep"});
        EXPECT_EQ(world.loadClaims(), std::vector<Claim>{claim});
        engine.park();
        EXPECT_FALSE(Platform::Power::sleepDisabled(root));
        EXPECT_TRUE(assertionTypes().empty());
    }

    StateMachine next(world);
    EXPECT_EQ(next.claims(), std::vector<Claim>{claim});
    EXPECT_TRUE(Platform::Power::sleepDisabled(root));
    EXPECT_EQ(assertionTypes().size(), 1u);
    EXPECT_TRUE(next.snapshot().sleepDisabled);

    next.endAll(EndReason::requested());
    EXPECT_FALSE(Platform::Power::sleepDisabled(root));
    EXPECT_TRUE(assertionTypes().empty());
    EXPECT_FALSE(fs::exists(paths.claimsFile));
    std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_NE(logged.find(" startup: re-arming 1 persisted claim(s)\n"), std::string::npos) << logged;
}

TEST_F(EngineOnHost, WithoutTheGrantLidIsRefusedAndNothingChanges) {
    testing::internal::CaptureStderr();
    StateMachine engine(world);
    auto result = engine.engage(Claim("you", false, {Mode::idle, Mode::lid}, Term::indefinite(), world.now()));
    std::string logged = testing::internal::GetCapturedStderr();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message(), "The sudoers grant is missing. Run: lumra grant");
    EXPECT_TRUE(engine.claims().empty());
    EXPECT_TRUE(assertionTypes().empty());
    EXPECT_FALSE(fs::exists(paths.claimsFile));
    EXPECT_NE(logged.find(" lid flip to true failed: grantMissing\n"), std::string::npos) << logged;
}

TEST_F(EngineOnHost, ClaimsEndWithTheirProcessAndOnADyingBattery) {
    pid_t child = 0;
    const char* argv[] = {"/bin/sleep", "30", nullptr};
    ASSERT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    std::optional<double> started = procStartTime(child);
    ASSERT_TRUE(started);

    testing::internal::CaptureStderr();
    StateMachine engine(world);
    std::vector<EndReason> reasons;
    engine.notify = [&](const EndReason& reason, const std::vector<Claim>&) { reasons.push_back(reason); };
    ASSERT_TRUE(engine.engage(Claim("worker", false, {Mode::idle}, Term::whilePid(child, *started), world.now())).ok());
    ASSERT_TRUE(engine.engage(Claim("you", false, {Mode::display}, Term::indefinite(), world.now())).ok());
    engine.tick();
    EXPECT_TRUE(reasons.empty());

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    engine.tick();
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_EQ(reasons[0], EndReason::pidExited(child));

    ASSERT_TRUE(Platform::Power::setPowerSources(
        std::vector<nlohmann::json>{
            {{"Power Source State", "Battery Power"}, {"Current Capacity", 9}, {"Max Capacity", 100}}},
        root));
    engine.tick();
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(reasons.size(), 2u);
    EXPECT_EQ(reasons[1], EndReason::batteryFloor(9));
    EXPECT_TRUE(assertionTypes().empty());
}

} // namespace
