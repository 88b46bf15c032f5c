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
// with %<group> for the members of a group, ALL for any user, host, run-as
// user or command, "Defaults" lines
// (ignored), comments from '#' and lines continued with a trailing '\'.
// A command with only a path allows any arguments; one with arguments allows
// exactly those; `""` as its only argument allows none.
namespace Sudo {

struct Rule {
    std::vector<std::string> users;
    std::string host;
    std::vector<std::string> runAs{"root"}; // none given: root
    bool noPassword = false;
    bool anyCommand = false;
    std::vector<std::vector<std::string>> commands; // each: path, then arguments
};

// The rules of one file; absent when any line is not understood, so that a
// damaged file grants nothing.
std::optional<std::vector<Rule>> parse(std::string_view text);

// The drop-ins in `folder` that sudo reads: names without a '.' and not
// ending in '~', in name order.
std::vector<std::filesystem::path> dropIns(const std::filesystem::path& folder);

// The rules of one file; none when it cannot be read or does not parse.
std::vector<Rule> loadFile(const std::filesystem::path& file);

// Who asks: the user's name and the names of the groups it belongs to.
struct Asker {
    std::string user;
    std::vector<std::string> groups;
};

enum class Verdict {
    run,              // a rule lets the user run it without a password
    passwordRequired, // a rule allows it, with the user's password
    notAllowed,       // rules name the user, but none allows this command
    notListed,        // no rule names the user on this host
};

// What sudo does for `asker` on `host` asking to run `command` (path, then
// arguments) as `runAs`.
Verdict decide(const std::vector<Rule>& rules, const Asker& asker, std::string_view host,
               const std::vector<std::string>& command, std::string_view runAs = "root");

} // namespace Sudo
