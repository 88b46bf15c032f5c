#include "Announcements.hpp"

#include <Platform/UTF8.hpp>

#include <algorithm>

namespace Lumrad {

using LumraKit::Claim;
using LumraKit::EndReason;

namespace {

// Owners named before "and N others".
constexpr size_t namedOwners = 3;
// Bytes of one onEnd text that make it into the message.
constexpr size_t endTextLimit = 200;

// `text` cut to at most `limit` bytes at a character boundary, with an
// ellipsis when something was cut.
std::string clipped(std::string_view text, size_t limit) {
    if (text.size() <= limit) return std::string(text);
    size_t kept = 0;
    for (size_t at = 0; at < text.size();) {
        size_t next = at;
        Platform::UTF8::nextCodePoint(text, next);
        if (next > limit - 3) break; // room for the ellipsis, three bytes
        kept = at = next;
    }
    return std::string(text.substr(0, kept)) + "\u2026";
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (size_t at = 0; at < items.size(); ++at) {
        if (at > 0) text += at + 1 == items.size() ? " and " : ", ";
        text += items[at];
    }
    return text;
}

// "Your claim", "The claims of "a" and "b"", "Your claim and the claims of "a", …".
std::string subject(const std::vector<Claim>& claims) {
    size_t yours = 0, theirs = 0;
    std::vector<std::string> owners;
    for (const Claim& claim : claims) {
        if (claim.owner == Claim::humanOwner) {
            ++yours;
            continue;
        }
        ++theirs;
        std::string owner = "\"" + LumraKit::cleanedOwner(claim.owner) + "\"";
        if (std::find(owners.begin(), owners.end(), owner) == owners.end()) owners.push_back(owner);
    }
    if (owners.size() > namedOwners + 1) {
        size_t others = owners.size() - namedOwners;
        owners.resize(namedOwners);
        owners.push_back(std::to_string(others) + " others");
    }

    std::string text;
    if (yours > 0) text = yours == 1 ? "Your claim" : "Your claims";
    if (theirs > 0) {
        std::string of = (theirs == 1 ? "the claim of " : "the claims of ") + joined(owners);
        text = text.empty() ? "T" + of.substr(1) : text + " and " + of;
    }
    return text;
}

std::string reasonInWords(const EndReason& reason, bool several) {
    switch (reason.kind()) {
    case EndReason::Kind::requested: return several ? "they were ended on request" : "it was ended on request";
    case EndReason::Kind::expired: return several ? "their time is up" : "its time is up";
    case EndReason::Kind::pidExited: return "process " + std::to_string(reason.pid()) + " has exited";
    case EndReason::Kind::batteryFloor:
        return "the battery is down to " + std::to_string(reason.percent()) + "%, at or below your floor";
    case EndReason::Kind::lowPowerMode: return "Low Power Mode is on";
    case EndReason::Kind::thermal: return "the Mac is critically hot";
    case EndReason::Kind::externalOff: return "sleep was turned back on from outside";
    case EndReason::Kind::shutdown: return "the Mac is shutting down";
    }
    return reason.label();
}

} // namespace

std::string endedMessage(const EndReason& reason, const std::vector<Claim>& claims) {
    if (claims.empty()) return "Claims ended: " + reasonInWords(reason, true) + ".";
    std::string message = subject(claims) + " ended: " + reasonInWords(reason, claims.size() > 1) + ".";

    std::vector<std::string> texts;
    for (const Claim& claim : claims) {
        std::string text = Platform::UTF8::trimmingWhitespace(claim.onEnd);
        // One paragraph: a notification and a log line each show one.
        std::replace_if(
            text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
        text = clipped(text, endTextLimit);
        if (!text.empty() && std::find(texts.begin(), texts.end(), text) == texts.end()) texts.push_back(text);
    }
    for (size_t at = 0; at < texts.size() && at < namedOwners; ++at) message += " " + texts[at];
    return message;
}

std::string forcedSleepMessage(int percent, int floor) {
    return "The battery is down to " + std::to_string(percent) + "%, at or below your " + std::to_string(floor) +
           "% floor, and nothing keeps the Mac awake: it goes to sleep now.";
}

std::string forcedSleepLabel(int percent) { return "forced-sleep:" + std::to_string(percent); }

} // namespace Lumrad
