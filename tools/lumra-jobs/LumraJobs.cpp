#include "LumraJobs.hpp"

#include <LumraKit/Identity.hpp>
#include <LumraKit/Wire.hpp>

namespace LumraJobs {

using AppInstallation::Job;

Job lumrad() {
    return Job(
        Job::Kind::agent(std::string(LumraKit::Identity::release) + ".lumrad.plist"), "lumrad",
        [] { return LumraKit::Wire::roundTrip(LumraKit::Command::status()).has_value(); },
        [] { (void)LumraKit::Wire::roundTrip(LumraKit::Command::handBack()); });
}

std::vector<Job> own() { return {lumrad()}; }

} // namespace LumraJobs
