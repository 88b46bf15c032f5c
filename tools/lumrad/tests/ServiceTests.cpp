#include "Service.hpp"
#include "ServiceHarness.hpp"

#include <TestSupport/FakeWorld.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>

namespace {

using namespace LumraKit;
using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::HasSubstr;

const std::string notifier = "/Applications/Lumra.app/Contents/Helpers/notifier";

// The service over an engine on a fake world; the announcer's program
// starts are recorded, not made.
class ServiceTest : public testing::Test {
protected:
    // As the loop does: the command, then the announcer's turn (a made-up
    // child counts as ended at once, so what waited starts).
    Reply send(const Command& command) {
        Reply reply = service.handle(command);
        announcer.reap();
        return reply;
    }

    Claim program(std::string_view owner, ModeSet modes, Term term = Term::indefinite(), std::string onEnd = {}) const {
        return Claim(owner, false, modes, term, world.clock, false, std::move(onEnd));
    }
    Claim take(const Claim& claim) {
        Reply reply = send(Command::engage(claim));
        EXPECT_TRUE(reply.ok) << reply.error.value_or("");
        return reply.status.claims.back();
    }
    std::vector<std::string> notices() const {
        std::vector<std::string> messages;
        for (const auto& start : starter.starts)
            if (start.path == notifier) messages.push_back(start.arguments.at(0));
        return messages;
    }

    ServiceTesting::CapturedLog log;
    TestSupport::FakeWorld world;
    ServiceTesting::FakeStarter starter;
    Lumrad::Announcer announcer{notifier, starter.starter()};
    StateMachine engine{world};
    Lumrad::Service service{engine, announcer};
};

TEST_F(ServiceTest, EngageAnswersWithWhatItReplacedOrWasCoveredByOrWhyItWasRefused) {
    Claim first = Claim(Claim::humanOwner, false, {Mode::idle, Mode::display}, Term::indefinite(), world.clock);
    Reply reply = send(Command::engage(first));
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.status, engine.snapshot());
    EXPECT_EQ(reply.status.claims, std::vector<Claim>{first});
    EXPECT_FALSE(reply.error || reply.replaced || reply.coveredBy || reply.ended);

    Claim second = Claim(Claim::humanOwner, false, {Mode::idle}, Term::indefinite(), world.clock);
    reply = send(Command::engage(second));
    EXPECT_EQ(reply.replaced, first);
    EXPECT_EQ(reply.status.claims, std::vector<Claim>{second});
    EXPECT_EQ(send(Command::engage(program("backup", {Mode::idle}))).coveredBy, second);
    EXPECT_TRUE(notices().empty()) << "replacing a claim is not ending it";

    world.dischargingAt(10);
    reply = send(Command::engage(program("render", {Mode::idle})));
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, EngageError::belowFloor(10, 15).message());
    EXPECT_EQ(reply.status.claims.size(), 2u);
}

// A claim arriving on the socket cannot approve its own lid request, and
// cannot take another holder's claim ID.
TEST_F(ServiceTest, AClaimFromTheSocketBringsNoApprovalAndNoTakenID) {
    Claim forged = program("app", {Mode::idle, Mode::lid});
    forged.wantsLid = true;
    forged.lidGranted = true;
    Reply reply = send(Command::engage(forged));
    ASSERT_TRUE(reply.ok);
    EXPECT_FALSE(reply.status.claims.at(0).lidGranted);
    EXPECT_TRUE(reply.status.askPending);
    EXPECT_FALSE(reply.status.lidArmed);
    EXPECT_FALSE(world.flag);

    // Approved by the person, the holder keeps it when it re-engages.
    ASSERT_TRUE(send(Command::allowLid("app")).ok);
    Claim again = program("app", {Mode::idle, Mode::lid});
    reply = send(Command::engage(again));
    EXPECT_TRUE(reply.status.lidArmed);

    // Another holder reusing that ID is refused and changes nothing.
    Claim copycat = Claim::restored(again.id, "intruder", false, {Mode::idle}, false, false, "", Term::indefinite(),
                                    world.clock);
    reply = send(Command::engage(copycat));
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, "Claim ID " + again.id.text() +
                               " is taken by the claim of \"app\"; a new claim needs an ID of its own.");
    EXPECT_EQ(reply.status.claims.size(), 1u);
    EXPECT_EQ(engine.claims().at(0).owner, "app");

    // The same holder with the same ID replaces its claim, as always.
    Claim renewed = Claim::restored(again.id, "app", false, {Mode::display}, false, false, "", Term::indefinite(),
                                    world.clock);
    reply = send(Command::engage(renewed));
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.replaced.value().id, again.id);
}

