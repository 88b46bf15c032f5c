#include "PermissionGrants/PermissionGrant.hpp"

#include <cstdlib>

// Placeholder until the privacy, automation and background-service kinds are
// built.
namespace PermissionGrants {
PermissionGrant PermissionGrant::privacy(Privacy, std::string, std::string, std::optional<std::string>, bool) {
    std::abort();
}
PermissionGrant PermissionGrant::automation(std::string, std::string, std::string, std::string, bool) { std::abort(); }
PermissionGrant PermissionGrant::backgroundService(AppInstallation::Job, std::string, std::string, std::string, bool,
                                                   std::vector<AppInstallation::Scope>) {
    std::abort();
}
void PermissionGrant::unregister() const { std::abort(); }
void PermissionGrant::answerProbeIfAsked(const std::vector<std::string>&) {}
} // namespace PermissionGrants
