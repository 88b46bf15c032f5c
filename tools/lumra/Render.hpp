#pragma once

#include <LumraKit/Claim.hpp>
#include <LumraKit/Status.hpp>
#include <Platform/Clock.hpp>
#include <Terminal/ANSI.hpp>
#include <Terminal/Text.hpp>

#include <string>
#include <string_view>
#include <vector>

// The engine's state and its claims as people read them. Texts that come
// from the service (owners, on-end texts, the notify hook) go through
// `printable` first, so that no claim can move the cursor or restyle the
// terminal. Each text ends with a line feed.
namespace Client {

using Terminal::printable;

// The first eight hexadecimal digits of the claim's ID, enough to tell
// claims apart at a glance.
std::string shortID(const LumraKit::UUID& id);

// "lid, idle", in the engine's order; "nothing" for no mode.
std::string modesWords(LumraKit::ModeSet modes);

// "until ended", "until 14:30 (in 1h 20m)", "while pid 4711".
std::string termWords(const LumraKit::Term& term, Platform::Date now);

// One claim on one line: "1F0A2B3C you: lid, idle, until ended".
std::string claimLine(const LumraKit::Claim& claim, Platform::Date now);

// The claims as a table with a head row: ID, owner, effective modes, term,
// notes (forced, lid requested or approved) and the on-end text.
std::string claimsTable(const std::vector<LumraKit::Claim>& claims, Platform::Date now,
                        const Terminal::Palette& palette, int indent = 0);

// What the engine holds against sleep right now: the claims' effective
// modes, display as well when it is kept lit, nothing while suspended.
LumraKit::ModeSet heldModes(const LumraKit::Status& status);

// The engine's state as a key-value list, a blank line, then the claims'
// table or "No claims.". `heat` is the machine's thermal state as the system
// names it ("nominal", "fair", "serious", "critical"); the service's own
// reading wins when it says critical.
std::string statusText(const LumraKit::Status& status, Platform::Date now, const Terminal::Palette& palette,
                       std::string_view heat = "nominal");

} // namespace Client
