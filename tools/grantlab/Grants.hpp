#pragma once

#include "Arguments.hpp"

#include <AppInstallations/Job.hpp>
#include <PermissionGrants/PermissionGrant.hpp>

#include <vector>

// The grants GrantLab.app can read, ask and watch, made from what the
// command line named.
namespace GrantLab {

// GrantLab.app's agent and daemon as the app describes them; running while
// launchd runs their process.
AppInstallation::Job job(JobName name);
// The agent and the daemon, for settling at an installation launch.
std::vector<AppInstallation::Job> ownJobs();

PermissionGrants::PermissionGrant grantFor(const Named& named);
// The command's grants in order, those it marks required made required.
std::vector<PermissionGrants::PermissionGrant> grantsFor(const Command& command);

} // namespace GrantLab
