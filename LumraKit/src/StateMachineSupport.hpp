#pragma once

// Small rules the engine's operations share; private to the engine.

#include <LumraKit/StateMachine.hpp>

#include <vector>

namespace LumraKit::Engine {

inline bool holdsLid(const Claim& claim) { return claim.effectiveModes().contains(Mode::lid); }

// A program never gets lid without the user's approval: its lid becomes a
// request. The user's own claims and adopted claims keep it.
void normalise(Claim& claim);

// Discharging at or below a floor that is switched on (1 or more).
inline bool atOrBelowFloor(const PowerSnapshot& power, int floor) {
    return power.discharging && floor >= 1 && power.percent <= floor;
}

} // namespace LumraKit::Engine
