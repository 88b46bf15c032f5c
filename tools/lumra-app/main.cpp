// lumra-app: the application's own process, the main executable of
// Lumra.app. At launch it starts the watch on its own image, which also acts
// on the installation switches it was opened with (an installation launch
// ends there) and settles the app's background jobs. Otherwise it stays up,
// without a terminal, until it is asked to quit (a quit request, SIGTERM or
// SIGINT), then exits 0. Started with "--grant-probe" alone, it answers the
// privacy hub's probe instead and ends.

#include <AppInstallations/System.hpp>
#include <Log/Output.hpp>
#include <PermissionGrants/PermissionGrant.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/QuitRequests.hpp>
#include <Watch.hpp>

#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // The privacy hub's probe starts the app's main executable: a probe
    // answers and ends here, before the app does anything else.
    PermissionGrants::PermissionGrant::answerProbeIfAsked(arguments);
    Platform::MainLoop& loop = Platform::mainLoop();
    // Before the watch: a copy it reopens may ask this one to quit at once.
    Platform::QuitRequests::receive(
        loop, [&loop] { loop.stop(); }, true);
    AppInstallation::installLog().info("app started", [] {
        return Log::Fields{{"pid", static_cast<int64_t>(::getpid())}};
    });
    // None for a bare build or an unsigned copy: the app runs on unwatched.
    auto watch = LumraJobs::watch([] { Log::flushLog(); }, arguments);
    loop.run();
    AppInstallation::installLog().info("app quit");
    // The watch's threads (a tick, a settlement waiting for approval) may
    // still run: the exit work (forgetting a deleted copy) and the logs are
    // finished without static destructors under them.
    if (watch) AppInstallation::exitNow(0);
    return 0;
}
