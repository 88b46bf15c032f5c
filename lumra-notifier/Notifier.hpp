#pragma once

#include <LumraKit/NotificationStore.hpp>
#include <Platform/Clock.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/Notifications.hpp>
#include <Platform/Workspace.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The notifier: posts one notification for the service and records whether
// the user lets notifications through.
namespace Notifier {

using Reach = PermissionGrants::PermissionGrant::Notifications::Reach;

namespace ExitStatus {
inline constexpr int handedOver = 0; // posted, probed, or --prime found it settled
inline constexpr int addFailed = 1;
inline constexpr int denied = 2;
inline constexpr int noVerdict = 3;
inline constexpr int usage = 64;
} // namespace ExitStatus

inline constexpr std::string_view usageText = "usage: lumra-notifier <message> | --prime | --probe";
inline constexpr std::string_view sampleMessage =
    "Sleep restored, a claim expired, the battery floor ended everything: it shows up here.";
inline constexpr std::chrono::seconds watchdogDelay{120};

struct Invocation {
    bool prime = false;
    bool probe = false;
    std::string message;
};

// The invocation the arguments (after the program name) ask for; none for a
// usage error. Only the first argument is compared with the switches.
std::optional<Invocation> parse(const std::vector<std::string>& arguments);

// What one run needs from its process: the real program passes the main
// loop, the host clock and the simulated platform; tests pass virtual time
// and fakes. `exit` ends the process.
struct Host {
    Platform::Queue& main;
    Platform::Clock& clock;
    Platform::NotificationCenter& center;
    Platform::Workspace& workspace;
    std::optional<std::string> bundleID;
    LumraKit::NotificationStore store;
    std::filesystem::path logDir;
    std::filesystem::path serviceLog;
    std::function<void(int status)> exit;
};

// One run of the notifier. Every decision runs on the main queue; platform
// completions hop back there first. The run ends in exactly one exit (the
// task's own, the post completion or the watchdog), and whatever arrives
// after it is ignored.
class Run {
public:
    Run(Invocation invocation, Host host);

    // Starts the task and arms the watchdog, both on the main queue.
    void start();

    void deliver(const std::string& message, bool prime);
    void record(std::function<void(std::optional<Reach>)> then);
    void post(const std::string& message);
    // Appends one "notifier: " line to the service log; never fails the run.
    void log(std::string_view message);

private:
    void decide(std::optional<Reach> reach, const std::string& message, bool prime);
    void ask(const std::string& message);
    void finish(int status);
    // Wraps a platform completion so that it continues on the main queue,
    // unless the run has ended by then.
    template <typename Continuation>
    auto onMain(Continuation continuation);

    Invocation invocation_;
    Host host_;
    bool finished_ = false;
};

} // namespace Notifier
