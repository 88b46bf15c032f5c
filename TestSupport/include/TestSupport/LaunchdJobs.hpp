#pragma once

#include <Platform/Launchd.hpp>

#include <filesystem>

namespace TestSupport {

// Boots out every launchd job of the simulated machine at `root` when it
// goes, however the test ends, so no job's process outlives the test.
// Declare it after the root's TempDir, so the jobs go before their folder.
class LaunchdJobs {
public:
    explicit LaunchdJobs(std::filesystem::path root) : root_(std::move(root)) {}
    ~LaunchdJobs() { Platform::Launchd::stopAll(root_); }
    LaunchdJobs(const LaunchdJobs&) = delete;
    LaunchdJobs& operator=(const LaunchdJobs&) = delete;

private:
    std::filesystem::path root_;
};

} // namespace TestSupport
