// Stand-in for macOS's /sbin/launchd on the simulated machine:
//   launchd <domain> <label>
// Supervises one loaded job: starts it, records its process, restarts it
// while it is kept alive, until it is booted out. Platform's Launchd runs it
// when a job is to start; a person has no reason to.

#include <Platform/Files.hpp>
#include <Platform/LaunchdSupervisor.hpp>
#include <Platform/SimulatedHost.hpp>

#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        Platform::Files::writeAll(STDERR_FILENO, "usage: launchd <domain> <label>\n");
        return 64;
    }
    return Platform::Launchd::superviseJob(argv[1], argv[2], Platform::SimulatedHost::root());
}
