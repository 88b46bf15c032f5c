#pragma once

#include <PermissionGrants/PermissionGrant.hpp>

#include <ostream>
#include <string>
#include <vector>

// `lumra grants`: where each permission the service needs stands.
namespace Client::Grants {

// lumrad as the app's launch agent (required).
PermissionGrants::PermissionGrant backgroundServiceGrant();
// The app as login item.
PermissionGrants::PermissionGrant loginItemGrant();
// Notifications are the notifier's: it posts under its own bundle
// identifier, so its notification settings are the ones that count.
PermissionGrants::PermissionGrant notificationsGrant();

// The service's grants: the three above, in that order.
std::vector<PermissionGrants::PermissionGrant> serviceGrants();

// Runs `lumra grants [--help]` (the arguments after the program's name) and
// answers the exit status: 0, or 2 for a usage error.
int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace Client::Grants
