#include "LumraKit/Claim.hpp"

#include "DecodeHelpers.hpp"

#include <Platform/UTF8.hpp>

#include <nlohmann/json.hpp>

#include <unicode/uchar.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ostream>

namespace LumraKit {

using nlohmann::json;

namespace {

[[noreturn]] void preconditionFailed(const char* what) {
    std::fprintf(stderr, "LumraKit: precondition failed: %s\n", what);
    std::abort();
}

using Platform::UTF8::nextCodePoint;

bool isLineBreak(int32_t c) {
    return c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isSpace(int32_t c) { return c == '\t' || (c >= 0 && u_charType(c) == U_SPACE_SEPARATOR); }

// A free text on one line, in double quotes: quotes, backslashes, control
// characters, the Unicode line breaks and bytes that are not UTF-8 escaped.
std::string quotedText(std::string_view text) {
    std::string result = "\"";
    char escape[16];
    for (size_t at = 0; at < text.size();) {
        size_t start = at;
        int32_t c = nextCodePoint(text, at);
        if (c < 0) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(text[start]));
            result += escape;
        } else if (c == '"' || c == '\\') {
            result += '\\';
            result += static_cast<char>(c);
        } else if (c == '\n') {
            result += "\\n";
        } else if (c == '\r') {
            result += "\\r";
        } else if (c == '\t') {
            result += "\\t";
        } else if (c < 0x20 || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029) {
            std::snprintf(escape, sizeof escape, "\\u{%X}", static_cast<unsigned>(c));
            result += escape;
        } else {
            result.append(text, start, at - start);
        }
    }
    result += '"';
    return result;
}

std::string decimal(double value) {
    char text[400]; // the largest double has 309 digits before the point
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

} // namespace

// MARK: - Owners and case

std::string cleanedOwner(std::string_view owner) {
    std::string kept;
    kept.reserve(owner.size());
    for (size_t at = 0; at < owner.size();) {
        size_t start = at;
        int32_t c = nextCodePoint(owner, at);
        if (c == '"')
            kept += '\'';
        else if (!isLineBreak(c))
            kept.append(owner, start, at - start);
    }
    return trimmingSpaces(kept);
}

std::string trimmingSpaces(std::string_view text) {
    size_t begin = text.size(), end = 0;
    for (size_t at = 0; at < text.size();) {
        size_t start = at;
        if (isSpace(nextCodePoint(text, at))) continue;
        begin = std::min(begin, start);
        end = at;
    }
    return begin < end ? std::string(text.substr(begin, end - begin)) : std::string();
}

std::string lowercased(std::string_view text) { return Platform::UTF8::lowercased(text); }

// MARK: - Claim

Claim::Claim(std::string_view owner, bool forced, ModeSet modes, Term term, Platform::Date startedAt, bool wantsLid,
             std::string onEnd)
    : id(UUID::random()), owner(cleanedOwner(owner)), forced(forced), modes(modes), wantsLid(wantsLid),
      onEnd(std::move(onEnd)), term(term), startedAt(startedAt) {}

Claim Claim::restored(UUID id, std::string owner, bool forced, ModeSet modes, bool wantsLid, bool lidGranted,
                      std::string onEnd, Term term, Platform::Date startedAt) {
    Claim claim;
    claim.id = id;
    claim.owner = std::move(owner);
    claim.forced = forced;
    claim.modes = modes;
    claim.wantsLid = wantsLid;
    claim.lidGranted = lidGranted;
    claim.onEnd = std::move(onEnd);
    claim.term = term;
    claim.startedAt = startedAt;
    return claim;
}

ModeSet Claim::effectiveModes() const {
    ModeSet effective = modes;
    if (wantsLid && lidGranted) effective.insert(Mode::lid);
    return effective;
}

std::string Claim::key() const {
    if (auto process = term.ifWhilePid()) return "pid:" + std::to_string(process->pid);
    return "owner:" + lowercased(owner);
}

bool Claim::covers(const Claim& other) const {
    if (!other.effectiveModes().isSubsetOf(effectiveModes())) return false;
    if (term.kind() == Term::Kind::indefinite) return true;
    auto mine = term.ifUntil();
    auto theirs = other.term.ifUntil();
    return mine && theirs && mine->date >= theirs->date;
}

std::vector<Claim> Claim::matching(std::string_view query, const std::vector<Claim>& claims) {
    std::string lowerQuery = lowercased(query);
    std::vector<Claim> found;
    for (const Claim& claim : claims) {
        auto process = claim.term.ifWhilePid();
        if (lowercased(claim.owner).starts_with(lowerQuery) || (process && std::to_string(process->pid) == query))
            found.push_back(claim);
    }
    return found;
}

// MARK: - End reasons and refusals

int32_t EndReason::pid() const {
    if (kind_ != Kind::pidExited) preconditionFailed("EndReason::pid() of a reason other than pidExited");
    return static_cast<int32_t>(payload_);
}

int EndReason::percent() const {
    if (kind_ != Kind::batteryFloor) preconditionFailed("EndReason::percent() of a reason other than batteryFloor");
    return static_cast<int>(payload_);
}

std::string EndReason::label() const {
    switch (kind_) {
    case Kind::requested: return "requested";
    case Kind::expired: return "expired";
    case Kind::pidExited: return "pid-exited:" + std::to_string(payload_);
    case Kind::batteryFloor: return "battery-floor:" + std::to_string(payload_);
    case Kind::lowPowerMode: return "low-power-mode";
    case Kind::thermal: return "thermal";
    case Kind::externalOff: return "external-off";
    case Kind::shutdown: return "shutdown";
    }
    return "";
}

bool EndReason::outOfBand() const {
    return kind_ == Kind::batteryFloor || kind_ == Kind::lowPowerMode || kind_ == Kind::thermal;
}

int EngageError::percent() const {
    if (kind_ != Kind::belowFloor) preconditionFailed("EngageError::percent() of an error other than belowFloor");
    return percent_;
}

int EngageError::floor() const {
    if (kind_ != Kind::belowFloor) preconditionFailed("EngageError::floor() of an error other than belowFloor");
    return floor_;
}

const std::string& EngageError::detail() const {
    if (kind_ != Kind::lidFailed && kind_ != Kind::lidRefused)
        preconditionFailed("EngageError::detail() of an error other than lidFailed or lidRefused");
    return detail_;
}

std::string EngageError::message() const {
    switch (kind_) {
    case Kind::belowFloor:
        return "Battery " + std::to_string(percent_) + "% is at or below your " + std::to_string(floor_) +
               "% floor. Not arming.";
    case Kind::lidFailed: return "pmset failed: " + detail_;
    case Kind::grantMissing: return "The sudoers grant is missing. Run: lumra grant";
    case Kind::thermalCritical: return "The Mac is at critical heat. Not arming lid-closed survival until it cools.";
    case Kind::lidRefused: return detail_;
    }
    return "";
}

// MARK: - Debugging texts

std::string debugText(ModeSet modes) {
    std::string text = "[";
    for (Mode mode : modes) {
        if (text.size() > 1) text += ", ";
        text += rawValue(mode);
    }
    return text + "]";
}

std::string debugText(const Term& term) {
    if (auto until = term.ifUntil()) return "until(" + iso8601(until->date) + ")";
    if (auto process = term.ifWhilePid())
        return "whilePid(pid: " + std::to_string(process->pid) + ", started: " + decimal(process->started) + ")";
    return "indefinite";
}

std::string debugText(const Claim& claim) {
    std::string text = "Claim(id: " + claim.id.text().substr(0, 8) + ", owner: " + quotedText(claim.owner) +
                       ", modes: " + debugText(claim.modes) + ", term: " + debugText(claim.term) +
                       ", forced: " + (claim.forced ? "true" : "false");
    if (claim.wantsLid || claim.lidGranted) {
        text += std::string(", wantsLid: ") + (claim.wantsLid ? "true" : "false");
        text += std::string(", lidGranted: ") + (claim.lidGranted ? "true" : "false");
    }
    if (!claim.onEnd.empty()) text += ", onEnd: " + quotedText(claim.onEnd);
    return text + ")";
}

std::string debugText(const std::vector<Claim>& claims) {
    std::string text = "[";
    for (size_t i = 0; i < claims.size(); ++i) {
        if (i > 0) text += ", ";
        text += debugText(claims[i]);
    }
    return text + "]";
}

std::string debugText(const EndReason& reason) {
    switch (reason.kind()) {
    case EndReason::Kind::requested: return "requested";
    case EndReason::Kind::expired: return "expired";
    case EndReason::Kind::pidExited: return "pidExited(" + std::to_string(reason.pid()) + ")";
    case EndReason::Kind::batteryFloor: return "batteryFloor(" + std::to_string(reason.percent()) + ")";
    case EndReason::Kind::lowPowerMode: return "lowPowerMode";
    case EndReason::Kind::thermal: return "thermal";
    case EndReason::Kind::externalOff: return "externalOff";
    case EndReason::Kind::shutdown: return "shutdown";
    }
    return "";
}

std::string debugText(const EngageError& error) {
    switch (error.kind()) {
    case EngageError::Kind::belowFloor:
        return "belowFloor(percent: " + std::to_string(error.percent()) + ", floor: " + std::to_string(error.floor()) +
               ")";
    case EngageError::Kind::lidFailed: return "lidFailed(" + quotedText(error.detail()) + ")";
    case EngageError::Kind::grantMissing: return "grantMissing";
    case EngageError::Kind::thermalCritical: return "thermalCritical";
    case EngageError::Kind::lidRefused: return "lidRefused(" + quotedText(error.detail()) + ")";
    }
    return "";
}

std::ostream& operator<<(std::ostream& out, ModeSet modes) { return out << debugText(modes); }
std::ostream& operator<<(std::ostream& out, const Term& term) { return out << debugText(term); }
std::ostream& operator<<(std::ostream& out, const Claim& claim) { return out << debugText(claim); }
std::ostream& operator<<(std::ostream& out, const EndReason& reason) { return out << debugText(reason); }
std::ostream& operator<<(std::ostream& out, const EngageError& error) { return out << debugText(error); }

// MARK: - JSON

namespace {

constexpr const char* termCases[] = {"indefinite", "until", "whilePid"};

ModeSet modesFromJSON(const json& value) {
    if (!value.is_array()) Decode::wrongType("modes", "an array of mode names", value);
    ModeSet modes;
    for (const json& element : value) {
        if (!element.is_string()) Decode::wrongType("modes", "an array of mode names", element);
        auto mode = modeNamed(element.get_ref<const std::string&>());
        if (!mode) Decode::fail("Unknown mode " + Decode::shown(element) + " in \"modes\".");
        modes.insert(*mode);
    }
    return modes;
}

} // namespace

json toJSON(const Term& term, const JSONCoder& coder) {
    json payload = json::object();
    const char* name = termCases[static_cast<size_t>(term.kind())];
    if (auto until = term.ifUntil()) {
        payload["_0"] = coder.encodeDate(until->date);
    } else if (auto process = term.ifWhilePid()) {
        payload["pid"] = process->pid;
        payload["started"] = process->started;
    }
    json object = json::object();
    object[name] = std::move(payload);
    return object;
}

Term termFromJSON(const json& value, const JSONCoder& coder) {
    if (!value.is_object()) Decode::wrongType("term", "an object", value);
    const char* name = nullptr;
    int count = 0;
    for (const char* candidate : termCases) {
        if (value.contains(candidate)) {
            name = candidate;
            ++count;
        }
    }
    if (count != 1) Decode::fail("Invalid number of keys found, expected one.");
    const json& payload = value.at(name);
    if (!payload.is_object()) Decode::wrongType(name, "an object", payload);
    if (name == termCases[1]) return Term::until(Decode::date(coder, Decode::requiredValue(payload, "_0"), "_0"));
    if (name == termCases[2]) {
        auto pid = Decode::integer(Decode::requiredValue(payload, "pid"), "pid", INT32_MIN, INT32_MAX);
        double started = Decode::number(Decode::requiredValue(payload, "started"), "started");
        return Term::whilePid(static_cast<int32_t>(pid), started);
    }
    return Term::indefinite();
}

json toJSON(const Claim& claim, const JSONCoder& coder) {
    json modes = json::array();
    for (Mode mode : claim.modes) modes.push_back(std::string(rawValue(mode)));
    json object = json::object();
    object["id"] = claim.id.text();
    object["owner"] = claim.owner;
    object["forced"] = claim.forced;
    object["modes"] = std::move(modes);
    object["wantsLid"] = claim.wantsLid;
    object["lidGranted"] = claim.lidGranted;
    object["onEnd"] = claim.onEnd;
    object["term"] = toJSON(claim.term, coder);
    object["startedAt"] = coder.encodeDate(claim.startedAt);
    return object;
}

Claim claimFromJSON(const json& value, const JSONCoder& coder) {
    if (!value.is_object()) Decode::wrongType("claim", "an object", value);
    const json& idValue = Decode::requiredValue(value, "id");
    auto id = UUID::parse(Decode::string(idValue, "id"));
    if (!id) Decode::fail("Invalid UUID " + Decode::shown(idValue) + " in \"id\".");
    std::string owner = Decode::string(Decode::requiredValue(value, "owner"), "owner");
    bool forced = Decode::boolean(Decode::requiredValue(value, "forced"), "forced");
    ModeSet modes = modesFromJSON(Decode::requiredValue(value, "modes"));
    auto wantsLid = Decode::optionalValue(value, "wantsLid");
    auto lidGranted = Decode::optionalValue(value, "lidGranted");
    auto onEnd = Decode::optionalValue(value, "onEnd");
    Term term = termFromJSON(Decode::requiredValue(value, "term"), coder);
    Platform::Date startedAt = Decode::date(coder, Decode::requiredValue(value, "startedAt"), "startedAt");
    return Claim::restored(*id, std::move(owner), forced, modes, wantsLid && Decode::boolean(*wantsLid, "wantsLid"),
                           lidGranted && Decode::boolean(*lidGranted, "lidGranted"),
                           onEnd ? Decode::string(*onEnd, "onEnd") : std::string(), term, startedAt);
}

json toJSON(const std::vector<Claim>& claims, const JSONCoder& coder) {
    json array = json::array();
    for (const Claim& claim : claims) array.push_back(toJSON(claim, coder));
    return array;
}

std::set<UUID> idsOf(const std::vector<Claim>& claims) {
    std::set<UUID> ids;
    for (const Claim& claim : claims) ids.insert(claim.id);
    return ids;
}

std::vector<Claim> claimsFromJSON(const json& value, const JSONCoder& coder) {
    if (!value.is_array()) Decode::wrongType("claims", "an array", value);
    std::vector<Claim> claims;
    claims.reserve(value.size());
    for (const json& element : value) claims.push_back(claimFromJSON(element, coder));
    return claims;
}

} // namespace LumraKit
