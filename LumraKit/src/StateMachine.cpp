#include "StateMachineSupport.hpp"

#include <LumraKit/Log.hpp>

#include <algorithm>

namespace LumraKit {

using Engine::holdsLid;

StateMachine::StateMachine(World& world) : world_(world) {
    config_ = world_.loadConfig();
    suspendedSince_ = world_.loadSuspended();
    recover();
    changed();
}

// MARK: - The flag

StateMachine::FlagReadingScope::FlagReadingScope(const StateMachine& engine) : engine_(engine) {
    engine_.readingOnce_ = true;
    engine_.flagReading_.reset();
}

StateMachine::FlagReadingScope::~FlagReadingScope() {
    engine_.readingOnce_ = false;
    engine_.flagReading_.reset();
}

bool StateMachine::sleepDisabled() const {
    if (!readingOnce_) return world_.sleepDisabled();
    if (!flagReading_) flagReading_ = world_.sleepDisabled();
    return *flagReading_;
}

// MARK: - Holdings

bool StateMachine::lidArmed() const {
    return !suspended() && std::any_of(claims_.begin(), claims_.end(), holdsLid);
}

bool StateMachine::askPending() const {
    return !lidArmed() && std::any_of(claims_.begin(), claims_.end(),
                                      [](const Claim& claim) { return claim.wantsLid && !claim.lidGranted; });
}

ModeSet StateMachine::wantedModes() const {
    ModeSet wanted;
    if (suspended() || parked_) return wanted;
    for (const Claim& claim : claims_) wanted |= claim.effectiveModes();
    // Keeping the display lit only widens a hold; it never holds on its own.
    if (config_.menuDisplay && !wanted.empty()) wanted.insert(Mode::display);
    return wanted;
}

LidResult StateMachine::apply() {
    ModeSet wanted = wantedModes();
    holdAssertion(Mode::idle, wanted.contains(Mode::idle));
    holdAssertion(Mode::display, wanted.contains(Mode::display));

    bool wantLid = wanted.contains(Mode::lid);
    if (sleepDisabled() == wantLid) return LidResult::ok();
    LidResult result = world_.setSleepDisabled(wantLid);
    // Whatever the flip did, the flag is read afresh.
    flagReading_.reset();
    if (result.kind() != LidResult::Kind::ok)
        log("lid flip to " + std::string(wantLid ? "true" : "false") + " failed: " + debugText(result));
    return result;
}

void StateMachine::holdAssertion(Mode mode, bool wanted) {
    auto held = held_.find(mode);
    if (held != held_.end() && !wanted) {
        world_.releaseAssertion(held->second);
        held_.erase(held);
    } else if (held == held_.end() && wanted) {
        // A refused assertion (ID 0) is not held, so the next apply asks again
        // instead of believing the machine is kept awake.
        if (uint32_t id = world_.createAssertion(mode); id != 0) held_[mode] = id;
    }
}

EngageError StateMachine::rollBack(std::vector<Claim> previous, const LidResult& failure) {
    claims_ = std::move(previous);
    apply();
    if (failure.kind() == LidResult::Kind::grantMissing) return EngageError::grantMissing();
    if (failure.kind() == LidResult::Kind::refused) return EngageError::lidRefused(failure.detail());
    return EngageError::lidFailed(failure.detail());
}

void StateMachine::saveClaims() { world_.saveClaims(claims_); }

void StateMachine::changed() {
    if (onChange) onChange();
}

// MARK: - Taking claims

Result<Engaged, EngageError> StateMachine::engage(Claim claim) {
    Engine::normalise(claim);
    bool sameHolderApproved = std::any_of(claims_.begin(), claims_.end(), [&](const Claim& existing) {
        return existing.key() == claim.key() && existing.lidGranted;
    });
    if (sameHolderApproved && claim.wantsLid) claim.lidGranted = true;

    if (claim.effectiveModes().contains(Mode::lid) && world_.thermalCritical()) return EngageError::thermalCritical();
    PowerSnapshot power = world_.power();
    if (Engine::atOrBelowFloor(power, config_.batteryFloorPercent))
        return EngageError::belowFloor(power.percent, config_.batteryFloorPercent);

    std::optional<Claim> replaced, coveredBy;
    std::string key = claim.key();
    for (const Claim& existing : claims_) {
        bool sameKey = existing.key() == key;
        if (sameKey && !replaced) replaced = existing;
        if (!sameKey && !coveredBy && existing.covers(claim)) coveredBy = existing;
    }

    std::vector<Claim> previous = claims_;
    std::erase_if(claims_, [&](const Claim& existing) { return existing.key() == key; });
    claims_.push_back(claim);

    LidResult result = apply();
    if (result.kind() != LidResult::Kind::ok) return rollBack(std::move(previous), result);

    saveClaims();
    std::string line = "engaged " + debugText(claim);
    if (replaced) line += " replacing " + debugText(*replaced);
    if (coveredBy) line += " (covered by " + debugText(*coveredBy) + ")";
    log(line);
    changed();
    return Engaged{std::move(replaced), std::move(coveredBy), suspended()};
}

// MARK: - Ending claims

void StateMachine::end(const std::set<UUID>& ids, const EndReason& reason) {
    std::vector<Claim> ended, remaining;
    for (const Claim& claim : claims_) (ids.contains(claim.id) ? ended : remaining).push_back(claim);
    if (ended.empty()) return;

    if (notify) notify(reason, ended);
    claims_ = std::move(remaining);
    apply();
    saveClaims();
    log("ended (" + debugText(reason) + ") " + debugText(ended) + " (remaining " + std::to_string(claims_.size()) +
        ")");
    changed();
}

void StateMachine::endAll(const EndReason& reason) { end(idsOf(claims_), reason); }

// MARK: - Lid requests

Result<std::vector<Claim>, EngageError> StateMachine::resolveLidWant(const std::set<UUID>& ids, bool granted) {
    if (granted && world_.thermalCritical()) return EngageError::thermalCritical();

    std::vector<Claim> previous = claims_;
    std::vector<Claim> changedClaims;
    for (Claim& claim : claims_) {
        if (!ids.contains(claim.id) || !claim.wantsLid) continue;
        if (granted) {
            if (claim.lidGranted) continue;
            claim.lidGranted = true;
        } else {
            // Denying also withdraws an earlier approval; the claim keeps its other modes.
            claim.wantsLid = false;
            claim.lidGranted = false;
        }
        changedClaims.push_back(claim);
    }
    if (changedClaims.empty()) return changedClaims;

    LidResult result = apply();
    if (result.kind() != LidResult::Kind::ok) return rollBack(std::move(previous), result);

    saveClaims();
    log((granted ? "granted lid to " : "denied lid for ") + debugText(changedClaims));
    changed();
    return changedClaims;
}

} // namespace LumraKit
