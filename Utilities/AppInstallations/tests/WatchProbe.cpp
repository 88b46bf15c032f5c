// The program of the image-watch scenarios' test app: it starts the watch
// as the app does (a tick every simulated second, acting after two missing
// ticks) and runs until it is asked to quit.
//   watch-probe [ARGUMENTS…]   the app's launch arguments

#include <AppInstallations/ImageWatch.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/QuitRequests.hpp>

#include <chrono>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    Platform::MainLoop& loop = Platform::mainLoop();
    Platform::QuitRequests::receive(
        loop, [&loop] { loop.stop(); }, true);
    auto watch = AppInstallation::ImageWatch::start({}, {}, {}, std::chrono::seconds(1), 2, {}, arguments);
    if (!watch) return 3;
    loop.run();
    return 0;
}
