#include "AppInstallations/Job.hpp"

#include <Platform/Credentials.hpp>
#include <Platform/User.hpp>

namespace AppInstallation {

std::shared_ptr<const JobSystem> JobSystem::live() {
    static const std::shared_ptr<const JobSystem> system = [] {
        auto made = std::make_shared<JobSystem>();
        made->registry = []() -> Platform::BackgroundServices::Registry& {
            return Platform::BackgroundServices::shared();
        };
        made->clock = &Platform::rateClock();
        made->sleeper = &Platform::hostSleeper();
        made->run = [](const std::string& tool, const std::vector<std::string>& args) {
            return AppInstallation::run(tool, args);
        };
        made->bundle = [] { return AppInstallation::bundle(); };
        made->home = [] { return AppInstallation::home(); };
        made->userIsAdmin = [] { return Job::userIsAdmin(); };
        made->uid = [] { return Platform::Credentials::currentUID(); };
        made->homeFolder = [] { return Platform::homeDirectory().string(); };
        return made;
    }();
    return system;
}

} // namespace AppInstallation
