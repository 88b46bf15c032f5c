#pragma once

#include <LumraKit/Result.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The sudoers drop-in that lets one user switch the sleep-disable flag, and
// nothing else, without a password: the service runs pmset through sudo for
// lid-closed holds.
namespace Client::Grant {

// The exact commands granted.
inline constexpr std::string_view flagOff = "/usr/bin/pmset -a disablesleep 0";
inline constexpr std::string_view flagOn = "/usr/bin/pmset -a disablesleep 1";

// Why `user` cannot be named in a sudoers rule as it is; absent when it can.
// Only names of letters, digits, '_', '-' and '.' that do not start with
// '-' or '.' pass, and none that sudoers reads as a keyword or an alias.
std::optional<std::string> unsafeUserName(std::string_view user);

// The rule, one line with its line feed:
// "<user> ALL=(root) NOPASSWD: /usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1".
std::string rule(std::string_view user);

// Checks a drop-in's text the way sudo will read it: absent when it grants
// `user` exactly the two commands, else what is wrong.
std::optional<std::string> check(std::string_view text, std::string_view user);

struct Installed {
    std::string user;
    bool unchanged = false; // the same drop-in was already in place
};
struct Refused {
    std::string reason;
};

// Who owns files: giving one to root (as chown does, only for root), and
// whether root owns one. The simulated machine's by default; tests fake it.
struct Ownership {
    std::function<bool(const std::filesystem::path&)> giveToRoot;
    std::function<bool(const std::filesystem::path&)> ownedByRoot;
};
const Ownership& machineOwnership();

// Installs the rule for `user` as `file` (a host path): written to a
// temporary file beside it with mode 0440 and flushed, read back through the
// same descriptor and checked, given to root, then renamed over `file`, and
// the folder flushed so the rename survives a crash. On any failure the
// temporary file is removed, an earlier `file` is left as it was, and the
// reason says what failed. The same rule already in place, root's and
// read-only, is left alone (`unchanged`). `checker` stands in for `check`
// in tests.
using Checker = std::function<std::optional<std::string>(std::string_view text, std::string_view user)>;
LumraKit::Result<Installed, Refused> install(const std::filesystem::path& file, std::string_view user,
                                             const Checker& checker = check,
                                             const Ownership& ownership = machineOwnership());

} // namespace Client::Grant
