#include "StateMachineSupport.hpp"

#include <LumraKit/Log.hpp>

// The engine's life across processes and at the user's word: taking over
// what the previous engine left, suspending and resuming.
namespace LumraKit {

// MARK: - Start-up

bool StateMachine::isLive(const Claim& claim) {
    // No claim survives a restart of the machine, not even an indefinite one.
    if (claim.startedAt < world_.bootTime()) return false;
    if (const Term::Until* until = claim.term.ifUntil()) return until->date > world_.now();
    if (const Term::WhilePid* whilePid = claim.term.ifWhilePid()) {
        std::optional<double> started = world_.processStartTime(whilePid->pid);
        return started && *started == whilePid->started;
    }
    return true;
}

void StateMachine::recover() {
    for (Claim& claim : world_.loadClaims()) {
        if (!isLive(claim)) {
            // Stale claims end silently: nobody is waiting to hear of them.
            log("startup: dropping stale claim " + debugText(claim));
            continue;
        }
        Engine::normalise(claim);
        claims_.push_back(std::move(claim));
    }

    if (claims_.empty()) {
        if (sleepDisabled()) {
            log("startup: kernel flag on with no claims, adopting as indefinite");
            claims_ = {adoptedClaim()};
        }
        saveClaims();
        return;
    }

    log("startup: re-arming " + std::to_string(claims_.size()) + " persisted claim(s)");
    if (LidResult result = apply(); result.kind() != LidResult::Kind::ok) {
        // Keep the claims and give up only lid: a program's request is pending again.
        log("startup: re-arm lid flip failed (" + debugText(result) + "), dropping lid mode");
        for (Claim& claim : claims_) {
            claim.modes.erase(Mode::lid);
            claim.lidGranted = false;
        }
        apply();
    }
    saveClaims();
}

// MARK: - Suspension

void StateMachine::suspend() {
    if (suspended()) return;
    suspendedSince_ = world_.now();
    world_.saveSuspended(suspendedSince_);
    apply();
    log("suspended by the human (" + std::to_string(claims_.size()) + " claim(s) kept inert)");
    changed();
}

void StateMachine::resume() {
    if (!suspended()) return;
    // Expired claims, dead processes and the battery are dealt with before
    // anything is held again.
    tick();
    suspendedSince_.reset();
    world_.saveSuspended(std::nullopt);
    thermalGuard();
    if (LidResult result = apply(); result.kind() != LidResult::Kind::ok)
        log("resume: lid flip failed (" + debugText(result) + ")");
    log("resumed by the human (" + std::to_string(claims_.size()) + " claim(s) back in effect)");
    changed();
}

} // namespace LumraKit
