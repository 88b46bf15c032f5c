#pragma once

#include <AppInstallations/Job.hpp>

#include <vector>

// The background jobs Lumra.app ships, as its programs describe them.
namespace LumraJobs {

// lumrad's job: the agent the bundle declares, answering when a status
// round trip on its socket succeeds, handing its work back over the wire.
AppInstallation::Job lumrad();

// Every job the app describes itself (the ones its bundle declares beside
// these are taken as they stand).
std::vector<AppInstallation::Job> own();

} // namespace LumraJobs
