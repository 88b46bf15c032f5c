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
    // service goes. Both must outlive it. `updateFeed` is where the update
    // check reads (none: no check), which every status names.
    Service(LumraKit::StateMachine& engine, Announcer& announcer, std::optional<std::string> updateFeed = std::nullopt);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    LumraKit::Reply handle(const LumraKit::Command& command);

    // A handBack command parked the engine: the program should stop serving
    // and exit as soon as that reply is out.
    bool handedBack() const { return handedBack_; }

private:
    LumraKit::Reply engage(const LumraKit::Claim& requested);
    LumraKit::Reply end(const std::optional<std::string>& selector);
    LumraKit::Reply resolveLid(const std::optional<std::string>& selector, bool granted);
    LumraKit::Reply replyWith(bool ok, LumraKit::Status status) const;
    LumraKit::Reply done();
    LumraKit::Reply refused(std::string error);

    LumraKit::StateMachine& engine_;
    Announcer& announcer_;
    std::optional<std::string> updateFeed_;
    bool handedBack_ = false;
};

} // namespace Lumrad
