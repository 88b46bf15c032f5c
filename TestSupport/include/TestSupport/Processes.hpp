#pragma once

#include <TestSupport/FileContents.hpp>
#include <TestSupport/Subprocess.hpp>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace TestSupport {

// Whether `condition` comes to hold within `limit`, for what another
// process does a moment later (a restart, a SIGKILL taking effect).
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    for (auto deadline = std::chrono::steady_clock::now() + limit; !condition();
         std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() >= deadline) return false;
    return true;
}

inline bool ends(pid_t pid) {
    return eventually([pid] { return hasEnded(pid); });
}

// A process's environment, one variable a line.
inline std::string environmentOf(pid_t pid) {
    std::string text = contents("/proc/" + std::to_string(pid) + "/environ");
    std::replace(text.begin(), text.end(), '\0', '\n');
    return text;
}

} // namespace TestSupport
