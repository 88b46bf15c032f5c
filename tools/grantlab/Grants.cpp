#include "Grants.hpp"

#include <PermissionGrants/Observe.hpp>
#include <Platform/Notifications.hpp>

#include <memory>

namespace GrantLab {

using AppInstallation::Job;
using PermissionGrants::PermissionGrant;
using PermissionGrants::Standing;

namespace {

// The definitions' file names follow the bundle identifier, as the build
// writes them.
std::string plist(std::string_view suffix) { return std::string(GRANTLAB_ID) + "." + std::string(suffix) + ".plist"; }

std::string titleOf(JobName name) {
    switch (name) {
    case JobName::agent: return "Background agent";
    case JobName::daemon: return "Background daemon";
    case JobName::loginItem: break;
    }
    return "Login item";
}

struct Maker {
    PermissionGrant operator()(PermissionGrants::Privacy privacy) const {
        return PermissionGrant::privacy(privacy, std::string(PermissionGrants::title(privacy)),
                                        "GrantLab reads, asks and watches it end to end.", std::nullopt, false);
    }
    PermissionGrant operator()(const AutomationOf& automation) const {
        return PermissionGrant::automation(automation.bundleID, "Automation of " + automation.bundleID,
                                           "GrantLab sends it Apple Events.", "applescript", false);
    }
    PermissionGrant operator()(const BackgroundJob& background) const {
        return PermissionGrant::backgroundService(job(background.job), titleOf(background.job),
                                                  "GrantLab keeps it running in the background.", "gearshape", false,
                                                  background.installFor);
    }
    PermissionGrant operator()(const LabGrant& lab) const {
        // Observable, so that a view showing it hears the press: the
        // registrar reports each read and the change.
        struct Allowed {
            bool value = false;
            PermissionGrants::ObservationRegistrar registrar;
        };
        auto allowed = std::make_shared<Allowed>();
        return PermissionGrant(
            lab.title, "GrantLab draws its title as given.", "puzzlepiece", false,
            [allowed] {
                allowed->registrar.access();
                return allowed->value ? Standing::good() : Standing::askable("Allow");
            },
            [allowed] {
                allowed->value = true;
                allowed->registrar.didChange();
            });
    }
    PermissionGrant operator()(const OwnNotifications&) const {
        using Platform::AuthorizationOption::alert;
        using Platform::AuthorizationOption::sound;
        return PermissionGrant::notifications("Notifications", "GrantLab posts under its own identifier.", "bell",
                                              false, sound | alert);
    }
};

} // namespace

Job job(JobName name) {
    switch (name) {
    case JobName::agent: return Job(Job::Kind::agent(plist("agent")), "GrantLab's agent");
    case JobName::daemon: return Job(Job::Kind::daemon(plist("daemon")), "GrantLab's daemon");
    case JobName::loginItem: break;
    }
    return Job::loginItem();
}

std::vector<Job> ownJobs() { return {job(JobName::agent), job(JobName::daemon)}; }

PermissionGrant grantFor(const Named& named) { return std::visit(Maker{}, named); }

std::vector<PermissionGrant> grantsFor(const Command& command) {
    std::vector<PermissionGrant> grants;
    for (const Named& named : command.grants) grants.push_back(grantFor(named));
    for (size_t index : command.required) grants[index].required = true;
    return grants;
}

} // namespace GrantLab