TEST_F(ServiceTest, EndEndsAllOrTheMatchingClaimsAndListsThem) {
    world.processes[4711] = 1000.5;
    Claim daily = take(program("Backup daily", {Mode::idle}));
    Claim hourly = take(program("backup hourly", {Mode::idle}));
    Claim make = take(program("make", {Mode::idle}, Term::whilePid(4711, 1000.5)));
    Claim render = take(program("render", {Mode::display}));

    Reply reply = send(Command::end("render-farm"));
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, "No claim matches \"render-farm\".");
    EXPECT_EQ(reply.ended, std::nullopt);
    EXPECT_EQ(world.storedClaims.size(), 4u);

    reply = send(Command::end("BACKUP")); // an owner prefix, in any case
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.ended, (std::vector<Claim>{daily, hourly}));
    EXPECT_EQ(send(Command::end("4711")).ended, std::vector<Claim>{make}); // a process ID

    reply = send(Command::end());
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.ended, std::vector<Claim>{render});
    EXPECT_TRUE(reply.status.claims.empty());
    EXPECT_TRUE(world.assertions.empty());
    // Nothing left to end is no failure: no particular claim was asked for.
    EXPECT_EQ(send(Command::end()).ended, std::vector<Claim>{});
    EXPECT_EQ(notices().size(), 3u);
}

TEST_F(ServiceTest, AllowLidApprovesWaitingRequestsAndDenyLidWithdrawsThem) {
    take(program("backup", {Mode::lid, Mode::idle}));
    take(program("render", {Mode::idle}));
    take(program("make", {Mode::lid, Mode::idle}));

    EXPECT_TRUE(send(Command::allowLid("back")).ok);
    EXPECT_TRUE(world.flag);
    for (const Claim& claim : engine.claims()) EXPECT_EQ(claim.lidGranted, claim.owner == "backup") << claim.owner;
    EXPECT_TRUE(send(Command::allowLid()).ok);
    for (const Claim& claim : engine.claims()) EXPECT_EQ(claim.lidGranted, claim.owner != "render") << claim.owner;
    EXPECT_EQ(send(Command::allowLid()).error, "No claim waits for lid approval.");
    EXPECT_EQ(send(Command::allowLid("render")).error, "No claim matching \"render\" waits for lid approval.");

    // Denying also withdraws an approval.
    Reply reply = send(Command::denyLid("backup"));
    EXPECT_TRUE(reply.ok);
    EXPECT_TRUE(reply.status.lidArmed) << "make still holds lid";
    EXPECT_TRUE(send(Command::denyLid()).ok);
    EXPECT_FALSE(world.flag);
    EXPECT_EQ(send(Command::denyLid()).error, "No claim asks for lid.");
    EXPECT_EQ(send(Command::denyLid("make")).error, "No claim matching \"make\" asks for lid.");
}

TEST_F(ServiceTest, ARefusedLidApprovalCarriesTheEnginesOwnWords) {
    take(program("backup", {Mode::lid, Mode::idle}));
    world.critical = true;
    EXPECT_EQ(send(Command::allowLid()).error, EngageError::thermalCritical().message());
    world.critical = false;
    world.flipFailure = LidResult::failed("busy");
    Reply reply = send(Command::allowLid());
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, "pmset failed: busy");
    EXPECT_FALSE(reply.status.claims.at(0).lidGranted);
}

// status ticks the engine first; every other reply shows the engine as the
// command left it.
TEST_F(ServiceTest, StatusTicksWhileOtherRepliesOnlyLook) {
    take(program("backup", {Mode::idle}, Term::until(world.clock + 10min)));
    world.advance(11min);
    EXPECT_EQ(send(Command::setUpdateCheck(true)).status.claims.size(), 1u);

    Reply reply = send(Command::status());
    EXPECT_TRUE(reply.ok);
    EXPECT_TRUE(reply.status.claims.empty());
    EXPECT_EQ(reply.ended, std::nullopt) << "ended lists what the command itself ended";
    EXPECT_THAT(notices(), ElementsAre("The claim of \"backup\" ended: its time is up."));
}

// Reading the flag runs the power tool: a command and its reply read it
// once, and again only after a flip of the engine's own, which the reply
// then shows. Between commands, and outside them, every look reads afresh.
TEST_F(ServiceTest, EachCommandReadsTheFlagOnceAndAgainAfterItsOwnFlip) {
    struct Case {
        std::string name;
        Command command;
        int reads;
        bool flag;
    };
    Claim human = Claim(Claim::humanOwner, false, {Mode::lid}, Term::indefinite(), world.clock);
    const std::vector<Case> cases{
        {"status", Command::status(), 1, false},
        {"engage idle", Command::engage(program("backup", {Mode::idle})), 1, false},
        {"engage lid", Command::engage(human), 2, true},
        {"status held", Command::status(), 1, true},
        {"setFloor", Command::setFloor(20), 1, true},
        {"end all", Command::end(std::nullopt), 2, false},
    };
    for (const Case& each : cases) {
        int before = world.flagReads;
        Reply reply = send(each.command);
        EXPECT_TRUE(reply.ok) << each.name;
        EXPECT_EQ(world.flagReads - before, each.reads) << each.name;
        EXPECT_EQ(reply.status.sleepDisabled, each.flag) << each.name;
    }

    world.flag = true; // from outside, between commands
    EXPECT_TRUE(send(Command::setNotifyCommand("say done")).status.sleepDisabled);
    world.flag = false;
    int before = world.flagReads;
    EXPECT_FALSE(engine.snapshot().sleepDisabled);
    EXPECT_FALSE(engine.snapshot().sleepDisabled);
    EXPECT_EQ(world.flagReads - before, 2);

    world.flipFailure = LidResult::failed("busy");
    before = world.flagReads;
    Reply refused = send(Command::engage(human));
    EXPECT_FALSE(refused.ok);
    EXPECT_FALSE(refused.status.sleepDisabled);
    EXPECT_EQ(world.flagReads - before, 2) << "the roll-back reads the flag again after the failed flip";
}

