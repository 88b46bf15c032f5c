#pragma once

#include <optional>
#include <string>
#include <vector>

// lumra-sim's commands for the privacy database: the decisions System
// Settings shows and the switches that take the private entry points away.
namespace LumraSim {

inline constexpr const char* privacyUsage =
    "       lumra-sim tcc list          list the privacy database and the entry points taken away\n"
    "       lumra-sim tcc allow|deny|restrict|reset <service> <client> [--target <bundle ID>]\n"
    "                                   change a decision as System Settings does (reset: never\n"
    "                                   asked); the client is a bundle ID or a program's macOS path,\n"
    "                                   kTCCServiceAppleEvents takes the target application\n"
    "       lumra-sim tcc absent|present preflight|request|disclaim\n"
    "                                   take a private entry point away, or give it back\n"
    "       lumra-sim tcc disclaim-fails <code>|off\n"
    "                                   make the disclaim answer <code> (not 0), or succeed again\n";

// Runs `lumra-sim tcc …` (the arguments after "tcc") and answers its exit
// status; absent on a usage error.
std::optional<int> privacy(const std::vector<std::string>& arguments);

} // namespace LumraSim
