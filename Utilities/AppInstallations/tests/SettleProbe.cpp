// A program the settlement tests run as a child, to watch a whole process:
//   settle-probe tombstone ID     Tombstone::write(ID) (as root, through sudo)
//   settle-probe leave [APP KEY]  a launchd job leaving: once launchd lists
//                                 it, leave(ownJobLabel(), APP, KEY)
//   settle-probe linger           a job that only runs, until it is ended
//   settle-probe --app-installation-stale KEY
//                                 the app's current copy taking a job over:
//                                 writes KEY and its XPC_SERVICE_NAME into
//                                 ~/handed-over

#include <AppInstallations/Settlement.hpp>
#include <Platform/User.hpp>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace AppInstallation;

// launchd records the job's process a moment after starting it.
void awaitLaunchd(const std::string& label) {
    std::string target = launchdTarget(label, false);
    for (int tries = 0; tries < 500 && !launchdPID(target); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 2 && arguments[0] == "tombstone") {
        Tombstone::write(arguments[1]);
        return 0;
    }
    if (arguments.size() == 2 && arguments[0] == "--app-installation-stale") {
        const char* service = std::getenv("XPC_SERVICE_NAME");
        std::ofstream(Platform::homeDirectory() / "handed-over")
            << arguments[1] << "\nXPC_SERVICE_NAME " << (service ? service : "unset") << "\n";
        return 0;
    }
    if (arguments.size() == 1 && arguments[0] == "linger") {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 0;
    }
    if ((arguments.size() == 1 || arguments.size() == 3) && arguments[0] == "leave") {
        std::cout << "pid " << ::getpid() << std::endl;
        auto label = ownJobLabel();
        if (label) awaitLaunchd(*label);
        atExit([] { std::cout << "exit work ran" << std::endl; });
        std::optional<std::string> app, key;
        if (arguments.size() == 3) app = arguments[1], key = arguments[2];
        leave(label, app, key);
        return 3; // the app's way out: quit() ends it later
    }
    return 64;
}
