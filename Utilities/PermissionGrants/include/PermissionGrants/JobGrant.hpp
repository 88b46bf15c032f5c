#pragma once

#include "PermissionGrants/Standing.hpp"

#include <AppInstallations/AppInstallation.hpp>
#include <AppInstallations/Job.hpp>

#include <functional>
#include <vector>

namespace PermissionGrants {

// A background job of the application (agent, daemon or the login item) as
// a grant: its state in the words of a standing, and the action that mends
// it (turn it on, open Login Items, or move the app into Applications).
struct JobGrant {
    // Any thread; blocks while launchd is consulted. `installFor` is not
    // empty and holds only scopes of the job.
    static Standing standing(const AppInstallation::Job& job, const std::vector<AppInstallation::Scope>& installFor);
    // On the main thread; `completion` runs on the main thread once done.
    static void ask(const AppInstallation::Job& job, const std::vector<AppInstallation::Scope>& installFor,
                    std::function<void()> completion);
};

} // namespace PermissionGrants
