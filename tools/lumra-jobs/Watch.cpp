#include "Watch.hpp"
#include "LumraJobs.hpp"

#include <LumraKit/Identity.hpp>
#include <Platform/User.hpp>

#include <chrono>

namespace LumraJobs {

std::vector<std::string> keeps() {
    const auto& paths = LumraKit::Paths::current();
    return {paths.stateDir.string(), paths.logDir.string()};
}

std::vector<AppInstallation::Link> links() {
    return {{(Platform::homeDirectory() / ".local/bin/lumra").string(), "Contents/MacOS/lumra"}};
}

std::shared_ptr<AppInstallation::ImageWatch> watch(std::function<void()> beforeLeaving,
                                                   const std::vector<std::string>& arguments) {
    using namespace std::chrono_literals;
    return AppInstallation::ImageWatch::start(own(), keeps(), links(), 2s, 3, std::move(beforeLeaving), arguments);
}

} // namespace LumraJobs
