#include "Report.hpp"

#include "Render.hpp"

#include <algorithm>

namespace Client {

namespace {

using LumraKit::Claim;
using LumraKit::Command;
using LumraKit::Reply;

std::string plural(size_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::string held(const Claim& sent, const Reply& reply, Platform::Date now, const Terminal::Palette& palette) {
    // The service may have reshaped the claim (a program's lid becomes a
    // request), so describe the one it keeps.
    auto kept = std::find_if(reply.status.claims.begin(), reply.status.claims.end(),
                             [&](const Claim& claim) { return claim.id == sent.id; });
    const Claim& claim = kept != reply.status.claims.end() ? *kept : sent;

    bool suspended = reply.status.suspendedSince.has_value();
    std::string text = (suspended ? palette.warn("Recorded") : palette.ok("Holding")) + " " +
                       modesWords(claim.effectiveModes()) + " for " + printable(claim.owner) + ", " +
                       termWords(claim.term, now) + " [" + shortID(claim.id) + "].\n";
    if (claim.forced) text += "Forced: it keeps holding in Low Power Mode.\n";
    if (claim.wantsLid && !claim.lidGranted)
        text += palette.warn("Lid waits for your approval:") + " lumra allow-lid " + printable(claim.owner) + "\n";
    if (suspended) text += palette.warn("Suspended:") + " nothing is held until lumra resume.\n";
    if (reply.replaced) text += "replaced " + claimLine(*reply.replaced, now) + "\n";
    if (reply.coveredBy) text += "already covered by " + claimLine(*reply.coveredBy, now) + "\n";
    return text;
}

std::string ended(const Reply& reply, Platform::Date now, const Terminal::Palette& palette) {
    const std::vector<Claim> none;
    const std::vector<Claim>& claims = reply.ended ? *reply.ended : none;
    if (claims.empty()) return "No claims to end.\n";
    return "Ended " + plural(claims.size(), "claim") + ":\n" + claimsTable(claims, now, palette, 2);
}

// The reply names the changed claims when the service says. Otherwise an
// approval shows in the status; a refusal clears the request, so the claims
// it changed are those that asked for lid before.
std::string lid(const Command& sent, const Reply& reply, Platform::Date now, const Terminal::Palette& palette,
                const std::vector<Claim>& before) {
    bool allow = sent.kind() == Command::Kind::allowLid;
    std::vector<Claim> claims;
    if (reply.ended) {
        claims = *reply.ended;
    } else {
        // As the claims are now: approved ones for an approval; for a
        // refusal, those that asked for lid before it.
        const std::vector<Claim>& asked = allow ? reply.status.claims : before;
        for (const Claim& claim : Claim::matching(sent.selector().value_or(""), asked)) {
            if (!claim.wantsLid || (allow && !claim.lidGranted)) continue;
            auto current = std::find_if(reply.status.claims.begin(), reply.status.claims.end(),
                                        [&](const Claim& other) { return other.id == claim.id; });
            if (current != reply.status.claims.end()) claims.push_back(*current);
        }
    }
    if (claims.empty()) return allow ? "No lid request waits.\n" : "No lid request to refuse.\n";
    std::string head = allow ? "Lid approved for " : "Lid refused for ";
    return head + plural(claims.size(), "claim") + ":\n" + claimsTable(claims, now, palette, 2);
}

std::string onOff(bool on) { return on ? "on" : "off"; }

} // namespace

std::string report(const Command& sent, const Reply& reply, Platform::Date now, const Terminal::Palette& palette,
                   const std::vector<Claim>& before) {
    const LumraKit::Status& status = reply.status;
    switch (sent.kind()) {
    case Command::Kind::status: return statusText(status, now, palette);
    case Command::Kind::engage: return held(sent.claim(), reply, now, palette);
    case Command::Kind::end: return ended(reply, now, palette);
    case Command::Kind::allowLid:
    case Command::Kind::denyLid: return lid(sent, reply, now, palette, before);
    case Command::Kind::suspend:
        return "Suspended: nothing is held until lumra resume; " + plural(status.claims.size(), "claim") + " kept.\n";
    case Command::Kind::resume: {
        LumraKit::ModeSet modes = heldModes(status);
        if (modes.empty()) return "Resumed; nothing to hold.\n";
        return "Resumed: holding " + modesWords(modes) + " for " + plural(status.claims.size(), "claim") + ".\n";
    }
    case Command::Kind::setFloor: {
        std::string text = status.floor > 0 ? "Battery floor: " + std::to_string(status.floor) + "%"
                                            : std::string("Battery floor: off");
        // The service keeps the floor within its range.
        if (status.floor != sent.floor()) text += " (" + std::to_string(sent.floor()) + "% is out of range)";
        return text + ".\n";
    }
    case Command::Kind::setNotifyCommand:
        if (status.notifyCommand.empty()) return "Notify hook cleared.\n";
        return "Notify hook: " + printable(status.notifyCommand) + "\n";
    case Command::Kind::setKeepDisplay: return "Keep display: " + onOff(status.keepDisplay) + ".\n";
    case Command::Kind::setUpdateCheck:
        return "Update check: " + std::string(status.updateCheck ? "on (daily)" : "off") + ".\n";
    case Command::Kind::handBack: return "Handed back.\n";
    }
    return "";
}

} // namespace Client
