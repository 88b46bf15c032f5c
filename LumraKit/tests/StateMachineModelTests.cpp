#include "EngineHarness.hpp"

#include <random>

// Long random runs against the engine on a fake world, with the world itself
// changing underneath (clock, battery, heat, processes, an outside writer of
// the flag, failing flips, restarts), checking the engine's promises after
// every step.
using namespace EngineTesting;

namespace {

constexpr std::array<std::string_view, 5> owners{"you", "external", "app", "Backup", "tool"};
constexpr std::array<int32_t, 4> pids{101, 102, 103, 104};

class Model {
public:
    explicit Model(uint32_t seed) : random_(seed) {
        harness_.start();
        watch();
    }

    // One random step, then the checks. Returns false once a check failed.
    bool step(int number) {
        before_ = engine().claims();
        wasSuspended_ = engine().suspended();
        notified_.clear();
        replaced_.reset();
        flipsBefore_ = world().flips.size();
        std::string action = act();
        SCOPED_TRACE("step " + std::to_string(number) + ": " + action);
        check();
        return !testing::Test::HasFailure();
    }

private:
    StateMachine& engine() { return *harness_.engine; }
    TestSupport::FakeWorld& world() { return harness_.world; }

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(random_); }

    void watch() {
        engine().notify = [this](const EndReason& reason, const std::vector<Claim>& claims) {
            for (const Claim& claim : claims) checkReason(reason, claim);
            for (const Claim& claim : claims) notified_.push_back(claim.id);
        };
    }

    // MARK: Steps

    std::string act() {
        switch (below(20)) {
        case 0:
        case 1:
        case 2:
        case 3: return engage();
        case 4: {
            std::set<UUID> ids;
            for (const Claim& claim : engine().claims())
                if (chance(0.4)) ids.insert(claim.id);
            if (chance(0.2)) ids.insert(UUID::random());
            engine().end(ids, EndReason::requested());
            appliedIf(!notified_.empty());
            return "end " + std::to_string(ids.size());
        }
        case 5:
            engine().endAll(EndReason::requested());
            appliedIf(!notified_.empty());
            return "endAll";
        case 6: return resolve();
        case 7:
        case 8:
        case 9: {
            bool hadClaims = !engine().claims().empty();
            engine().tick();
            afterTick(hadClaims);
            return "tick";
        }
        case 10:
            world().advance(std::chrono::seconds(below(600)));
            return "advance";
        case 11:
            if (chance(0.3))
                world().battery = PowerSnapshot{};
            else
                world().battery = PowerSnapshot{true, chance(0.3), false, below(101), chance(0.3)};
            world().battery.discharging = world().battery.hasBattery && !world().battery.onAC && chance(0.8);
            return "battery";
        case 12:
            world().critical = chance(0.3);
            world().displayDark = chance(0.5);
            return "heat";
        case 13:
            world().flag = !world().flag;
            flagSettled_ = false;
            return "outside flag writer";
        case 14: {
            int32_t pid = pids[below(pids.size())];
            if (chance(0.5))
                world().processes[pid] = 1000.0 + below(1000);
            else
                world().processes.erase(pid);
            return "process " + std::to_string(pid);
        }
        case 15: {
            bool wasSuspended = engine().suspended();
            bool hadClaims = !engine().claims().empty();
            if (chance(0.5)) {
                engine().suspend();
                appliedIf(!wasSuspended);
                return "suspend";
            }
            engine().resume();
            if (!wasSuspended) return "resume (not suspended)";
            afterTick(hadClaims);
            appliedIf(true);
            return "resume";
        }
        case 16: {
            bool hadClaims = !engine().claims().empty();
            int floor = below(70) - 10;
            engine().setFloor(floor);
            afterTick(hadClaims);
            return "floor " + std::to_string(floor);
        }
        case 17: {
            bool on = chance(0.5), acts = on != engine().config().menuDisplay;
            engine().setMenuDisplay(on);
            appliedIf(acts);
            return std::string("keep display ") + (on ? "on" : "off");
        }
        case 18:
            if (chance(0.7)) world().flipFailure.reset();
            else world().flipFailure = chance(0.5) ? LidResult::grantMissing() : LidResult::failed("pmset: busy");
            return "flip failures";
        default: return chance(0.1) ? restart() : "nothing";
        }
    }

