// A program the tests run as a child, to watch what the installation layer
// does to a whole process:
//   probe quit           quit() with nothing handling the request
//   probe quit-handled   quit() with the main loop answering it
//   probe at-exit N      atExit N times, then a normal exit
//   probe run TOOL ARGS  run(), printing "status output"
//   probe reopen         reopen("test"), then a moment of life
//   probe identity       home, display name, signer, installed copy and
//                        whether another process runs it (in a bundle only)

#include <AppInstallations/AppInstallation.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/QuitRequests.hpp>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) return 64;
    const std::string& mode = arguments[0];
    if (mode == "quit" || mode == "quit-handled") {
        Platform::MainLoop& loop = Platform::mainLoop();
        if (mode == "quit-handled")
            Platform::QuitRequests::receive(loop, [&loop] {
                std::cout << "asked to quit" << std::endl;
                loop.stop();
            });
        AppInstallation::atExit([] { std::cout << "exit work" << std::endl; });
        AppInstallation::quit();
        loop.run(); // the main loop keeps running until something ends the process
        return 3;
    }
    if (mode == "at-exit" && arguments.size() == 2) {
        int count = std::stoi(arguments[1]);
        for (int i = 0; i < count; ++i) AppInstallation::atExit([i] { std::cout << "work " << i << std::endl; });
        std::cout << "main done" << std::endl;
        return 0;
    }
    if (mode == "run" && arguments.size() >= 2) {
        auto result = AppInstallation::run(arguments[1], {arguments.begin() + 2, arguments.end()});
        std::cout << result.status << " " << result.output;
        return 0;
    }
    if (mode == "identity") {
        using namespace AppInstallation;
        std::cout << home().words() << "\n"
                  << displayName() << "\n"
                  << signerName().value_or("(unsigned)") << "\n"
                  << installedCopy({Scope::everyone, Scope::me}).value_or("(no copy)") << "\n"
                  << (isRunning(*bundle()) ? "running elsewhere" : "running here only") << "\n";
        return 0;
    }
    if (mode == "reopen") {
        AppInstallation::reopen("test");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::cout << "still running" << std::endl;
        return 0;
    }
    return 64;
}
