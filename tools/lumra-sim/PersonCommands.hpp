#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs `lumra-sim prompts|answer|activate|post …` and answers the exit
// status; absent when the arguments are none of these.
std::optional<int> personCommand(const std::vector<std::string>& arguments);
