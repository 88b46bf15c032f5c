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
};
struct Refused {
    std::string reason;
};

// Installs the rule for `user` as `file` (a host path): written to a
// temporary file beside it with mode 0440, read back and checked, then
// renamed over `file`. On any failure the temporary file is removed, an
// earlier `file` is left as it was, and the reason says what failed.
// `checker` stands in for `check` in tests.
using Checker = std::function<std::optional<std::string>(std::string_view text, std::string_view user)>;
LumraKit::Result<Installed, Refused> install(const std::filesystem::path& file, std::string_view user,
                                             const Checker& checker = check);

} // namespace Client::Grant
