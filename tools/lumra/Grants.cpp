#include "Grants.hpp"

#include <Log/Settings.hpp>
#include <LumraJobs.hpp>
#include <LumraKit/Identity.hpp>
#include <PermissionGrants/Describe.hpp>
#include <Platform/Notifications.hpp>

namespace Client::Grants {

namespace {

constexpr std::string_view usage = "usage: lumra grants\n"
                                   "\n"
                                   "Shows where each permission the service needs stands: good, askable,\n"
                                   "broken or unknown, with what to do about it.\n";

using AppInstallation::Scope;
using PermissionGrants::PermissionGrant;

// lumrad holds claims for everyone on the Mac or for one person alike.
const std::vector<Scope> eitherFolder{Scope::everyone, Scope::me};

} // namespace

PermissionGrant backgroundServiceGrant() {
    return PermissionGrant::backgroundService(
        LumraJobs::lumrad(), "Background service",
        "Runs lumrad, which holds your claims, from login on and again whenever it ends.", "gearshape.2", true,
        eitherFolder);
}

PermissionGrant loginItemGrant() {
    return PermissionGrant::backgroundService(AppInstallation::Job::loginItem(), "Login item",
                                              "Opens Lumra when you log in.", "person.crop.circle.badge.checkmark",
                                              false, eitherFolder);
}

PermissionGrant notificationsGrant() {
    using Platform::AuthorizationOption::alert;
    using Platform::AuthorizationOption::sound;
    return PermissionGrant::notifications(
        "Notifications", "Tells you when claims end, when sleep comes back and when the battery floor is reached.",
        "bell", false, sound | alert, LumraKit::Paths::current().notifierBundleID);
}

std::vector<PermissionGrant> serviceGrants() { return {backgroundServiceGrant(), loginItemGrant(), notificationsGrant()}; }

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.size() == 2 && (arguments[1] == "--help" || arguments[1] == "-h")) {
        out << usage;
        return 0;
    }
    if (arguments.size() != 1) {
        err << "lumra grants takes no arguments\n\n" << usage;
        return 2;
    }
    // What the grants read reaches the system log; the terminal gets the
    // lines, and warnings (LOG_LEVEL still rules).
    Log::setLogLevel("warn");
    for (const auto& grant : serviceGrants()) out << describe(grant) << "\n";
    return 0;
}

} // namespace Client::Grants
