#pragma once

#include <Platform/MainBundle.hpp>
#include <Platform/Spawn.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Lumrad {

// How the announcer starts a program without waiting for it:
// Platform::startProgram, or a fake in tests.
using Starter = std::function<std::variant<pid_t, Platform::LaunchFailure>(
    std::string_view path, const std::vector<std::string>& arguments,
    const std::optional<Platform::Environment>& environment)>;

// Tells the user what the engine did on its own: each message goes to the
// notifier, started as a program of its own, and to the user's notify hook,
// run by /bin/sh with LUMRA_MESSAGE and LUMRA_REASON in its environment.
// Neither is waited for, so a slow notifier or hook never holds up the
// engine; reap() collects them later. A program that cannot start is logged,
// never fatal. Main thread only.
class Announcer {
public:
    // Without a notifier (a development build outside the app bundle) the
    // messages are only logged.
    explicit Announcer(std::optional<std::filesystem::path> notifier, Starter start = startProgram);
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    // `reason` is the short label the hook gets; an empty hook runs nothing.
    void announce(const std::string& message, const std::string& reason, const std::string& hook);

    // Collects the started programs that have ended, logging a hook that
    // failed. Answers how many still run.
    size_t reap();

    // Platform::startProgram, as a Starter.
    static std::variant<pid_t, Platform::LaunchFailure>
    startProgram(std::string_view path, const std::vector<std::string>& arguments,
                 const std::optional<Platform::Environment>& environment);

private:
    enum class Child { notifier, hook };
    static std::string_view describe(Child child);
    void start(Child child, std::string_view path, const std::vector<std::string>& arguments,
               const std::optional<Platform::Environment>& environment);

    std::optional<std::filesystem::path> notifier_;
    Starter start_;
    std::map<pid_t, Child> children_;
};

// The notifier to start: the one given on the command line, else the one in
// the app bundle around this program (its Contents/Helpers), else none.
std::optional<std::filesystem::path> notifierPath(const std::optional<std::filesystem::path>& given,
                                                  const std::optional<Platform::Bundle>& bundle);

} // namespace Lumrad
