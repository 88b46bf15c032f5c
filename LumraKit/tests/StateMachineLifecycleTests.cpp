#include "EngineHarness.hpp"

#include <gmock/gmock.h>

using namespace EngineTesting;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

// MARK: - Start-up

TEST(StartUp, AClaimFromBeforeTheBootIsDroppedSilentlyAndTheFileRemoved) {
    Harness harness;
    Claim stale = harness.userClaim({Mode::idle, Mode::lid});
    stale.startedAt = harness.world.boot - 1s;
    harness.world.storedClaims = {stale};
    StateMachine& engine = harness.start();
    EXPECT_THAT(engine.claims(), IsEmpty());
    EXPECT_THAT(harness.world.storedClaims, IsEmpty());
    EXPECT_EQ(harness.world.claimSaves, 1);
    EXPECT_TRUE(harness.world.assertions.empty());
    EXPECT_FALSE(harness.world.flag);
    EXPECT_THAT(harness.ended, IsEmpty());
    EXPECT_THAT(harness.logLines(), ElementsAre("startup: dropping stale claim " + debugText(stale)));
}

TEST(StartUp, LiveClaimsAreReArmedAndDeadOnesDropped) {
    Harness harness;
    harness.world.processes = {{42, 7.25}};
    Claim until = harness.userClaim({Mode::idle, Mode::lid}, Term::until(harness.world.clock + 1h));
    Claim over = harness.userClaim({Mode::idle}, Term::until(harness.world.clock));
    Claim running = harness.programClaim("runner", {Mode::display}, Term::whilePid(42, 7.25));
    Claim reused = harness.programClaim("reused", {Mode::idle}, Term::whilePid(42, 7.0));
    Claim gone = harness.programClaim("gone", {Mode::idle}, Term::whilePid(43, 1.0));
    harness.world.storedClaims = {until, over, running, reused, gone};
    StateMachine& engine = harness.start();
    EXPECT_EQ(engine.claims(), (std::vector<Claim>{until, running}));
    EXPECT_EQ(harness.world.storedClaims, engine.claims());
    EXPECT_TRUE(harness.world.flag);
    EXPECT_EQ(harness.world.assertionsFor(Mode::idle), 1);
    EXPECT_EQ(harness.world.assertionsFor(Mode::display), 1);
    EXPECT_THAT(harness.logLines(), ElementsAre("startup: dropping stale claim " + debugText(over),
                                                "startup: dropping stale claim " + debugText(reused),
                                                "startup: dropping stale claim " + debugText(gone),
                                                "startup: re-arming 2 persisted claim(s)"));
}

TEST(StartUp, AProgramsStoredLidBecomesARequestAgain) {
    Harness harness;
    Claim stored = Claim::restored(UUID::random(), "app", false, {Mode::idle, Mode::lid}, false, true, "",
                                   Term::indefinite(), harness.world.clock);
    harness.world.storedClaims = {stored};
    StateMachine& engine = harness.start();
    ASSERT_EQ(engine.claims().size(), 1u);
    EXPECT_EQ(engine.claims()[0].modes, (ModeSet{Mode::idle}));
    EXPECT_TRUE(engine.claims()[0].wantsLid);
    EXPECT_TRUE(engine.claims()[0].lidGranted) << "a stored approval stays";
    EXPECT_TRUE(harness.world.flag);
}

TEST(StartUp, AFlagOnWithNothingClaimedIsAdoptedWithoutApplying) {
    Harness harness;
    harness.world.flag = true;
    StateMachine& engine = harness.start();
    ASSERT_EQ(engine.claims().size(), 1u);
    EXPECT_EQ(engine.claims()[0].owner, "external");
    EXPECT_EQ(engine.claims()[0].modes, (ModeSet{Mode::lid}));
    EXPECT_EQ(harness.world.storedClaims, engine.claims());
    EXPECT_THAT(harness.world.flips, IsEmpty());
    EXPECT_THAT(harness.logLines(), ElementsAre("startup: kernel flag on with no claims, adopting as indefinite"));
}

