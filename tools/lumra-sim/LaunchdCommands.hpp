#pragma once

#include <optional>
#include <string>
#include <vector>

// lumra-sim's commands for the simulated launchd: which jobs are loaded,
// and booting them all out.
namespace SimCommands {

inline constexpr const char* launchdUsage =
    "       lumra-sim launchd list          list the loaded jobs: domain, label, pid or -, last exit status, program\n"
    "       lumra-sim launchd stop-all      boot out every job, ending their processes\n";

// Runs `lumra-sim launchd …`, answering its exit status; absent when the
// arguments are not a launchd command.
std::optional<int> runLaunchdCommand(const std::vector<std::string>& arguments);

} // namespace SimCommands
