// The grants of the privacy, automation and background-service kinds: how
// they are made, keyed in the readings cache and turned off.

#include "PermissionGrants/GrantLog.hpp"
#include "PermissionGrants/PermissionGrant.hpp"
#include "PermissionGrants/PrivacyHub.hpp"
#include "PermissionGrants/Readings.hpp"

#include <cstdio>
#include <cstdlib>

namespace PermissionGrants {

namespace {

using AppInstallation::Job;
using AppInstallation::Scope;

[[noreturn]] void stop(const std::string& why) {
    std::fprintf(stderr, "PermissionGrant: %s\n", why.c_str());
    std::abort();
}

std::string_view scopeName(Scope scope) { return scope == Scope::everyone ? "everyone" : "me"; }

std::string kindText(const Job::Kind& kind) {
    switch (kind.which()) {
    case Job::Kind::Case::agent: return "agent " + kind.plist();
    case Job::Kind::Case::daemon: return "daemon " + kind.plist();
    case Job::Kind::Case::loginItem: break;
    }
    return "login item";
}

} // namespace

PermissionGrant PermissionGrant::privacy(Privacy privacy, std::string title, std::string why,
                                         std::optional<std::string> symbol, bool required) {
    std::string shown = symbol ? std::move(*symbol) : std::string(defaultSymbol(privacy));
    return {Kind{privacy}, std::move(title), std::move(why), std::move(shown), required};
}

PermissionGrant PermissionGrant::automation(std::string bundleID, std::string title, std::string why,
                                            std::string symbol, bool required) {
    return {Kind{Kind::Automation{std::move(bundleID)}}, std::move(title), std::move(why), std::move(symbol),
            required};
}

PermissionGrant PermissionGrant::backgroundService(Job job, std::string title, std::string why, std::string symbol,
                                                   bool required, std::vector<Scope> installFor) {
    if (installFor.empty()) stop("the background service " + job.name() + " has nowhere to be installed");
    auto scopes = job.scopes();
    for (Scope scope : installFor)
        if (!scopes.contains(scope))
            stop("the background service " + job.name() + " cannot be installed for " +
                 std::string(scopeName(scope)));
    return {Kind{Kind::BackgroundService{std::move(job), std::move(installFor)}}, std::move(title), std::move(why),
            std::move(symbol), required};
}

std::string PermissionGrant::automationKey(const std::string& bundleID) { return "automation " + bundleID; }

std::string PermissionGrant::jobKey(const Job& job, const std::vector<Scope>& installFor) {
    std::string key = "job " + kindText(job.kind()) + " for";
    for (Scope scope : installFor) key += " " + std::string(scopeName(scope));
    return key;
}

void PermissionGrant::unregister() const {
    const auto* service = std::get_if<Kind::BackgroundService>(&kind.value);
    if (service == nullptr) stop("unregister() on " + title + ", which is no background service");
    try {
        service->job.uninstall();
    } catch (const std::exception& error) {
        grantLog.warn("could not turn off",
                      [&] { return Log::Fields{{"grant", service->job.name()}, {"err", std::string(error.what())}}; });
    }
    Readings::shared().readAll();
}

void PermissionGrant::answerProbeIfAsked(const std::vector<std::string>& arguments) {
    PrivacyHub::answerProbeIfAsked(arguments);
}

} // namespace PermissionGrants
