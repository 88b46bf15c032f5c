#include "AppInstallations/Job.hpp"
#include "AppInstallations/Settlement.hpp"

#include <Platform/MainBundle.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace AppInstallation {

namespace {

int terminationPipe = -1;

void onTermination(int) {
    int saved = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(terminationPipe, &byte, 1);
    errno = saved;
}

// Booting a job out sends SIGTERM to its whole process group, often while
// the job is still leaving (waiting for launchctl, or for the copy it hands
// over to). Leaving is the job's own wish, so that SIGTERM ends it with 0
// as well, after its exit work and its logs. The handler only writes to a
// pipe; a thread of its own does the rest outside the signal.
void exitZeroOnTermination() {
    static std::once_flag once;
    std::call_once(once, [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return; // SIGTERM keeps its default then
        terminationPipe = fds[1];
        std::thread([fd = fds[0]] {
            char byte = 0;
            while (::read(fd, &byte, 1) < 0 && errno == EINTR) {
            }
            exitNow(0);
        }).detach();
        struct sigaction action {};
        action.sa_handler = onTermination;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
    });
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
