#pragma once

#include "Announcer.hpp"

#include <LumraKit/StateMachine.hpp>
#include <LumraKit/Wire.hpp>

namespace Lumrad {

// The service's answer to each command on the socket: the engine operation
// it names, and a reply with the outcome and the engine as it is afterwards.
// It also routes the engine's own news (claims that ended, a forced sleep)
// to the announcer. Main thread only, like the engine.
class Service {
public:
    // Takes over the engine's notify and onForcedSleep callbacks until the
    // service goes. Both must outlive it.
    Service(LumraKit::StateMachine& engine, Announcer& announcer);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    LumraKit::Reply handle(const LumraKit::Command& command);

    // A handBack command parked the engine: the program should stop serving
    // and exit as soon as that reply is out.
    bool handedBack() const { return handedBack_; }

private:
    LumraKit::Reply engage(const LumraKit::Claim& claim);
    LumraKit::Reply end(const std::optional<std::string>& selector);
    LumraKit::Reply resolveLid(const std::optional<std::string>& selector, bool granted);
    LumraKit::Reply done();
    LumraKit::Reply refused(std::string error);

    LumraKit::StateMachine& engine_;
    Announcer& announcer_;
    bool handedBack_ = false;
};

} // namespace Lumrad
