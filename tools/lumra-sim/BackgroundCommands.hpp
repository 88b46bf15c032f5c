#pragma once

#include <optional>
#include <string>
#include <vector>

// lumra-sim's commands for the background-service registry: what apps
// registered, the person's approvals, the machine's policy and scripted
// failures for tests.
namespace LumraSim {

inline constexpr const char* backgroundUsage =
    "       lumra-sim background list   list the registered background jobs and login items\n"
    "       lumra-sim background approve|deny <bundle ID> <plist>|login-item\n"
    "                                   answer an approval request as the person\n"
    "       lumra-sim background policy [agent|daemon|login-item\n"
    "                                   enabled|ask|denied|switchedOff|ignored [approve|deny <seconds>]]\n"
    "                                   print the policies, or what registering a kind of job does\n"
    "                                   (with ask: the person's answer after simulated seconds)\n"
    "       lumra-sim background fail register|unregister <code> [<times>]\n"
    "       lumra-sim background fail clear\n"
    "                                   make the next calls fail with that error number\n";

// Runs `lumra-sim background …` (the arguments after "background") and
// answers its exit status; absent on a usage error.
std::optional<int> background(const std::vector<std::string>& arguments);

} // namespace LumraSim
