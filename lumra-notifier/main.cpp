// lumra-notifier: started by the service whenever the user should see a
// notification. See Notifier.hpp.

#include "Notifier.hpp"

#include <LumraKit/Identity.hpp>
#include <Platform/Files.hpp>
#include <Platform/MainBundle.hpp>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
    auto invocation = Notifier::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!invocation) {
        Platform::Files::writeAll(STDERR_FILENO, std::string(Notifier::usageText) + "\n");
        return Notifier::ExitStatus::usage;
    }

    const auto& paths = LumraKit::Paths::current();
    Platform::MainLoop& loop = Platform::mainLoop();
    Notifier::Run run(std::move(*invocation), Notifier::Host{
                                                  .main = loop,
                                                  .clock = Platform::hostClock(),
                                                  .center = Platform::NotificationCenter::current(),
                                                  .workspace = Platform::Workspace::shared(),
                                                  .bundleID = Platform::mainBundleIdentifier(),
                                                  .store = LumraKit::NotificationStore(paths.notificationsFile),
                                                  .logDir = paths.logDir,
                                                  .serviceLog = paths.serviceLog,
                                                  // The first exit ends the process at once: nothing is
                                                  // cleaned up, and threads still waiting on the platform
                                                  // never run again.
                                                  .exit =
                                                      [](int status) {
                                                          std::fflush(nullptr);
                                                          std::_Exit(status);
                                                      },
                                              });
    run.start();
    loop.run();
    return Notifier::ExitStatus::noVerdict; // the loop only returns if stopped, which nothing does
}
