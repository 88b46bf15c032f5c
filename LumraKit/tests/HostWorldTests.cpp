#include "FlagGrant.hpp"

#include <LumraKit/HostWorld.hpp>
#include <LumraKit/Process.hpp>

#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>

#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <unistd.h>

namespace {

using namespace LumraKit;
using Platform::Power::ThermalState;
using TestSupport::TempDir;
using TestSupport::writeFile;
namespace fs = std::filesystem;

class HostWorldTest : public testing::Test {
protected:
    void TearDown() override {
        FlagGrant::revoke();
        fs::remove(root / "power/sleepnow-error.json");
        Platform::Power::setSleepDisabled(false, root);
    }

    const fs::path& root = Platform::SimulatedHost::root();
    TempDir home;
    Paths paths = Paths::derive(home.path(), Identity::resolve(std::string(Identity::release)));
    HostWorld world{paths};
};

TEST_F(HostWorldTest, ReadsTheClockTheBootAndTheProcessTable) {
    auto before = std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
    auto now = world.now();
    EXPECT_GE(now, before);
    EXPECT_LE(world.bootTime(), now);
    EXPECT_EQ(world.bootTime(), LumraKit::bootTime());

    auto started = world.processStartTime(::getpid());
    ASSERT_TRUE(started.has_value());
    EXPECT_EQ(world.processStartTime(::getpid()), started);
    EXPECT_EQ(world.processStartTime(0x3FFFFFFF), std::nullopt);
}

TEST_F(HostWorldTest, ReadsTheSimulatedPowerSourcesHeatAndDisplay) {
    ASSERT_TRUE(Platform::Power::setPowerSources(
        std::vector<nlohmann::json>{
            {{"Power Source State", "Battery Power"}, {"Current Capacity", 57}, {"Max Capacity", 100}}},
        root));
    EXPECT_EQ(world.power(), (PowerSnapshot{true, false, true, 57, false}));

    ASSERT_TRUE(Platform::Power::setThermalState(ThermalState::serious, root));
    EXPECT_FALSE(world.thermalCritical());
    ASSERT_TRUE(Platform::Power::setThermalState(ThermalState::critical, root));
    EXPECT_TRUE(world.thermalCritical());
    ASSERT_TRUE(Platform::Power::setThermalState(ThermalState::nominal, root));

    ASSERT_TRUE(Platform::Power::setMainDisplayAsleep(true, root));
    EXPECT_TRUE(world.displayAsleep());
    ASSERT_TRUE(Platform::Power::setMainDisplayAsleep(false, root));
    EXPECT_FALSE(world.displayAsleep());
}

TEST_F(HostWorldTest, FlipsTheFlagOnlyWithTheSudoersGrant) {
    EXPECT_FALSE(world.sleepDisabled());
    EXPECT_EQ(world.setSleepDisabled(true), LidResult::grantMissing());
    EXPECT_FALSE(world.sleepDisabled());

    FlagGrant::grant();
    EXPECT_EQ(world.setSleepDisabled(true), LidResult::ok());
    EXPECT_TRUE(world.sleepDisabled());
    EXPECT_EQ(world.setSleepDisabled(false), LidResult::ok());
    EXPECT_FALSE(world.sleepDisabled());
}

TEST_F(HostWorldTest, AssertionsAreHeldUntilReleased) {
    uint32_t idle = world.createAssertion(Mode::idle);
    uint32_t display = world.createAssertion(Mode::display);
    ASSERT_NE(idle, 0u);
    ASSERT_NE(display, idle);

    auto held = Platform::Power::assertions(root);
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].type, "PreventUserIdleSystemSleep");
    EXPECT_EQ(held[1].type, "PreventUserIdleDisplaySleep");
    EXPECT_EQ(held[0].name, "lumra");
    EXPECT_EQ(held[0].level, 255);

    world.releaseAssertion(idle);
    world.releaseAssertion(display);
    EXPECT_TRUE(Platform::Power::assertions(root).empty());
}

TEST_F(HostWorldTest, SleepNowAsksPmsetAndLogsItsFailure) {
    testing::internal::CaptureStderr();
    world.sleepNow();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(TestSupport::lines(root / "power/sleepnow.log").size(), 1u);

    writeFile(root / "power/sleepnow-error.json", R"({"status":1,"stderr":"busy\n"})");
    testing::internal::CaptureStderr();
    world.sleepNow();
    std::string logged = testing::internal::GetCapturedStderr();
    ASSERT_GE(logged.size(), 21u);
    EXPECT_EQ(logged.substr(20), " pmset sleepnow failed (1): busy\n");
}

TEST_F(HostWorldTest, KeepsTheStateFilesOfItsPaths) {
    EXPECT_TRUE(world.loadClaims().empty());
    Claim claim("you", false, Claim::defaultModes, Term::indefinite(), world.now());
    world.saveClaims({claim});
    EXPECT_TRUE(fs::exists(paths.claimsFile));
    EXPECT_EQ(world.loadClaims(), std::vector<Claim>{claim});
    world.saveClaims({});
    EXPECT_FALSE(fs::exists(paths.claimsFile));

    auto suspended = std::chrono::floor<std::chrono::seconds>(world.now());
    world.saveSuspended(suspended);
    EXPECT_EQ(world.loadSuspended(), Platform::Date(suspended));
    world.saveSuspended(std::nullopt);
    EXPECT_FALSE(fs::exists(paths.suspendFile));
    EXPECT_EQ(world.loadSuspended(), std::nullopt);

    EXPECT_EQ(world.loadConfig(), Config());
    Config config(20, 45, true, "say done", false);
    world.saveConfig(config);
    EXPECT_EQ(world.loadConfig(), config);

    EXPECT_EQ(world.notificationReach(), std::nullopt);
    NotificationStore(paths.notificationsFile).save(NotificationStore::Reach::silenced);
    EXPECT_EQ(world.notificationReach(), NotificationStore::Reach::silenced);
}

} // namespace
