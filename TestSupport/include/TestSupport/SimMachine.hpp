#pragma once

#include <TestSupport/LaunchdJobs.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace TestSupport {

// A temporary simulated machine with its own HOME, driven through the
// simulator executable given; no launchd job outlives it.
class SimMachine {
public:
    explicit SimMachine(std::filesystem::path simulator) : simulator_(std::move(simulator)) {}

    std::map<std::string, std::string> environment() const {
        return {{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", root.string()}};
    }
    Finished sim(const std::vector<std::string>& arguments) const {
        return runProcess(simulator_, arguments, environment());
    }

    TempDir home, scratch;
    std::filesystem::path root = scratch / "machine";

private:
    std::filesystem::path simulator_;
    LaunchdJobs jobs_{root};
};

} // namespace TestSupport
