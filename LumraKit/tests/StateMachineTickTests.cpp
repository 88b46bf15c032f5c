#include "EngineHarness.hpp"

#include <gmock/gmock.h>

using namespace EngineTesting;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::StartsWith;

namespace {

class Ticking : public testing::Test {
protected:
    void SetUp() override { harness.start(); }
    StateMachine& engine() { return *harness.engine; }
    TestSupport::FakeWorld& world() { return harness.world; }
    std::vector<EndReason> reasons() const {
        std::vector<EndReason> result;
        for (const auto& ended : harness.ended) result.push_back(ended.reason);
        return result;
    }
    Harness harness;
};

TEST_F(Ticking, AParkedEngineReleasesEverythingKeepsTheFileAndIgnoresTicks) {
    Claim claim = harness.userClaim({Mode::idle, Mode::lid}, Term::until(world().clock + 1min));
    harness.take(claim);
    harness.logLines();
    int changes = harness.changes, saves = world().claimSaves;

    engine().park();
    EXPECT_TRUE(world().assertions.empty());
    EXPECT_FALSE(world().flag);
    EXPECT_EQ(world().storedClaims, engine().claims());
    EXPECT_EQ(world().claimSaves, saves);
    EXPECT_EQ(harness.changes, changes);
    EXPECT_THAT(harness.logLines(), ElementsAre("parked " + debugText(engine().claims())));

    world().advance(1h);
    world().flag = true;
    engine().tick();
    engine().park();
    EXPECT_EQ(engine().claims().size(), 1u);
    EXPECT_THAT(harness.ended, IsEmpty());
    EXPECT_THAT(harness.logLines(), IsEmpty());

    // Claims are still recorded, but nothing is held.
    EXPECT_TRUE(engine().engage(harness.userClaim({Mode::display})).ok());
    EXPECT_TRUE(world().assertions.empty());
}

TEST_F(Ticking, TheFlagSwitchedOnWhileSuspendedResumesAndAdoptsInOneTick) {
    engine().suspend();
    world().flag = true;
    harness.logLines();
    engine().tick();
    EXPECT_FALSE(engine().suspended());
    EXPECT_FALSE(world().storedSuspended);
    ASSERT_EQ(engine().claims().size(), 1u);
    const Claim& adopted = engine().claims()[0];
    EXPECT_EQ(adopted.owner, "external");
    EXPECT_EQ(adopted.modes, (ModeSet{Mode::lid}));
    EXPECT_EQ(adopted.term, Term::indefinite());
    EXPECT_EQ(adopted.startedAt, world().clock);
    EXPECT_EQ(world().storedClaims, engine().claims());
    EXPECT_THAT(harness.logLines(), ElementsAre("tick: external writer turned the flag on while suspended, resuming",
                                                "tick: external writer turned the flag on, adopting"));

    engine().tick();
    EXPECT_EQ(engine().claims().size(), 1u);
    EXPECT_EQ(engine().claims()[0].id, adopted.id);
}

TEST_F(Ticking, TheFlagFoundOffEndsEveryClaimOnceAndSkipsTheOtherGuards) {
    Claim lid = harness.userClaim({Mode::idle, Mode::lid});
    Claim idle = harness.programClaim("other", {Mode::idle}, Term::until(world().clock + 1s));
    harness.take(lid);
    harness.take(idle);
    world().flag = false;
    world().advance(1h);
    engine().tick();
    ASSERT_EQ(harness.ended.size(), 1u);
    EXPECT_EQ(harness.ended[0].reason, EndReason::externalOff());
    EXPECT_EQ(harness.ended[0].claims.size(), 2u);
    EXPECT_THAT(engine().claims(), IsEmpty());
    engine().tick();
    EXPECT_EQ(harness.ended.size(), 1u);
}

TEST_F(Ticking, WhileSuspendedTheFlagIsNotWatchedButTimeProcessesAndBatteryAre) {
    Claim lid = harness.userClaim({Mode::lid});
    Claim brief = harness.programClaim("brief", {Mode::idle}, Term::until(world().clock + 10min));
    harness.take(lid);
    harness.take(brief);
    engine().suspend();
    EXPECT_FALSE(world().flag);
    engine().tick();
    EXPECT_THAT(harness.ended, IsEmpty());

    world().advance(10min);
    engine().tick();
    ASSERT_EQ(harness.ended.size(), 1u);
    EXPECT_EQ(harness.ended[0].reason, EndReason::expired());
    EXPECT_EQ(harness.ended[0].claims[0].id, brief.id);
    EXPECT_TRUE(world().assertions.empty()) << "still suspended";

    world().dischargingAt(5);
    engine().tick();
    EXPECT_THAT(reasons(), ElementsAre(EndReason::expired(), EndReason::batteryFloor(5)));
}

TEST_F(Ticking, ExpiriesShareOneEndAndDeadProcessesEachHaveTheirOwn) {
    world().processes = {{100, 1.5}, {200, 2.5}, {300, 3.5}};
    Claim soon = harness.programClaim("a", {Mode::idle}, Term::until(world().clock + 1min));
    Claim atOnce = harness.programClaim("b", {Mode::idle}, Term::until(world().clock + 30s));
    Claim later = harness.programClaim("c", {Mode::idle}, Term::until(world().clock + 2min));
    Claim first = harness.programClaim("d", {Mode::idle}, Term::whilePid(200, 2.5));
    Claim second = harness.programClaim("e", {Mode::idle}, Term::whilePid(100, 1.5));
    Claim living = harness.programClaim("f", {Mode::idle}, Term::whilePid(300, 3.5));
    for (const Claim& claim : {soon, atOnce, later, first, second, living}) harness.take(claim);

    world().advance(1min);
    world().processes.erase(100);
    world().processes[200] = 9.0; // the ID now names another process
    int changes = harness.changes;
    engine().tick();
    ASSERT_EQ(harness.ended.size(), 3u);
    EXPECT_EQ(harness.ended[0].reason, EndReason::expired());
    EXPECT_EQ(harness.ended[0].claims, (std::vector<Claim>{soon, atOnce}));
    EXPECT_EQ(harness.ended[1].reason, EndReason::pidExited(200));
    EXPECT_EQ(harness.ended[2].reason, EndReason::pidExited(100));
    EXPECT_EQ(harness.changes, changes + 3);
    EXPECT_EQ(engine().claims(), (std::vector<Claim>{later, living}));
}

TEST_F(Ticking, BatteryFloorEndsEverythingAndLowPowerOnlyTheUnforced) {
    Claim forced = harness.programClaim("forced", {Mode::idle}, Term::indefinite(), true);
    Claim plain = harness.programClaim("plain", {Mode::idle});
    harness.take(forced);
    harness.take(plain);

    world().battery = PowerSnapshot{true, true, false, 5, true}; // on AC: nothing ends
    engine().tick();
    EXPECT_THAT(harness.ended, IsEmpty());

    world().dischargingAt(40);
    world().battery.lowPowerMode = true;
    engine().tick();
    ASSERT_EQ(harness.ended.size(), 1u);
    EXPECT_EQ(harness.ended[0].reason, EndReason::lowPowerMode());
    EXPECT_EQ(harness.ended[0].claims, std::vector<Claim>{plain});
    engine().tick();
    EXPECT_EQ(harness.ended.size(), 1u) << "forced claims survive Low Power Mode";

    world().dischargingAt(15);
    engine().tick();
    ASSERT_EQ(harness.ended.size(), 2u);
    EXPECT_EQ(harness.ended[1].reason, EndReason::batteryFloor(15));
    EXPECT_EQ(harness.ended[1].claims, std::vector<Claim>{forced});
}

TEST_F(Ticking, CriticalHeatEndsOnlyLidClaimsAndNotWhileSuspended) {
    Claim lid = harness.userClaim({Mode::lid});
    Claim idle = harness.programClaim("idle", {Mode::idle});
    harness.take(lid);
    harness.take(idle);
    world().critical = true;
    engine().suspend();
    world().flag = false;
    engine().tick();
    EXPECT_THAT(harness.ended, IsEmpty());

    engine().resume();
    ASSERT_EQ(harness.ended.size(), 1u);
    EXPECT_EQ(harness.ended[0].reason, EndReason::thermal());
    EXPECT_EQ(harness.ended[0].claims, std::vector<Claim>{lid});
    EXPECT_EQ(engine().claims(), std::vector<Claim>{idle});
    EXPECT_FALSE(world().flag);
}

TEST(TickingAlone, ADyingBatteryWithNothingClaimedForcesSleepWhileTheDisplayIsDark) {
    Harness dark;
    dark.world.storedConfig.batteryFloorPercent = 10;
    dark.world.dischargingAt(8);
    dark.world.displayDark = true;
    dark.start();
    dark.logLines();
    dark.engine->tick();
    EXPECT_THAT(dark.forcedSleeps, ElementsAre(8));
    EXPECT_EQ(dark.world.sleepRequests, 1);
    EXPECT_THAT(dark.logLines(),
                ElementsAre("below floor (8% <= 10%), no claims, display dark, still lumra: forcing sleep"));
    dark.engine->tick();
    EXPECT_EQ(dark.world.sleepRequests, 2) << "repeats while the conditions hold";

    dark.world.displayDark = false;
    dark.engine->tick();
    EXPECT_EQ(dark.world.sleepRequests, 2);

    dark.world.displayDark = true;
    dark.engine->setFloor(0);
    dark.engine->tick();
    EXPECT_EQ(dark.world.sleepRequests, 2);

    // No battery at all: a desktop's "discharging" reading means nothing.
    dark.world.battery.hasBattery = false;
    dark.engine->setFloor(10);
    dark.engine->tick();
    EXPECT_EQ(dark.world.sleepRequests, 2);
}

TEST_F(Ticking, AskPendingOnlyWhileNothingHoldsTheLid) {
    Claim app = harness.programClaim("app", {Mode::lid});
    harness.take(app);
    EXPECT_TRUE(engine().askPending());
    EXPECT_FALSE(engine().lidArmed());
    harness.take(harness.userClaim({Mode::lid}));
    EXPECT_TRUE(engine().lidArmed());
    EXPECT_FALSE(engine().askPending());
    engine().suspend();
    EXPECT_FALSE(engine().lidArmed());
    EXPECT_TRUE(engine().askPending());
}

} // namespace
