#include "Service.hpp"

#include "Announcements.hpp"

#include <algorithm>
#include <climits>

namespace Lumrad {

using LumraKit::Claim;
using LumraKit::Command;
using LumraKit::EndReason;
using LumraKit::Reply;

namespace {

std::string quoted(const std::string& selector) { return "\"" + selector + "\""; }

} // namespace

Service::Service(LumraKit::StateMachine& engine, Announcer& announcer, std::optional<std::string> updateFeed)
    : engine_(engine), announcer_(announcer), updateFeed_(std::move(updateFeed)) {
    engine_.notify = [this](const EndReason& reason, const std::vector<Claim>& claims) {
        announcer_.announce(endedMessage(reason, claims), reason.label(), engine_.config().notifyCommand);
    };
    engine_.onForcedSleep = [this](int percent) {
        announcer_.announce(forcedSleepMessage(percent, engine_.config().batteryFloorPercent),
                            forcedSleepLabel(percent), engine_.config().notifyCommand);
    };
}

Service::~Service() {
    engine_.notify = nullptr;
    engine_.onForcedSleep = nullptr;
}

Reply Service::handle(const Command& command) {
    // One look at the flag serves the command and the reply's status.
    auto reading = engine_.readFlagOnce();
    switch (command.kind()) {
    case Command::Kind::engage: return engage(command.claim());
    case Command::Kind::end: return end(command.selector());
    case Command::Kind::status: return replyWith(true, engine_.status());
    case Command::Kind::setFloor: {
        // The wire carries any 64-bit number; the engine clamps what fits an int.
        int64_t floor = std::clamp<int64_t>(command.floor(), INT_MIN, INT_MAX);
        engine_.setFloor(static_cast<int>(floor));
        return done();
    }
    case Command::Kind::setNotifyCommand: engine_.setNotifyCommand(command.text()); return done();
    case Command::Kind::setKeepDisplay: engine_.setMenuDisplay(command.on()); return done();
    case Command::Kind::allowLid: return resolveLid(command.selector(), true);
    case Command::Kind::denyLid: return resolveLid(command.selector(), false);
    case Command::Kind::suspend: engine_.suspend(); return done();
    case Command::Kind::resume: engine_.resume(); return done();
    case Command::Kind::setUpdateCheck: engine_.setUpdateCheck(command.on()); return done();
    case Command::Kind::handBack:
        engine_.park();
        handedBack_ = true;
        return done();
    }
    return refused("Unknown command.");
}

Reply Service::engage(const Claim& requested) {
    // Lid approval is the person's to give, through allowLid: a claim from
    // the socket never brings its own (a re-engaging holder keeps one it was
    // given, which the engine carries over).
    Claim claim = requested;
    claim.lidGranted = false;
    for (const Claim& held : engine_.claims())
        if (held.id == claim.id && held.key() != claim.key())
            return refused("Claim ID " + claim.id.text() + " is taken by the claim of " +
                           quoted(LumraKit::cleanedOwner(held.owner)) + "; a new claim needs an ID of its own.");
    auto result = engine_.engage(claim);
    if (!result.ok()) return refused(result.error().message());
    Reply reply = done();
    reply.replaced = result.value().replaced;
    reply.coveredBy = result.value().coveredBy;
    return reply;
}

Reply Service::end(const std::optional<std::string>& selector) {
    std::vector<Claim> ending = engine_.claims();
    if (!selector) {
        engine_.endAll(EndReason::requested());
    } else {
        ending = Claim::matching(*selector, ending);
        if (ending.empty()) return refused("No claim matches " + quoted(*selector) + ".");
        engine_.end(LumraKit::idsOf(ending), EndReason::requested());
    }
    Reply reply = done();
    reply.ended = std::move(ending);
    return reply;
}

Reply Service::resolveLid(const std::optional<std::string>& selector, bool granted) {
    std::vector<Claim> chosen = selector ? Claim::matching(*selector, engine_.claims()) : engine_.claims();
    // Approving skips what is approved already; denying also withdraws an approval.
    std::erase_if(chosen, [&](const Claim& claim) { return !claim.wantsLid || (granted && claim.lidGranted); });
    if (chosen.empty()) {
        std::string which = selector ? "No claim matching " + quoted(*selector) : std::string("No claim");
        return refused(which + (granted ? " waits for lid approval." : " asks for lid."));
    }
    auto result = engine_.resolveLidWant(LumraKit::idsOf(chosen), granted);
    if (!result.ok()) return refused(result.error().message());
    return done();
}

Reply Service::replyWith(bool ok, LumraKit::Status status) const {
    Reply reply;
    reply.ok = ok;
    reply.status = std::move(status);
    reply.status.updateFeed = updateFeed_;
    return reply;
}

Reply Service::done() { return replyWith(true, engine_.snapshot()); }

Reply Service::refused(std::string error) {
    Reply reply = replyWith(false, engine_.snapshot());
    reply.error = std::move(error);
    return reply;
}

} // namespace Lumrad
