#pragma once

#include <optional>
#include <string>
#include <vector>

// lumra-sim's commands for the simulated accounts: who the users are, who is
// an admin, who is at the screen, and the passwords sudo checks.
namespace SimCommands {

inline constexpr const char* accountUsage =
    "       lumra-sim user                  list the users, their uids and groups, and who is at the screen\n"
    "       lumra-sim user admin on|off [NAME]\n"
    "                                   put the person (or NAME) into the admin group, or take them out\n"
    "       lumra-sim user password TEXT [NAME]\n"
    "                                   set the password the person (or NAME) gives sudo\n"
    "       lumra-sim console NAME|none who is logged in at the screen\n";

// Runs the command when it is one of these, answering its exit status;
// absent when the arguments are not an accounts command.
std::optional<int> runAccountCommand(const std::vector<std::string>& arguments);

} // namespace SimCommands