TEST_F(ServiceTest, SettingsAreTakenAndShownInTheReply) {
    EXPECT_EQ(send(Command::setNotifyCommand("  say done  ")).status.notifyCommand, "say done");
    EXPECT_TRUE(send(Command::setKeepDisplay(true)).status.keepDisplay);
    EXPECT_FALSE(send(Command::setUpdateCheck(false)).status.updateCheck);
    EXPECT_EQ(world.storedConfig, Config(15, 0, true, "say done", false));

    take(program("backup", {Mode::idle}));
    EXPECT_EQ(send(Command::suspend()).status.suspendedSince, world.clock);
    EXPECT_TRUE(world.assertions.empty());
    EXPECT_EQ(send(Command::resume()).status.suspendedSince, std::nullopt);
    EXPECT_EQ(world.assertionsFor(Mode::idle), 1);
}

// The wire carries any 64-bit floor; the engine takes 0 to 50.
TEST_F(ServiceTest, AFloorFromTheWireIsClampedWhateverItsSize) {
    std::vector<std::pair<int64_t, int>> rows{
        {20, 20},      {51, 50}, {-1, 0}, {int64_t(INT_MAX) + 1, 50}, {INT64_MAX, 50}, {int64_t(INT_MIN) - 1, 0},
        {INT64_MIN, 0}};
    for (auto [sent, floor] : rows) EXPECT_EQ(send(Command::setFloor(sent)).status.floor, floor) << sent;
}

TEST_F(ServiceTest, HandBackParksTheEngineKeepsTheClaimsAndAsksToStop) {
    Claim held = take(program("backup", {Mode::idle}));
    EXPECT_FALSE(service.handedBack());
    Reply reply = send(Command::handBack());
    EXPECT_TRUE(reply.ok);
    EXPECT_TRUE(service.handedBack());
    EXPECT_TRUE(engine.parked());
    EXPECT_TRUE(world.assertions.empty());
    EXPECT_EQ(world.storedClaims, std::vector<Claim>{held});
    EXPECT_TRUE(notices().empty());
}

TEST_F(ServiceTest, TheEnginesNewsGoesToTheNotifierAndTheHook) {
    send(Command::setNotifyCommand("notify-me"));
    send(Command::setFloor(20));
    take(program("backup", {Mode::idle}, Term::until(world.clock + 1min), "Backup done."));
    world.advance(2min);
    engine.tick();

    std::string message = "The claim of \"backup\" ended: its time is up. Backup done.";
    ASSERT_EQ(starter.starts.size(), 2u);
    EXPECT_EQ(starter.starts[0].arguments, std::vector<std::string>{message});
    EXPECT_EQ(starter.starts[1].arguments, (std::vector<std::string>{"-c", "--", "notify-me"}));
    EXPECT_EQ(starter.starts[1].environment->at("LUMRA_MESSAGE"), message);
    EXPECT_EQ(starter.starts[1].environment->at("LUMRA_REASON"), "expired");

    announcer.reap();
    world.dischargingAt(12);
    world.displayDark = true;
    engine.tick();
    EXPECT_EQ(world.sleepRequests, 1);
    ASSERT_EQ(starter.starts.size(), 4u);
    EXPECT_EQ(starter.starts[2].arguments.at(0), "The battery is down to 12%, at or below your 20% floor, and "
                                                 "nothing keeps the Mac awake: it goes to sleep now.");
    EXPECT_EQ(starter.starts[3].environment->at("LUMRA_REASON"), "forced-sleep:12");
}

TEST_F(ServiceTest, AnAnnouncementThatCannotStartIsLoggedAndTheCommandStillDone) {
    send(Command::setNotifyCommand("notify-me"));
    take(program("backup", {Mode::idle}));
    starter.failure = Platform::LaunchFailure{ENOENT, "No such file or directory"};
    Reply reply = send(Command::end());
    EXPECT_TRUE(reply.ok);
    EXPECT_TRUE(reply.status.claims.empty());
    std::string logged = log.text();
    EXPECT_THAT(logged, HasSubstr("cannot start the notifier " + notifier + ": No such file or directory (errno 2)"));
    EXPECT_THAT(logged, HasSubstr("cannot start the notify hook /bin/sh: No such file or directory (errno 2)"));
}

} // namespace
