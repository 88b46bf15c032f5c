#include "LaunchdCommands.hpp"

#include <Platform/Launchd.hpp>
#include <Platform/SimulatedHost.hpp>

#include <iostream>

namespace SimCommands {

namespace {

namespace Launchd = Platform::Launchd;
namespace Host = Platform::SimulatedHost;

int list() {
    auto jobs = Launchd::list(Host::root());
    if (jobs.empty()) std::cout << "no jobs loaded\n";
    for (const auto& job : jobs)
        std::cout << job.domain << "\t" << job.label << "\t" << (job.pid ? std::to_string(*job.pid) : "-") << "\t"
                  << (job.lastExitStatus ? std::to_string(*job.lastExitStatus) : "-") << "\t"
                  << Host::macPath(job.programArguments.front(), Host::root()) << "\n";
    return 0;
}

int stopAll() {
    size_t count = Launchd::list(Host::root()).size();
    Launchd::stopAll(Host::root());
    std::cout << count << (count == 1 ? " job" : " jobs") << " booted out\n";
    return 0;
}

} // namespace

std::optional<int> runLaunchdCommand(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2 || arguments[0] != "launchd") return std::nullopt;
    if (arguments[1] == "list") return list();
    if (arguments[1] == "stop-all") return stopAll();
    return std::nullopt;
}

} // namespace SimCommands
