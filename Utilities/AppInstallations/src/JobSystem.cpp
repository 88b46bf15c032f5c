#include "AppInstallations/Job.hpp"

#include <Platform/Credentials.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/User.hpp>

#include <cmath>

namespace AppInstallation {

namespace {

// A monotonic clock that runs as fast as the host's sleeper: at the
// simulated host's time rate, a wait of seconds ends after as many
// sleeps as it would on the platform. A step of the wall clock moves
// neither.
class RateClock final : public Platform::Clock {
public:
    explicit RateClock(double rate) : rate_(rate > 0 && std::isfinite(rate) ? rate : 1.0) {}
    Platform::Date now() const override {
        auto elapsed = std::chrono::steady_clock::now() - start_;
        auto scaled = std::chrono::duration_cast<Platform::Duration>(elapsed * rate_);
        return Platform::Date(std::chrono::duration_cast<Platform::Date::duration>(scaled));
    }

private:
    double rate_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace

std::shared_ptr<const JobSystem> JobSystem::live() {
    static const std::shared_ptr<const JobSystem> system = [] {
        static RateClock clock(Platform::SimulatedHost::timeRate());
        auto made = std::make_shared<JobSystem>();
        made->registry = []() -> Platform::BackgroundServices::Registry& {
            return Platform::BackgroundServices::shared();
        };
        made->clock = &clock;
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
