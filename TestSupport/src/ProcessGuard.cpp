#include "TestSupport/ProcessGuard.hpp"

#include <TestSupport/Processes.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

namespace TestSupport {

namespace fs = std::filesystem;

namespace {

// The kernel's name for the executable of process `pid`, without the mark
// of one deleted since it started; empty when it cannot be read (the
// process is gone, a zombie or another user's).
std::string executableOf(const std::string& pid) {
    std::error_code error;
    std::string path = fs::read_symlink("/proc/" + pid + "/exe", error).string();
    if (error) return {};
    constexpr std::string_view deleted = " (deleted)";
    if (path.ends_with(deleted)) path.erase(path.size() - deleted.size());
    return path;
}

} // namespace

ProcessGuard::ProcessGuard(const std::vector<fs::path>& folders) {
    for (const auto& folder : folders) {
        std::error_code error;
        fs::path real = fs::weakly_canonical(folder, error);
        folders_.push_back((error ? folder : real).string() + "/");
    }
}

std::vector<ProcessGuard::Running> ProcessGuard::running() const {
    std::vector<Running> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        std::string name = entry.path().filename();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        std::string executable = executableOf(name);
        bool inside = std::any_of(folders_.begin(), folders_.end(),
                                  [&](const std::string& folder) { return executable.starts_with(folder); });
        if (inside) found.push_back({static_cast<pid_t>(std::atoi(name.c_str())), executable});
    }
    return found;
}

ProcessGuard::~ProcessGuard() {
    for (const auto& left : running()) {
        ADD_FAILURE() << "process " << left.pid << " (" << left.executable << ") outlived the test";
        ::kill(left.pid, SIGKILL);
        if (!ends(left.pid)) ADD_FAILURE() << "process " << left.pid << " survived SIGKILL";
    }
}

} // namespace TestSupport
