#include "EngineHarness.hpp"

#include <gmock/gmock.h>

using namespace EngineTesting;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::StartsWith;

namespace {

class Engaging : public testing::Test {
protected:
    void SetUp() override { harness.start(); }
    StateMachine& engine() { return *harness.engine; }
    TestSupport::FakeWorld& world() { return harness.world; }
    Harness harness;
};

TEST_F(Engaging, UserLidArmsTheFlagWhileAProgramsLidWaitsForTheUser) {
    Claim user = harness.userClaim({Mode::idle, Mode::lid});
    harness.take(user);
    EXPECT_TRUE(world().flag);
    EXPECT_EQ(world().assertionsFor(Mode::idle), 1);
    EXPECT_TRUE(engine().lidArmed());

    Harness other;
    other.start();
    Engaged engaged = other.take(other.programClaim("app", {Mode::idle, Mode::lid}));
    const Claim& stored = other.engine->claims().at(0);
    EXPECT_EQ(stored.modes, (ModeSet{Mode::idle}));
    EXPECT_TRUE(stored.wantsLid);
    EXPECT_FALSE(stored.lidGranted);
    EXPECT_FALSE(other.world.flag);
    EXPECT_THAT(other.world.flips, IsEmpty());
    EXPECT_TRUE(other.engine->askPending());
    EXPECT_FALSE(engaged.suspended);
}

TEST_F(Engaging, SuccessAppliesSavesLogsAndSignalsInThatOrder) {
    harness.logLines();
    Claim claim = harness.userClaim({Mode::idle});
    harness.take(claim);
    EXPECT_EQ(world().storedClaims, engine().claims());
    EXPECT_EQ(world().claimSaves, 2); // start-up saved the empty list
    EXPECT_EQ(harness.changes, 1);
    EXPECT_THAT(harness.logLines(), ElementsAre("engaged " + debugText(claim)));
}

TEST_F(Engaging, ReplacingKeepsAnApprovalAndTheFlagThroughTheSwap) {
    Claim first = harness.programClaim("App", {Mode::idle, Mode::lid});
    harness.take(first);
    ASSERT_TRUE(engine().resolveLidWant({first.id}, true).ok());
    ASSERT_TRUE(world().flag);
    size_t flipsBefore = world().flips.size();
    harness.logLines();

    Claim second = harness.programClaim("app", {Mode::lid});
    Engaged engaged = harness.take(second);
    ASSERT_TRUE(engaged.replaced);
    EXPECT_EQ(engaged.replaced->id, first.id);
    ASSERT_EQ(engine().claims().size(), 1u);
    EXPECT_TRUE(engine().claims()[0].lidGranted);
    EXPECT_TRUE(world().flag);
    EXPECT_EQ(world().flips.size(), flipsBefore); // never switched off in between
    EXPECT_EQ(world().assertionsFor(Mode::idle), 0);
    std::vector<std::string> lines = harness.logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "engaged " + debugText(engine().claims()[0]) + " replacing " +
                            debugText(Claim::restored(first.id, first.owner, false, {Mode::idle}, true, true, "",
                                                      first.term, first.startedAt)));
}

TEST_F(Engaging, TheBatteryFloorRefusesEveryClaimAtOrBelowIt) {
    world().dischargingAt(15);
    auto refused = engine().engage(harness.programClaim("app", {Mode::idle}, Term::indefinite(), true));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), EngageError::belowFloor(15, 15));
    EXPECT_EQ(refused.error().message(), "Battery 15% is at or below your 15% floor. Not arming.");
    EXPECT_THAT(engine().claims(), IsEmpty());
    EXPECT_EQ(world().claimSaves, 1);

    world().dischargingAt(16);
    EXPECT_TRUE(engine().engage(harness.userClaim({Mode::idle})).ok());

    Harness noFloor;
    noFloor.world.storedConfig.batteryFloorPercent = 0;
    noFloor.world.dischargingAt(0);
    noFloor.start();
    EXPECT_TRUE(noFloor.engine->engage(noFloor.userClaim({Mode::idle})).ok());

    // Charging at a low level is no reason to refuse.
    Harness charging;
    charging.world.battery = PowerSnapshot{true, true, false, 3, false};
    charging.start();
    EXPECT_TRUE(charging.engine->engage(charging.userClaim({Mode::idle})).ok());
}

TEST_F(Engaging, CriticalHeatRefusesOnlyWhatWouldHoldTheLid) {
    world().critical = true;
    harness.logLines();
    EXPECT_TRUE(engine().engage(harness.userClaim({Mode::idle})).ok());
    auto refused = engine().engage(harness.programClaim("other", {Mode::lid}));
    EXPECT_TRUE(refused.ok()) << "a program's lid is only a request, so nothing is held";
    auto lid = engine().engage(Claim("you too", false, {Mode::lid}, Term::indefinite(), world().clock));
    EXPECT_TRUE(lid.ok());
    auto userLid = engine().engage(harness.userClaim({Mode::lid}));
    ASSERT_FALSE(userLid.ok());
    EXPECT_EQ(userLid.error(), EngageError::thermalCritical());
    EXPECT_FALSE(world().flag);
    EXPECT_EQ(engine().claims().size(), 3u);
}