    std::string engage() {
        int32_t pid = pids[below(pids.size())];
        Term term;
        switch (below(3)) {
        case 0: term = Term::indefinite(); break;
        case 1: term = Term::until(world().clock + std::chrono::seconds(below(1800))); break;
        default: {
            auto process = world().processes.find(pid);
            term = Term::whilePid(pid, process != world().processes.end() && chance(0.9) ? process->second : 1.0);
        }
        }
        ModeSet modes;
        for (Mode mode : allModes)
            if (chance(0.5)) modes.insert(mode);
        if (modes.empty()) modes.insert(Mode::idle);
        Claim claim(owners[below(owners.size())], chance(0.3), modes, term, world().clock);

        auto result = engine().engage(claim);
        if (result.ok()) {
            replaced_ = result.value().replaced;
            appliedIf(true);
        } else {
            EngageError::Kind kind = result.error().kind();
            bool flipRefused = kind == EngageError::Kind::lidFailed || kind == EngageError::Kind::grantMissing;
            if (flipRefused) expectUnchanged("a refused engage");
            appliedIf(flipRefused);
        }
        return "engage " + debugText(claim);
    }

    std::string resolve() {
        std::set<UUID> ids;
        for (const Claim& claim : engine().claims())
            if (chance(0.5)) ids.insert(claim.id);
        bool granted = chance(0.6);
        auto result = engine().resolveLidWant(ids, granted);
        if (result.ok()) {
            appliedIf(!result.value().empty());
        } else {
            bool flipRefused = result.error().kind() != EngageError::Kind::thermalCritical;
            if (flipRefused) expectUnchanged("a refused lid answer");
            appliedIf(flipRefused);
        }
        return granted ? "grant lid" : "deny lid";
    }

    std::string restart() {
        bool crash = chance(0.5);
        if (crash)
            world().assertions.clear(); // a dead process's assertions end with it
        else
            engine().park();
        harness_.engine.reset();
        harness_.start();
        watch();
        const std::vector<Claim>& claims = engine().claims();
        bool adopted = claims.size() == 1 && std::none_of(before_.begin(), before_.end(), [&](const Claim& claim) {
                           return claim.id == claims[0].id;
                       });
        if (adopted)
            assertionsSettled_ = flagSettled_ = false;
        else
            appliedIf(true);
        // Start-up drops stale claims silently; they are not ends.
        startedOver_ = true;
        return crash ? "crash and restart" : "park and restart";
    }

    // A tick (also inside setFloor and resume) applies after each end. Without
    // one, it may still have resumed on the outside writer's word or adopted
    // the flag, and then holdings wait for the next change.
    void afterTick(bool hadClaims) {
        if (!notified_.empty()) {
            appliedIf(true);
            return;
        }
        bool resumedOutside = wasSuspended_ && !engine().suspended();
        bool adopted = !hadClaims && !engine().claims().empty();
        if (resumedOutside || adopted) assertionsSettled_ = flagSettled_ = false;
    }

    void appliedIf(bool applied) {
        if (!applied) return;
        assertionsSettled_ = true;
        bool flipFailed = world().flipFailure && world().flips.size() > flipsBefore_;
        flagSettled_ = !flipFailed;
    }

    void expectUnchanged(const std::string& what) {
        EXPECT_EQ(engine().claims(), before_) << what << " changed the list";
        EXPECT_EQ(world().storedClaims, before_) << what << " changed the file";
    }

    // MARK: Checks

    ModeSet wanted() {
        ModeSet modes;
        if (engine().suspended() || engine().parked()) return modes;
        for (const Claim& claim : engine().claims()) modes |= claim.effectiveModes();
        if (engine().config().menuDisplay && !modes.empty()) modes.insert(Mode::display);
        return modes;
    }

