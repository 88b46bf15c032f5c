// lumra-app: the application's own process, the main executable of
// Lumra.app. At launch it starts the watch on its own image, which also acts
// on the installation switches it was opened with (an installation launch
// ends there) and settles the app's background jobs. Otherwise it stays up
// until it is asked to quit (a quit request, SIGTERM or SIGINT, or q in its
// window), then exits 0. Started on a terminal it shows its window there
// (WindowSession.hpp); without one it runs headless. Started with
// "--grant-probe" alone, it answers the privacy hub's probe instead and
// ends.

#include "LogFile.hpp"
#include "WindowSession.hpp"

#include <AppInstallations/AppInstallation.hpp>
#include <AppInstallations/System.hpp>
#include <Ink/Screen.hpp>
#include <Log/Output.hpp>
#include <PermissionGrants/PermissionGrant.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/QuitRequests.hpp>
#include <Watch.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // The privacy hub's probe starts the app's main executable: a probe
    // answers and ends here, before the app does anything else.
    PermissionGrants::PermissionGrant::answerProbeIfAsked(arguments);
    // An installation launch ends in the watch and shows nothing.
    bool installationLaunch = std::any_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
        return std::find(AppInstallation::installationSwitches.begin(), AppInstallation::installationSwitches.end(),
                         argument) != AppInstallation::installationSwitches.end();
    });
    // Before the first log line: the window covers the terminal, so the log
    // goes to a file, and the log decides its form from where it writes.
    bool windowed = !installationLaunch && Ink::Screen::available();
    if (windowed) LumraApp::sendLogLinesTo(LumraApp::windowLogFile());
    Platform::MainLoop& loop = Platform::mainLoop();
    // Before the watch: a copy it reopens may ask this one to quit at once.
    Platform::QuitRequests::receive(
        loop, [&loop] { loop.stop(); }, true);
    AppInstallation::installLog().info("app started", [] {
        return Log::Fields{{"pid", static_cast<int64_t>(::getpid())}};
    });
    // None for a bare build or an unsigned copy: the app runs on unwatched.
    auto watch = LumraJobs::watch([] { Log::flushLog(); }, arguments);
    std::unique_ptr<LumraApp::WindowSession> window;
    if (windowed) window = std::make_unique<LumraApp::WindowSession>(loop, [&loop] { loop.stop(); });
    loop.run();
    // The terminal is restored before anything else happens.
    window.reset();
    AppInstallation::installLog().info("app quit");
    // The watch's threads (a tick, a settlement waiting for approval) may
    // still run: the exit work (forgetting a deleted copy) and the logs are
    // finished without static destructors under them.
    if (watch) AppInstallation::exitNow(0);
    return 0;
}