TEST_F(Engaging, CoverageIsReportedAndBothClaimsStay) {
    Claim holderWithLid = Claim("external", false, {Mode::idle, Mode::lid}, Term::indefinite(), world().clock);
    harness.take(holderWithLid);
    harness.logLines();
    Claim covered = harness.userClaim({Mode::idle}, Term::until(world().clock + 1h));
    Engaged engaged = harness.take(covered);
    ASSERT_TRUE(engaged.coveredBy);
    EXPECT_EQ(engaged.coveredBy->id, holderWithLid.id);
    EXPECT_FALSE(engaged.replaced);
    EXPECT_EQ(engine().claims().size(), 2u);
    EXPECT_THAT(harness.logLines(), ElementsAre("engaged " + debugText(covered) + " (covered by " +
                                                debugText(holderWithLid) + ")"));
}

TEST_F(Engaging, KeepDisplayWidensAHoldAndIsReleasedWithIt) {
    Harness lit;
    lit.world.storedConfig.menuDisplay = true;
    lit.start();
    EXPECT_EQ(lit.world.assertionsFor(Mode::display), 0) << "keep-display holds nothing on its own";
    Claim claim = lit.userClaim({Mode::idle, Mode::lid});
    lit.take(claim);
    EXPECT_EQ(lit.world.assertionsFor(Mode::idle), 1);
    EXPECT_EQ(lit.world.assertionsFor(Mode::display), 1);
    EXPECT_TRUE(lit.world.flag);
    lit.engine->end({claim.id}, EndReason::requested());
    EXPECT_TRUE(lit.world.assertions.empty());
    EXPECT_FALSE(lit.world.flag);

    harness.take(harness.userClaim({Mode::idle, Mode::lid}));
    EXPECT_EQ(world().assertionsFor(Mode::idle), 1);
    EXPECT_EQ(world().assertionsFor(Mode::display), 0);
}

TEST_F(Engaging, AFailedFlipLeavesExactlyThePreviousClaimsAndHoldings) {
    Claim idle = harness.programClaim("app", {Mode::idle});
    harness.take(idle);
    std::vector<Claim> before = engine().claims();
    auto assertionsBefore = world().assertions;
    world().flipFailure = LidResult::failed("pmset: bad things");
    harness.logLines();
    int changesBefore = harness.changes, savesBefore = world().claimSaves;

    auto result = engine().engage(harness.userClaim({Mode::lid, Mode::display}));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), EngageError::lidFailed("pmset: bad things"));
    EXPECT_EQ(engine().claims(), before);
    EXPECT_EQ(world().assertions.size(), assertionsBefore.size());
    EXPECT_EQ(world().assertionsFor(Mode::display), 0);
    EXPECT_FALSE(world().flag);
    EXPECT_EQ(harness.changes, changesBefore);
    EXPECT_EQ(world().claimSaves, savesBefore);
    EXPECT_THAT(harness.logLines(), ElementsAre("lid flip to true failed: failed(pmset: bad things)"));

    world().flipFailure = LidResult::grantMissing();
    auto missing = engine().engage(harness.userClaim({Mode::lid}));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), EngageError::grantMissing());
    EXPECT_EQ(engine().claims(), before);
}

TEST_F(Engaging, ARefusedAssertionIsAskedForAgainLater) {
    world().refuseAssertions = true;
    Claim claim = harness.userClaim({Mode::idle});
    harness.take(claim);
    EXPECT_EQ(world().assertionsFor(Mode::idle), 0);
    world().refuseAssertions = false;
    harness.take(harness.programClaim("other", {Mode::idle}));
    EXPECT_EQ(world().assertionsFor(Mode::idle), 1);
    engine().endAll(EndReason::requested());
    EXPECT_TRUE(world().assertions.empty());
    EXPECT_EQ(world().unknownReleases, 0);
}

class Ending : public Engaging {};

TEST_F(Ending, EndsInListOrderWithOneReportBeforeTheListChanges) {
    Claim a = harness.userClaim({Mode::idle, Mode::lid});
    Claim b = harness.programClaim("b", {Mode::idle});
    Claim c = harness.programClaim("c", {Mode::display});
    harness.take(a);
    harness.take(b);
    harness.take(c);
    std::vector<Claim> seenWhenNotified;
    engine().notify = [&](const EndReason& reason, const std::vector<Claim>& claims) {
        seenWhenNotified = engine().claims();
        harness.ended.push_back({reason, claims});
    };
    harness.logLines();
    int changesBefore = harness.changes;

    engine().end(idsOf({c, a}), EndReason::pidExited(4711));
    ASSERT_EQ(harness.ended.size(), 1u);
    EXPECT_EQ(harness.ended[0].reason, EndReason::pidExited(4711));
    EXPECT_EQ(harness.ended[0].claims, (std::vector<Claim>{a, c}));
    EXPECT_EQ(seenWhenNotified.size(), 3u);
    EXPECT_EQ(engine().claims(), std::vector<Claim>{b});
    EXPECT_EQ(world().storedClaims, engine().claims());
    EXPECT_FALSE(world().flag);
    EXPECT_EQ(world().assertionsFor(Mode::display), 0);
    EXPECT_EQ(world().assertionsFor(Mode::idle), 1);
    EXPECT_EQ(harness.changes, changesBefore + 1);
    EXPECT_THAT(harness.logLines(), ElementsAre("ended (pidExited(4711)) " + debugText(std::vector<Claim>{a, c}) +
                                                " (remaining 1)"));
}