TEST(StartUp, AFailedReArmDropsLidModeButKeepsTheClaims) {
    Harness harness;
    Claim user = harness.userClaim({Mode::idle, Mode::lid});
    Claim app = Claim::restored(UUID::random(), "app", false, {Mode::idle}, true, true, "", Term::indefinite(),
                                harness.world.clock);
    harness.world.storedClaims = {user, app};
    harness.world.flipFailure = LidResult::grantMissing();
    StateMachine& engine = harness.start();
    ASSERT_EQ(engine.claims().size(), 2u);
    EXPECT_EQ(engine.claims()[0].modes, (ModeSet{Mode::idle}));
    EXPECT_FALSE(engine.claims()[1].lidGranted);
    EXPECT_TRUE(engine.claims()[1].wantsLid);
    EXPECT_TRUE(engine.askPending());
    EXPECT_EQ(harness.world.storedClaims, engine.claims());
    EXPECT_EQ(harness.world.assertionsFor(Mode::idle), 1);
    EXPECT_THAT(harness.logLines(),
                ElementsAre("startup: re-arming 2 persisted claim(s)", "lid flip to true failed: grantMissing",
                            "startup: re-arm lid flip failed (grantMissing), dropping lid mode"));
}

TEST(StartUp, AStoredSuspensionHoldsNothingAndSwitchesALeftoverFlagOff) {
    Harness harness;
    harness.world.flag = true;
    harness.world.storedSuspended = harness.world.clock - 1min;
    harness.world.storedClaims = {harness.userClaim({Mode::idle, Mode::lid})};
    StateMachine& engine = harness.start();
    EXPECT_TRUE(engine.suspended());
    EXPECT_FALSE(harness.world.flag);
    EXPECT_TRUE(harness.world.assertions.empty());
    EXPECT_EQ(engine.claims().size(), 1u);
}

// MARK: - Suspension

TEST(Suspension, SuspendKeepsClaimsInertAndResumeReArmsThem) {
    Harness harness;
    StateMachine& engine = harness.start();
    Claim claim = harness.userClaim({Mode::idle, Mode::lid});
    harness.take(claim);
    harness.logLines();
    int changes = harness.changes, saves = harness.world.claimSaves;

    engine.suspend();
    engine.suspend();
    EXPECT_EQ(engine.suspendedSince(), harness.world.clock);
    EXPECT_EQ(harness.world.storedSuspended, harness.world.clock);
    EXPECT_TRUE(harness.world.assertions.empty());
    EXPECT_FALSE(harness.world.flag);
    EXPECT_EQ(harness.world.claimSaves, saves);
    EXPECT_EQ(harness.changes, changes + 1);
    EXPECT_TRUE(harness.take(harness.programClaim("app", {Mode::idle})).suspended);

    harness.world.advance(1min);
    harness.logLines();
    engine.resume();
    engine.resume();
    EXPECT_FALSE(engine.suspended());
    EXPECT_FALSE(harness.world.storedSuspended);
    EXPECT_TRUE(harness.world.flag);
    EXPECT_EQ(harness.world.assertionsFor(Mode::idle), 1);
    EXPECT_THAT(harness.logLines(), ElementsAre("resumed by the human (2 claim(s) back in effect)"));
}

TEST(Suspension, SuspendLogsTheClaimsKeptInert) {
    Harness harness;
    StateMachine& engine = harness.start();
    harness.take(harness.userClaim({Mode::idle}));
    harness.logLines();
    engine.suspend();
    EXPECT_THAT(harness.logLines(), ElementsAre("suspended by the human (1 claim(s) kept inert)"));
}

TEST(Suspension, ResumeEndsWhatExpiredBeforeReArmingAndLogsAFailedFlip) {
    Harness harness;
    StateMachine& engine = harness.start();
    harness.take(harness.programClaim("brief", {Mode::idle}, Term::until(harness.world.clock + 5min)));
    harness.take(harness.userClaim({Mode::lid}));
    engine.suspend();
    harness.world.advance(10min);
    harness.world.flipFailure = LidResult::failed("no pmset");
    harness.logLines();

    engine.resume();
    ASSERT_EQ(harness.ended.size(), 1u);
    EXPECT_EQ(harness.ended[0].reason, EndReason::expired());
    EXPECT_EQ(harness.world.assertionsFor(Mode::idle), 0) << "the expired claim was never re-armed";
    std::vector<std::string> lines = harness.logLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "lid flip to true failed: failed(no pmset)");
    EXPECT_EQ(lines[2], "resume: lid flip failed (failed(no pmset))");
    EXPECT_EQ(lines[3], "resumed by the human (1 claim(s) back in effect)");
    EXPECT_EQ(engine.claims().size(), 1u) << "a failed flip on resume keeps the claims";
}