    void check() {
        EXPECT_EQ(world().storedClaims, engine().claims()) << "the file differs from the list";

        std::set<std::string> keys;
        for (const Claim& claim : engine().claims())
            EXPECT_TRUE(keys.insert(claim.key()).second) << "two claims share the key " << claim.key();

        ModeSet modes = wanted();
        if (assertionsSettled_) {
            EXPECT_EQ(world().assertionsFor(Mode::idle), modes.contains(Mode::idle) ? 1 : 0) << "idle assertions";
            EXPECT_EQ(world().assertionsFor(Mode::display), modes.contains(Mode::display) ? 1 : 0)
                << "display assertions";
        }
        if (flagSettled_) {
            EXPECT_EQ(world().flag, modes.contains(Mode::lid)) << "the flag";
        }

        checkEnds();
        startedOver_ = false;
    }

    // Every claim that left the list was reported once, unless a newer claim
    // of its holder replaced it or start-up found it stale.
    void checkEnds() {
        std::set<UUID> after;
        for (const Claim& claim : engine().claims()) after.insert(claim.id);
        std::set<UUID> reported(notified_.begin(), notified_.end());
        EXPECT_EQ(reported.size(), notified_.size()) << "a claim was reported twice in one step";
        for (const UUID& id : notified_) {
            EXPECT_TRUE(everReported_.insert(id).second) << "claim " << id.text() << " reported again";
            EXPECT_FALSE(after.contains(id)) << "a reported claim is still in the list";
        }
        if (startedOver_) return;
        for (const Claim& claim : before_) {
            if (after.contains(claim.id) || reported.contains(claim.id)) continue;
            EXPECT_TRUE(replaced_ && replaced_->id == claim.id) << "claim left silently: " << debugText(claim);
        }
    }

    // The reason fits the claim and the world as the engine saw it.
    void checkReason(const EndReason& reason, const Claim& claim) {
        const PowerSnapshot& power = world().battery;
        switch (reason.kind()) {
        case EndReason::Kind::expired:
            EXPECT_TRUE(claim.term.ifUntil() && claim.term.ifUntil()->date <= world().clock);
            break;
        case EndReason::Kind::pidExited: {
            const Term::WhilePid* whilePid = claim.term.ifWhilePid();
            ASSERT_TRUE(whilePid);
            EXPECT_EQ(whilePid->pid, reason.pid());
            auto process = world().processes.find(whilePid->pid);
            EXPECT_TRUE(process == world().processes.end() || process->second != whilePid->started);
            break;
        }
        case EndReason::Kind::batteryFloor:
            EXPECT_TRUE(power.discharging && reason.percent() == power.percent &&
                        power.percent <= engine().config().batteryFloorPercent);
            break;
        case EndReason::Kind::lowPowerMode:
            EXPECT_TRUE(power.discharging && power.lowPowerMode && !claim.forced);
            break;
        case EndReason::Kind::thermal:
            EXPECT_TRUE(world().critical && claim.effectiveModes().contains(Mode::lid));
            break;
        case EndReason::Kind::externalOff: EXPECT_FALSE(world().flag); break;
        case EndReason::Kind::requested:
        case EndReason::Kind::shutdown: break;
        }
    }

    std::mt19937 random_;
    Harness harness_;
    std::vector<Claim> before_;
    std::optional<Claim> replaced_;
    std::vector<UUID> notified_;
    std::set<UUID> everReported_;
    size_t flipsBefore_ = 0;
    bool wasSuspended_ = false;
    bool startedOver_ = false;
    bool assertionsSettled_ = true;
    bool flagSettled_ = true;
};

TEST(StateMachineModel, RandomRunsKeepEveryPromise) {
    constexpr int runs = 100, steps = 2000;
    for (uint32_t seed = 1; seed <= runs; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Model model(seed);
        for (int number = 0; number < steps; ++number)
            if (!model.step(number)) return;
    }
}

} // namespace
