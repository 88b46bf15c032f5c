#include "StateMachineSupport.hpp"

namespace LumraKit::Engine {

void normalise(Claim& claim) {
    if (claim.owner == Claim::humanOwner || claim.owner == Claim::adoptedOwner) return;
    if (!claim.modes.contains(Mode::lid)) return;
    claim.modes.erase(Mode::lid);
    claim.wantsLid = true;
}

} // namespace LumraKit::Engine