TEST_F(Ending, UnknownIDsDoNothingAtAll) {
    harness.take(harness.userClaim({Mode::idle}));
    harness.logLines();
    int saves = world().claimSaves, changes = harness.changes;
    engine().end({UUID::random()}, EndReason::requested());
    engine().end({}, EndReason::requested());
    EXPECT_THAT(harness.ended, IsEmpty());
    EXPECT_EQ(world().claimSaves, saves);
    EXPECT_EQ(harness.changes, changes);
    EXPECT_THAT(harness.logLines(), IsEmpty());
}

TEST_F(Ending, EndAllIsOneEndAndLeavesNoFile) {
    harness.take(harness.userClaim({Mode::idle}));
    harness.take(harness.programClaim("b", {Mode::idle}));
    engine().endAll(EndReason::batteryFloor(12));
    ASSERT_EQ(harness.ended.size(), 1u);
    EXPECT_EQ(harness.ended[0].claims.size(), 2u);
    EXPECT_THAT(world().storedClaims, IsEmpty());
    EXPECT_THAT(harness.logLines().back(), StartsWith("ended (batteryFloor(12)) ["));
    engine().endAll(EndReason::requested());
    EXPECT_EQ(harness.ended.size(), 1u);
}

class LidAnswers : public Engaging {};

TEST_F(LidAnswers, GrantingArmsTheFlagAndRepeatsAreEmpty) {
    Claim app = harness.programClaim("app", {Mode::idle, Mode::lid});
    Claim plain = harness.programClaim("plain", {Mode::idle});
    harness.take(app);
    harness.take(plain);
    harness.logLines();

    auto granted = engine().resolveLidWant(idsOf({app, plain}), true);
    ASSERT_TRUE(granted.ok());
    ASSERT_EQ(granted.value().size(), 1u);
    EXPECT_TRUE(granted.value()[0].lidGranted);
    EXPECT_TRUE(world().flag);
    EXPECT_FALSE(engine().askPending());
    EXPECT_THAT(harness.logLines(), ElementsAre("granted lid to " + debugText(granted.value())));

    int saves = world().claimSaves, changes = harness.changes;
    auto again = engine().resolveLidWant(idsOf({app, plain}), true);
    ASSERT_TRUE(again.ok());
    EXPECT_THAT(again.value(), IsEmpty());
    EXPECT_EQ(world().claimSaves, saves);
    EXPECT_EQ(harness.changes, changes);
    EXPECT_THAT(harness.logLines(), IsEmpty());
}

TEST_F(LidAnswers, DenyingWithdrawsAnApprovalAndKeepsTheClaim) {
    Claim app = harness.programClaim("app", {Mode::idle, Mode::lid});
    harness.take(app);
    ASSERT_TRUE(engine().resolveLidWant({app.id}, true).ok());
    harness.logLines();

    auto denied = engine().resolveLidWant({app.id}, false);
    ASSERT_TRUE(denied.ok());
    ASSERT_EQ(engine().claims().size(), 1u);
    const Claim& kept = engine().claims()[0];
    EXPECT_FALSE(kept.wantsLid);
    EXPECT_FALSE(kept.lidGranted);
    EXPECT_EQ(kept.modes, (ModeSet{Mode::idle}));
    EXPECT_FALSE(world().flag);
    EXPECT_EQ(world().assertionsFor(Mode::idle), 1);
    EXPECT_THAT(harness.logLines(), ElementsAre("denied lid for " + debugText(engine().claims())));
}

TEST_F(LidAnswers, HeatAndFailedFlipsRefuseWithoutChange) {
    Claim app = harness.programClaim("app", {Mode::lid});
    harness.take(app);
    world().critical = true;
    auto hot = engine().resolveLidWant({app.id}, true);
    ASSERT_FALSE(hot.ok());
    EXPECT_EQ(hot.error(), EngageError::thermalCritical());
    EXPECT_TRUE(engine().resolveLidWant({app.id}, false).ok()) << "denying is allowed at any heat";

    Claim other = harness.programClaim("other", {Mode::lid});
    harness.take(other);
    world().critical = false;
    world().flipFailure = LidResult::grantMissing();
    std::vector<Claim> before = engine().claims();
    auto refused = engine().resolveLidWant({other.id}, true);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), EngageError::grantMissing());
    EXPECT_EQ(engine().claims(), before);
    EXPECT_FALSE(world().flag);
}

} // namespace
