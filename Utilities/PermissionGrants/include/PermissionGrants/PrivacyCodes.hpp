#pragma once

#include "PermissionGrants/Privacy.hpp"
#include "PermissionGrants/PrivacyHub.hpp"

#include <Platform/Privacy.hpp>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The integer codes every privacy reading yields first (0 allowed, 1 denied,
// -1 cannot be read, anything else not asked yet), how the public readers
// produce them, and the fresh probe's ten-line answer that carries them
// from one process to another.
namespace PermissionGrants::PrivacyCodes {

inline constexpr int allowed = 0;
inline constexpr int denied = 1;
inline constexpr int notAsked = 2;
inline constexpr int unreadable = -1;

// The only argument that makes a launch a probe.
inline constexpr std::string_view probeArgument = "--grant-probe";

// Whether the arguments after the program's name make this launch a probe:
// only the probe argument alone, as the hub starts it.
bool isProbeLaunch(const std::vector<std::string>& arguments);

// GRANT_PUBLIC_API exactly "1" asks for the public readers; otherwise the
// private preflight, when the machine has it.
PrivacyHub::Source chooseSource(const char* publicAPIVariable, bool hasPreflight);

// A yes/no reader: a no is "denied" once this process asked, else "not
// asked".
int yesNoCode(bool yes, bool asked);
// A status reader's number (Platform::Privacy::Status).
int statusCode(int status);
// The public reading of a permission; -1 for those no public reader tells.
int publicCode(Privacy privacy, Platform::Privacy::Services& services, bool asked);
// The code this process reads now, by `source`.
int currentCode(Privacy privacy, PrivacyHub::Source source, Platform::Privacy::Services& services, bool asked);

// The answer of an in-process code.
PrivacyHub::Answer answerOf(int code);
// The answer when a fresh process read `fresh` and this one `inProcess`:
// allowed there but not here is "allowed on reopen", except for the two
// permissions the platform applies at once.
PrivacyHub::Answer freshAnswer(Privacy privacy, int inProcess, int fresh);

// A code as the probe writes it: decimal, an optional sign, within 32 bits.
std::optional<int> parseCode(std::string_view text);
// The codes of a probe's output: lines of exactly two pieces (split on
// spaces and tabs), a known service name and a code; anything else is
// skipped, and a later line for a permission replaces an earlier one.
std::map<Privacy, int> parseProbeOutput(std::string_view output);
// What a probe writes: one "<service> <code>" line per permission, in table
// order.
std::string probeOutput(PrivacyHub::Source source, Platform::Privacy::Services& services);

} // namespace PermissionGrants::PrivacyCodes