// MARK: - Settings

TEST(Settings, TheFloorIsClampedSavedAndTakesEffectAtOnce) {
    Harness harness;
    StateMachine& engine = harness.start();
    harness.take(harness.userClaim({Mode::idle}));
    harness.logLines();
    engine.setFloor(80);
    EXPECT_EQ(engine.config().batteryFloorPercent, 50);
    engine.setFloor(-5);
    EXPECT_EQ(harness.world.storedConfig.batteryFloorPercent, 0);
    EXPECT_THAT(harness.logLines(), ElementsAre("floor set to 50%", "floor set to 0%"));

    harness.world.dischargingAt(40);
    int changes = harness.changes;
    engine.setFloor(45);
    ASSERT_EQ(harness.ended.size(), 1u);
    EXPECT_EQ(harness.ended[0].reason, EndReason::batteryFloor(40));
    EXPECT_EQ(harness.changes, changes + 2); // the end, then the setting
}

TEST(Settings, TheNotifyHookIsTrimmedOfSpacesButNotLineBreaks) {
    Harness harness;
    StateMachine& engine = harness.start();
    harness.logLines();
    engine.setNotifyCommand(" \t\u3000say done\u00a0 ");
    EXPECT_EQ(engine.config().notifyCommand, "say done");
    engine.setNotifyCommand("   ");
    EXPECT_EQ(harness.world.storedConfig.notifyCommand, "");
    engine.setNotifyCommand("   ");
    engine.setNotifyCommand("\necho\n");
    EXPECT_EQ(engine.config().notifyCommand, "\necho\n");
    EXPECT_EQ(harness.world.configSaves, 4);
    EXPECT_EQ(harness.changes, 0);
    std::vector<std::string> lines = harness.logLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "notify hook set to say done");
    EXPECT_EQ(lines[1], "notify hook cleared");
    EXPECT_EQ(lines[2], "notify hook cleared");
}

TEST(Settings, KeepDisplayActsOnceAndAtOnce) {
    Harness harness;
    StateMachine& engine = harness.start();
    engine.setMenuDisplay(true);
    EXPECT_TRUE(harness.world.assertions.empty());
    harness.take(harness.userClaim({Mode::idle}));
    EXPECT_EQ(harness.world.assertionsFor(Mode::display), 1);
    int saves = harness.world.configSaves;
    engine.setMenuDisplay(true);
    EXPECT_EQ(harness.world.configSaves, saves);
    engine.setMenuDisplay(false);
    EXPECT_EQ(harness.world.assertionsFor(Mode::display), 0);
    EXPECT_FALSE(harness.world.storedConfig.menuDisplay);
    EXPECT_THAT(harness.logLines(), ElementsAre(testing::StartsWith("engaged ")));
}

TEST(Settings, UpdateCheckDurationAndInstallIdentifier) {
    Harness harness;
    StateMachine& engine = harness.start();
    harness.logLines();
    engine.setUpdateCheck(false);
    engine.setUpdateCheck(true);
    EXPECT_THAT(harness.logLines(), ElementsAre("update check off", "update check on (daily)"));

    engine.rememberDuration(30);
    engine.rememberDuration(30);
    EXPECT_EQ(harness.world.storedConfig.lastMinutes, 30);
    EXPECT_EQ(harness.world.configSaves, 3);

    std::string id = engine.installID();
    EXPECT_TRUE(UUID::parse(id));
    EXPECT_EQ(id, lowercased(id));
    EXPECT_EQ(engine.installID(), id);
    EXPECT_EQ(harness.world.storedConfig.installID, id);
    EXPECT_EQ(harness.world.configSaves, 4);
}

