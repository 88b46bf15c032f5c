#include "StateMachineSupport.hpp"

#include <LumraKit/Log.hpp>

#include <algorithm>

// The engine watching the machine: the periodic tick with its guards, and
// parking for good.
namespace LumraKit {

using Engine::holdsLid;

void StateMachine::tick() {
    if (parked_) return;
    bool flag = sleepDisabled();

    // Someone switching the flag on counts as the user resuming.
    if (flag && suspended()) {
        log("tick: external writer turned the flag on while suspended, resuming");
        suspendedSince_.reset();
        world_.saveSuspended(std::nullopt);
    }

    if (claims_.empty()) {
        if (flag)
            adopt();
        else
            sweepBelowFloor();
        return;
    }

    if (!flag && !suspended() && std::any_of(claims_.begin(), claims_.end(), holdsLid)) {
        // The other guards wait for the next tick.
        endAll(EndReason::externalOff());
        return;
    }
    thermalGuard();
    endExpired();
    endDeadProcesses();
    batteryGuard();
}

Claim StateMachine::adoptedClaim() {
    return Claim(Claim::adoptedOwner, false, {Mode::lid}, Term::indefinite(), world_.now());
}

void StateMachine::adopt() {
    log("tick: external writer turned the flag on, adopting");
    claims_ = {adoptedClaim()};
    saveClaims();
    changed();
}

void StateMachine::thermalGuard() {
    if (suspended() || !world_.thermalCritical()) return;
    std::vector<Claim> withLid;
    std::copy_if(claims_.begin(), claims_.end(), std::back_inserter(withLid), holdsLid);
    if (!withLid.empty()) end(idsOf(withLid), EndReason::thermal());
}

void StateMachine::endExpired() {
    Platform::Date now = world_.now();
    std::set<UUID> expired;
    for (const Claim& claim : claims_)
        if (const Term::Until* until = claim.term.ifUntil(); until && until->date <= now) expired.insert(claim.id);
    if (!expired.empty()) end(expired, EndReason::expired());
}

void StateMachine::endDeadProcesses() {
    // Each exit is its own end, with its own report; the copy keeps the walk
    // steady while the list shrinks.
    std::vector<Claim> watched = claims_;
    for (const Claim& claim : watched) {
        const Term::WhilePid* whilePid = claim.term.ifWhilePid();
        if (!whilePid) continue;
        std::optional<double> started = world_.processStartTime(whilePid->pid);
        if (!started || *started != whilePid->started) end({claim.id}, EndReason::pidExited(whilePid->pid));
    }
}

void StateMachine::batteryGuard() {
    PowerSnapshot power = world_.power();
    if (!power.discharging || claims_.empty()) return;
    if (Engine::atOrBelowFloor(power, config_.batteryFloorPercent)) {
        endAll(EndReason::batteryFloor(power.percent));
    } else if (power.lowPowerMode) {
        std::set<UUID> unforced;
        for (const Claim& claim : claims_)
            if (!claim.forced) unforced.insert(claim.id);
        end(unforced, EndReason::lowPowerMode());
    }
}

void StateMachine::sweepBelowFloor() {
    int floor = config_.batteryFloorPercent;
    if (floor < 1) return;
    PowerSnapshot power = world_.power();
    if (!power.hasBattery || !power.discharging || power.percent > floor) return;
    if (!world_.displayAsleep()) return;
    log("below floor (" + std::to_string(power.percent) + "% <= " + std::to_string(floor) +
        "%), no claims, display dark, still lumra: forcing sleep");
    if (onForcedSleep) onForcedSleep(power.percent);
    world_.sleepNow();
}

void StateMachine::park() {
    if (parked_) return;
    parked_ = true;
    apply();
    // The claims stay on disk, so the next engine re-arms them.
    if (!claims_.empty()) log("parked " + debugText(claims_));
}

} // namespace LumraKit
