// Where the app goes when a background service needs it in Applications.

#include "PermissionGrants/JobGrant.hpp"

#include <AppInstallations/Move.hpp>
#include <Platform/AppEvents.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/MainBundle.hpp>
#include <Platform/ProcessTable.hpp>

#include <unistd.h>

namespace PermissionGrants {

namespace {

// The main bundle's CFBundleName, else the process's name.
std::string applicationName() {
    if (const auto& main = Platform::Bundle::main())
        if (auto info = Platform::readBundleInfo(main->path))
            if (auto name = Platform::textValue(*info, "CFBundleName")) return *name;
    return Platform::ProcessTable::name(::getpid()).value_or("");
}

Platform::Alert scopeQuestion(const std::vector<AppInstallation::Scope>& installFor) {
    Platform::Alert alert{"Install " + applicationName() + " for everyone on this Mac, or just for you?",
                          "For everyone puts it in Applications. Just for you puts it in the Applications folder in "
                          "your home folder. Settings stay yours either way.",
                          {}};
    for (auto scope : installFor) alert.buttons.push_back(AppInstallation::words(scope));
    alert.buttons.push_back("Cancel");
    return alert;
}

} // namespace

const JobGrant::Relocation& JobGrant::Relocation::live() {
    static const Relocation relocation{AppInstallation::installedCopy, AppInstallation::moveHome};
    return relocation;
}

void JobGrant::pick(const std::vector<Scope>& installFor, std::function<void(std::optional<Scope>)> completion,
                    const Relocation& relocation) {
    // A copy already installed is opened rather than copied over.
    for (auto scope : installFor)
        if (relocation.installedCopy({scope})) return completion(scope);
    if (installFor.size() == 1) return completion(installFor.front());
    Platform::presentAlert(scopeQuestion(installFor),
                           [installFor, completion = std::move(completion)](size_t button) {
                               std::optional<Scope> scope;
                               if (button < installFor.size()) scope = installFor[button];
                               Platform::mainLoop().async([completion, scope] { completion(scope); });
                           });
}

} // namespace PermissionGrants
