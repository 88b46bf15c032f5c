#pragma once

#include <Platform/MainBundle.hpp>
#include <Platform/Spawn.hpp>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Lumrad {

// How the announcer starts a program without waiting for it:
// Platform::startProgram, or a fake in tests. `output`, when not -1, takes
// the program's standard output and error.
using Starter = std::function<std::variant<pid_t, Platform::LaunchFailure>(
    std::string_view path, const std::vector<std::string>& arguments,
    const std::optional<Platform::Environment>& environment, int output)>;

// Tells the user what the engine did on its own: each message goes to the
// notifier, started as a program of its own, and to the user's notify hook,
// run as `/bin/sh -c -- HOOK` with LUMRA_MESSAGE and LUMRA_REASON in a small
// environment (PATH, HOME, USER, LANG and the LUMRA_* values) and its output
// in the service log, each line marked "notify hook: ".
//
// Neither is waited for, so a slow notifier or hook never holds up the
// engine, and at most one notifier and one hook run at a time: what comes
// meanwhile waits, and everything that waited goes out together in the next
// run (the messages one after the other, the hook's reasons separated by
// spaces). A hook still running after hookTimeLimit, or a notifier after
// notifierTimeLimit, is killed with its process group. A program that cannot
// start is logged, never fatal. Main thread only.
class Announcer {
public:
    using Time = std::chrono::steady_clock::time_point;
    static constexpr std::chrono::seconds hookTimeLimit{60};
    // The notifier ends itself after 120 s without an outcome; this is the
    // backstop for one that hangs anyway.
    static constexpr std::chrono::seconds notifierTimeLimit{150};

    // Without a notifier (a development build outside the app bundle) the
    // messages are only logged.
    explicit Announcer(std::optional<std::filesystem::path> notifier, Starter start = startProgram,
                       std::function<Time()> clock = std::chrono::steady_clock::now);
    ~Announcer();
    Announcer(const Announcer&) = delete;
    Announcer& operator=(const Announcer&) = delete;

    // `reason` is the short label the hook gets; an empty hook runs nothing.
    void announce(const std::string& message, const std::string& reason, const std::string& hook);

    // Collects the programs that have ended (logging a hook that failed),
    // kills those past their time limit and starts what waits. Answers how
    // many still run.
    size_t reap();

    // The next time limit that runs out, for a loop to wake up in time.
    std::optional<Time> nextDeadline() const;

    // The descriptor the running hook's output arrives on, -1 when none:
    // readOutput() when it is readable.
    int outputFd() const { return output_; }
    void readOutput();

    // Platform::startProgram, as a Starter.
    static std::variant<pid_t, Platform::LaunchFailure>
    startProgram(std::string_view path, const std::vector<std::string>& arguments,
                 const std::optional<Platform::Environment>& environment, int output);

private:
    enum class Kind { notifier, hook };
    struct Pending {
        std::vector<std::string> messages;
        std::vector<std::string> reasons;
        size_t total = 0; // announcements, kept or only counted
        std::string hook;
    };
    struct Running {
        pid_t pid = -1;
        Time deadline;
        bool killed = false;
    };

    static std::string_view describe(Kind kind);
    void startWaiting();
    std::optional<Running> start(Kind kind, std::string_view path, const std::vector<std::string>& arguments,
                                 const std::optional<Platform::Environment>& environment, int output);
    // True when the child has ended and was collected.
    bool collect(Kind kind, Running& running);
    void logOutput(std::string_view line);
    void closeOutput();

    std::optional<std::filesystem::path> notifier_;
    Starter start_;
    std::function<Time()> clock_;
    std::optional<Pending> notifierWaiting_;
    std::optional<Pending> hookWaiting_;
    std::optional<Running> notifierRunning_;
    std::optional<Running> hookRunning_;
    int output_ = -1;
    std::string partialLine_;
    size_t outputLogged_ = 0;
};

// The hook's environment: PATH, HOME, USER, LANG and every LUMRA_* value of
// `service`, with LUMRA_MESSAGE and LUMRA_REASON set.
Platform::Environment hookEnvironment(const Platform::Environment& service, const std::string& message,
                                      const std::string& reason);

// The notifier to start: the one given on the command line, else the one in
// the app bundle around this program (its Contents/Helpers), else none.
std::optional<std::filesystem::path> notifierPath(const std::optional<std::filesystem::path>& given,
                                                  const std::optional<Platform::Bundle>& bundle);

} // namespace Lumrad
