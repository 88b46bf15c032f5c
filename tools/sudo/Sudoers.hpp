#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The part of the sudoers language the simulated machine's drop-ins use:
//
//   <user>[,<user>…] <host>=[(<runas>)] [NOPASSWD:|PASSWD:] <command>[, <command>…]
//
// with ALL for any user, host, run-as user or command, "Defaults" lines
// (ignored), comments from '#' and lines continued with a trailing '\'.
// A command with only a path allows any arguments; one with arguments allows
// exactly those; `""` as its only argument allows none.
namespace Sudo {

struct Rule {
    std::vector<std::string> users;
    std::string host;
    bool runsAsRoot = true;
    bool noPassword = false;
    bool anyCommand = false;
    std::vector<std::vector<std::string>> commands; // each: path, then arguments
};

// The rules of one file; absent when any line is not understood, so that a
// damaged file grants nothing.
std::optional<std::vector<Rule>> parse(std::string_view text);

// The rules of every drop-in in `folder` that sudo reads: names without a
// '.' and not ending in '~', in name order. A file that does not parse, or
// cannot be read, adds none.
std::vector<Rule> loadDropIns(const std::filesystem::path& folder);

enum class Verdict {
    run,              // a rule lets the user run it without a password
    passwordRequired, // only with a password, or no rule names the user
    notAllowed,       // rules name the user, but none allows this command
};

// What sudo does for `user` on `host` asking to run `command` (path, then
// arguments) as root.
Verdict decide(const std::vector<Rule>& rules, std::string_view user, std::string_view host,
               const std::vector<std::string>& command);

} // namespace Sudo
