#pragma once

#include <LumraKit/JSONCoder.hpp>
#include <LumraKit/Mode.hpp>
#include <LumraKit/UUID.hpp>

#include <Platform/Clock.hpp>

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <iosfwd>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace LumraKit {

// How long a claim lasts: until ended on request, until a moment, or while a
// process lives. A process is named by its ID and its start time, so a
// reused ID is told apart from the process the claim was made for.
class Term {
public:
    enum class Kind { indefinite, until, whilePid };

    struct Indefinite {
        friend bool operator==(const Indefinite&, const Indefinite&) = default;
    };
    struct Until {
        Platform::Date date;
        friend bool operator==(const Until&, const Until&) = default;
    };
    struct WhilePid {
        int32_t pid = 0;
        double started = 0; // seconds since 1970, microseconds as the fraction
        friend bool operator==(const WhilePid&, const WhilePid&) = default;
    };

    // Indefinite.
    Term() = default;
    Term(Indefinite) {}
    Term(Until until) : case_(until) {}
    Term(WhilePid whilePid) : case_(whilePid) {}

    static Term indefinite() { return Indefinite{}; }
    static Term until(Platform::Date date) { return Until{date}; }
    static Term whilePid(int32_t pid, double started) { return WhilePid{pid, started}; }

    Kind kind() const { return static_cast<Kind>(case_.index()); }
    // The payload when the term is of that case, else null.
    const Until* ifUntil() const { return std::get_if<Until>(&case_); }
    const WhilePid* ifWhilePid() const { return std::get_if<WhilePid>(&case_); }

    friend bool operator==(const Term&, const Term&) = default;

private:
    std::variant<Indefinite, Until, WhilePid> case_;
};

// Why claims ended. The three out-of-band reasons come from the machine's
// power and heat state rather than from a holder or a clock.
class EndReason {
public:
    enum class Kind { requested, expired, pidExited, batteryFloor, lowPowerMode, thermal, externalOff, shutdown };

    static EndReason requested() { return EndReason(Kind::requested); }
    static EndReason expired() { return EndReason(Kind::expired); }
    static EndReason pidExited(int32_t pid) { return EndReason(Kind::pidExited, pid); }
    static EndReason batteryFloor(int percent) { return EndReason(Kind::batteryFloor, percent); }
    static EndReason lowPowerMode() { return EndReason(Kind::lowPowerMode); }
    static EndReason thermal() { return EndReason(Kind::thermal); }
    static EndReason externalOff() { return EndReason(Kind::externalOff); }
    static EndReason shutdown() { return EndReason(Kind::shutdown); }

    Kind kind() const { return kind_; }
    // The payloads; asking a reason of another case stops the process.
    int32_t pid() const;
    int percent() const;

    // "requested", "pid-exited:4711", "battery-floor:12", …
    std::string label() const;
    bool outOfBand() const;

    friend bool operator==(const EndReason&, const EndReason&) = default;

private:
    explicit EndReason(Kind kind, int64_t payload = 0) : kind_(kind), payload_(payload) {}
    Kind kind_;
    int64_t payload_;
};

// Why a claim or a lid approval was refused; `message` is the text the user
// sees.
class EngageError {
public:
    enum class Kind { belowFloor, lidFailed, grantMissing, thermalCritical, lidRefused };

    static EngageError belowFloor(int percent, int floor) { return EngageError(Kind::belowFloor, percent, floor); }
    static EngageError lidFailed(std::string detail) { return EngageError(Kind::lidFailed, 0, 0, std::move(detail)); }
    static EngageError grantMissing() { return EngageError(Kind::grantMissing); }
    static EngageError thermalCritical() { return EngageError(Kind::thermalCritical); }
    // The machine refused the lid hold and said why in words for the user
    // (a host whose lid hold is not the pmset flag).
    static EngageError lidRefused(std::string message) {
        return EngageError(Kind::lidRefused, 0, 0, std::move(message));
    }

    Kind kind() const { return kind_; }
    // The payloads (`detail` of lidFailed and lidRefused); asking an error of
    // another case stops the process.
    int percent() const;
    int floor() const;
    const std::string& detail() const;

    std::string message() const;

    friend bool operator==(const EngageError&, const EngageError&) = default;

private:
    explicit EngageError(Kind kind, int percent = 0, int floor = 0, std::string detail = {})
        : kind_(kind), percent_(percent), floor_(floor), detail_(std::move(detail)) {}
    Kind kind_;
    int percent_;
    int floor_;
    std::string detail_;
};

// One holder's request to keep the machine awake: who, which kinds of sleep,
// for how long. A plain value; the engine owns the list on its main thread.
struct Claim {
    UUID id;
    std::string owner;
    bool forced = false; // survives Low Power Mode, nothing else
    ModeSet modes;
    bool wantsLid = false;   // a program asked for lid, which waits for the user
    bool lidGranted = false; // the user approved that request
    std::string onEnd;
    Term term;
    Platform::Date startedAt;

    static constexpr ModeSet defaultModes{Mode::idle, Mode::lid};
    static constexpr std::string_view humanOwner = "you";
    static constexpr std::string_view adoptedOwner = "external";

    // A new claim with a fresh random ID and no lid approval. The owner is
    // cleaned (see cleanedOwner) so that it fits on one log or status line.
    Claim(std::string_view owner, bool forced, ModeSet modes, Term term, Platform::Date startedAt,
          bool wantsLid = false, std::string onEnd = {});

    // A claim exactly as stored or received: every field given, nothing
    // cleaned.
    static Claim restored(UUID id, std::string owner, bool forced, ModeSet modes, bool wantsLid, bool lidGranted,
                          std::string onEnd, Term term, Platform::Date startedAt);

    // `modes`, plus lid once a lid request is approved.
    ModeSet effectiveModes() const;

    // Claims with the same key stand for the same holder: "pid:<pid>" for a
    // process-bound claim, otherwise "owner:<owner in lower case>".
    std::string key() const;

    // True when this claim already holds everything `other` asks for, for at
    // least as long.
    bool covers(const Claim& other) const;

    // The claims, in order, whose owner begins with `query` (ignoring case)
    // or whose process ID is exactly `query`. An empty query matches all.
    static std::vector<Claim> matching(std::string_view query, const std::vector<Claim>& claims);

    friend bool operator==(const Claim&, const Claim&) = default;

private:
    Claim() = default;
};

// The IDs of the claims, as the engine's end and lid operations take them.
std::set<UUID> idsOf(const std::vector<Claim>& claims);

// An owner made fit for one line: double quotes become single quotes, line
// breaks go, and spaces (tabs and every Unicode space separator) are trimmed
// from both ends. Bytes that are not UTF-8 are kept as they are.
std::string cleanedOwner(std::string_view owner);

// `text` without spaces (tabs and every Unicode space separator) at either
// end; line breaks are kept.
std::string trimmingSpaces(std::string_view text);

// Full Unicode lower case (root locale); bytes that are not UTF-8 are kept.
std::string lowercased(std::string_view text);

// Compact readable forms for log lines, e.g.
// Claim(id: 1F0A2B3C, owner: "you", modes: [lid, idle], term: until(2026-12-09T10:00:00Z), forced: false).
// Control characters of free texts are escaped, so each stays on one line.
std::string debugText(ModeSet modes);
std::string debugText(const Term& term);
std::string debugText(const Claim& claim);
// "[<claim>, <claim>]"
std::string debugText(const std::vector<Claim>& claims);
// The case name, with the payload in parentheses: "pidExited(4711)".
std::string debugText(const EndReason& reason);
std::string debugText(const EngageError& error);

std::ostream& operator<<(std::ostream& out, ModeSet modes);
std::ostream& operator<<(std::ostream& out, const Term& term);
std::ostream& operator<<(std::ostream& out, const Claim& claim);
std::ostream& operator<<(std::ostream& out, const EndReason& reason);
std::ostream& operator<<(std::ostream& out, const EngageError& error);

// The JSON forms, shared by the claims file and the wire. Dates go through
// the coder. Decoding throws DecodingError with a text that says what is
// wrong; a term with none or several case keys gives exactly "Invalid number
// of keys found, expected one.".
nlohmann::json toJSON(const Term& term, const JSONCoder& coder = JSONCoder::plain);
Term termFromJSON(const nlohmann::json& value, const JSONCoder& coder = JSONCoder::plain);
nlohmann::json toJSON(const Claim& claim, const JSONCoder& coder = JSONCoder::plain);
Claim claimFromJSON(const nlohmann::json& value, const JSONCoder& coder = JSONCoder::plain);
nlohmann::json toJSON(const std::vector<Claim>& claims, const JSONCoder& coder = JSONCoder::plain);
std::vector<Claim> claimsFromJSON(const nlohmann::json& value, const JSONCoder& coder = JSONCoder::plain);

} // namespace LumraKit
