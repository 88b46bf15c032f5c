#pragma once

#include <TestSupport/Subprocess.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace TestSupport {

// The password the person of a test machine is given by runAsRoot.
inline constexpr const char* personPassword = "correct horse";

// Runs `command` (a macOS path or a tool name, then its arguments) as the
// simulated root of the machine at `root`, the way a person does: through
// the sudo stand-in with -S, typing the person's password (which it sets
// first). The machine is laid out when it is not yet, so its main sudoers
// file lets the admin group in. `environment` adds to the caller's. sudo's
// password prompt is taken off the front of standard error.
Finished runAsRoot(const std::filesystem::path& root, const std::vector<std::string>& command,
                   std::map<std::string, std::string> environment = {});

// Installs `text` as the drop-in /etc/sudoers.d/<name> of the machine at
// `root` the way root leaves one: mode 0440, given to root with chown
// through sudo. Fails the test when that does not work.
void installDropIn(const std::filesystem::path& root, const std::string& text, const std::string& name = "lumra");

// The rule that lets the person switch the sleep-disable flag (or run
// `commands`) without a password.
std::string flagRule(const std::string& commands = "/usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1");

} // namespace TestSupport
