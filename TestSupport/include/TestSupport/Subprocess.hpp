#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace TestSupport {

struct Finished {
    int status = -1; // exit status; -1 when killed by a signal or the time limit
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs a real executable to its end with this process's environment plus
// `environment` (which replaces variables of the same name), capturing both
// outputs. A child still running after `limit` is killed.
Finished runProcess(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment = {},
                    std::chrono::milliseconds limit = std::chrono::seconds(20));

} // namespace TestSupport
