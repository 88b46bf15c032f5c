#pragma once

#include <optional>
#include <string>
#include <vector>

// lumra-sim's commands for the simulated Launch Services database and the
// extension registry.
namespace SimCommands {

inline constexpr const char* launchServicesUsage =
    "       lumra-sim ls dump               print the Launch Services database as lsregister -dump does\n"
    "       lumra-sim ls list               list the records: kind, identifier, version, path\n"
    "       lumra-sim ls register <path>    register an app and the apps and extensions it carries\n"
    "       lumra-sim ls pluginkit-delay [<seconds>]\n"
    "                                   print or set how long an added extension waits to be listed\n";

// Runs `lumra-sim ls …`, answering its exit status; absent when the
// arguments are not such a command.
std::optional<int> runLaunchServicesCommand(const std::vector<std::string>& arguments);

} // namespace SimCommands
