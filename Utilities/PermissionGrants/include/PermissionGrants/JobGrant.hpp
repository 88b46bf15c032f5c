#pragma once

#include "PermissionGrants/Standing.hpp"

#include <AppInstallations/AppInstallation.hpp>
#include <AppInstallations/Job.hpp>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace PermissionGrants {

// A background job of the application (agent, daemon or the login item) as
// a grant: its state in the words of a standing, and the action that mends
// it (turn it on, open Login Items, or move the app into Applications).
// The last failure to turn a job on is kept by job name until the job is
// asked again, and each change of a job's words is logged once.
struct JobGrant {
    using Job = AppInstallation::Job;
    using Scope = AppInstallation::Scope;

    // Where the app goes when it has to move: a copy already installed in
    // the first of some scopes that has one, and the move itself (which ends
    // this process, or throws). The running app's by default; tests hand in
    // their own.
    struct Relocation {
        std::function<std::optional<std::string>(const std::vector<Scope>&)> installedCopy;
        std::function<void(Scope, const std::vector<Job>&)> moveHome;

        static const Relocation& live();
    };

    // Any thread; blocks while launchd is consulted. `installFor` is not
    // empty and holds only scopes of the job.
    static Standing standing(const Job& job, const std::vector<Scope>& installFor,
                             const Relocation& relocation = Relocation::live());
    // On the main thread; `completion` runs on the main thread once done.
    // Installing, probing and moving run off the main thread.
    static void ask(const Job& job, const std::vector<Scope>& installFor, std::function<void()> completion,
                    const Relocation& relocation = Relocation::live());

    // Turns the job on as asking does, with a wait of one's own: forgets its
    // last failure, installs it, and records and logs any failure but a wait
    // for approval (approval is the person's to give, no fault) before
    // throwing it. Blocks; any thread.
    static Job::State turnOn(const Job& job, std::chrono::nanoseconds approvalWait);

    // On the main thread: the scope to install into, or nothing when the
    // person cancels. A scope holding a copy of the app already wins; one
    // scope needs no question; otherwise an alert asks, with one button per
    // scope in order and "Cancel". `completion` runs on the main thread.
    static void pick(const std::vector<Scope>& installFor, std::function<void(std::optional<Scope>)> completion,
                     const Relocation& relocation = Relocation::live());
};

} // namespace PermissionGrants
