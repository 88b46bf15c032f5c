#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace TestSupport {

// At the end of a test, ends every process whose executable lies inside one
// of the folders given, and fails the test for each one still running then.
// Meant for a simulated machine's root and home, where the app copies the
// open stand-in starts and the jobs launchd runs live: a test ends them
// itself (quitting the app, booting its jobs out), and whatever it missed or
// could not end, such as a job's old process left behind by a hand-over, is
// reported here. Declare it after the folders' TempDirs, so it goes first.
class ProcessGuard {
public:
    explicit ProcessGuard(const std::vector<std::filesystem::path>& folders);
    ~ProcessGuard();
    ProcessGuard(const ProcessGuard&) = delete;
    ProcessGuard& operator=(const ProcessGuard&) = delete;

    struct Running {
        pid_t pid;
        std::string executable; // host path
    };
    // The processes running from inside the folders now, executables deleted
    // or moved since they started included.
    std::vector<Running> running() const;

private:
    std::vector<std::string> folders_; // real paths, each followed by "/"
};

} // namespace TestSupport
