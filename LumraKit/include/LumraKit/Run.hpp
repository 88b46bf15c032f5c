#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace LumraKit {

// How a command-line tool run came out.
struct RunResult {
    // The exit status; -1 when the program could not be started.
    int32_t status = 0;
    // Standard output as UTF-8; empty when it was not valid UTF-8.
    std::string out;
    // Standard error as UTF-8 (empty when not valid UTF-8), or the launch
    // failure text.
    std::string err;

    // `err` without white space and line breaks at either end, the form
    // failures are reported and logged in.
    std::string errTrimmed() const;

    friend bool operator==(const RunResult&, const RunResult&) = default;
};

// How long a tool may run before it counts as hung: the engine's thread
// waits for every run, so a tool that never ends must not hold it.
inline constexpr std::chrono::milliseconds toolTimeLimit{10000};

// Runs the program at the absolute `path` and blocks until it exits. `env`,
// when given, replaces the whole environment; otherwise the caller's is
// inherited. Standard input is the null device. A program that cannot start
// gives status -1 and "launch failed: " followed by the system's reason; it
// never throws. A program still running after `limit` is killed with its
// whole process group and logged; it gives status -1 and "timed out after
// 10 s" (the limit). Any thread.
RunResult run(std::string_view path, const std::vector<std::string>& arguments,
              const std::optional<std::map<std::string, std::string>>& env = std::nullopt,
              std::chrono::milliseconds limit = toolTimeLimit);

// "10 s", or "250 ms" for a limit that is not whole seconds.
std::string durationText(std::chrono::milliseconds duration);

} // namespace LumraKit
