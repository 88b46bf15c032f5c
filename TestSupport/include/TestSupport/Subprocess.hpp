#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
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

// Whether process `pid` has ended: gone, or a zombie that whoever adopted it
// has not collected yet (a container's first process may never do so).
bool hasEnded(pid_t pid);

} // namespace TestSupport
