#include "AppInstallations/Job.hpp"
#include "AppInstallations/Settlement.hpp"

#include <Platform/MainBundle.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace AppInstallation {

namespace {

std::atomic<bool> terminated{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void onTermination(int) { terminated = true; }

sigset_t terminationOnly() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    return set;
}

// Booting a job out sends SIGTERM to its whole process group, often while
// the job is still leaving (waiting for launchctl, or for the copy it hands
// over to). Leaving is the job's own wish, so that SIGTERM ends it with 0
// as well, after its exit work and its logs. The handler only sets a flag
// that a thread of its own looks at, outside the signal, while the leaving
// thread blocks SIGTERM and waits for its child.
void exitZeroOnTermination() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = onTermination;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        std::thread([] {
            sigset_t term = terminationOnly();
            ::pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
            // Leaving lasts a few seconds at most: a glance every 10 ms costs nothing.
            while (!terminated) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            exitNow(0);
        }).detach();
    });
    sigset_t term = terminationOnly();
    ::pthread_sigmask(SIG_BLOCK, &term, nullptr);
}

} // namespace

void handOver(const std::string& target, const std::string& key, const std::string& to) {
    // A daemon's job is the system's: the app's current copy registers it
    // when it runs.
    if (Platform::SimulatedHost::runsAsRoot()) return;
    auto executable = Platform::bundleExecutable(Platform::SimulatedHost::hostPath(to));
    if (!executable) {
        installLog().warn("the app's current copy has no executable", [&] {
            return Log::Fields{{"job", target}, {"app", to}};
        });
        return;
    }
    installLog().info("asking the app's current copy to take this job", [&] {
        return Log::Fields{{"job", target}, {"to", to}};
    });
    // Without the service name, the copy started next does not take itself
    // for the launchd job. Apart from this process it survives the SIGTERM
    // its registration may bring this job, and settles to its end.
    Platform::Environment environment = Platform::currentEnvironment();
    environment.erase("XPC_SERVICE_NAME");
    int32_t status =
        runApart(Platform::SimulatedHost::macPath(*executable), {"--app-installation-stale", key}, environment);
    installLog().warn("still running after the hand-over", [&] {
        return Log::Fields{{"job", target}, {"status", status}};
    });
}

void leave(const std::optional<std::string>& job, const std::optional<std::string>& reopening,
           const std::optional<std::string>& handoff) {
    if (!job) {
        if (reopening && open(*reopening, {}, false) != 0)
            installLog().error("could not reopen the moved app", [&] { return Log::Fields{{"at", *reopening}}; });
        quit();
        return;
    }
    exitZeroOnTermination();
    std::string target = launchdTarget(*job, Platform::SimulatedHost::runsAsRoot());
    if (reopening && handoff) handOver(target, *handoff, *reopening);
    if (launchdPID(target) == ::getpid()) {
        installLog().warn("leaving launchd", [&] { return Log::Fields{{"job", target}}; });
        // launchctl waits for this process to end, so it must outlive the
        // SIGTERM it brings: apart from this process it finishes the bootout.
        runApart("/bin/launchctl", {"bootout", target});
    } else {
        installLog().info("launchd's job is another copy's now: exiting only", [&] {
            return Log::Fields{{"job", target}};
        });
    }
    exitNow(0);
}

} // namespace AppInstallation