TEST(Settings, UpdateChecksAnnounceEachNewerVersionOnce) {
    Harness harness;
    StateMachine& engine = harness.start();
    EXPECT_TRUE(engine.updateCheckDue());
    harness.logLines();

    EXPECT_EQ(engine.recordUpdateCheck(std::nullopt, "1.9"), std::nullopt);
    EXPECT_EQ(engine.config().nextUpdateCheck, harness.world.clock + 1h);
    EXPECT_FALSE(engine.updateCheckDue());
    harness.world.advance(1h);
    EXPECT_TRUE(engine.updateCheckDue());

    EXPECT_EQ(engine.recordUpdateCheck("1.10", "1.9"), "1.10");
    EXPECT_EQ(engine.config().nextUpdateCheck, harness.world.clock + 24h);
    EXPECT_EQ(harness.world.storedConfig.latestVersion, "1.10");
    EXPECT_EQ(harness.world.storedConfig.updateAnnounced, "1.10");
    EXPECT_EQ(engine.recordUpdateCheck("1.10", "1.9"), std::nullopt);
    EXPECT_EQ(engine.recordUpdateCheck("1.8", "1.9"), std::nullopt);
    EXPECT_THAT(harness.logLines(),
                ElementsAre("update check: latest 1.10, running 1.9, announcing",
                            "update check: latest 1.10, running 1.9", "update check: latest 1.8, running 1.9"));

    engine.setUpdateCheck(false);
    harness.world.advance(48h);
    EXPECT_FALSE(engine.updateCheckDue());
}

TEST(Versions, CompareNumbersPositionByPosition) {
    EXPECT_TRUE(versionIsNewer("1.10", "1.9"));
    EXPECT_FALSE(versionIsNewer("2.0", "2"));
    EXPECT_TRUE(versionIsNewer("2.0.1", "2"));
    EXPECT_FALSE(versionIsNewer("1.x", "1.0"));
    EXPECT_FALSE(versionIsNewer("1.0", "1.0"));
    EXPECT_FALSE(versionIsNewer("", ""));
    EXPECT_TRUE(versionIsNewer("1..2", "1.1"));
    EXPECT_TRUE(versionIsNewer("+2", "1"));
    EXPECT_TRUE(versionIsNewer("0", "-1"));
    EXPECT_FALSE(versionIsNewer("+-2", "0")) << "one sign at most";
    EXPECT_FALSE(versionIsNewer("99999999999999999999999", "0")) << "too large counts as 0";
    EXPECT_FALSE(versionIsNewer("1.0-beta", "1")) << "0-beta is no integer";
}

// MARK: - Status

TEST(Snapshot, ListsClaimsOldestFirstAndReadsTheMachine) {
    Harness harness;
    harness.world.storedReach = PermissionGrants::PermissionGrant::Notifications::Reach::silenced;
    harness.world.storedConfig.notifyCommand = "say hi";
    StateMachine& engine = harness.start();
    Claim b = harness.programClaim("b", {Mode::idle});
    Claim c = harness.programClaim("c", {Mode::idle});
    Claim old = harness.programClaim("old", {Mode::idle});
    old.startedAt = harness.world.clock - 1min;
    harness.take(b);
    harness.take(c);
    harness.take(old);
    harness.take(harness.programClaim("app", {Mode::lid}));
    engine.suspend();

    Status status = engine.snapshot();
    ASSERT_EQ(status.claims.size(), 4u);
    EXPECT_EQ(status.claims[0].id, old.id);
    EXPECT_EQ(status.claims[1].id, b.id);
    EXPECT_EQ(status.claims[2].id, c.id);
    EXPECT_FALSE(status.sleepDisabled);
    EXPECT_EQ(status.power, harness.world.battery);
    EXPECT_EQ(status.floor, 15);
    EXPECT_EQ(status.notifyCommand, "say hi");
    EXPECT_FALSE(status.keepDisplay);
    EXPECT_FALSE(status.lidArmed);
    EXPECT_TRUE(status.askPending);
    EXPECT_FALSE(status.thermalCritical);
    EXPECT_EQ(status.notifications, harness.world.storedReach);
    EXPECT_EQ(status.suspendedSince, harness.world.clock);
    EXPECT_TRUE(status.updateCheck);
    EXPECT_EQ(status.latestVersion, std::nullopt);
    EXPECT_EQ(engine.snapshot(), status);
}

TEST(Snapshot, StatusTicksFirst) {
    Harness harness;
    StateMachine& engine = harness.start();
    harness.take(harness.userClaim({Mode::idle}, Term::until(harness.world.clock + 1s)));
    harness.world.advance(1s);
    EXPECT_EQ(engine.snapshot().claims.size(), 1u);
    EXPECT_THAT(engine.status().claims, IsEmpty());
}

} // namespace
