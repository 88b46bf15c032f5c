// lumra-app: the application's own process, the main executable of
// Lumra.app. It runs the app's launch-time duties and otherwise stays up,
// without a terminal, until it is asked to quit (a quit request, SIGTERM or
// SIGINT), then exits 0.

#include <AppInstallations/System.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/QuitRequests.hpp>

#include <unistd.h>

int main() {
    Platform::MainLoop& loop = Platform::mainLoop();
    Platform::QuitRequests::receive(
        loop, [&loop] { loop.stop(); }, true);
    AppInstallation::installLog().info("app started", [] {
        return Log::Fields{{"pid", static_cast<int64_t>(::getpid())}};
    });
    loop.run();
    AppInstallation::installLog().info("app quit");
    return 0;
}
