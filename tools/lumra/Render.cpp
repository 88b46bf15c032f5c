#include "Render.hpp"

#include "TimeText.hpp"

#include <Terminal/Layout.hpp>
#include <Terminal/Text.hpp>

#include <utility>

namespace Client {

namespace {

using LumraKit::Claim;
using LumraKit::Mode;
using LumraKit::ModeSet;
using LumraKit::Status;
using LumraKit::Term;

// Wide enough for a program's name or a sentence; longer free texts are cut
// so that one claim cannot push the table off the screen.
constexpr int ownerColumns = 24;
constexpr int onEndColumns = 40;

std::string onOff(bool on) { return on ? "on" : "off"; }

std::string notes(const Claim& claim) {
    std::string text;
    auto add = [&](std::string_view note) { text += (text.empty() ? "" : ", ") + std::string(note); };
    if (claim.forced) add("forced");
    if (claim.wantsLid) add(claim.lidGranted ? "lid approved" : "lid requested");
    return text;
}

std::string powerWords(const LumraKit::PowerSnapshot& power) {
    if (!power.hasBattery) return "none (AC power)";
    std::string text = std::to_string(power.percent) + "%, ";
    if (power.onAC) return text + "on AC power";
    return text + (power.discharging ? "discharging" : "on battery");
}

std::string reachWords(const std::optional<LumraKit::NotificationStore::Reach>& reach) {
    using Reach = LumraKit::NotificationStore::Reach;
    if (!reach) return "unknown";
    switch (*reach) {
    case Reach::notAsked: return "not asked yet";
    case Reach::denied: return "denied";
    case Reach::silenced: return "delivered quietly";
    case Reach::allowed: return "allowed";
    }
    return "unknown";
}

std::string displayHoldWords(const std::string& hold) {
    if (hold == "screenSaver") return "the session's screen saver";
    if (hold == "idleInhibitor") return "the idle inhibitor (the session offers no screen saver)";
    return printable(hold);
}

// "backupd (pid 4711): sleep, block: Copying files".
std::string holderLine(const LumraKit::OtherHolder& holder) {
    std::string who = holder.who.empty() ? "unknown program" : printable(holder.who);
    if (holder.pid) who += " (pid " + std::to_string(*holder.pid) + ")";
    std::string what = printable(holder.what) + (holder.mode ? ", " + printable(*holder.mode) : "");
    return "  " + who + ": " + what + (holder.why.empty() ? "" : ": " + printable(holder.why)) + "\n";
}

} // namespace

std::string shortID(const LumraKit::UUID& id) { return id.text().substr(0, 8); }

std::string modesWords(ModeSet modes) {
    std::string text;
    for (Mode mode : modes) text += (text.empty() ? "" : ", ") + std::string(LumraKit::rawValue(mode));
    return text.empty() ? "nothing" : text;
}

std::string termWords(const Term& term, Platform::Date now) {
    switch (term.kind()) {
    case Term::Kind::indefinite: return "until ended";
    case Term::Kind::until: {
        Platform::Date date = term.ifUntil()->date;
        auto left = std::chrono::duration_cast<std::chrono::seconds>(date - now);
        std::string when = left > std::chrono::seconds(0) ? "in " + durationWords(left) : "due now";
        return "until " + momentWords(date, now) + " (" + when + ")";
    }
    case Term::Kind::whilePid: return "while pid " + std::to_string(term.ifWhilePid()->pid);
    }
    return "";
}

std::string claimLine(const Claim& claim, Platform::Date now) {
    return shortID(claim.id) + " " + printable(claim.owner) + ": " + modesWords(claim.effectiveModes()) + ", " +
           termWords(claim.term, now);
}

std::string claimsTable(const std::vector<Claim>& claims, Platform::Date now, const Terminal::Palette& palette,
                        int indent) {
    std::vector<Terminal::Row> rows;
    for (const Claim& claim : claims)
        rows.push_back({palette.ref(shortID(claim.id)), Terminal::clip(printable(claim.owner), ownerColumns),
                        modesWords(claim.effectiveModes()), termWords(claim.term, now), notes(claim),
                        Terminal::clip(printable(claim.onEnd), onEndColumns)});
    return Terminal::table(rows, Terminal::Row{"ID", "OWNER", "MODES", "TERM", "NOTES", "ON END"}, {}, 2, indent,
                           palette) +
           "\n";
}

ModeSet heldModes(const Status& status) {
    ModeSet held;
    if (status.suspendedSince) return held;
    for (const Claim& claim : status.claims) held |= claim.effectiveModes();
    if (status.keepDisplay && !held.empty()) held.insert(Mode::display);
    return held;
}

static std::string heatWords(bool critical, std::string_view heat, const Terminal::Palette& palette) {
    if (critical || heat == "critical") return palette.bad("critical");
    if (heat == "serious") return palette.warn("serious");
    return std::string(heat);
}

std::string statusText(const Status& status, Platform::Date now, const Terminal::Palette& palette,
                       std::string_view heat) {
    ModeSet held = heldModes(status);
    std::vector<std::pair<std::string, std::string>> pairs;
    pairs.emplace_back("holding", held.empty() ? palette.muted("nothing") : palette.ok(modesWords(held)));
    pairs.emplace_back("sleep disabled", status.sleepDisabled ? palette.ok("yes (lid closed keeps running)") : "no");
    pairs.emplace_back("lid armed", status.lidArmed ? "yes" : "no");
    pairs.emplace_back("lid request",
                       status.askPending ? palette.warn("waiting for approval (lumra allow-lid)") : "none");
    pairs.emplace_back("battery", powerWords(status.power));
    pairs.emplace_back("low power mode", status.power.lowPowerMode ? palette.warn("on") : "off");
    pairs.emplace_back("battery floor", status.floor > 0 ? std::to_string(status.floor) + "%" : "off");
    pairs.emplace_back("keep display", onOff(status.keepDisplay));
    if (status.displayHold) pairs.emplace_back("display held by", displayHoldWords(*status.displayHold));
    pairs.emplace_back("heat", heatWords(status.thermalCritical, heat, palette));
    pairs.emplace_back("notifications", reachWords(status.notifications));
    if (status.suspendedSince) {
        auto ago = std::chrono::duration_cast<std::chrono::seconds>(now - *status.suspendedSince);
        pairs.emplace_back("suspended", palette.warn("since " + momentWords(*status.suspendedSince, now) + " (" +
                                                     durationWords(ago) + " ago)"));
    } else {
        pairs.emplace_back("suspended", "no");
    }
    pairs.emplace_back("update check", status.updateCheck ? "on (daily)" : "off");
    if (status.latestVersion) pairs.emplace_back("latest version", printable(*status.latestVersion));
    pairs.emplace_back("notify hook",
                       status.notifyCommand.empty() ? std::string("none") : printable(status.notifyCommand));

    std::string text = Terminal::kv(pairs, 0, 2, palette) + "\n\n";
    if (status.otherHolders && !status.otherHolders->empty()) {
        text += "Also keeping the machine awake:\n";
        for (const auto& holder : *status.otherHolders) text += holderLine(holder);
        text += "\n";
    }
    if (status.claims.empty()) return text + palette.muted("No claims.") + "\n";
    return text + claimsTable(status.claims, now, palette);
}

} // namespace Client
