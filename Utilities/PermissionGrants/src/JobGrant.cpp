#include "PermissionGrants/JobGrant.hpp"

#include <cstdlib>

// Placeholder until background-service grants are built.
namespace PermissionGrants {
Standing JobGrant::standing(const AppInstallation::Job&, const std::vector<AppInstallation::Scope>&) { std::abort(); }
void JobGrant::ask(const AppInstallation::Job&, const std::vector<AppInstallation::Scope>&, std::function<void()>) {
    std::abort();
}
} // namespace PermissionGrants
